#include "platform/curl_ftp_client.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/scripted_ftp_server.h"
#include "platform/text_checks.h"
#include "support/emulator_process.h"

namespace hj5 {
namespace {

using test::FtpScript;
using test::ScriptedFtpServer;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;
using Clock = std::chrono::steady_clock;

// Short limits, so that every stall ends within a few seconds, yet with room
// for a busy machine.
CurlFtpLimits ShortLimits() {
  CurlFtpLimits limits;
  limits.connect_timeout = std::chrono::milliseconds(5000);
  limits.server_response_timeout = std::chrono::seconds(2);
  limits.low_speed_limit = 1;
  limits.low_speed_time = std::chrono::seconds(2);
  return limits;
}

// For uploads that should succeed against the emulator, a Python server on a
// machine that may be busy.
CurlFtpLimits RoomyLimits() {
  CurlFtpLimits limits;
  limits.server_response_timeout = std::chrono::seconds(10);
  limits.low_speed_time = std::chrono::seconds(10);
  return limits;
}

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/hj5-ftp-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string Write(const std::string& name, const std::string& content) {
    std::string path = path_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    std::uint64_t word = random();
    std::memcpy(&bytes[i], &word, 8);
  }
  return bytes;
}

// Bytes a line-mode transfer would change: CR LF, bare LF, bare CR, NUL.
std::string MixedLineEnds() {
  std::string text = "<?xml version=\"1.0\"?>\r\n<a>\n\r\n<b>x</b>\r\r\n";
  text += std::string("\0\0\x01\xff\r\n\n", 7);
  return text + "</a>\n";
}

FtpUpload UploadTo(std::uint16_t port, const std::string& local,
                   const std::string& remote = "C:\\www\\update.xml") {
  FtpUpload upload;
  upload.host = "127.0.0.1";
  upload.user = "admin";
  upload.password = "hj5pass";
  upload.port = port;
  upload.local_path = local;
  upload.remote_path = remote;
  return upload;
}

// ---------------------------------------------------------------------------
// Against the device emulator, its FTP server running from the start.

class EmulatorUploadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    emulator_ = new test::EmulatorProcess({"--ftp-on"});
  }
  static void TearDownTestSuite() {
    delete emulator_;
    emulator_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(emulator_->ok()) << emulator_->error();
    emulator_->ClearFaults();
    emulator_->ClearRecords();
  }

  // Uploads content as C:\www\<name>.
  int Send(const std::string& name, const std::string& content) {
    return client_
        .Send(UploadTo(emulator_->ftp_port(), files_.Write("local", content),
                       "C:\\www\\" + name))
        .code();
  }

  static test::EmulatorProcess* emulator_;
  TempDir files_;
  CurlFtpClient client_{RoomyLimits()};
};

test::EmulatorProcess* EmulatorUploadTest::emulator_ = nullptr;

TEST_F(EmulatorUploadTest, LineEndsAndNulBytesArriveUnchanged) {
  ASSERT_EQ(Send("update.xml", MixedLineEnds()), 0);
  EXPECT_EQ(emulator_->StoredFile("update.xml"), MixedLineEnds());
  // The emulator keeps even an ASCII-mode upload byte for byte; the device
  // need not, so binary mode is checked on its own.
  EXPECT_THAT(emulator_->FtpCommands(), Contains("TYPE I"));
}

TEST_F(EmulatorUploadTest, FiftyMegabytesArriveUnchanged) {
  const std::string content = RandomBytes(50 << 20, 7);
  ASSERT_EQ(Send("big.bin", content), 0);
  const std::string stored = emulator_->StoredFile("big.bin");
  EXPECT_EQ(stored.size(), content.size());
  EXPECT_TRUE(stored == content);
}

TEST_F(EmulatorUploadTest, EmptyFileArrives) {
  ASSERT_EQ(Send("empty.xml", ""), 0);
  EXPECT_TRUE(emulator_->HasStoredFile("empty.xml"));
  EXPECT_EQ(emulator_->StoredFile("empty.xml"), "");
}

TEST_F(EmulatorUploadTest, NamesArriveIntact) {
  for (std::string name : {"with space.xml", "100%.xml", "%41.xml", "#1.xml",
                           "what?.xml", "a+b&c=d;e.xml",
                           "\xc3\xbc"
                           "ber \xe6\x9b\xb4\xe6\x96\xb0.xml"}) {
    ASSERT_EQ(Send(name, name), 0) << name;
    EXPECT_EQ(emulator_->StoredFile(name), name);
  }
}

