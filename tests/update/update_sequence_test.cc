#include "update/update_sequence.h"

#include <gmock/gmock.h>

#include "update/update_fixture.h"

namespace hj5::test {
namespace {

// The run up to the restart command, all answered.
Lines UpToRestart() {
  return {Status("Processing(0)"),   Send("QueryDevice", 0),
          Status("Processing(1)"),   Send("FtpOn", 1000),
          Status("Processing(2)"),   Send("MarkForUpdate", 2000),
          Status("Restarting ...."), Send("RestartDevice", 3000)};
}

// The device answers the first probe after the restart.
Lines AnsweredWait(std::int64_t restart_ms) {
  return {"timer start", Send("Probe", restart_ms + 5000), "timer stop"};
}

// The tail from FTP off to the final wait, every command answered.
Lines Tail(std::int64_t start_ms) {
  return Join(
      {{Status("Processing(6)"), Send("FtpOff", start_ms),
        Status("Processing(7)"), Send("RestoreDeviceCode", start_ms + 1000),
        Status("Restarting ...."), Send("RestartDevice", start_ms + 2000)},
       AnsweredWait(start_ms + 2000)});
}

Lines Completed() {
  return {"notice \"\"", Status("Update completed."),
          Information("Update completed."), "button 1009 enabled"};
}

Lines Failed() {
  return {"notice \"\"", Status(kError), Warning(kError),
          "button 1009 enabled"};
}

class UpdateSequenceTest : public UpdateFixture {
 protected:
  Lines Run() {
    outcome_ = UpdateSequence(Context());
    return transcript_.Lines();
  }

  // A good run up to the upload, then the upload.
  Lines UpToUpload() {
    return Join({UpToRestart(),
                 AnsweredWait(3000),
                 {Status("Processing(3)"), Send("ModeOne", 8000),
                  Status("Processing(4)"), Upload()}});
  }

  std::string Outcome() const { return Described(outcome_); }

