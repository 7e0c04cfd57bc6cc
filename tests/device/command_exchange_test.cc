#include "device/command_exchange.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/commands.h"
#include "support/fake_ftp_client.h"
#include "support/fake_transport.h"

namespace hj5 {
namespace {

using test::FakeReply;

TEST(ReplyCodeTest, ReadsTheTokenThatClosesTheReply) {
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)"), 0);
  EXPECT_EQ(ReplyCode("user9=HJ5M\r\nHJ5_Ret(-3)"), -3);
  EXPECT_EQ(ReplyCode("HJ5_Ret(42)"), 42);
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)\r\n"), 0);  // 12 characters from the token
}

TEST(ReplyCodeTest, ATokenFollowedByTooMuchIsNoToken) {
  EXPECT_EQ(ReplyCode("HJ5_Ret(-2)\r\n"), std::nullopt);  // 13 characters
  EXPECT_EQ(ReplyCode("HJ5_Ret(-1)\r\n"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret(0) and more"), std::nullopt);
}

TEST(ReplyCodeTest, TheTokenMustStartWithinTheFirst1001Characters) {
  EXPECT_EQ(ReplyCode(std::string(1000, 'x') + "HJ5_Ret(0)"), 0);
  EXPECT_EQ(ReplyCode(std::string(1001, 'x') + "HJ5_Ret(0)"), std::nullopt);
}

TEST(ReplyCodeTest, OnlyTheFirstTokenCounts) {
  // The first token is followed by the second: too long a tail.
  EXPECT_EQ(ReplyCode("HJ5_Ret(0)HJ5_Ret(0)"), std::nullopt);
}

TEST(ReplyCodeTest, ATokenWithoutANumberIsNoToken) {
  EXPECT_EQ(ReplyCode(""), std::nullopt);
  EXPECT_EQ(ReplyCode("no token here"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret()"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret(-)"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret(x)"), std::nullopt);
  EXPECT_EQ(ReplyCode("HJ5_Ret 0"), std::nullopt);
  EXPECT_EQ(ReplyCode("hj5_ret(0)"), std::nullopt);
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

  Status Exchange(FakeReply reply) {
    transport_.Always("ModeOne", reply);
    return CommandExchange({platform_, session_},
                           CommandBody(Command::kModeOne, session_));
  }

  test::Transcript transcript_;
  test::FakeClock clock_;
  test::FakeTransport transport_{transcript_, clock_};
  test::FakeFtpClient ftp_{transcript_};
  Platform platform_{transport_, ftp_, clock_, 20};
  DeviceSession session_;
};

TEST_F(CommandExchangeTest, SuccessCodesPass) {
  for (const char* reply : {"HJ5_Ret(0)", "HJ5_Ret(7)", "ok\r\nHJ5_Ret(-1)"}) {
    EXPECT_TRUE(Exchange({0, reply}).ok()) << reply;
  }
}

TEST_F(CommandExchangeTest, EachFailingCodeHasItsTextAndCause) {
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
    const Status status = Exchange({0, reply});
    EXPECT_FALSE(status.ok()) << reply;
    EXPECT_EQ(status.text(), text) << reply;
  }
  EXPECT_EQ(Exchange({0, "HJ5_Ret(-3)"}).cause(),
            "reply code -3; reply ends \"HJ5_Ret(-3)\"");
  EXPECT_EQ(Exchange({0, "x\r\nHJ5_Ret(-1)\r\n"}).cause(),
            "no closing token; reply ends \"x\\r\\nHJ5_Ret(-1)\\r\\n\"");
}

TEST_F(CommandExchangeTest, TransportFailuresNameTheClientsError) {
  const Status refused =
      Exchange({http_code::kConnection, "", 0, "connect: refused"});
  EXPECT_EQ(refused.text(), "Communication Error(Connection Error)");
  EXPECT_EQ(refused.cause(), "connect: refused");
  EXPECT_EQ(Exchange({-9, ""}).text(),
            "Communication Error(Return Value Unknown)");
}

TEST_F(CommandExchangeTest, TheReplyEndsAtItsFirstNulByte) {
  // What follows a NUL is not part of the reply text.
  EXPECT_TRUE(Exchange({0, std::string("HJ5_Ret(0)\0junk", 15)}).ok());
  EXPECT_FALSE(Exchange({0, std::string("HJ5_Ret(-2)\0", 12)}).ok());
  EXPECT_FALSE(Exchange({0, std::string("x\0HJ5_Ret(0)", 12)}).ok());
}

TEST_F(CommandExchangeTest, TheRequestGoesToTheSessionsAddressAndPort) {
  session_.address = "::1";
  session_.http_port = 8080;
  EXPECT_TRUE(Exchange({0, "HJ5_Ret(0)"}).ok());
  EXPECT_EQ(transport_.last_address, "::1");
  EXPECT_EQ(transport_.last_port, 8080);
  EXPECT_EQ(transport_.last_limit, 20);
  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_EQ(transport_.requests[0],
            ComposeRequest(CommandBody(Command::kModeOne, session_)));
}

}  // namespace
}  // namespace hj5
