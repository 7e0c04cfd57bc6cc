// What hj5-update refuses before any traffic, and what it falls back to.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "cli/options.h"
#include "cli/prepare.h"
#include "cli/summary_text.h"

namespace hj5::cli {
namespace {

namespace fs = std::filesystem;

class CliInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hj5-cli-input-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
    Write("good.xml", "<?xml version=\"1.0\"?>\n<a/>\n");
    Write("pw", "hj5pass\n");
    host_.getenv = [this](const char*) { return env_password_; };
    host_.read_secret = [](const std::string&) { return std::nullopt; };
    host_.readable_by_others = [](const std::string&) { return false; };
    host_.warn = [this](const std::string& line) { warnings_.push_back(line); };
    host_.device_text = [](const std::string& text) { return text; };
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }

  // The arguments with every "@name" as the path of that file in dir_.
  std::vector<std::string> Args(std::vector<std::string> args) {
    for (std::string& arg : args) {
      for (std::size_t at; (at = arg.find('@')) != std::string::npos;)
        arg.replace(at, 1, dir_.string() + "/");
    }
    return args;
  }

  // The whole text of the refusal, or "" when the plan was made.
  std::string Refusal(const std::vector<std::string>& args) {
    std::string error;
    const std::optional<Options> options = ParseOptions(Args(args), &error);
    if (!options) return error;
    std::variant<fleet::Plan, PlanRefusal> prepared = Prepare(*options, host_);
    if (std::holds_alternative<fleet::Plan>(prepared)) return "";
    std::string all;
    for (const std::string& line : std::get<PlanRefusal>(prepared).lines)
      all += line + "\n";
    return all;
  }

  fleet::Plan Prepared(const std::vector<std::string>& args) {
    std::string error;
    const std::optional<Options> options = ParseOptions(Args(args), &error);
    EXPECT_TRUE(options) << error;
    std::variant<fleet::Plan, PlanRefusal> prepared = Prepare(*options, host_);
    EXPECT_TRUE(std::holds_alternative<fleet::Plan>(prepared));
    return std::get<fleet::Plan>(prepared);
  }

  fs::path dir_;
  PlanHost host_;
  std::optional<std::string> env_password_;
  std::vector<std::string> warnings_;
};

TEST_F(CliInputTest, RefusesBadArgumentsDeviceListsAndValuesWithTheirTexts) {
  const std::string header = "address,login_id,password,http_port,ftp_port\n";
  Write("bad.xml", "<!-- first -->\n<?xml version=\"1.0\"?>\n");
  Write("a:b.xml", "<?xml version=\"1.0\"?>\n");
  Write(std::string(64, 'n') + ".xml", "<?xml version=\"1.0\"?>\n");
  Write("pw2", "one\ntwo\n");
  Write("endless", std::string(5000, 'x'));
  Write("no_address.csv", "login_id\nadmin\n");
  Write("named_twice.csv", "address,login_id,Login_ID\n10.0.0.1,x,y\n");
  Write("twice.csv", header +
                         "10.0.0.1,a,b,,\n10.0.0.2,a,b,,\n"
                         "10.0.0.1:80,a,b,,\n");
  Write("fields.csv", header + "10.0.0.1,a,b\n");
  Write("port.csv", header + "10.0.0.1,a,b,80x,\n");
  Write("quote.csv", header + "\"10.0.0.1,a,b,,\n");
  Write("both.csv", header + "10.0.0.1:8080,a,b,8080,\n");
  Write("long_id.csv", header + "10.0.0.1," + std::string(16, 'i') + ",b,,\n");
  Write("empty.csv", header);
  const std::string long_address(73, 'a');
  const struct {
    std::vector<std::string> args;
    std::string refusal;
  } cases[] = {
      {{"--address", "10.0.0.1", "--password", "x", "@good.xml"},
       "--password: a password on the command line can be read by other"},
      {{"--address", "10.0.0.1", "--colour", "@good.xml"},
       "argument was not expected: --colour"},
      {{"@good.xml", "--address"}, "--address: 1 required HOST[:PORT] missing"},
      {{"--jobs", "0", "--address", "h", "@good.xml"},
       "--jobs: Value 0 not in range 1 to 10000"},
      {{"--window", "01:00-25:00", "--address", "h", "@good.xml"},
       "--window: not HH:MM-HH:MM (00:00 to 23:59): 01:00-25:00"},
      {{"--window", "02:00-02:00", "--address", "h", "@good.xml"},
       "its start and its end are the same time"},
      {{"--wait-for-window", "--address", "h", "@good.xml"},
       "--wait-for-window needs --window"},
      {{"--ftp-port", "70000", "--address", "h", "@good.xml"},
       "--ftp-port: not a port (1-65535): 70000"},
      {{"--devices", "@twice.csv", "--address", "h", "@good.xml"},
       "give either --address or --devices"},
      {{"--address", "h", "--id", "admin"}, "no XML file given"},
      {{"--address", "h", "@good.xml", "@bad.xml"}, "more than one XML file"},
      {{"--address", "fd00::5", "--id", "a", "@good.xml"},
       "an IPv6 address goes in brackets, [ADDRESS]: fd00::5"},
      {{"--address", "[fd00::5]:0", "--id", "a", "@good.xml"},
       "not a port (1-65535) after the host"},
      {{"--address", "h:80", "--http-port", "81", "--id", "a", "@good.xml"},
       "the HTTP port is given twice"},
      {{"--address", "h", "--password-file", "@pw", "@good.xml"},
       "h:80: no login ID (give --id)"},
      {{"--address", "h", "--id", "admin", "@good.xml"}, "no password"},
      // The click's checks and texts, in the click's order.
      {{"--address", long_address, "--id", "a", "--password-file", "@pw",
        "@bad.xml"},
       "@bad.xml: XML File Format Error. (the first non-blank"},
      {{"--address", "h", "--id", "a", "--password-file", "@pw", "@a:b.xml"},
       "@a:b.xml: File Name Error.\n"},
      {{"--address", "h", "--id", "a", "--password-file", "@pw",
        "@" + std::string(64, 'n') + ".xml"},
       "Too many characters in File name.\n"},
      {{"--address", "h", "--id", "a", "--password-file", "@none", "@good.xml"},
       "@none: cannot be read"},
      {{"--address", "h", "--id", "a", "--password-file", "@endless",
        "@good.xml"},
       "@endless: holds more than 4096 bytes"},
      {{"--address", long_address, "--id", "a", "--password-file", "@pw",
        "@good.xml"},
       long_address + ":80: Too many characters in Address.\n"},
      {{"--address", "h", "--id", "a", "--password-file", "@pw2", "@good.xml"},
       "h:80: Invalid character in Password.\n"},
      // Device lists.
      {{"--devices", "@no_address.csv", "@good.xml"},
       "line 1: the header has no \"address\" column"},
      {{"--devices", "@named_twice.csv", "@good.xml"},
       "line 1: column \"login_id\" named twice"},
      {{"--devices", "@twice.csv", "@good.xml"},
       "line 4: 10.0.0.1:80 is listed twice (line 2)"},
      {{"--devices", "@fields.csv", "@good.xml"},
       "line 2: 3 fields, the header names 5"},
      {{"--devices", "@port.csv", "@good.xml"},
       "line 2: column 4 (http_port): not a port (1-65535)\n"},
      {{"--devices", "@quote.csv", "@good.xml"},
       "line 2: a quote is not closed"},
      {{"--devices", "@both.csv", "@good.xml"},
       "line 2: the HTTP port is given twice"},
      {{"--devices", "@long_id.csv", "@good.xml"},
       "line 2 (10.0.0.1:80): Too many characters in Login ID.\n"},
      {{"--devices", "@empty.csv", "@good.xml"}, "no device listed"},
  };
  for (const auto& c : cases) {
    std::string expected = c.refusal;
    for (std::size_t at; (at = expected.find('@')) != std::string::npos;)
      expected.replace(at, 1, dir_.string() + "/");
    std::string args;
    for (const std::string& arg : c.args) args += arg + " ";
    EXPECT_NE(Refusal(c.args).find(expected), std::string::npos)
        << args << "\n  refused with: " << Refusal(c.args);
  }
}