  UpdateOutcome outcome_;
};

TEST_F(UpdateSequenceTest, ACompleteRunTakesSixteenSecondsOfWaits) {
  EXPECT_EQ(
      Run(),
      Join({UpToUpload(), {"message 102 -> 0"}, Tail(9000), Completed()}));
  EXPECT_EQ(clock_.now_ms(), 16000);
  EXPECT_TRUE(form_.button_enabled);
  EXPECT_EQ(Outcome(), "completed at second wait, answered");
}

TEST_F(UpdateSequenceTest, ARefusedIdentityEndsEarlyWithTwoBoxes) {
  transport_.Always("QueryDevice", {http_code::kConnection, ""});
  EXPECT_EQ(Run(), Join({{Status("Processing(0)"), Send("QueryDevice", 0)},
                         Reported("Communication Error(Connection Error)"),
                         {"notice \"\"", Status("Update Failure."),
                          Warning("Update Failure."), "button 1009 enabled"}}));
  EXPECT_EQ(Outcome(),
            "failed at identity check; Communication Error(Connection Error); "
            "Update Failure.");
}

TEST_F(UpdateSequenceTest, AFailingFtpOnEndsEarlyWithoutTheTail) {
  transport_.Always("FtpOn", {0, "HJ5_Ret(-2)"});
  EXPECT_EQ(Run(), Join({{Status("Processing(0)"), Send("QueryDevice", 0),
                          Status("Processing(1)"), Send("FtpOn", 1000)},
                         Reported("Login ID Error!!"),
                         {"notice \"\"", Status(kError), Warning(kError),
                          "button 1009 enabled"}}));
  // The device said no: nothing was switched.
  EXPECT_EQ(Outcome(), "failed at FTP on; Login ID Error!!; " + kError);
  // A reply that never came leaves it open whether FTP went on.
  transport_.Always("FtpOn", {http_code::kTimeout, ""});
  Run();
  EXPECT_EQ(Outcome(),
            "failed at FTP on, left; Communication Error(Communication "
            "Time-out); " +
                kError);
}

TEST_F(UpdateSequenceTest, AFailingUpdateMarkRunsTheTailWithoutRestart) {
  transport_.Always("MarkForUpdate", {0, "HJ5_Ret(-5)"});
  EXPECT_EQ(Run(), Join({{Status("Processing(0)"), Send("QueryDevice", 0),
                          Status("Processing(1)"), Send("FtpOn", 1000),
                          Status("Processing(2)"), Send("MarkForUpdate", 2000)},
                         Reported("Script Error!!(sethjcparam)"),
                         Tail(2000),
                         Failed()}));
  EXPECT_EQ(Outcome(),
            "failed at second wait, answered; "
            "Script Error!!(sethjcparam); " +
                kError);
}

TEST_F(UpdateSequenceTest, AFailingFirstRestartRunsTheTail) {
  transport_.Once("RestartDevice", {0, "HJ5_Ret(-99)"});
  EXPECT_EQ(Run(), Join({UpToRestart(), Reported("Script Returns Error!!"),
                         Tail(3000), Failed()}));
  EXPECT_EQ(
      Outcome(),
      "failed at second wait, answered; Script Returns Error!!; " + kError);
}

TEST_F(UpdateSequenceTest, AFailingModeOneRunsTheTail) {
  transport_.Always("ModeOne", {http_code::kReception, ""});
  EXPECT_EQ(Run(), Join({UpToRestart(),
                         AnsweredWait(3000),
                         {Status("Processing(3)"), Send("ModeOne", 8000)},
                         Reported("Communication Error(Reception Error)"),
                         Tail(8000),
                         Failed()}));
  EXPECT_EQ(Outcome(),
            "failed at second wait, answered; "
            "Communication Error(Reception Error); " +
                kError);
}

TEST_F(UpdateSequenceTest, AFailedUploadIsNotReportedAsSuccess) {
  ftp_.result = ftp_code::kServerFile;
  EXPECT_EQ(Run(), Join({UpToUpload(),
                         {Warning("Firm Sending Error(Server side File Error)"),
                          "message 102 -> -1"},
                         Tail(9000),
                         Failed()}));
  EXPECT_EQ(Outcome(),
            "failed at second wait, answered; "
            "Firm Sending Error(Server side File Error); " +
                kError);
}

TEST_F(UpdateSequenceTest, AnUndeliveredUploadMessageIsAFailure) {
  form_.on_firmware_message = [] {
    return hj5::Status::Failure(ftp_code::kSendFile, "not delivered");
  };
  Lines lines = Run();
  EXPECT_THAT(lines, ::testing::Contains("message 102 -> -1"));
  EXPECT_EQ(Lines(lines.end() - 4, lines.end()), Failed());
  EXPECT_EQ(Outcome(), "failed at second wait, answered; " + kError);
}

TEST_F(UpdateSequenceTest, ADeviceThatNeverComesBackTimesOutThenFailsTheTail) {
  // After the restart nothing answers, and each probe takes 2 s to fail.
  transport_.Always("Probe", {http_code::kTimeout, "", 2000});
  transport_.Always("FtpOff", {http_code::kTimeout, "", 20000});
  Lines expected = Join({UpToRestart(), {"timer start"}});
  for (int k = 0; k < 21; ++k)
    expected.push_back(Send("Probe", 8000 + 3000 * k));
  expected = Join({expected,
                   {"timer stop"},
                   Reported("Reboot Time out."),
                   {Status("Processing(6)"), Send("FtpOff", 70000)},
                   Reported("Communication Error(Communication Time-out)"),
                   Reported("Processing(6) Error."),
                   {"notice \"\"", Status(kError), Warning(kError),
                    "button 1009 enabled"}});
  EXPECT_EQ(Run(), expected);
  EXPECT_EQ(Outcome(),
            "failed at FTP off, left; Reboot Time out.; Communication "
            "Error(Communication Time-out); Processing(6) Error.; " +
                kError);
}

TEST_F(UpdateSequenceTest, ADeviceRefusingEveryProbeUsesUpThePollsAndGoesOn) {
  transport_.Always("Probe", {http_code::kConnection, ""});
  Lines lines = Run();
  // 60 polls a second apart, no sleep after the last, then step 3 at once.
  Lines expected = Join({UpToRestart(), {"timer start"}});
  for (int k = 0; k < 60; ++k)
    expected.push_back(Send("Probe", 8000 + 1000 * k));
  expected =
      Join({expected,
            {"timer stop", Status("Processing(3)"), Send("ModeOne", 67000)}});
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + expected.size()), expected);
  // The second wait's polls are used up too: the device is restored but
  // did not answer.
  EXPECT_EQ(Outcome(), "failed at second wait");
}

}  // namespace
}  // namespace hj5::test
