#include "cli/fleet.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

#include "cli/device_run.h"

namespace hj5::cli {
namespace {

constexpr std::chrono::milliseconds kTick{200};

struct Running {
  std::size_t index;
  std::unique_ptr<DeviceRun> run;
};

std::string Updates(std::size_t count) {
  return std::to_string(count) +
         (count == 1 ? " running update" : " running updates");
}

// Stops every running device at once, each on a thread of its own, since
// a stop waits for its worker to end.
void StopAll(std::vector<Running>& running) {
  std::vector<std::thread> stoppers;
  for (Running& entry : running)
    stoppers.emplace_back([run = entry.run.get()] { run->Stop(); });
  for (std::thread& stopper : stoppers) stopper.join();
}

class Fleet {
 public:
  explicit Fleet(const FleetSetup& setup)
      : setup_(setup),
        devices_(setup.plan.devices),
        jobs_(std::min(setup.plan.jobs, setup.capacity)),
        outcomes_(devices_.size()) {}

  FleetResult Run() {
    while (true) {
      StartWhatMay();
      if (running_.empty() && (presses_ > 0 || next_ == devices_.size())) break;
      const StopSignals signals = setup_.wait_for_interrupt(kTick);
      Interrupts(signals.interrupts + signals.terminations);
      CollectEnded();
    }
    FleetResult result;
    result.interrupted = presses_ > 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
      result.outcomes.push_back(outcomes_[i].value_or(
          DeviceOutcome{devices_[i].label, "not started", "", false, {}}));
    }
    return result;
  }

 private:
  void StartWhatMay() {
    while (presses_ == 0 && running_.size() < jobs_ &&
           next_ < devices_.size()) {
      const std::size_t index = next_++;
      auto run = std::make_unique<DeviceRun>(devices_[index], setup_.plan,
                                             setup_.output);
      if (run->Start()) {
        running_.push_back({index, std::move(run)});
      } else {
        Finish(index, *run);
      }
    }
  }

  void Interrupts(int pressed) {
    if (pressed == 0) return;
    const bool first = presses_ == 0;
    presses_ += pressed;
    if (first) {
      setup_.output.Note("Interrupted: no further device starts; " +
                         Updates(running_.size()) +
                         " will finish. Ctrl-C again stops them at once.");
    }
    if (presses_ >= 2 && !stopped_) {
      stopped_ = true;
      setup_.output.Note("Interrupted again: stopping " +
                         Updates(running_.size()) + " now.");
      StopAll(running_);
    }
  }

  void CollectEnded() {
    const auto now = TerminalForm::Clock::now();
    std::vector<LiveRow> rows;
    for (auto it = running_.begin(); it != running_.end();) {
      it->run->Tick(now);
      if (it->run->Ended()) {
        Finish(it->index, *it->run);
        it = running_.erase(it);  // its adapters' descriptors go with it
      } else {
        rows.push_back(it->run->Row());
        ++it;
      }
    }
    setup_.output.Live(rows);
  }

  void Finish(std::size_t index, const DeviceRun& run) {
    DeviceOutcome outcome = run.Outcome();
    Event end;
    end.device = outcome.device;
    end.kind = "end";
    end.text = outcome.result;
    setup_.output.Emit(end);
    outcomes_[index] = std::move(outcome);
  }

  const FleetSetup& setup_;
  const std::vector<PlannedDevice>& devices_;
  const std::size_t jobs_;
  std::vector<std::optional<DeviceOutcome>> outcomes_;
  std::vector<Running> running_;
  std::size_t next_ = 0;
  int presses_ = 0;
  bool stopped_ = false;
};

}  // namespace

FleetResult RunFleet(const FleetSetup& setup) { return Fleet(setup).Run(); }

int ExitStatus(const FleetResult& result) {
  if (result.interrupted) return 130;
  const bool all = std::all_of(
      result.outcomes.begin(), result.outcomes.end(),
      [](const DeviceOutcome& outcome) { return outcome.succeeded; });
  return all ? 0 : 1;
}

}  // namespace hj5::cli
