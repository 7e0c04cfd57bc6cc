#include "device/identity_check.h"

#include <gtest/gtest.h>

#include "support/fake_ftp_client.h"
#include "support/fake_transport.h"

namespace hj5 {
namespace {

using test::FakeReply;

class IdentityCheckTest : public ::testing::Test {
 protected:
  IdentityCheckTest() {
    session_.address = "127.0.0.1";
    session_.login_id = "admin";
    session_.password = "pw";
  }

  Status Check(FakeReply reply) {
    transport_.Always("QueryDevice", reply);
    return IdentityCheck({platform_, session_});
  }

  // The text a check refused with, or "accepted".
  std::string Verdict(FakeReply reply) {
    const Status status = Check(reply);
    return status.ok() ? "accepted" : status.text();
  }

  test::Transcript transcript_;
  test::FakeClock clock_;
  test::FakeTransport transport_{transcript_, clock_};
  test::FakeFtpClient ftp_{transcript_};
  Platform platform_{transport_, ftp_, clock_, 20};
  DeviceSession session_;
};

TEST_F(IdentityCheckTest, AcceptsTheDeviceCodeOrAnUnfinishedUpdate) {
  const std::string accepted[] = {
      "user9=HJ5M\r\nHJ5_Ret(0)",
      "user9=HJ5M\r\nHJ5_Ret(-5)",  // -5 is not judged here
      "user9=HJ5M\r\nHJ5_Ret(-1)",
      "user9=HJ5M\r\nno token at all",
      "user9=HJ5M\r\nHJ5_Ret(-10)",
      "user9=UPDATE\r\nHJ5_Ret(0)",
      "HJ5M" + std::string(2000, 'x') + "HJ5_Ret(0)",  // code before the token
      "HJ5_Ret(0)HJ5M",
  };
  for (const std::string& reply : accepted) {
    transcript_.Clear();
    EXPECT_EQ(Verdict({0, reply}), "accepted") << reply;
    EXPECT_EQ(transcript_.Lines(),
              std::vector<std::string>{"send QueryDevice at 0.000"});
  }
}

TEST_F(IdentityCheckTest, TheSearchIsCaseSensitive) {
  EXPECT_EQ(Verdict({0, "user9=hj5m update\r\nHJ5_Ret(0)"}),
            "Device Code Error.");
}

TEST_F(IdentityCheckTest, AnotherDeviceIsRefused) {
  const Status refused = Check({0, "model=HJ-4\r\nuser9=HJ4X\r\nHJ5_Ret(0)"});
  EXPECT_EQ(refused.text(), "Device Code Error.");
  EXPECT_EQ(refused.cause(),
            "neither \"HJ5M\" nor \"UPDATE\" in the reply; reply code 0; "
            "reply ends \"\\r\\nuser9=HJ4X\\r\\nHJ5_Ret(0)\"");
}

TEST_F(IdentityCheckTest, LoginAndScriptFailuresComeFirst) {
  const std::pair<const char*, const char*> cases[] = {
      {"user9=HJ5M\r\nHJ5_Ret(-2)", "Login ID Error!!"},
      {"user9=HJ5M\r\nHJ5_Ret(-3)", "Login Password Error!!"},
      {"user9=HJ5M\r\nHJ5_Ret(-4)", "Script Error!!(gethjcparam)"},
  };
  for (const auto& [reply, text] : cases) {
    EXPECT_EQ(Verdict({0, reply}), text);
  }
}

TEST_F(IdentityCheckTest, ATransportFailureIsACommunicationError) {
  EXPECT_EQ(Verdict({http_code::kTimeout, ""}),
            "Communication Error(Communication Time-out)");
}

TEST_F(IdentityCheckTest, TheDeviceCodeComesFromTheSession) {
  session_.device_code = "ZZ99";
  EXPECT_EQ(Verdict({0, "user9=ZZ99\r\nHJ5_Ret(0)"}), "accepted");
  EXPECT_EQ(Verdict({0, "user9=HJ5M\r\nHJ5_Ret(0)"}), "Device Code Error.");
}

TEST_F(IdentityCheckTest, TheQueryCarriesTheCredentials) {
  EXPECT_TRUE(Check({0, "HJ5M HJ5_Ret(0)"}).ok());
  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_TRUE(transport_.requests[0].ends_with(
      "\r\n\r\nID=admin&PW=pw&MODE=4&ACT=&CODE=&DATA="));
}

}  // namespace
}  // namespace hj5
