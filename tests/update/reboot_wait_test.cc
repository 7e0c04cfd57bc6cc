#include "update/reboot_wait.h"

#include <gmock/gmock.h>

#include "update/update_fixture.h"

namespace hj5::test {
namespace {

using ::testing::Contains;
using ::testing::Not;

class RebootWaitTest : public UpdateFixture {
 protected:
  RebootOutcome Wait() {
    UpdateContext context = Context();
    UpdateRun run(context);
    const RebootOutcome outcome = RebootWait(run, UpdateStep::kFirstWait);
    answered_ = run.Finish().answered_after_restart;
    return outcome;
  }

  bool answered_ = false;

  int Probes() {
    int probes = 0;
    for (const std::string& line : transcript_.Lines())
      probes += line.starts_with("send Probe");
    return probes;
  }
};

TEST_F(RebootWaitTest, AnAnsweredFirstProbeStopsTheCounterAfterFiveSeconds) {
  EXPECT_EQ(Wait(), RebootOutcome::kAnswered);
  EXPECT_EQ(transcript_.Lines(),
            (Lines{"timer start", Send("Probe", 5000), "timer stop"}));
  EXPECT_TRUE(answered_);
}

TEST_F(RebootWaitTest, ProbesAreSilentAndASecondApart) {
  for (int k = 0; k < 3; ++k)
    transport_.Once("Probe", {0, "HJ5_Ret(-2)"});  // failures, not reported
  EXPECT_EQ(Wait(), RebootOutcome::kAnswered);
  EXPECT_EQ(transcript_.Lines(),
            (Lines{"timer start", Send("Probe", 5000), Send("Probe", 6000),
                   Send("Probe", 7000), Send("Probe", 8000), "timer stop"}));
}

TEST_F(RebootWaitTest, RefusedAtOnceSixtyPollsAreUsedUpInUnderSixtySeconds) {
  transport_.Always("Probe", {http_code::kConnection, ""});
  EXPECT_EQ(Wait(), RebootOutcome::kPollsUsedUp);
  EXPECT_EQ(Probes(), 60);
  EXPECT_EQ(transcript_.Lines().back(), "timer stop");
  EXPECT_EQ(clock_.now_ms(), 5000 + 59000);
  EXPECT_FALSE(answered_);
}

TEST_F(RebootWaitTest, SlowUnansweredProbesTimeOutAfterMoreThanSixtySeconds) {
  transport_.Always("Probe", {http_code::kTimeout, "", 2000});
  EXPECT_EQ(Wait(), RebootOutcome::kTimedOut);
  EXPECT_EQ(Probes(), 21);  // the 21st ends 62 s after the start
  Lines lines = transcript_.Lines();
  EXPECT_EQ(Lines(lines.end() - 5, lines.end()),
            Join({{"timer stop"}, Reported("Reboot Time out.")}));
  EXPECT_EQ(clock_.now_ms(), 5000 + 62000);
}

TEST_F(RebootWaitTest, SixtySecondsExactlyIsNotYetATimeOut) {
  // Each round is 1.5 s: the 41st probe ends exactly 60 whole seconds after
  // the start, the 42nd more than 60.
  transport_.Always("Probe", {http_code::kTimeout, "", 500});
  EXPECT_EQ(Wait(), RebootOutcome::kTimedOut);
  EXPECT_EQ(Probes(), 42);
}

TEST_F(RebootWaitTest, TheTimeLimitIsTestedOnlyAfterAnUnansweredProbe) {
  // A probe that takes 70 s but is answered still ends the wait answered.
  transport_.Always("Probe", {0, "HJ5_Ret(0)", 70000});
  EXPECT_EQ(Wait(), RebootOutcome::kAnswered);
  EXPECT_THAT(transcript_.Lines(), Not(Contains(::testing::StartsWith("box"))));
}

}  // namespace
}  // namespace hj5::test
