#include "device/command_exchange.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/commands.h"
#include "support/fake_form.h"
#include "support/fake_ftp_client.h"
#include "support/fake_transport.h"

namespace hj5 {
namespace {

using test::FakeReply;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(ReplyCodeTest, ReadsTheTokenThatClosesTheReply) {
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)"), 0);
  EXPECT_EQ(ReplyCode("user9=HJ5M\r\nHJ5_Ret(-3)"), -3);
  EXPECT_EQ(ReplyCode("HJ5_Ret(42)"), 42);
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)\r\n"), 0);  // 12 characters from the token
}

TEST(ReplyCodeTest, ATokenFollowedByTooMuchIsNoToken) {
  EXPECT_EQ(ReplyCode("HJ5_Ret(-2)\r\n"), kNoToken);  // 13 characters
  EXPECT_EQ(ReplyCode("HJ5_Ret(-1)\r\n"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret(0) and more"), kNoToken);
}

TEST(ReplyCodeTest, TheTokenMustStartWithinTheFirst1001Characters) {
  EXPECT_EQ(ReplyCode(std::string(1000, 'x') + "HJ5_Ret(0)"), 0);
  EXPECT_EQ(ReplyCode(std::string(1001, 'x') + "HJ5_Ret(0)"), kNoToken);
}

TEST(ReplyCodeTest, OnlyTheFirstTokenCounts) {
  // The first token is followed by the second: too long a tail.
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)HJ5_Ret(0)"), kNoToken);
}

TEST(ReplyCodeTest, ATokenWithoutANumberIsNoToken) {
  EXPECT_EQ(ReplyCode(""), kNoToken);
  EXPECT_EQ(ReplyCode("no token here"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret()"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret(-)"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret(x)"), kNoToken);
  EXPECT_EQ(ReplyCode("HJ5_Ret 0"), kNoToken);
  EXPECT_EQ(ReplyCode("hj5_ret(0)"), kNoToken);
}

// The number is read as sscanf(tail, "HJ5_Ret(%d)") reads it: white space
// and a sign before the digits, and no ')' needed after them.
TEST(ReplyCodeTest, ReadsTheNumberAsScanfDoes) {
  EXPECT_EQ(ReplyCode("HJ5_Ret( +5)"), 5);
  EXPECT_EQ(ReplyCode("ok HJ5_Ret(\t-3)"), -3);
  EXPECT_EQ(ReplyCode("HJ5_Ret(7"), 7);
  EXPECT_EQ(ReplyCode("HJ5_Ret(-2x"), -2);
}

class CommandExchangeTest : public ::testing::Test {
 protected:
  CommandExchangeTest() { session_.address = "127.0.0.1"; }

  int Exchange(FakeReply reply, int report = 1) {
    transport_.Always("ModeOne", reply);
    return CommandExchange(Context(), CommandBody(Command::kModeOne, session_),
                           report);
  }

  // What the operator saw, without the recorded sends.
  std::vector<std::string> Seen() {
    std::vector<std::string> seen;
    for (const std::string& line : transcript_.Lines())
      if (!line.starts_with("send ")) seen.push_back(line);
    return seen;
  }

  std::vector<std::string> Report(const std::string& text) {
    return {"box warning \"" + text + "\"", "button 1009 enabled",
            "status \"" + text + "\"", "notice \"\""};
  }

  UpdateContext Context() {
    return UpdateContext{form_, platform_, session_, chosen_, causes_};
  }

  test::Transcript transcript_;
  test::FakeClock clock_;
  test::FakeForm form_{transcript_};
  test::FakeTransport transport_{transcript_, clock_};
  test::FakeFtpClient ftp_{transcript_};
  Platform platform_{transport_, ftp_, clock_, 20};
  DeviceSession session_;
  ChosenFile chosen_;
  CauseLog causes_;
};

TEST_F(CommandExchangeTest, SuccessCodesPassSilently) {
  for (const char* reply : {"HJ5_Ret(0)", "HJ5_Ret(7)", "ok\r\nHJ5_Ret(-1)"}) {
    EXPECT_EQ(Exchange({0, reply}), 0) << reply;
  }
  EXPECT_THAT(Seen(), IsEmpty());
}

TEST_F(CommandExchangeTest, EachFailingCodeIsReportedWithItsText) {
  const std::pair<const char*, const char*> cases[] = {
      {"HJ5_Ret(-2)", "Login ID Error!!"},
      {"HJ5_Ret(-3)", "Login Password Error!!"},
      {"HJ5_Ret(-4)", "Script Error!!(gethjcparam)"},
      {"HJ5_Ret(-5)", "Script Error!!(sethjcparam)"},
      {"HJ5_Ret(-6)", "Script Returns Error!!"},
      {"HJ5_Ret(-10)", "Script Returns Error!!"},
      {"garbage without a token", "Script Returns Error!!"},
      {"HJ5_Ret(-1)\r\n", "Script Returns Error!!"},
  };
  for (const auto& [reply, text] : cases) {
    transcript_.Clear();
    EXPECT_EQ(Exchange({0, reply}), -1) << reply;
    EXPECT_EQ(Seen(), Report(text)) << reply;
  }
}

TEST_F(CommandExchangeTest, TransportFailuresNameTheClientsError) {
  EXPECT_EQ(Exchange({http_code::kConnection, ""}), -1);
  EXPECT_EQ(Seen(), Report("Communication Error(Connection Error)"));
  transcript_.Clear();
  EXPECT_EQ(Exchange({-9, ""}), -1);
  EXPECT_EQ(Seen(), Report("Communication Error(Return Value Unknown)"));
}

TEST_F(CommandExchangeTest, OnlyReportOneMakesFailuresVisible) {
  EXPECT_EQ(Exchange({0, "HJ5_Ret(-2)"}, 0), -1);
  EXPECT_EQ(Exchange({http_code::kTimeout, ""}, 0), -1);
  EXPECT_EQ(Exchange({0, "HJ5_Ret(-2)"}, 2), -1);
  EXPECT_EQ(Exchange({0, "HJ5_Ret(-2)"}, -1), -1);
  EXPECT_THAT(Seen(), IsEmpty());
}

TEST_F(CommandExchangeTest, TheReplyEndsAtItsFirstNulByte) {
  // What follows a NUL is not part of the reply text.
  EXPECT_EQ(Exchange({0, std::string("HJ5_Ret(0)\0junk", 15)}), 0);
  EXPECT_EQ(Exchange({0, std::string("HJ5_Ret(-2)\0", 12)}), -1);
  EXPECT_EQ(Exchange({0, std::string("x\0HJ5_Ret(0)", 12)}), -1);
}

TEST_F(CommandExchangeTest, TheRequestGoesToTheSessionsAddressAndPort) {
  session_.address = "::1";
  session_.http_port = 8080;
  Exchange({0, "HJ5_Ret(0)"});
  EXPECT_EQ(transport_.last_address, "::1");
  EXPECT_EQ(transport_.last_port, 8080);
  EXPECT_EQ(transport_.last_limit, 20);
  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_EQ(transport_.requests[0],
            ComposeRequest(CommandBody(Command::kModeOne, session_)));
}

}  // namespace
}  // namespace hj5
