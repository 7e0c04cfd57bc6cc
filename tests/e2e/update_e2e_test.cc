// Whole updates in real time against the device emulator: the worker, the
// Asio transport, the libcurl client and the steady clock, with a recording
// form in place of the window.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/steady_clock.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"

namespace hj5::test {
namespace {

using Lines = std::vector<std::string>;

const std::string kError = "An error occurred during the updating process.";

Lines Reported(const std::string& text) {
  return {"box warning \"" + text + "\"", "button 1009 enabled",
          "status \"" + text + "\"", "notice \"\""};
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

const Lines kToRestart = {"status \"Processing(0)\"",
                          "status \"Processing(1)\"",
                          "status \"Processing(2)\"",
                          "status \"Restarting ....\"",
                          "timer start",
                          "timer stop",
                          "status \"Processing(3)\""};

const Lines kCompleted =
    Join({kToRestart,
          {"status \"Processing(4)\"", "message 102 -> 0",
           "status \"Processing(6)\"", "status \"Processing(7)\"",
           "status \"Restarting ....\"", "timer start", "timer stop",
           "notice \"\"", "status \"Update completed.\"",
           "box information \"Update completed.\"", "button 1009 enabled"}});

class UpdateE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Line ends of both kinds and NUL bytes must arrive unchanged.
    content_ =
        std::string("<?xml version=\"1.0\"?>\r\n<a>\n\0\r\r\n</a>\n", 40);
    path_ = "/tmp/hj5-e2e-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(path_, std::ios::binary) << content_;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  std::string content_;
  std::string path_;
  SteadyClock clock_;
};

TEST_F(UpdateE2eTest, ACompleteUpdateStoresTheFileAndRestoresTheDevice) {
  EmulatorProcess device({"--reboot-seconds", "1"});
  ASSERT_TRUE(device.ok()) << device.error();
  HeadlessUpdate update(clock_, device.http_port(), device.ftp_port(), path_,
                        "update file.xml");
  const int boots = device.BootCount();
  update.Run();
  EXPECT_EQ(update.Lines(), kCompleted);
  EXPECT_EQ(device.StoredFile("update file.xml"), content_);
  EXPECT_EQ(device.Param("svr_ftp_port"), "0");
  EXPECT_EQ(device.Param("user9"), "HJ5M");
  EXPECT_EQ(device.BootCount(), boots + 2);  // two restarts
  bool stored = false;
  for (const std::string& command : device.FtpCommands()) {
    EXPECT_FALSE(command.starts_with("CWD")) << command;
    stored |= command == "STOR C:\\www\\update file.xml";
  }
  EXPECT_TRUE(stored);
}

TEST_F(UpdateE2eTest, ADeviceThatNeverComesBackIsReportedAndCanBeUpdatedLater) {
  EmulatorProcess device({"--reboot-seconds", "1", "--down", "refuse"});
  ASSERT_TRUE(device.ok()) << device.error();
  device.AddFault(R"({"never_back_after_restart": 1})");
  HeadlessUpdate update(clock_, device.http_port(), device.ftp_port(), path_,
                        "u.xml");
  auto took = update.Run();
  // Refused at once, the 60 polls are used up; the commands after them are
  // refused as well.
  const std::string refused = "Communication Error(Connection Error)";
  EXPECT_EQ(update.Lines(),
            Join({kToRestart,
                  Reported(refused),
                  {"status \"Processing(6)\""},
                  Reported(refused),
                  Reported("Processing(6) Error."),
                  {"notice \"\"", "status \"" + kError + "\"",
                   "box warning \"" + kError + "\"", "button 1009 enabled"}}));
  EXPECT_GT(took, std::chrono::seconds(60));
  EXPECT_LT(took, std::chrono::seconds(70));
  EXPECT_FALSE(device.HasStoredFile("u.xml"));

  // Brought back by hand, the device still says "UPDATE" and takes the
  // next update.
  device.Control("POST", "/restart");
  device.ClearFaults();
  clock_.SleepMs(2000);
  EXPECT_EQ(device.Param("user9"), "UPDATE");
  update.Run();
  EXPECT_EQ(update.Lines(), kCompleted);
  EXPECT_EQ(device.StoredFile("u.xml"), content_);
  EXPECT_EQ(device.Param("user9"), "HJ5M");
  EXPECT_EQ(device.Param("svr_ftp_port"), "0");
}

}  // namespace
}  // namespace hj5::test