TEST_F(EmulatorUploadTest, StorCarriesTheWholeRemotePathWithoutCwd) {
  ASSERT_EQ(Send("update.xml", "x"), 0);
  const std::vector<std::string> commands = emulator_->FtpCommands();
  EXPECT_THAT(commands, Contains("STOR C:\\www\\update.xml"));
  EXPECT_THAT(commands, Not(Contains(StartsWith("CWD"))));
}

struct EmulatorFault {
  const char* name;
  const char* json;
  int expected;
};

void PrintTo(const EmulatorFault& fault, std::ostream* out) {
  *out << fault.name;
}

class EmulatorFaultTest : public EmulatorUploadTest,
                          public ::testing::WithParamInterface<EmulatorFault> {
};

TEST_P(EmulatorFaultTest, GivesItsCode) {
  emulator_->AddFault(GetParam().json);
  EXPECT_EQ(Send("update.xml", RandomBytes(1 << 20, 3)), GetParam().expected);
  emulator_->ClearFaults();
}

INSTANTIATE_TEST_SUITE_P(
    Ftp, EmulatorFaultTest,
    ::testing::Values(
        EmulatorFault{"LoginRefused", R"({"ftp": "login_refused"})",
                      ftp_code::kConnection},
        EmulatorFault{"Stor550", R"({"ftp": "stor_550"})",
                      ftp_code::kServerFile},
        EmulatorFault{"Stor552", R"({"ftp": "stor_552"})",
                      ftp_code::kServerFile},
        EmulatorFault{"Final451", R"({"ftp": "final_451"})",
                      ftp_code::kServerFile},
        EmulatorFault{"NotStarted", R"({"ftp": "not_started"})",
                      ftp_code::kConnection},
        EmulatorFault{"DroppedMidUpload",
                      R"({"ftp": "drop_mid_upload", "after_bytes": 65536})",
                      ftp_code::kSendFile}),
    [](const ::testing::TestParamInfo<EmulatorFault>& info) {
      return info.param.name;
    });

TEST_F(EmulatorUploadTest, ControlBytesAreRefusedWithoutConnecting) {
  const std::string local = files_.Write("local", "x");
  std::vector<FtpUpload> refused;
  for (std::string bad : {std::string("admin\r\nDELE x"), std::string("a\tb"),
                          std::string("a\x7f"), std::string("a\0b", 3)}) {
    FtpUpload upload = UploadTo(emulator_->ftp_port(), local);
    upload.user = bad;
    refused.push_back(upload);
    upload.user = "admin";
    upload.password = bad;
    refused.push_back(upload);
  }
  for (std::string bad :
       {"C:\\www\\a\r\nDELE b", "C:\\www\\a\x01", "C:\\www\\a\nb"}) {
    refused.push_back(UploadTo(emulator_->ftp_port(), local, bad));
  }
  for (const FtpUpload& upload : refused) {
    EXPECT_EQ(client_.Send(upload).code(), ftp_code::kArgument)
        << upload.user << " " << upload.password << " " << upload.remote_path;
  }
  EXPECT_THAT(emulator_->FtpCommands(), IsEmpty());
}

TEST_F(EmulatorUploadTest, OtherArgumentsAreRefusedWithoutConnecting) {
  const std::string local = files_.Write("local", "x");
  std::vector<FtpUpload> refused = {
      UploadTo(emulator_->ftp_port(), files_.path() + "/missing.xml"),
      UploadTo(emulator_->ftp_port(), files_.path()),  // a directory
      UploadTo(emulator_->ftp_port(), local, ""),
      UploadTo(emulator_->ftp_port(), local, "C:/www/"), UploadTo(0, local)};
  refused.push_back(UploadTo(emulator_->ftp_port(), local));
  refused.back().host = "";
  for (const FtpUpload& upload : refused) {
    EXPECT_EQ(client_.Send(upload).code(), ftp_code::kArgument)
        << upload.host << ":" << upload.port << " " << upload.local_path
        << " -> " << upload.remote_path;
  }
  EXPECT_THAT(emulator_->FtpCommands(), IsEmpty());
}