TEST_F(CliInputTest, DevicesFallBackToTheOptionsAndAreWarnedAboutWhenReadable) {
  Write("fleet.csv",
        "\xEF\xBB\xBF"
        "Address,password,ftp_port\r\n"
        "10.0.0.1,,\r\n"
        "\r\n"
        "[fd00::5]:8080,\"p,\"\"q\",2121\r\n");
  host_.readable_by_others = [](const std::string& path) {
    return path.ends_with("fleet.csv");
  };
  env_password_ = "from-env";
  const fleet::Plan plan =
      Prepared({"--devices", "@fleet.csv", "--id", "admin", "--http-port",
                "8000", "--ftp-port", "2100", "--jobs", "3", "@good.xml"});
  ASSERT_EQ(plan.devices.size(), 2u);
  EXPECT_EQ(plan.jobs, 3u);
  const DeviceSession& first = plan.devices[0].session;
  EXPECT_EQ(plan.devices[0].label, "10.0.0.1:8000");
  EXPECT_EQ(first.address, "10.0.0.1");
  EXPECT_EQ(first.login_id, "admin");
  EXPECT_EQ(first.password, "from-env");
  EXPECT_EQ(first.http_port, 8000);
  EXPECT_EQ(first.ftp_port, 2100);
  const DeviceSession& second = plan.devices[1].session;
  EXPECT_EQ(plan.devices[1].label, "[fd00::5]:8080");
  EXPECT_EQ(second.address, "fd00::5");
  EXPECT_EQ(second.password, "p,\"q");
  EXPECT_EQ(second.http_port, 8080);
  EXPECT_EQ(second.ftp_port, 2121);
  ASSERT_EQ(warnings_.size(), 1u);
  EXPECT_NE(warnings_[0].find("can be read by group or others"),
            std::string::npos);

  // A password file wins over the environment; one line end is dropped.
  Write("pw_crlf", "secret\r\n");
  const fleet::Plan single =
      Prepared({"--address", "[::1]:8080", "--id", "admin", "--password-file",
                "@pw_crlf", "@good.xml"});
  EXPECT_EQ(single.devices[0].session.password, "secret");
  EXPECT_EQ(single.devices[0].session.address, "::1");
  EXPECT_EQ(single.devices[0].session.http_port, 8080);
}

// What a terminal is shown of a device list or a device's reply: no byte
// that could move the cursor, clear the screen or start a C1 sequence.
TEST(ShownTest, ControlsAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Shown("a\x1b[2Jb\tc\x7f"), "a?[2Jb?c?");
  EXPECT_EQ(Shown("\xc2\x9b"
                  "31m \xc2\x85 caf\xc3\xa9 \xe8\xa8\xad"),
            "?31m ? caf\xc3\xa9 \xe8\xa8\xad");
  EXPECT_EQ(Shown("\xff\x9b\xc0\xaf \xed\xa0\x80"), "???? ???");
}

}  // namespace
}  // namespace hj5::cli
