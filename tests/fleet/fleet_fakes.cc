#include "fleet/fleet_fakes.h"

namespace hj5::fleet::test {

// Ends when the clock passes its script's time, or at once once stopped;
// each look at it on a tick shows a restart tick, an event the output may
// drop.
class FakeDeviceRun final : public DeviceRun {
 public:
  FakeDeviceRun(FakeDeviceRuns& runs, std::size_t index, DeviceRuns::Sink sink)
      : runs_(runs),
        index_(index),
        script_(runs.scripts_[index]),
        sink_(std::move(sink)) {}
  ~FakeDeviceRun() override {
    if (started_) --runs_.running;
  }

  bool Start() override {
    if (script_.start_fails) return false;
    started_ = true;
    began_ = runs_.time_.ms();
    runs_.started.push_back(index_);
    runs_.most_running = std::max(runs_.most_running, ++runs_.running);
    Tell(EventKind::kStatus, "Processing(0)");
    return true;
  }

  bool Ended() const override {
    if (restoring_) return abandoned_ || runs_.time_.ms() >= restore_ends_;
    return stopped_ || runs_.time_.ms() >= began_ + script_.ms;
  }

  void Tick(SteadyTime) override { Tell(EventKind::kTick, "Restarting(1)"); }
  DeviceView View() const override { return {"Processing(1)"}; }
  void Interrupt() override {
    abandoned_ = restoring_;
    stopped_ = true;
  }
  void Join() override {}

  bool Recover() override {
    if (!script_.switched) return false;
    restoring_ = true;
    restore_ends_ = runs_.time_.ms() + script_.restore_ms;
    runs_.restored.push_back(index_);
    return true;
  }

  DeviceLegs Legs() const override {
    DeviceLegs legs;
    legs.started = started_;
    UpdateOutcome outcome;
    outcome.completed = script_.completes && !stopped_;
    outcome.stopped = stopped_;
    outcome.may_be_left_in_update = stopped_ && script_.switched;
    if (!outcome.completed)
      outcome.failures.push_back(Status::Failure(-107, "failed", ""));
    legs.update = outcome;
    legs.status = outcome.completed ? "Update completed." : "failed";
    if (restoring_) {
      legs.recovered = true;
      legs.recovery = UpdateOutcome{};
      legs.recovery->stopped = abandoned_ || runs_.time_.ms() < restore_ends_;
      legs.recovery->may_be_left_in_update = legs.recovery->stopped;
      legs.recovery_status = "An error occurred during the updating process.";
    }
    return legs;
  }

 private:
  void Tell(EventKind kind, const std::string& text) {
    Event event;
    event.kind = kind;
    event.text = text;
    sink_(event);
  }

  FakeDeviceRuns& runs_;
  const std::size_t index_;
  const Script script_;
  const DeviceRuns::Sink sink_;
  bool started_ = false;
  bool stopped_ = false;
  bool restoring_ = false;
  bool abandoned_ = false;
  std::int64_t began_ = 0;
  std::int64_t restore_ends_ = 0;
};

std::unique_ptr<DeviceRun> FakeDeviceRuns::Make(std::size_t index, Sink sink) {
  return std::make_unique<FakeDeviceRun>(*this, index, std::move(sink));
}

void RecordingObserver::Halted(const Halt& halt) {
  static const char* const kNames[] = {"canary", "budget",  "record", "window",
                                       "drain",  "restore", "abandon"};
  Tell("halt " + std::string(kNames[static_cast<int>(halt.reason)]) + " " +
       std::to_string(halt.running));
}

}  // namespace hj5::fleet::test
