#include "update/reboot_wait.h"

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/report.h"

namespace hj5 {

RebootOutcome RebootWait(const UpdateContext& context) {
  FormOps& form = context.form;
  Clock& clock = context.platform.clock;
  const std::string probe = CommandBody(Command::kProbe, context.session);
  form.StartRestartTimer();
  clock.SleepMs(kFirstProbeDelayMs);
  const std::int64_t start = clock.NowSeconds();
  for (int poll = 1;; ++poll) {
    const CommandVerdict verdict = SendAndJudge(context, probe);
    if (verdict.accepted) {
      form.StopRestartTimer();
      return RebootOutcome::kAnswered;
    }
    if (clock.NowSeconds() - start > kRebootLimitSeconds) {
      form.StopRestartTimer();
      ReportError(context, "Reboot Time out.",
                  std::to_string(poll) + " probes unanswered; the last: " +
                      verdict.text + ", " + verdict.cause);
      return RebootOutcome::kTimedOut;
    }
    if (poll == kMaxProbes) break;
    clock.SleepMs(kProbeIntervalMs);
  }
  form.StopRestartTimer();
  return RebootOutcome::kPollsUsedUp;
}

}  // namespace hj5
