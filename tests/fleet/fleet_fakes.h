#ifndef HJ5_TESTS_FLEET_FLEET_FAKES_H_
#define HJ5_TESTS_FLEET_FLEET_FAKES_H_

// The engine's surroundings, faked: a clock that moves only when the
// engine waits, stop requests on cue, device runs that end when the clock
// says, and an observer that keeps what it was told.
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fleet/device_run.h"
#include "fleet/fleet_clock.h"
#include "fleet/observer.h"
#include "fleet/plan.h"

namespace hj5::fleet::test {

using namespace std::chrono_literals;

// Time moves by the engine's waits alone; stop requests come at the times
// they were scheduled for.
class FakeFleetTime final : public FleetClock, public StopSource {
 public:
  SteadyTime Now() override { return SteadyTime(Elapsed()); }
  WallTime WallNow() override { return WallTime(Elapsed()); }
  // The local time of day starts at `first_minute_` and moves with the rest.
  int LocalMinute() override {
    return static_cast<int>((first_minute_ + ms_ / 60000) % (24 * 60));
  }
  void StartAt(int hours, int minutes) { first_minute_ = hours * 60 + minutes; }

  StopRequests Wait(std::chrono::milliseconds limit) override {
    ms_ += limit.count();
    StopRequests due;
    std::lock_guard lock(mutex_);
    for (auto it = stops_.begin(); it != stops_.end() && it->first <= ms_;) {
      due.Add(it->second);
      it = stops_.erase(it);
    }
    return due;
  }

  // A Ctrl-C (or a termination of `status`) once `at` has passed.
  void InterruptAt(std::chrono::milliseconds at) {
    std::lock_guard lock(mutex_);
    stops_.emplace(at.count(), StopRequests{1, 0, 0});
  }
  void TerminateAt(std::chrono::milliseconds at, int status = 143) {
    std::lock_guard lock(mutex_);
    stops_.emplace(at.count(), StopRequests{0, 1, status});
  }

  std::int64_t ms() const { return ms_; }

 private:
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::milliseconds(ms_.load());
  }

  std::atomic<std::int64_t> ms_{0};
  std::int64_t first_minute_ = 12 * 60;
  std::mutex mutex_;
  std::multimap<std::int64_t, StopRequests> stops_;
};

// How a fake device's update goes.
struct Script {
  std::int64_t ms = 1000;  // how long it runs
  bool completes = true;   // "Update completed." at its end
  bool start_fails = false;
  // A stop leaves it switched: a restore is needed, which takes this long.
  bool switched = true;
  std::int64_t restore_ms = 500;
};

class FakeDeviceRuns final : public DeviceRuns {
 public:
  explicit FakeDeviceRuns(FakeFleetTime& time) : time_(time) {}

  std::unique_ptr<DeviceRun> Make(std::size_t index, Sink sink) override;

  Script& script(std::size_t index) { return scripts_[index]; }
  // The devices in the order they started; the most running at once.
  std::vector<std::size_t> started;
  std::size_t running = 0;
  std::size_t most_running = 0;
  std::vector<std::size_t> restored;  // the devices Recover() restored

 private:
  friend class FakeDeviceRun;
  FakeFleetTime& time_;
  std::map<std::size_t, Script> scripts_;
};

// A plan of `count` devices "d0", "d1", ... with their own addresses.
inline Plan PlanOf(std::size_t count, std::size_t jobs = 16) {
  Plan plan;
  plan.jobs = jobs;
  for (std::size_t i = 0; i < count; ++i) {
    PlannedDevice device;
    device.label = "d" + std::to_string(i);
    device.session.address = "10.0.0." + std::to_string(i + 1);
    device.fields = {device.session.address};
    plan.devices.push_back(device);
  }
  plan.columns = {"address"};
  return plan;
}

// What the engine told, a line each: "end d3 failed", "halt canary", ...
class RecordingObserver final : public RunObserver {
 public:
  void RunStarted(const Plan& plan, WallTime) override { plan_ = &plan; }
  void DeviceStarted(std::size_t) override {}
  void DeviceEvent(std::size_t, const Event& event) override {
    std::lock_guard lock(mutex_);
    ++events;
    if (event.Droppable()) ++droppable;
  }
  void DeviceEnded(std::size_t index, const DeviceOutcome& outcome) override {
    Tell("end " + plan_->devices[index].label + " " +
         ResultName(outcome.result));
  }
  void Progressed(const Progress&) override {}
  void Halted(const Halt& halt) override;
  void WaitingForWindow() override { Tell("wait window"); }
  void Dropped(std::size_t count) override { dropped += count; }
  void RunEnded(const RunReport&, int exit_status) override {
    Tell("exit " + std::to_string(exit_status));
  }

  std::vector<std::string> lines;
  std::size_t events = 0;
  std::size_t droppable = 0;
  std::size_t dropped = 0;

 private:
  void Tell(std::string line) {
    std::lock_guard lock(mutex_);
    lines.push_back(std::move(line));
  }
  const Plan* plan_ = nullptr;
  std::mutex mutex_;
};

}  // namespace hj5::fleet::test

#endif  // HJ5_TESTS_FLEET_FLEET_FAKES_H_
