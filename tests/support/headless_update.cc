#include "support/headless_update.h"

#include <thread>

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
  form_.on_firmware_message = [this] { return runner_->SendFirmware(); };
}

std::chrono::milliseconds HeadlessUpdate::Run(std::uint16_t limit_seconds) {
  if (!runner_) {
    runner_ = std::make_unique<UpdateRunner>(
        form_, Platform{transport_, ftp_, clock_, limit_seconds});
  }
  transcript_.Clear();
  const auto start = std::chrono::steady_clock::now();
  if (runner_->Start(session, chosen)) {
    // The runner reads idle once the worker has done its last act.
    while (runner_->state() == UpdateRunner::State::kRunning)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const auto took = std::chrono::steady_clock::now() - start;
  last_status_ = form_.Text(FieldId::kStatus);
  return std::chrono::duration_cast<std::chrono::milliseconds>(took);
}

std::optional<UpdateOutcome> HeadlessUpdate::Outcome() const {
  return runner_ ? runner_->outcome() : std::nullopt;
}

}  // namespace hj5::test
