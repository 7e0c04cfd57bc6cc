#ifndef HJ5_TESTS_UPDATE_UPDATE_FIXTURE_H_
#define HJ5_TESTS_UPDATE_UPDATE_FIXTURE_H_

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "support/fake_clock.h"
#include "support/fake_form.h"
#include "support/fake_ftp_client.h"
#include "support/fake_transport.h"
#include "update/firmware_send.h"
#include "update/update_run.h"
#include "update/update_sequence.h"

namespace hj5::test {

using Lines = std::vector<std::string>;

// Lines joined in order.
inline Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// "send <command> at <s>.<ms>" for a virtual time in milliseconds.
inline std::string Send(const std::string& command, std::int64_t at_ms) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%lld.%03lld",
                static_cast<long long>(at_ms / 1000),
                static_cast<long long>(at_ms % 1000));
  return "send " + command + " at " + stamp;
}

inline std::string Status(const std::string& text) {
  return "status \"" + text + "\"";
}
inline std::string Warning(const std::string& text) {
  return "box warning \"" + text + "\"";
}
inline std::string Information(const std::string& text) {
  return "box information \"" + text + "\"";
}

// What ReportError shows.
inline Lines Reported(const std::string& text) {
  return {Warning(text), "button 1009 enabled", Status(text), "notice \"\""};
}

inline const std::string kError =
    "An error occurred during the updating process.";

// An outcome in one line, for exact assertions: "completed" or "failed",
// the step reached, "left" when the device may be left in update,
// "answered" when it answered after its last restart, "stopped", then the
// failures' texts.
inline std::string Described(const UpdateOutcome& outcome) {
  std::string text = outcome.completed ? "completed" : "failed";
  text += std::string(" at ") + StepName(outcome.reached);
  if (outcome.may_be_left_in_update) text += ", left";
  if (outcome.answered_after_restart) text += ", answered";
  if (outcome.stopped) text += ", stopped";
  for (const hj5::Status& failure : outcome.failures)
    text += "; " + failure.text();
  return text;
}

// A device, an operator and a file, all fake; the clock never sleeps.
class UpdateFixture : public ::testing::Test {
 protected:
  UpdateFixture() {
    session_.address = "127.0.0.1";
    session_.login_id = "admin";
    session_.password = "pw";
    chosen_ = {"/data/update.xml", "update.xml"};
    form_.on_firmware_message = [this] { return FirmwareSend(Context()); };
  }

  UpdateContext Context() {
    return UpdateContext{form_, platform_, session_, chosen_};
  }

  std::string Upload() const {
    return "upload /data/update.xml -> C:\\www\\update.xml as admin to "
           "127.0.0.1:21";
  }

  Transcript transcript_;
  FakeClock clock_;
  FakeForm form_{transcript_};
  FakeTransport transport_{transcript_, clock_};
  FakeFtpClient ftp_{transcript_};
  Platform platform_{transport_, ftp_, clock_, 20};
  DeviceSession session_;
  ChosenFile chosen_;
};

}  // namespace hj5::test

#endif  // HJ5_TESTS_UPDATE_UPDATE_FIXTURE_H_
