#include "launch/update_launch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>
#include <utility>

#include "support/fake_clock.h"
#include "support/fake_form.h"
#include "support/fake_ftp_client.h"
#include "support/fake_transport.h"

namespace hj5 {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const Lines kCleared = {"notice \"\"", "status \"\"", "chooser"};

Lines After(Lines lines) {
  Lines all = kCleared;
  all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

std::string Warning(const std::string& text) {
  return "box warning \"" + text + "\"";
}

class UpdateLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hj5-launch-" + std::to_string(std::random_device{}()));
    ASSERT_TRUE(fs::create_directory(dir_)) << dir_;
    xml_ = Make("update.xml", "<?xml version=\"1.0\"?>\n<a/>\n");
    form_.chooser_answer = ChosenFile{xml_, "update.xml"};
    form_.Type(FieldId::kAddress, "127.0.0.1");
    form_.Type(FieldId::kLoginId, "admin");
    form_.Type(FieldId::kPassword, "pw");
    form_.Type(FieldId::kFtpPort, "21");
    form_.Type(FieldId::kHttpPort, "80");
  }
  std::string Make(const std::string& name, const std::string& bytes) {
    std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  void TearDown() override {
    Finish();
    fs::remove_all(dir_);
  }

  Lines Click() {
    transcript_.Clear();
    LaunchContext context{form_, form_, runner_, "/opt/hj5/bin"};
    LaunchUpdate(context);
    return transcript_.Lines();
  }

  // What a click that starts the update shows.
  static Lines Started() {
    return After(
        {"button 1009 disabled", "notice \"Please wait for a while.\""});
  }

  // The update the runner runs: it takes the values and holds until
  // Finish() or a stop.
  UpdateOutcome Update(const UpdateContext& context) {
    std::unique_lock lock(mutex_);
    ran_ = {context.session, context.chosen};
    ++updates_run_;
    changed_.wait_for(lock, std::chrono::seconds(10),
                      [&] { return finish_ || form_.interrupted; });
    return UpdateOutcome{};
  }

  // Lets a running update end and waits until the runner is idle again.
  void Finish() {
    {
      std::lock_guard lock(mutex_);
      finish_ = true;
    }
    changed_.notify_all();
    for (int i = 0; i < 5000 && running(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::lock_guard lock(mutex_);
    finish_ = false;
  }

  bool running() const {
    return runner_.state() == UpdateRunner::State::kRunning;
  }
  int updates_run() {
    std::lock_guard lock(mutex_);
    return updates_run_;
  }

  test::Transcript transcript_;
  test::FakeForm form_{transcript_};
  test::FakeClock clock_;
  test::FakeTransport transport_{transcript_, clock_};
  test::FakeFtpClient ftp_{transcript_};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool finish_ = false;                       // guarded by mutex_
  int updates_run_ = 0;                       // guarded by mutex_
  std::pair<DeviceSession, ChosenFile> ran_;  // guarded by mutex_
  UpdateRunner runner_{form_, Platform{transport_, ftp_, clock_},
                       [this](const UpdateContext& c) { return Update(c); }};
  const DeviceSession& session_ = runner_.session();
  fs::path dir_;
  std::string xml_;
};

TEST_F(UpdateLaunchTest, AGoodClickCopiesTheValuesAndStartsTheWorker) {
  form_.Type(FieldId::kFtpPort, "2121");
  form_.Type(FieldId::kHttpPort, "8080");
  EXPECT_EQ(Click(), Started());
  EXPECT_EQ(session_.address, "127.0.0.1");
  EXPECT_EQ(session_.login_id, "admin");
  EXPECT_EQ(session_.password, "pw");
  EXPECT_EQ(session_.ftp_port, 2121);
  EXPECT_EQ(session_.http_port, 8080);
  EXPECT_EQ(session_.device_code, "HJ5M");
  EXPECT_TRUE(running());
  Finish();
  EXPECT_EQ(updates_run(), 1);
  EXPECT_EQ(ran_.first.address, "127.0.0.1");
  EXPECT_EQ(ran_.first.http_port, 8080);
  EXPECT_EQ(ran_.second.path, xml_);
  EXPECT_EQ(ran_.second.name, "update.xml");
}

TEST_F(UpdateLaunchTest, TheChooserOpensOnXmlFilesInTheProgramDirectory) {
  Click();
  const FileChooserRequest& request = form_.last_chooser_request;
  EXPECT_EQ(request.initial_directory, "/opt/hj5/bin");
  // A name typed without an extension is taken as NAME.XML.
  EXPECT_EQ(request.default_suffix, "XML");
  EXPECT_EQ(request.initial_name, "*.xml");
  EXPECT_EQ(request.filter, "XML File(*.xml)");
}

TEST_F(UpdateLaunchTest, CancellingTheChooserLeavesBothLinesEmpty) {
  form_.chooser_answer.reset();
  EXPECT_EQ(Click(), kCleared);
  EXPECT_FALSE(running());
}

TEST_F(UpdateLaunchTest, AFileThatIsNotXmlIsRefusedBeforeAnyValue) {
  form_.chooser_answer = ChosenFile{Make("a.xml", "hello"), "a.xml"};
  form_.Type(FieldId::kAddress, std::string(73, 'a'));
  EXPECT_EQ(Click(), After({Warning("XML File Format Error.")}));
  EXPECT_TRUE(session_.address.empty());
  EXPECT_FALSE(running());
}

TEST_F(UpdateLaunchTest, AnUnreadableFileShowsTwoBoxes) {
  form_.chooser_answer = ChosenFile{(dir_ / "gone.xml").string(), "gone.xml"};
  EXPECT_EQ(Click(), After({Warning("File Open Failure."),
                            Warning("XML File Format Error.")}));
}

TEST_F(UpdateLaunchTest, AFileNameMustFitTheDevice) {
  const std::string name63 = std::string(59, 'n') + ".xml";
  form_.chooser_answer = ChosenFile{Make(name63, "<?xml"), name63};
  EXPECT_EQ(Click(), Started());
  Finish();
  const std::string name64 = std::string(60, 'n') + ".xml";
  form_.chooser_answer = ChosenFile{Make(name64, "<?xml"), name64};
  EXPECT_EQ(Click(), After({Warning("Too many characters in File name.")}));
}

TEST_F(UpdateLaunchTest, ANameThatWouldLeaveTheDevicesDirectoryIsRefused) {
  for (const std::string name : {"..\\boot.xml", "C:evil.xml", "a:stream.xml",
                                 "tab\there.xml", "new\nline.xml"}) {
    form_.chooser_answer = ChosenFile{Make("ok.xml", "<?xml"), name};
    EXPECT_EQ(Click(), After({Warning("File Name Error.")})) << name;
  }
}

TEST_F(UpdateLaunchTest, TheAddressMayHave72Bytes) {
  form_.Type(FieldId::kAddress, std::string(72, 'a'));
  EXPECT_EQ(Click(), Started());
  Finish();
  form_.Type(FieldId::kAddress, std::string(73, 'a'));
  EXPECT_EQ(Click(), After({Warning("Too many characters in Address.")}));
}

TEST_F(UpdateLaunchTest, LoginIdAndPasswordMayHave15Bytes) {
  for (auto [field, label] : {std::pair{FieldId::kLoginId, "Login ID"},
                              std::pair{FieldId::kPassword, "Password"}}) {
    form_.Type(field, std::string(15, 'x'));
    EXPECT_EQ(Click(), Started());
    Finish();
    form_.Type(field, std::string(16, 'x'));
    EXPECT_EQ(
        Click(),
        After({Warning(std::string("Too many characters in ") + label + ".")}));
    // Eight two-byte characters are 16 bytes.
    form_.Type(field,
               "\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC\xC3"
               "\xBC\xC3\xBC");
    EXPECT_EQ(
        Click(),
        After({Warning(std::string("Too many characters in ") + label + ".")}));
    form_.Type(field, "ok");
  }
}

TEST_F(UpdateLaunchTest, ControlBytesInCredentialsAreRefused) {
  form_.Type(FieldId::kLoginId, "ad\r\nmin");
  EXPECT_EQ(Click(), After({Warning("Invalid character in Login ID.")}));
  form_.Type(FieldId::kLoginId, "admin");
  form_.Type(FieldId::kPassword, std::string("p\0w", 3));
  EXPECT_EQ(Click(), After({Warning("Invalid character in Password.")}));
  form_.Type(FieldId::kPassword, "p\x7fw");
  EXPECT_EQ(Click(), After({Warning("Invalid character in Password.")}));
  EXPECT_FALSE(running());
}

// The Windows form cannot give a character outside the ANSI code page: the
// field is refused where a too long one would be, before any traffic.
TEST_F(UpdateLaunchTest, TextTheDevicesBytesCannotCarryIsRefusedInOrder) {
  form_.chooser_answer->name_fits = false;
  form_.unfitting_fields = {FieldId::kAddress, FieldId::kLoginId,
                            FieldId::kPassword};
  EXPECT_EQ(Click(), After({Warning("File Name Error.")}));
  form_.chooser_answer->name_fits = true;
  EXPECT_EQ(Click(), After({Warning("Invalid character in Address.")}));
  form_.unfitting_fields.erase(FieldId::kAddress);
  EXPECT_EQ(Click(), After({Warning("Invalid character in Login ID.")}));
  form_.unfitting_fields.erase(FieldId::kLoginId);
  EXPECT_EQ(Click(), After({Warning("Invalid character in Password.")}));
  EXPECT_EQ(updates_run(), 0);
  EXPECT_TRUE(transport_.requests.empty());
}

TEST_F(UpdateLaunchTest, TheChecksRunInOrderFileAddressLoginPassword) {
  form_.Type(FieldId::kAddress, std::string(73, 'a'));
  form_.Type(FieldId::kLoginId, std::string(16, 'i'));
  form_.Type(FieldId::kPassword, std::string(16, 'p'));
  EXPECT_EQ(Click(), After({Warning("Too many characters in Address.")}));
  form_.Type(FieldId::kAddress, "");
  EXPECT_EQ(Click(), After({Warning("Too many characters in Login ID.")}));
  form_.Type(FieldId::kLoginId, "");
  EXPECT_EQ(Click(), After({Warning("Too many characters in Password.")}));
}

TEST_F(UpdateLaunchTest, EmptyFieldsPass) {
  form_.Type(FieldId::kAddress, "");
  form_.Type(FieldId::kLoginId, "");
  form_.Type(FieldId::kPassword, "");
  EXPECT_EQ(Click(), Started());
}

TEST_F(UpdateLaunchTest, PortsAreReadFromTheirLeadingDigits) {
  const std::pair<const char*, int> cases[] = {
      {"21", 21}, {"80x", 80},   {" 443", 443}, {"", 0},
      {"abc", 0}, {"65557", 21}, {"-1", 65535}, {"99999999999", 59391},
  };
  for (const auto& [text, port] : cases) {
    form_.Type(FieldId::kHttpPort, text);
    Click();
    Finish();
    EXPECT_EQ(session_.http_port, port) << text;
  }
}

TEST_F(UpdateLaunchTest, AClickWhileAnUpdateRunsStartsNoSecondOne) {
  Click();
  form_.Type(FieldId::kAddress, "10.9.9.9");
  EXPECT_EQ(Click(), Lines{Warning("An update is already in progress.")});
  EXPECT_EQ(session_.address, "127.0.0.1");
}

TEST_F(UpdateLaunchTest, ARunnerThatCannotStartGivesTheButtonBack) {
  runner_.Stop();  // as a runner whose thread could not be started
  EXPECT_EQ(Click(), After({"button 1009 disabled", Warning("Update Failure."),
                            "notice \"\"", "button 1009 enabled"}));
  EXPECT_EQ(updates_run(), 0);
}

}  // namespace
}  // namespace hj5