// The read-back after the store, on the same connection: a device that kept
// fewer bytes or other bytes than it got, or that tells no size, fails the
// upload; a sound one passes it both ways. A byte changed in place keeps
// the size: only the content's read-back finds it. Nothing of the read-back
// reaches the program's output, which may be a run's JSON.
TEST_F(EmulatorUploadTest, TheReadBackFindsAStoredFileThatIsNotTheFileSent) {
  const struct {
    const char* fault;
    FtpVerify verify;
    int code;
    const char* cause;
  } cases[] = {
      {"", FtpVerify::kSize, 0, ""},
      {"", FtpVerify::kContent, 0, ""},
      {R"({"ftp": "store_short"})", FtpVerify::kSize, ftp_code::kVerify,
       "verify: SIZE says 4095 bytes, the file has 4096"},
      {R"({"ftp": "store_short"})", FtpVerify::kContent, ftp_code::kVerify,
       "verify: the stored file has 4095 bytes, the file 4096"},
      {R"({"ftp": "store_flip", "at": 100})", FtpVerify::kSize, 0, ""},
      {R"({"ftp": "store_flip", "at": 100})", FtpVerify::kContent,
       ftp_code::kVerify, "verify: the stored file differs from byte 100 on"},
      {R"({"ftp": "no_size"})", FtpVerify::kSize, ftp_code::kVerify,
       "verify: the server tells no size (\"502 Command not implemented.\")"},
  };
  const std::string local = files_.Write("local", RandomBytes(4096, 7));
  for (const auto& c : cases) {
    emulator_->ClearFaults();
    if (*c.fault) emulator_->AddFault(c.fault);
    FtpUpload upload = UploadTo(emulator_->ftp_port(), local);
    upload.verify = c.verify;
    ::testing::internal::CaptureStdout();
    const Status sent = client_.Send(upload);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << c.fault;
    EXPECT_EQ(sent.code(), c.code) << c.fault;
    EXPECT_EQ(sent.cause(), c.cause) << c.fault;
  }
}

// A fleet's upload sends the bytes it read once, whatever the file at the
// path holds by then, and reads those back.
TEST_F(EmulatorUploadTest, TheContentGivenIsSentAndReadBackNotTheFileOnDisk) {
  struct Held final : FileBytes {
    std::string bytes = RandomBytes(4096, 11);
    std::uint64_t Size() const override { return bytes.size(); }
    Status ReadAt(std::uint64_t offset, char* buffer, std::size_t size,
                  std::size_t* got) const override {
      *got = bytes.copy(buffer, size, std::min<std::size_t>(offset, 4096));
      return Status();
    }
  } held;
  FtpUpload upload =
      UploadTo(emulator_->ftp_port(), files_.Write("local", "edited since"));
  upload.content = &held;
  upload.verify = FtpVerify::kContent;
  EXPECT_EQ(client_.Send(upload).code(), 0);
  EXPECT_TRUE(emulator_->StoredFile("update.xml") == held.bytes);
}

TEST_F(EmulatorUploadTest, CancelBeforeSendFailsAtOnce) {
  client_.Cancel();
  EXPECT_EQ(Send("cancelled.xml", "x"), ftp_code::kSendFile);
  EXPECT_THAT(emulator_->FtpCommands(), IsEmpty());
  EXPECT_FALSE(emulator_->HasStoredFile("cancelled.xml"));
}

// ---------------------------------------------------------------------------
// Against a scripted server.

class ScriptedUploadTest : public ::testing::Test {
 protected:
  int SendTo(const ScriptedFtpServer& server, const std::string& content,
             const std::string& remote = "C:\\www\\update.xml") {
    last_ = client_.Send(
        UploadTo(server.port(), files_.Write("f.xml", content), remote));
    return last_.code();
  }

  Status last_;

  TempDir files_;
  CurlFtpClient client_{ShortLimits()};
};

TEST_F(ScriptedUploadTest, RefusedEpsvFallsBackToPasv) {
  FtpScript script;
  script.epsv = false;
  ScriptedFtpServer server(script);
  ASSERT_TRUE(server.ok());

  EXPECT_EQ(SendTo(server, MixedLineEnds()), 0);
  EXPECT_EQ(server.Received(), MixedLineEnds());
  EXPECT_THAT(server.Commands(), Contains("EPSV"));
  EXPECT_THAT(server.Commands(), Contains("PASV"));
}

