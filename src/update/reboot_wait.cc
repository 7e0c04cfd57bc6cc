#include "update/reboot_wait.h"

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/report.h"
#include "update/step.h"

namespace hj5 {

RebootOutcome RebootWait(const UpdateContext& context) {
  const DeviceLink link = LinkOf(context);
  const std::string probe = CommandBody(Command::kProbe, context.session);
  context.form.StartRestartTimer();
  context.clock.SleepMs(kFirstProbeDelayMs);
  const std::int64_t start = context.clock.NowSeconds();
  for (int poll = 1;; ++poll) {
    if (CommandExchange(link, probe, /*report=*/0) == 0) {
      context.form.StopRestartTimer();
      return RebootOutcome::kAnswered;
    }
    if (context.clock.NowSeconds() - start > kRebootLimitSeconds) {
      context.form.StopRestartTimer();
      ReportError(context.form, "Reboot Time out.");
      return RebootOutcome::kTimedOut;
    }
    if (poll == kMaxProbes) break;
    context.clock.SleepMs(kProbeIntervalMs);
  }
  context.form.StopRestartTimer();
  return RebootOutcome::kPollsUsedUp;
}

}  // namespace hj5
