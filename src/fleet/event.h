#ifndef HJ5_FLEET_EVENT_H_
#define HJ5_FLEET_EVENT_H_

#include <chrono>
#include <cstdint>
#include <string>

namespace hj5::fleet {

using WallTime = std::chrono::system_clock::time_point;
using SteadyTime = std::chrono::steady_clock::time_point;

// What a device's update showed.
enum class EventKind {
  kStatus,       // the status line's text
  kNotice,       // the notice line's text
  kWarning,      // a warning box: text, cause, code
  kInformation,  // an information box
  kTimerStart,   // the restart counter starts
  kTimerStop,    // and stops
  kTick,         // "Restarting(N)"
  kUpload,       // the upload: begun (bytes 0), bytes sent so far
  kUploaded,     // its end: code 0 stored, else the failure's code
};

struct Event {
  EventKind kind = EventKind::kStatus;
  std::string text;
  std::string cause;        // why, for a box whose failure has one
  int code = 0;             // a warning's failure code; an upload's result
  std::uint64_t bytes = 0;  // upload, uploaded
  std::uint64_t total = 0;
  WallTime time;  // when it happened

  // A line the operator can miss: a tick, or bytes counted on.
  bool Droppable() const {
    return kind == EventKind::kTick ||
           (kind == EventKind::kUpload && bytes != 0);
  }
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_EVENT_H_
