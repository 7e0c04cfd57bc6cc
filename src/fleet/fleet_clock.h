#ifndef HJ5_FLEET_FLEET_CLOCK_H_
#define HJ5_FLEET_FLEET_CLOCK_H_

#include <chrono>

#include "fleet/event.h"
#include "platform/local_time.h"

namespace hj5::fleet {

// The engine's time: a steady clock for what lasts, the wall clock for what
// is recorded. The product's reads the system's clocks; tests pass one
// they move themselves.
// Threading: any thread.
class FleetClock {
 public:
  FleetClock() = default;
  FleetClock(const FleetClock&) = delete;
  FleetClock& operator=(const FleetClock&) = delete;
  virtual ~FleetClock() = default;

  virtual SteadyTime Now() = 0;
  virtual WallTime WallNow() = 0;
  // The local time of day, in minutes after midnight: the clock a
  // maintenance window is read on.
  virtual int LocalMinute() = 0;
};

class SystemFleetClock final : public FleetClock {
 public:
  SteadyTime Now() override { return std::chrono::steady_clock::now(); }
  WallTime WallNow() override { return std::chrono::system_clock::now(); }
  int LocalMinute() override { return LocalMinuteOfDay(WallNow()); }
};

// What asked the run to stop since the last look.
struct StopRequests {
  int interrupts = 0;  // Ctrl-C, "Stop starting devices"
  // SIGTERM or SIGHUP (what timeout(1), systemd and Ansible send), Windows'
  // Ctrl-Break and console close, "Stop and restore".
  int terminations = 0;
  // The exit status the last termination asks for: 143 for SIGTERM (and
  // Windows' events, and the web page), 129 for SIGHUP; 0 when none came.
  int termination_status = 0;
  // A page's controls, confirmed: each takes the run as far as the first
  // Ctrl-C (drain) or SIGTERM (restore) would, and never further, however
  // often it is pressed.
  int drains = 0;
  int restores = 0;

  bool any() const { return interrupts + terminations + drains + restores > 0; }
  void Add(const StopRequests& more) {
    interrupts += more.interrupts;
    terminations += more.terminations;
    if (more.terminations > 0) termination_status = more.termination_status;
    drains += more.drains;
    restores += more.restores;
  }
};

// Where stop requests come from; the engine waits on it between its looks
// at the devices.
// Threading: the engine's thread.
class StopSource {
 public:
  StopSource() = default;
  StopSource(const StopSource&) = delete;
  StopSource& operator=(const StopSource&) = delete;
  virtual ~StopSource() = default;

  // Waits up to `limit` for a request; returns those since the last call.
  virtual StopRequests Wait(std::chrono::milliseconds limit) = 0;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_FLEET_CLOCK_H_
