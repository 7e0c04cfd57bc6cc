#ifndef HJ5_TESTS_SUPPORT_HEADLESS_UPDATE_H_
#define HJ5_TESTS_SUPPORT_HEADLESS_UPDATE_H_

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/device_session.h"
#include "device/reply_token.h"
#include "platform/asio_http_transport.h"
#include "platform/clock.h"
#include "platform/curl_ftp_client.h"
#include "support/fake_form.h"
#include "support/transcript.h"
#include "update/update_runner.h"

namespace hj5::test {

// The real runner with the real transport and FTP client, against a device
// on loopback, with a recording form in place of the window: the upload
// runs on the worker's own thread, as on the command line. The transcript
// holds what the operator would have seen.
class HeadlessUpdate {
 public:
  HeadlessUpdate(Clock& clock, std::uint16_t http_port, std::uint16_t ftp_port,
                 const std::string& local_path, const std::string& name);

  // Runs one update to its end; returns the real time it took. The first
  // run's limit holds for the object's later runs.
  std::chrono::milliseconds Run(std::uint16_t limit_seconds = 20);

  // How the last run ended (nullopt before the first).
  std::optional<UpdateOutcome> Outcome() const;

  std::vector<std::string> Lines() const { return transcript_.Lines(); }
  const std::string& LastStatus() const { return last_status_; }

  DeviceSession session;
  ChosenFile chosen;

 private:
  Clock& clock_;
  Transcript transcript_;
  FakeForm form_{transcript_};
  AsioHttpTransport transport_{
      AsioHttpTransportOptions{.reply_closed = EndsWithClosingToken}};
  CurlFtpClient ftp_;
  std::unique_ptr<UpdateRunner> runner_;  // made by the first run
  std::string last_status_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_SUPPORT_HEADLESS_UPDATE_H_
