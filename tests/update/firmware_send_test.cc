#include "update/firmware_send.h"

#include "update/update_fixture.h"

namespace hj5::test {
namespace {

class FirmwareSendTest : public UpdateFixture {
 protected:
  hj5::Status Send(int client_result) {
    ftp_.result = client_result;
    ftp_.cause = "why " + std::to_string(client_result);
    return FirmwareSend(Context());
  }
};

TEST_F(FirmwareSendTest, AStoredFileShowsNothing) {
  EXPECT_TRUE(Send(0).ok());
  EXPECT_EQ(transcript_.Lines(), Lines{Upload()});
}

TEST_F(FirmwareSendTest, EachClientErrorHasItsBoxAndNothingElse) {
  const std::pair<int, const char*> cases[] = {
      {-1, "Firm Sending Error(Argument Error)"},
      {-2, "Firm Sending Error(Connection Error)"},
      {-3, "Firm Sending Error(Send File Error)"},
      {-4, "Firm Sending Error(Server side File Error)"},
      {-5, "Firm Sending Error(Character Convert Error)"},
      {-6, "Firm Sending Error(Memory Reserve Error)"},
      {-7, "Firm Sending Error(Return Value Unknown)"},
      {1, "Firm Sending Error(Return Value Unknown)"},
  };
  for (const auto& [code, text] : cases) {
    transcript_.Clear();
    const hj5::Status sent = Send(code);
    EXPECT_EQ(sent.text(), text);
    // No line is written and control 1009 is left alone; the box and the
    // failure carry the client's cause.
    EXPECT_EQ(transcript_.Lines(), (Lines{Upload(), Warning(text)})) << code;
    EXPECT_EQ(form_.causes.back(), "why " + std::to_string(code));
    EXPECT_EQ(sent.cause(), form_.causes.back());
  }
}

TEST_F(FirmwareSendTest, TheRemotePathIsTheDirectoryAndTheNameUnchanged) {
  session_.ftp_port = 2121;
  chosen_ = {"/home/op/My Files/Upd ate%#.XML", "Upd ate%#.XML"};
  EXPECT_TRUE(Send(0).ok());
  ASSERT_EQ(ftp_.uploads.size(), 1u);
  const FtpUpload& upload = ftp_.uploads[0];
  EXPECT_EQ(upload.remote_path, "C:\\www\\Upd ate%#.XML");
  EXPECT_EQ(upload.local_path, "/home/op/My Files/Upd ate%#.XML");
  EXPECT_EQ(upload.host, "127.0.0.1");
  EXPECT_EQ(upload.user, "admin");
  EXPECT_EQ(upload.password, "pw");
  EXPECT_EQ(upload.port, 2121);
}

}  // namespace
}  // namespace hj5::test