TEST_F(ScriptedUploadTest, Ipv6LiteralHost) {
  ScriptedFtpServer server(FtpScript{}, /*ipv6=*/true);
  if (!server.ok()) GTEST_SKIP() << "no ::1 on this machine";
  for (std::string host : {"::1", "[::1]", "0:0:0:0:0:0:0:1%lo"}) {
    FtpUpload upload = UploadTo(server.port(), files_.Write("f", host));
    upload.host = host;
    EXPECT_EQ(client_.Send(upload).code(), 0) << host;
  }
  EXPECT_EQ(server.Received(), "::1[::1]0:0:0:0:0:0:0:1%lo");
}

TEST_F(ScriptedUploadTest, UrlCharactersGoThroughUserPassAndStorUnchanged) {
  ScriptedFtpServer server(FtpScript{});
  ASSERT_TRUE(server.ok());
  FtpUpload upload = UploadTo(server.port(), files_.Write("f", "x"),
                              "C:\\www\\a b%20#?&+;\xc3\xa9\xe5\x90\x8d.xml");
  upload.user = "ad:m@n/1";
  upload.password = "p@ss:w/rd#?%25 \xc3\xa9";

  EXPECT_EQ(client_.Send(upload).code(), 0);
  EXPECT_THAT(server.Commands(), Contains("USER ad:m@n/1"));
  EXPECT_THAT(server.Commands(), Contains("PASS p@ss:w/rd#?%25 \xc3\xa9"));
  EXPECT_THAT(server.Commands(),
              Contains("STOR C:\\www\\a b%20#?&+;\xc3\xa9\xe5\x90\x8d.xml"));
  EXPECT_THAT(server.Commands(), Not(Contains(StartsWith("CWD"))));
}

TEST_F(ScriptedUploadTest, SlashesAndDotsStayInStor) {
  ScriptedFtpServer server(FtpScript{});
  ASSERT_TRUE(server.ok());

  EXPECT_EQ(SendTo(server, "x", "/dir/../sub//x.xml"), 0);
  EXPECT_EQ(SendTo(server, "x", ".."), 0);
  EXPECT_THAT(server.Commands(), Contains("STOR /dir/../sub//x.xml"));
  EXPECT_THAT(server.Commands(), Contains("STOR .."));
  EXPECT_THAT(server.Commands(), Not(Contains(StartsWith("CWD"))));
}

TEST_F(ScriptedUploadTest, MalformedHostIsRefusedWithoutTraffic) {
  ScriptedFtpServer server(FtpScript{});
  ASSERT_TRUE(server.ok());
  const std::string local = files_.Write("f", "x");
  for (std::string host :
       {"127.0.0.1/x", "127.0.0.1@127.0.0.1", "127.0.0.1 ", "127.0.0.1?"}) {
    FtpUpload upload = UploadTo(server.port(), local);
    upload.host = host;
    EXPECT_EQ(client_.Send(upload).code(), ftp_code::kConnection) << host;
  }
  EXPECT_EQ(server.Sessions(), 0);
}

TEST_F(ScriptedUploadTest, TheCauseKeepsTheLastReplyButNeverThePassword) {
  struct Refusal {
    FtpScript script;
    std::string shown;  // what the cause must show of the last reply
  };
  std::vector<Refusal> refusals(4);
  // A server that echoes the password, with an escape sequence after it.
  refusals[0].script.pass_reply = "530 Login incorrect for hj5pass\x1b[2J.";
  refusals[0].shown = "\"530 Login incorrect for ***?[2J.\"";
  // The password across the 160th byte, where the line is cut: masked
  // before the cut, so that no first part of it is left.
  refusals[3].script.pass_reply = "530 " + std::string(152, 'x') + "hj5pass";
  refusals[3].shown = "\"530 " + std::string(152, 'x') + "***\"";
  refusals[1].script.stor_reply = "553 bad name";
  refusals[1].shown = "\"553 bad name\"";
  refusals[2].script.final_reply = "552 full";
  refusals[2].shown = "\"552 full\"";
  for (const Refusal& refusal : refusals) {
    ScriptedFtpServer server(refusal.script);
    ASSERT_TRUE(server.ok());
    EXPECT_NE(SendTo(server, "x"), 0) << refusal.shown;
    const std::string cause = last_.cause();
    EXPECT_THAT(cause, StartsWith("curl ")) << refusal.shown;
    EXPECT_THAT(cause, HasSubstr("last reply " + refusal.shown));
    EXPECT_THAT(cause, Not(HasSubstr("hj5pass")));
    EXPECT_THAT(cause, Not(HasSubstr("hj5p")));
    EXPECT_FALSE(HasControlByte(cause, true)) << cause;
  }

  ScriptedFtpServer good(FtpScript{});
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(SendTo(good, "x"), 0);
}

