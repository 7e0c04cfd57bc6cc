#ifndef HJ5_FLEET_OBSERVER_H_
#define HJ5_FLEET_OBSERVER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fleet/event.h"
#include "fleet/outcome.h"
#include "fleet/plan.h"

namespace hj5::fleet {

// What a running device's live line shows.
struct DeviceView {
  std::string status;
  bool queued = false;  // waiting for a place among the uploads
  bool uploading = false;
  std::uint64_t bytes = 0;
  std::uint64_t total = 0;
};

// The run as a whole, a few times a second.
struct Progress {
  std::size_t devices = 0;
  std::size_t done = 0;  // ended, skipped ones included
  std::size_t succeeded = 0;
  std::size_t failed = 0;
  std::size_t running = 0;
  std::size_t uploading = 0;
  std::optional<double> per_minute;   // once one has ended
  std::optional<double> eta_seconds;  // while devices are left to start
  bool halted = false;                // no further device starts
  double seconds = 0;                 // since the run began
  // Running devices' lines (index, view), as many as the observer asked.
  std::vector<std::pair<std::size_t, DeviceView>> rows;
};

// What the engine tells as a run goes on (Ninja's Status, for a fleet):
// facts and enums, never words; a writer (the terminal, plain lines, JSON,
// the web page) makes the words.
//
// Threading: DeviceEvent() comes from the devices' workers, a device's
// events one at a time and in order, several devices at once; the rest
// from the engine's thread. A writer that must not be called so sits
// behind a QueuedObserver.
class RunObserver {
 public:
  RunObserver() = default;
  RunObserver(const RunObserver&) = delete;
  RunObserver& operator=(const RunObserver&) = delete;
  virtual ~RunObserver() = default;

  // Before the first device: the plan and when the run began.
  virtual void RunStarted(const Plan& plan, WallTime at) = 0;
  virtual void DeviceStarted(std::size_t index) = 0;
  virtual void DeviceEvent(std::size_t index, const Event& event) = 0;
  virtual void DeviceEnded(std::size_t index, const DeviceOutcome& outcome) = 0;
  virtual void Progressed(const Progress& progress) = 0;
  virtual void Halted(const Halt& halt) = 0;
  // The run waits for its window to open (--wait-for-window).
  virtual void WaitingForWindow() = 0;
  // Lines a stalled reader was not shown (QueuedObserver).
  virtual void Dropped(std::size_t events) = 0;
  virtual void RunEnded(const RunReport& report, int exit_status) = 0;
};

// Tells every observer of a list, in order.
class ObserverList final : public RunObserver {
 public:
  explicit ObserverList(std::vector<RunObserver*> observers)
      : observers_(std::move(observers)) {}

  void RunStarted(const Plan& plan, WallTime at) override {
    for (RunObserver* o : observers_) o->RunStarted(plan, at);
  }
  void DeviceStarted(std::size_t index) override {
    for (RunObserver* o : observers_) o->DeviceStarted(index);
  }
  void DeviceEvent(std::size_t index, const Event& event) override {
    for (RunObserver* o : observers_) o->DeviceEvent(index, event);
  }
  void DeviceEnded(std::size_t index, const DeviceOutcome& outcome) override {
    for (RunObserver* o : observers_) o->DeviceEnded(index, outcome);
  }
  void Progressed(const Progress& progress) override {
    for (RunObserver* o : observers_) o->Progressed(progress);
  }
  void Halted(const Halt& halt) override {
    for (RunObserver* o : observers_) o->Halted(halt);
  }
  void WaitingForWindow() override {
    for (RunObserver* o : observers_) o->WaitingForWindow();
  }
  void Dropped(std::size_t events) override {
    for (RunObserver* o : observers_) o->Dropped(events);
  }
  void RunEnded(const RunReport& report, int exit_status) override {
    for (RunObserver* o : observers_) o->RunEnded(report, exit_status);
  }

 private:
  const std::vector<RunObserver*> observers_;
};

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_OBSERVER_H_
