#include "device/identity_check.h"

#include <gtest/gtest.h>

#include "support/fake_form.h"
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

  int Check(FakeReply reply) {
    transport_.Always("QueryDevice", reply);
    return IdentityCheck(
        UpdateContext{form_, platform_, session_, chosen_, causes_});
  }

  std::vector<std::string> Refused(const std::string& text) {
    return {"send QueryDevice at 0.000", "box warning \"" + text + "\"",
            "button 1009 enabled", "status \"" + text + "\"", "notice \"\""};
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
    EXPECT_EQ(Check({0, reply}), 0) << reply;
    EXPECT_EQ(transcript_.Lines(),
              std::vector<std::string>{"send QueryDevice at 0.000"});
  }
}

TEST_F(IdentityCheckTest, TheSearchIsCaseSensitive) {
  EXPECT_EQ(Check({0, "user9=hj5m update\r\nHJ5_Ret(0)"}), -1);
  EXPECT_EQ(transcript_.Lines(), Refused("Device Code Error."));
}

TEST_F(IdentityCheckTest, AnotherDeviceIsRefused) {
  EXPECT_EQ(Check({0, "model=HJ-4\r\nuser9=HJ4X\r\nHJ5_Ret(0)"}), -1);
  EXPECT_EQ(transcript_.Lines(), Refused("Device Code Error."));
}

TEST_F(IdentityCheckTest, LoginAndScriptFailuresComeFirst) {
  const std::pair<const char*, const char*> cases[] = {
      {"user9=HJ5M\r\nHJ5_Ret(-2)", "Login ID Error!!"},
      {"user9=HJ5M\r\nHJ5_Ret(-3)", "Login Password Error!!"},
      {"user9=HJ5M\r\nHJ5_Ret(-4)", "Script Error!!(gethjcparam)"},
  };
  for (const auto& [reply, text] : cases) {
    transcript_.Clear();
    EXPECT_EQ(Check({0, reply}), -1);
    EXPECT_EQ(transcript_.Lines(), Refused(text));
  }
}

TEST_F(IdentityCheckTest, ATransportFailureIsACommunicationError) {
  EXPECT_EQ(Check({http_code::kTimeout, ""}), -1);
  EXPECT_EQ(transcript_.Lines(),
            Refused("Communication Error(Communication Time-out)"));
}

TEST_F(IdentityCheckTest, TheDeviceCodeComesFromTheSession) {
  session_.device_code = "ZZ99";
  EXPECT_EQ(Check({0, "user9=ZZ99\r\nHJ5_Ret(0)"}), 0);
  EXPECT_EQ(Check({0, "user9=HJ5M\r\nHJ5_Ret(0)"}), -1);
}

TEST_F(IdentityCheckTest, TheQueryCarriesTheCredentials) {
  Check({0, "HJ5M HJ5_Ret(0)"});
  ASSERT_EQ(transport_.requests.size(), 1u);
  EXPECT_TRUE(transport_.requests[0].ends_with(
      "\r\n\r\nID=admin&PW=pw&MODE=4&ACT=&CODE=&DATA="));
}

}  // namespace
}  // namespace hj5