TEST_F(ScriptedUploadTest, RefusalsBeforeAnyTrafficKeepTheirCause) {
  ScriptedFtpServer server(FtpScript{});
  ASSERT_TRUE(server.ok());
  const std::string local = files_.Write("f", "x");

  FtpUpload bad_password = UploadTo(server.port(), local);
  bad_password.password = "hj5\r\npass";
  const std::pair<FtpUpload, std::string> cases[] = {
      {UploadTo(server.port(), files_.path() + "/none"),
       std::string("local file: open: ") + std::strerror(ENOENT)},
      {UploadTo(server.port(), files_.path()),
       "local file: not a regular file"},
      {bad_password, "password contains a control byte"},
      {UploadTo(0, local), "port 0"},
  };
  for (const auto& [upload, cause] : cases) {
    const Status refused = client_.Send(upload);
    EXPECT_EQ(refused.code(), ftp_code::kArgument) << cause;
    EXPECT_EQ(refused.cause(), cause);
  }
  EXPECT_EQ(server.Sessions(), 0);
}

TEST_F(ScriptedUploadTest, NameTooLongForAUrlCannotBeConverted) {
  ScriptedFtpServer server(FtpScript{});
  ASSERT_TRUE(server.ok());
  const std::string name = "C:\\www\\" + std::string(9 << 20, 'a');

  EXPECT_EQ(SendTo(server, "x", name), ftp_code::kCharConvert);
  EXPECT_EQ(server.Sessions(), 0);
}

// One scripted misbehaviour and the code it must give.
struct ScriptCase {
  const char* name;
  FtpScript script;
  int expected;
};

void PrintTo(const ScriptCase& scripted, std::ostream* out) {
  *out << scripted.name;
}

FtpScript With(void (*change)(FtpScript&)) {
  FtpScript script;
  change(script);
  return script;
}

class ScriptedFaultTest : public ScriptedUploadTest,
                          public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(ScriptedFaultTest, GivesItsCodeWithinTheLimits) {
  ScriptedFtpServer server(GetParam().script);
  ASSERT_TRUE(server.ok());
  const auto start = Clock::now();

  EXPECT_EQ(SendTo(server, RandomBytes(24 << 20, 1)), GetParam().expected);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(15));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, ScriptedFaultTest,
    ::testing::Values(
        ScriptCase{"Banner421",
                   With([](FtpScript& s) { s.banner_reply = "421 busy"; }),
                   ftp_code::kConnection},
        ScriptCase{"Pass421",
                   With([](FtpScript& s) { s.pass_reply = "421 closing"; }),
                   ftp_code::kConnection},
        ScriptCase{"Pass530",
                   With([](FtpScript& s) { s.pass_reply = "530 no"; }),
                   ftp_code::kConnection},
        ScriptCase{"SilentServer", With([](FtpScript& s) { s.banner = false; }),
                   ftp_code::kConnection},
        ScriptCase{"Stor553",
                   With([](FtpScript& s) { s.stor_reply = "553 bad name"; }),
                   ftp_code::kServerFile},
        ScriptCase{"Stor452",
                   With([](FtpScript& s) { s.stor_reply = "452 no room"; }),
                   ftp_code::kServerFile},
        ScriptCase{"Final552",
                   With([](FtpScript& s) { s.final_reply = "552 full"; }),
                   ftp_code::kServerFile},
        ScriptCase{"Final426",
                   With([](FtpScript& s) { s.final_reply = "426 lost"; }),
                   ftp_code::kSendFile},
        ScriptCase{"FinalReplyNeverComes",
                   With([](FtpScript& s) { s.final_reply.clear(); }),
                   ftp_code::kSendFile},
        ScriptCase{"DataDropped", With([](FtpScript& s) {
                     s.data = FtpScript::Data::kDropAfter;
                     s.data_limit = 1000;
                   }),
                   ftp_code::kSendFile},
        ScriptCase{"DataStalls", With([](FtpScript& s) {
                     s.data = FtpScript::Data::kStallAfter;
                     s.data_limit = 1000;
                   }),
                   ftp_code::kSendFile}),
    [](const ::testing::TestParamInfo<ScriptCase>& info) {
      return info.param.name;
    });

