// Hostile input at the tool's edges, against the device emulator on
// loopback: credentials that look like form or protocol syntax, replies too
// large for the reply buffer, file names that would add FTP commands, and
// whether the tool itself ever prints a password or writes it to a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "device/command_exchange.h"
#include "device/commands.h"
#include "device/reply_token.h"
#include "launch/update_launch.h"
#include "platform/asio_http_transport.h"
#include "platform/curl_ftp_client.h"
#include "platform/steady_clock.h"
#include "support/blocking_fakes.h"
#include "support/emulator_process.h"
#include "support/fake_form.h"
#include "support/headless_update.h"
#include "support/scaled_clock.h"
#include "update/firmware_send.h"
#include "update/update_runner.h"

namespace hj5::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr std::uint16_t kLimitSeconds = 5;

// What the device must receive for `body`: the fixed head, the length in
// bytes, the body unchanged.
std::string ExpectedRequest(const std::string& body) {
  return "POST /system.wcr  HTTP/1.1\r\nContent-Length: " +
         std::to_string(body.size()) +
         "\r\nConnection: Keep-Alive\r\nCache-Control: no-cache\r\n\r\n" + body;
}

bool HasControlByte(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20) return true;
  }
  return false;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class SecurityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = "/tmp/hj5-security-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(path_, std::ios::binary) << "<?xml version=\"1.0\"?>\n<a/>\n";
    session_.address = "127.0.0.1";
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // One command through the product's exchange; what the operator would
  // be told ("" when the device took it).
  std::string Exchange(EmulatorProcess& device, Command command) {
    session_.http_port = device.http_port();
    return CommandExchange({platform_, session_},
                           CommandBody(command, session_))
        .text();
  }

  // The upload as message 102 runs it; the operator's lines.
  Lines Upload(EmulatorProcess& device, const std::string& name) {
    transcript_.Clear();
    session_.ftp_port = device.ftp_port();
    chosen_ = ChosenFile{path_, name};
    (void)FirmwareSend(Context());
    return transcript_.Lines();
  }

  std::string path_;
  DeviceSession session_;
  Transcript transcript_;
  FakeForm form_{transcript_};
  AsioHttpTransport transport_{
      AsioHttpTransportOptions{.reply_closed = EndsWithClosingToken}};
  CurlFtpClient ftp_;
  SteadyClock clock_;
  Platform platform_{transport_, ftp_, clock_, kLimitSeconds};
  ChosenFile chosen_;

  UpdateContext Context() {
    return UpdateContext{form_, platform_, session_, chosen_};
  }
};

// "&", "=", CR, LF, a NUL-free request smuggling attempt and bytes above
// 0x7F go into the body unchanged; Content-Length counts bytes, so the
// device reads each request whole and nothing after it as a request.
TEST_F(SecurityTest, CredentialsGoIntoTheBodyAsTypedAndTheFramingHolds) {
  EmulatorProcess device;
  ASSERT_TRUE(device.ok()) << device.error();
  session_.login_id = "a&b=c\r\nd\xC3\xA9";
  session_.password = "p\xFF=&\r\n\r\nPOST /system.wcr  HTTP/1.1\r\n\r\nx";
  const std::string query = CommandBody(Command::kQueryDevice, session_);
  const std::string ftp_on = CommandBody(Command::kFtpOn, session_);
  ASSERT_NE(query.find(session_.login_id + "&PW=" + session_.password + "&"),
            std::string::npos);

  // The device cuts the login ID at its "&" and refuses it.
  EXPECT_EQ(Exchange(device, Command::kQueryDevice), "Login ID Error!!");
  Exchange(device, Command::kFtpOn);
  EXPECT_EQ(device.RawRequests(),
            Lines({ExpectedRequest(query), ExpectedRequest(ftp_on)}));
  EXPECT_EQ(device.RequestBodies(), Lines({query, ftp_on}));
  EXPECT_EQ(device.Param("svr_ftp_port"), "0");  // not carried out
}

// The FTP client refuses a line break or another control byte in the
// credentials before it connects: nothing reaches the server. "&", "=" and
// bytes above 0x7F travel inside USER and PASS, one line each.
TEST_F(SecurityTest, CredentialsNeverReachTheFtpServerAsExtraCommands) {
  EmulatorProcess device({"--ftp-on"});
  ASSERT_TRUE(device.ok()) << device.error();
  const Lines refused = {"box warning \"Firm Sending Error(Argument Error)\""};
  for (const auto& [user, password] :
       std::vector<std::pair<std::string, std::string>>{
           {"admin\r\nDELE C:\\www\\a.xml", "hj5pass"},
           {"admin", "hj5pass\r\nDELE C:\\www\\a.xml"},
           {"admin", "hj5pass\nQUIT"},
           {"admin\rQUIT", "hj5pass"},
           {"admin", std::string("hj5\0pass", 8)},
           {"admin", "hj5pass\x7F"}}) {
    session_.login_id = user;
    session_.password = password;
    EXPECT_EQ(Upload(device, "a.xml"), refused) << user << " / " << password;
  }
  EXPECT_TRUE(device.FtpCommands().empty());

  session_.login_id = "a&b=c\xC3\xA9";
  session_.password = "p\xFF=&q";
  EXPECT_EQ(Upload(device, "a.xml"),
            Lines({"box warning \"Firm Sending Error(Connection Error)\""}));
  const Lines commands = device.FtpCommands();
  ASSERT_GE(commands.size(), 2u);
  EXPECT_EQ(commands[0], "USER a&b=c\xC3\xA9");
  EXPECT_EQ(commands[1], "PASS p\xFF=&q");
}

