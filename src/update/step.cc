#include "update/step.h"

namespace hj5 {

DeviceLink LinkOf(const UpdateContext& context) {
  return DeviceLink{context.form, context.transport, context.session,
                    context.limit_seconds};
}

bool RunStep(const UpdateContext& context, std::uint32_t pause_ms,
             const char* status, Command command) {
  if (pause_ms > 0) context.clock.SleepMs(pause_ms);
  context.form.SetFieldText(FieldId::kStatus, status);
  const std::string body = CommandBody(command, context.session);
  return CommandExchange(LinkOf(context), body, /*report=*/1) == 0;
}

}  // namespace hj5