TEST(CurlFtpCancelTest, CancelEndsAStalledUploadAndEveryLaterOne) {
  FtpScript script;
  script.data = FtpScript::Data::kStallAfter;
  script.data_limit = 1000;
  ScriptedFtpServer server(script);
  ASSERT_TRUE(server.ok());
  TempDir files;
  CurlFtpClient client;  // product limits: only Cancel can end it early
  const std::string local = files.Write("f", RandomBytes(24 << 20, 2));
  std::thread canceller([&client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    client.Cancel();
  });
  const auto start = Clock::now();

  const Status cancelled = client.Send(UploadTo(server.port(), local));
  EXPECT_EQ(cancelled.code(), ftp_code::kSendFile);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(cancelled.cause(), "cancelled");
  canceller.join();
  const Status later = client.Send(UploadTo(server.port(), local));
  EXPECT_EQ(later.code(), ftp_code::kSendFile);
  EXPECT_EQ(later.cause(), "cancelled");
  EXPECT_EQ(server.Sessions(), 1);
  // Never the orderly end a whole file has: the server would store the
  // part it got as the file.
  for (int i = 0; i < 100 && server.DataEnd().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(server.DataEnd(), "reset");
}

TEST(CurlFtpCancelTest, CancelWhileTheServerIsSilent) {
  FtpScript script;
  script.banner = false;
  ScriptedFtpServer server(script);
  ASSERT_TRUE(server.ok());
  TempDir files;
  CurlFtpClient client;
  std::thread canceller([&client] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    client.Cancel();
  });
  const auto start = Clock::now();

  EXPECT_EQ(client.Send(UploadTo(server.port(), files.Write("f", "x"))).code(),
            ftp_code::kSendFile);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  canceller.join();
}

// ---------------------------------------------------------------------------
// The rows of the table that no server can provoke, and the ambiguous ones.

TEST(FtpResultCodeTest, DecidesByReplyWhereTheResultIsAmbiguous) {
  const auto kSetup = FtpPhase::kSetup;
  const auto kTransfer = FtpPhase::kTransfer;
  EXPECT_EQ(FtpResultCode(CURLE_OK, 226, kTransfer), 0);
  EXPECT_EQ(FtpResultCode(CURLE_OK, 250, kTransfer), 0);
  EXPECT_EQ(FtpResultCode(CURLE_OK, 200, kTransfer), ftp_code::kServerFile);
  EXPECT_EQ(FtpResultCode(CURLE_OPERATION_TIMEDOUT, 421, kTransfer),
            ftp_code::kConnection);
  EXPECT_EQ(FtpResultCode(CURLE_OPERATION_TIMEDOUT, 220, kSetup),
            ftp_code::kConnection);
  EXPECT_EQ(FtpResultCode(CURLE_OPERATION_TIMEDOUT, 150, kTransfer),
            ftp_code::kSendFile);
  EXPECT_EQ(FtpResultCode(CURLE_PARTIAL_FILE, 451, kTransfer),
            ftp_code::kServerFile);
  EXPECT_EQ(FtpResultCode(CURLE_PARTIAL_FILE, 426, kTransfer),
            ftp_code::kSendFile);
  EXPECT_EQ(FtpResultCode(CURLE_PARTIAL_FILE, 226, kTransfer),
            ftp_code::kSendFile);  // the file shrank while it was sent
  EXPECT_EQ(FtpResultCode(CURLE_ABORTED_BY_CALLBACK, 0, kSetup),
            ftp_code::kSendFile);  // Cancel()
}

TEST(FtpResultCodeTest, LocalFailures) {
  EXPECT_EQ(FtpResultCode(CURLE_OUT_OF_MEMORY, 0, FtpPhase::kSetup),
            ftp_code::kMemoryReserve);
  EXPECT_EQ(FtpResultCode(CURLE_OUT_OF_MEMORY, 150, FtpPhase::kTransfer),
            ftp_code::kMemoryReserve);
  EXPECT_EQ(FtpResultCode(CURLE_URL_MALFORMAT, 0, FtpPhase::kSetup),
            ftp_code::kCharConvert);
  EXPECT_EQ(FtpResultCode(CURLE_READ_ERROR, 150, FtpPhase::kTransfer),
            ftp_code::kSendFile);
  EXPECT_EQ(FtpResultCode(CURLE_REMOTE_DISK_FULL, 552, FtpPhase::kTransfer),
            ftp_code::kServerFile);
}

}  // namespace
}  // namespace hj5