// A reply larger than the reply buffer is cut at its capacity, whatever the
// device announces; the lost token makes it a script failure.
TEST_F(SecurityTest, AHostileReplyIsCutAtTheReplyCapacity) {
  EmulatorProcess device;
  ASSERT_TRUE(device.ok()) << device.error();
  session_.login_id = "admin";
  session_.password = "hj5pass";
  const std::string huge(1 << 20, 'A');
  device.AddFault(R"({"match": {"MODE": "2"}, "oversize": true})");
  device.AddFault(R"({"match": {"MODE": "1"}, "body": ")" + huge +
                  R"x(HJ5_Ret(0)"})x");
  for (Command command : {Command::kFtpOn, Command::kModeOne}) {
    std::string reply;
    session_.http_port = device.http_port();
    const std::string request = ComposeRequest(CommandBody(command, session_));
    EXPECT_TRUE(transport_
                    .Exchange("127.0.0.1", device.http_port(), request, &reply,
                              kLimitSeconds)
                    .ok());
    EXPECT_EQ(reply.size(), HttpTransport::kReplyCapacity);
    EXPECT_EQ(ReplyCode(reply), std::nullopt);
    EXPECT_EQ(Exchange(device, command), "Script Returns Error!!");
  }
}

// The click refuses a file name with a control byte, a "\" or a ":"; and
// were one to reach the upload, the FTP client refuses it before it
// connects.
TEST_F(SecurityTest, AFileNameWithControlBytesNeverReachesStor) {
  EmulatorProcess device({"--ftp-on"});
  ASSERT_TRUE(device.ok()) << device.error();
  const std::vector<std::string> names = {"a.xml\r\nDELE C:\\www\\b.xml",
                                          "a\n.xml",
                                          "a\r.xml",
                                          "a\t.xml",
                                          std::string("a\0b.xml", 7),
                                          "..\\..\\boot.ini",
                                          "D:evil.xml"};
  for (const std::string& name : names) {
    // A runner of its own: its end cancels its adapters for good.
    test::BlockingClock clock;
    test::BlockingTransport transport(test::BlockingTransport::Mode::kFail);
    test::IdleFtpClient ftp;
    UpdateRunner runner(form_, Platform{transport, ftp, clock},
                        [](const UpdateContext&) { return UpdateOutcome{}; });
    form_.chooser_answer = ChosenFile{path_, name};
    form_.Type(FieldId::kLoginId, "admin");
    form_.Type(FieldId::kPassword, "hj5pass");
    LaunchContext context{form_, form_, runner, ""};
    transcript_.Clear();
    LaunchUpdate(context);
    EXPECT_EQ(transcript_.Lines().back(), "box warning \"File Name Error.\"")
        << name;
  }
  session_.login_id = "admin";
  session_.password = "hj5pass";
  for (const std::string& name : names) {
    if (!HasControlByte(name)) continue;  // for the device to refuse
    EXPECT_EQ(Upload(device, name),
              Lines({"box warning \"Firm Sending Error(Argument Error)\""}))
        << name;
  }
  EXPECT_TRUE(device.FtpCommands().empty());
}

// Every descriptor the process writes its output to goes into a file for
// the object's lifetime.
class CapturedOutput {
 public:
  explicit CapturedOutput(const std::string& path) : path_(path) {
    std::fflush(nullptr);
    file_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    saved_out_ = ::dup(1);
    saved_err_ = ::dup(2);
    ::dup2(file_, 1);
    ::dup2(file_, 2);
  }
  ~CapturedOutput() {
    std::fflush(nullptr);
    ::dup2(saved_out_, 1);
    ::dup2(saved_err_, 2);
    for (int fd : {file_, saved_out_, saved_err_}) ::close(fd);
  }
  std::string Text() const {
    std::fflush(nullptr);
    return ReadFile(path_);
  }

 private:
  std::string path_;
  int file_ = -1;
  int saved_out_ = -1;
  int saved_err_ = -1;
};

// Regular files directly in `dir` written since `since`.
std::vector<fs::path> WrittenSince(const fs::path& dir,
                                   fs::file_time_type since) {
  std::vector<fs::path> written;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    std::error_code ignored;
    if (entry.is_regular_file(ignored) &&
        entry.last_write_time(ignored) >= since &&
        entry.file_size(ignored) < (64u << 20)) {
      written.push_back(entry.path());
    }
  }
  return written;
}

// A whole update with a distinctive password: nothing the tool prints, and
// no file written meanwhile outside the device's folder, holds it.
TEST_F(SecurityTest, TheToolNeverPrintsOrStoresTheCredentials) {
  const std::string password = "Qx7!sEcr3t-PW";
  EmulatorProcess device({"--reboot-seconds", "0.1", "--pw", password});
  ASSERT_TRUE(device.ok()) << device.error();
  ScaledClock clock(50);
  HeadlessUpdate update(clock, device.http_port(), device.ftp_port(), path_,
                        "a.xml");
  update.session.password = password;
  const std::string capture =
      "/tmp/hj5-security-out-" + std::to_string(::getpid());
  const auto since = fs::file_time_type::clock::now();
  std::string printed;
  {
    CapturedOutput output(capture);
    update.Run(kLimitSeconds);
    printed = output.Text();
  }
  std::remove(capture.c_str());
  EXPECT_EQ(update.LastStatus(), "Update completed.");  // the password worked
  EXPECT_EQ(printed.find(password), std::string::npos) << printed;
  for (const fs::path& dir : {fs::path("/tmp"), fs::current_path()}) {
    for (const fs::path& file : WrittenSince(dir, since)) {
      EXPECT_EQ(ReadFile(file).find(password), std::string::npos) << file;
    }
  }
}

}  // namespace
}  // namespace hj5::test
