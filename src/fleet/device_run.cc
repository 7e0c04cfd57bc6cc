#include "fleet/device_run.h"

#include "fleet/fleet_form.h"
#include "launch/product_platform.h"
#include "update/check_sequence.h"
#include "update/restore_sequence.h"
#include "update/update_runner.h"
#include "update/update_sequence.h"

namespace hj5::fleet {
namespace {

UpdateRunner::Procedure ProcedureOf(RunMode mode) {
  switch (mode) {
    case RunMode::kCheck:
      return &CheckSequence;
    case RunMode::kRestore:
      return &RestoreSequence;
    case RunMode::kUpdate:
      break;
  }
  return &UpdateSequence;
}

// One set of adapters, a form and a runner.
struct Leg {
  Leg(AsioEventLoop& loop, FleetClock& clock, const DeviceRuns::Sink& sink,
      UpdateRunner::Procedure procedure)
      : platform(&loop),
        form(clock, sink),
        runner(form, platform.platform(), std::move(procedure)) {}

  ProductPlatform platform;
  FleetForm form;
  UpdateRunner runner;
};

class ProductDeviceRun final : public DeviceRun {
 public:
  ProductDeviceRun(const PlannedDevice& device, const Plan& plan,
                   AsioEventLoop& loop, FleetClock& clock,
                   DeviceRuns::Sink sink, UploadGate* gate)
      : device_(device),
        loop_(loop),
        clock_(clock),
        sink_(std::move(sink)),
        run_(
            std::make_unique<Leg>(loop, clock, sink_, ProcedureOf(plan.mode))) {
    Leg& leg = *run_;
    leg.form.Attach({[&leg] { return leg.runner.SendFirmware(); },
                     [&leg] { return leg.platform.platform().ftp.BytesSent(); },
                     plan.snapshot ? plan.snapshot->Size() : 0},
                    gate);
    if (plan.file) {
      chosen_ = *plan.file;
      chosen_.content = plan.snapshot.get();
    }
  }

  bool Start() override {
    started_ = run_->runner.Start(device_.session, chosen_);
    return started_;
  }

  bool Ended() const override {
    return Current().runner.state() != UpdateRunner::State::kRunning;
  }

  void Tick(SteadyTime now) override { Current().form.Tick(now); }

  DeviceView View() const override { return Current().form.view(); }

  void Interrupt() override {
    run_->runner.Interrupt();
    if (recovery_) recovery_->runner.Interrupt();
  }

  void Join() override {
    run_->runner.Stop();
    if (recovery_) recovery_->runner.Stop();
  }

  bool Recover() override {
    const std::optional<UpdateOutcome> outcome = run_->runner.outcome();
    if (!outcome || !outcome->may_be_left_in_update) return false;
    const bool restart_pending = outcome->restart_pending;
    recovery_ = std::make_unique<Leg>(
        loop_, clock_, sink_, [restart_pending](const UpdateContext& context) {
          return RecoverySequence(context, restart_pending);
        });
    if (recovery_->runner.Start(device_.session, ChosenFile{})) return true;
    recovery_.reset();
    return false;
  }

  DeviceLegs Legs() const override {
    DeviceLegs legs;
    legs.started = started_;
    legs.update = run_->runner.outcome();
    legs.status = run_->form.view().status;
    if (recovery_) {
      legs.recovered = true;
      legs.recovery = recovery_->runner.outcome();
      legs.recovery_status = recovery_->form.view().status;
    }
    return legs;
  }

 private:
  const Leg& Current() const { return recovery_ ? *recovery_ : *run_; }
  Leg& Current() { return recovery_ ? *recovery_ : *run_; }

  const PlannedDevice& device_;
  AsioEventLoop& loop_;
  FleetClock& clock_;
  const DeviceRuns::Sink sink_;
  ChosenFile chosen_;
  std::unique_ptr<Leg> run_;
  std::unique_ptr<Leg> recovery_;
  bool started_ = false;
};

}  // namespace

ProductDeviceRuns::ProductDeviceRuns(const Plan& plan, FleetClock& clock)
    : plan_(plan), clock_(clock) {
  if (plan.max_uploads > 0) gate_.emplace(plan.max_uploads);
}

std::unique_ptr<DeviceRun> ProductDeviceRuns::Make(std::size_t index,
                                                   Sink sink) {
  return std::make_unique<ProductDeviceRun>(plan_.devices[index], plan_, loop_,
                                            clock_, std::move(sink),
                                            gate_ ? &*gate_ : nullptr);
}

}  // namespace hj5::fleet
