#ifndef HJ5_PLATFORM_LOCAL_TIME_H_
#define HJ5_PLATFORM_LOCAL_TIME_H_

#include <chrono>

namespace hj5 {

// The minutes after midnight of `time` in the machine's local time zone
// (its daylight saving included). Any thread.
int LocalMinuteOfDay(std::chrono::system_clock::time_point time);

}  // namespace hj5

#endif  // HJ5_PLATFORM_LOCAL_TIME_H_
