#include "platform/local_time.h"

#include <ctime>

namespace hj5 {

int LocalMinuteOfDay(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  return local.tm_hour * 60 + local.tm_min;
}

}  // namespace hj5
