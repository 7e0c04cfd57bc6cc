#include "update/reboot_wait.h"

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/failure_codes.h"

namespace hj5 {

RebootOutcome RebootWait(UpdateRun& run, UpdateStep step) {
  run.Reached(step);
  const UpdateContext& context = run.context();
  FormOps& form = context.form;
  Clock& clock = context.platform.clock;
  const std::string probe = CommandBody(Command::kProbe, context.session);
  form.StartRestartTimer();
  clock.SleepMs(kFirstProbeDelayMs);
  const std::int64_t start = clock.NowSeconds();
  for (int poll = 1;; ++poll) {
    const Status answer = CommandExchange(context.device(), probe);
    if (answer.ok()) {
      form.StopRestartTimer();
      run.RestartAnswered();
      return RebootOutcome::kAnswered;
    }
    if (clock.NowSeconds() - start > kRebootLimitSeconds) {
      form.StopRestartTimer();
      run.ReportError(Status::Failure(
          failure_code::kRebootTimeOut, "Reboot Time out.",
          std::to_string(poll) + " probes unanswered; the last: " +
              answer.text() + ", " + answer.cause()));
      return RebootOutcome::kTimedOut;
    }
    if (poll == kMaxProbes) break;
    clock.SleepMs(kProbeIntervalMs);
  }
  form.StopRestartTimer();
  return RebootOutcome::kPollsUsedUp;
}

}  // namespace hj5
