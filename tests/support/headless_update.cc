#include "support/headless_update.h"

#include "update/firmware_send.h"
#include "update/update_sequence.h"

namespace hj5::test {

HeadlessUpdate::HeadlessUpdate(Clock& clock, std::uint16_t http_port,
                               std::uint16_t ftp_port,
                               const std::string& local_path,
                               const std::string& name)
    : clock_(clock) {
  session.address = "127.0.0.1";
  session.login_id = "admin";
  session.password = "hj5pass";
  session.http_port = http_port;
  session.ftp_port = ftp_port;
  chosen = {local_path, name};
  form_.on_firmware_message = [this] {
    const Platform platform{transport_, ftp_, clock_};
    return FirmwareSend(
        UpdateContext{form_, platform, session, chosen, causes});
  };
}

std::chrono::milliseconds HeadlessUpdate::Run(std::uint16_t limit_seconds) {
  transcript_.Clear();
  auto start = std::chrono::steady_clock::now();
  causes.Clear();
  const Platform platform{transport_, ftp_, clock_, limit_seconds};
  UpdateSequence(UpdateContext{form_, platform, session, chosen, causes});
  auto took = std::chrono::steady_clock::now() - start;
  last_status_ = form_.FieldText(FieldId::kStatus);
  return std::chrono::duration_cast<std::chrono::milliseconds>(took);
}

}  // namespace hj5::test
