#include "update/finish_sequence.h"

#include "update/update_fixture.h"

namespace hj5::test {
namespace {

class FinishSequenceTest : public UpdateFixture {
 protected:
  Lines Finish(bool failed) {
    UpdateContext context = Context();
    UpdateRun run(context);
    FinishSequence(run, failed);
    outcome_ = Described(run.Finish());
    return transcript_.Lines();
  }

  std::string outcome_;

  static Lines UpToRestart() {
    return {Status("Processing(6)"),   Send("FtpOff", 0),
            Status("Processing(7)"),   Send("RestoreDeviceCode", 1000),
            Status("Restarting ...."), Send("RestartDevice", 2000)};
  }

  static Lines FailureTail() {
    return {"notice \"\"", Status(kError), Warning(kError),
            "button 1009 enabled"};
  }

  // The device never answers again; each probe fails after 2 s.
  void NeverBack() {
    transport_.Always("Probe", {http_code::kTimeout, "", 2000});
  }
  // The device refuses every probe at once.
  void RefusesProbes() {
    transport_.Always("Probe", {http_code::kConnection, ""});
  }
  Lines TimedOutWait() {
    Lines lines{"timer start"};
    for (int k = 0; k < 21; ++k)
      lines.push_back(Send("Probe", 7000 + 3000 * k));
    return Join({lines, {"timer stop"}, Reported("Reboot Time out.")});
  }
  Lines UsedUpWait() {
    Lines lines{"timer start"};
    for (int k = 0; k < 60; ++k)
      lines.push_back(Send("Probe", 7000 + 1000 * k));
    lines.push_back("timer stop");
    return lines;
  }
};

TEST_F(FinishSequenceTest, AnsweredAfterACleanRunCompletes) {
  EXPECT_EQ(Finish(false),
            Join({UpToRestart(),
                  {"timer start", Send("Probe", 7000), "timer stop",
                   "notice \"\"", Status("Update completed."),
                   Information("Update completed."), "button 1009 enabled"}}));
  EXPECT_EQ(outcome_, "completed at second wait, answered");
}

TEST_F(FinishSequenceTest, AnsweredAfterAFailureWarns) {
  EXPECT_EQ(Finish(true),
            Join({UpToRestart(),
                  {"timer start", Send("Probe", 7000), "timer stop"},
                  FailureTail()}));
  EXPECT_EQ(outcome_, "failed at second wait, answered; " + kError);
}

TEST_F(FinishSequenceTest, TimedOutAfterACleanRunAsksForARestart) {
  NeverBack();
  EXPECT_EQ(Finish(false), Join({UpToRestart(),
                                 TimedOutWait(),
                                 {"notice \"\"", Status("Update completed."),
                                  Information("Please restart HJ-5."),
                                  "button 1009 enabled"}}));
  EXPECT_EQ(outcome_, "failed at second wait; Reboot Time out.");
}

TEST_F(FinishSequenceTest, TimedOutAfterAFailureIsNotASuccess) {
  NeverBack();
  EXPECT_EQ(Finish(true), Join({UpToRestart(),
                                TimedOutWait(),
                                {"notice \"\"", Status(kError), Warning(kError),
                                 Information("Please restart HJ-5."),
                                 "button 1009 enabled"}}));
  EXPECT_EQ(outcome_, "failed at second wait; Reboot Time out.; " + kError);
}

TEST_F(FinishSequenceTest, PollsUsedUpTellTheOperatorWithoutATimeOutBox) {
  RefusesProbes();
  EXPECT_EQ(Finish(false), Join({UpToRestart(),
                                 UsedUpWait(),
                                 {"notice \"\"", Status("Update completed."),
                                  Information("Please restart HJ-5."),
                                  "button 1009 enabled"}}));
  EXPECT_EQ(outcome_, "failed at second wait");
}

TEST_F(FinishSequenceTest, PollsUsedUpAfterAFailureWarns) {
  RefusesProbes();
  EXPECT_EQ(Finish(true), Join({UpToRestart(),
                                UsedUpWait(),
                                {"notice \"\"", Status(kError), Warning(kError),
                                 Information("Please restart HJ-5."),
                                 "button 1009 enabled"}}));
  EXPECT_EQ(outcome_, "failed at second wait; " + kError);
}

TEST_F(FinishSequenceTest, AFailingFtpOffShowsThreeBoxesAndStops) {
  transport_.Always("FtpOff", {0, "HJ5_Ret(-3)"});
  EXPECT_EQ(Finish(false), Join({{Status("Processing(6)"), Send("FtpOff", 0)},
                                 Reported("Login Password Error!!"),
                                 Reported("Processing(6) Error."),
                                 FailureTail()}));
  EXPECT_EQ(
      outcome_,
      "failed at FTP off; Login Password Error!!; Processing(6) Error.; " +
          kError);
}

TEST_F(FinishSequenceTest, AFailingRestoreStopsBeforeTheRestart) {
  transport_.Always("RestoreDeviceCode", {0, "HJ5_Ret(-5)"});
  EXPECT_EQ(Finish(false),
            Join({{Status("Processing(6)"), Send("FtpOff", 0),
                   Status("Processing(7)"), Send("RestoreDeviceCode", 1000)},
                  Reported("Script Error!!(sethjcparam)"),
                  Reported("Processing(7) Error."),
                  FailureTail()}));
  EXPECT_EQ(outcome_,
            "failed at device code restored; Script Error!!(sethjcparam); "
            "Processing(7) Error.; " +
                kError);
}

TEST_F(FinishSequenceTest, AFailingRestartMakesNoWait) {
  transport_.Always("RestartDevice", {http_code::kSending, ""});
  EXPECT_EQ(Finish(false),
            Join({UpToRestart(), Reported("Communication Error(Sending Error)"),
                  Reported("Restart Command Error."), FailureTail()}));
  EXPECT_EQ(outcome_,
            "failed at second restart; Communication Error(Sending Error); "
            "Restart Command Error.; " +
                kError);
}

TEST_F(FinishSequenceTest, TheRestoreWritesTheSessionsDeviceCodeBack) {
  Finish(false);
  ASSERT_GE(transport_.requests.size(), 2u);
  EXPECT_TRUE(transport_.requests[1].ends_with(
      "ID=admin&PW=pw&MODE=2&ACT=21&CODE=user9&DATA=HJ5M"));
}

}  // namespace
}  // namespace hj5::test
