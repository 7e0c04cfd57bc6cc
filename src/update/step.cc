#include "update/step.h"

#include "device/command_exchange.h"

namespace hj5 {

bool RunStep(const UpdateContext& context, std::uint32_t pause_ms,
             const char* status, Command command) {
  if (pause_ms > 0) context.platform.clock.SleepMs(pause_ms);
  context.form.SetFieldText(FieldId::kStatus, status);
  const std::string body = CommandBody(command, context.session);
  return CommandExchange(context, body, /*report=*/1) == 0;
}

}  // namespace hj5
