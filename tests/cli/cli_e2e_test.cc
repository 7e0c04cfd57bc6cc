// hj5-update itself, in real time, against emulated devices on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <thread>

#include "cli/cli_process.h"
#include "platform/steady_clock.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"

namespace hj5::test {
namespace {

using namespace std::chrono_literals;

// The value of `name` in a flat JSON line: a string (its escapes of quote
// and backslash read) or a bare token; "" when it is missing.
std::string Field(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  std::size_t at = json.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  std::string value;
  if (json[at] != '"') {
    while (at < json.size() && json[at] != ',' && json[at] != '}')
      value += json[at++];
    return value;
  }
  for (++at; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\') ++at;
    value += json[at];
  }
  return value;
}

// The summary's entry for `device`.
std::string SummaryOf(const std::string& summary, const std::string& device) {
  const std::size_t at = summary.find("{\"device\":\"" + device + "\"");
  if (at == std::string::npos) return "";
  return summary.substr(at, summary.find('}', at) - at + 1);
}

// A JSON event as the recording form writes the same thing; "" for the
// events it has no line for (ticks, progress, the end).
std::string AsTranscriptLine(const std::string& json) {
  const std::string kind = Field(json, "kind");
  const std::string quoted = "\"" + Field(json, "text") + "\"";
  if (kind == "status" || kind == "notice") return kind + " " + quoted;
  if (kind == "warning" || kind == "information")
    return "box " + kind + " " + quoted;
  if (kind == "timer") return "timer " + Field(json, "text");
  if (kind == "uploaded") return "message 102 -> " + Field(json, "result");
  return "";
}

std::string Port(std::uint16_t port) { return std::to_string(port); }

bool HasKind(const std::string& line, const std::string& device,
             const std::string& kind, const std::string& text = "") {
  return Field(line, "device") == device && Field(line, "kind") == kind &&
         (text.empty() || Field(line, "text") == text);
}

class CliE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    content_ = "<?xml version=\"1.0\"?>\r\n<config>\n</config>\n";
    path_ = "/tmp/hj5-cli-e2e-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(path_, std::ios::binary) << content_;
  }
  void TearDown() override { std::remove(path_.c_str()); }

  // A device list for the emulators, the first one's password given in
  // its line, the others' through HJ5_PASSWORD.
  std::string DeviceList(const std::vector<EmulatorProcess*>& devices) {
    const std::string path = path_ + ".csv";
    std::ofstream list(path);
    list << "address,ftp_port,password\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
      list << "127.0.0.1:" << devices[i]->http_port() << ","
           << devices[i]->ftp_port() << "," << (i == 0 ? "hj5pass" : "")
           << "\n";
    }
    return path;
  }

  static std::string Label(const EmulatorProcess& device) {
    return "127.0.0.1:" + Port(device.http_port());
  }

  std::string content_;
  std::string path_;
  const std::vector<std::string> env_{"HJ5_PASSWORD=hj5pass"};
};

TEST_F(CliE2eTest, OneDeviceReportsTheFormsStepsAndTextsAsJson) {
  EmulatorProcess device({"--reboot-seconds", "1"});
  EmulatorProcess twin({"--reboot-seconds", "1"});
  ASSERT_TRUE(device.ok() && twin.ok()) << device.error() << twin.error();
  // The recording form's transcript of the same update, alongside.
  SteadyClock clock;
  HeadlessUpdate form(clock, twin.http_port(), twin.ftp_port(), path_,
                      "update.xml");
  std::thread reference([&] { form.Run(); });
  CliProcess cli({"--address", Label(device), "--ftp-port",
                  Port(device.ftp_port()), "--id", "admin", "--json", path_},
                 env_);
  const int status = cli.Wait(90s);
  reference.join();
  EXPECT_EQ(status, 0) << cli.ErrorText();
  std::vector<std::string> events;
  for (const std::string& line : cli.lines()) {
    if (std::string event = AsTranscriptLine(line); !event.empty())
      events.push_back(event);
  }
  std::vector<std::string> expected;
  for (const std::string& line : form.Lines()) {
    if (!line.starts_with("button")) expected.push_back(line);
  }
  EXPECT_EQ(events, expected);
  EXPECT_EQ(device.StoredFile(path_.substr(5)), content_);
  ASSERT_FALSE(cli.lines().empty());
  const std::string& summary = cli.lines().back();
  EXPECT_EQ(Field(summary, "kind"), "summary");
  EXPECT_EQ(Field(SummaryOf(summary, Label(device)), "result"), "completed");
}

TEST_F(CliE2eTest, OfFourDevicesExactlyTheTwoThatFailAreReported) {
  std::vector<std::unique_ptr<EmulatorProcess>> owned;
  std::vector<EmulatorProcess*> devices;
  for (int i = 0; i < 4; ++i) {
    owned.push_back(std::make_unique<EmulatorProcess>(
        std::vector<std::string>{"--reboot-seconds", "1"}));
    ASSERT_TRUE(owned.back()->ok()) << owned.back()->error();
    devices.push_back(owned.back().get());
  }
  devices[1]->AddFault(R"({"match": {"CODE": "user9", "DATA": "UPDATE"},
                           "code": -5})");
  devices[2]->AddFault(R"({"ftp": "stor_550"})");
  CliProcess cli({"--devices", DeviceList(devices), "--id", "admin", "--jobs",
                  "2", "--json", path_},
                 env_);
  EXPECT_EQ(cli.Wait(120s), 1) << cli.ErrorText();
  const std::string summary = cli.lines().empty() ? "" : cli.lines().back();
  const char* results[] = {"completed", "failed", "failed", "completed"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(Field(SummaryOf(summary, Label(*devices[i])), "result"),
              results[i])
        << i;
  }
  // Never more than two at a time; the upload's refusal keeps its cause.
  std::set<std::string> running;
  std::size_t most = 0;
  bool upload_cause = false;
  for (const std::string& line : cli.lines()) {
    const std::string device = Field(line, "device");
    if (Field(line, "kind") == "end") {
      running.erase(device);
    } else if (!device.empty() && Field(line, "kind") != "summary") {
      running.insert(device);
    }
    most = std::max(most, running.size());
    upload_cause |= HasKind(line, Label(*devices[2]), "warning",
                            "Firm Sending Error(Server side File Error)") &&
                    Field(line, "cause").find("550") != std::string::npos;
  }
  EXPECT_EQ(most, 2u);
  EXPECT_TRUE(upload_cause);
  EXPECT_EQ(devices[0]->StoredFile(path_.substr(5)), content_);
}

TEST_F(CliE2eTest, CtrlCOnceLetsRunningUpdatesFinishAndTwiceStopsThem) {
  EmulatorProcess quick({"--reboot-seconds", "1"});
  EmulatorProcess slow({"--reboot-seconds", "1"});
  EmulatorProcess later({"--reboot-seconds", "1"});
  ASSERT_TRUE(quick.ok() && slow.ok() && later.ok());
  // Refuses FTP on: that update ends early, freeing its place.
  quick.AddFault(R"({"match": {"CODE": "svr_ftp_port", "DATA": "21"},
                     "code": -5})");
  CliProcess cli({"--devices", DeviceList({&quick, &slow, &later}), "--id",
                  "admin", "--jobs", "2", "--json", path_},
                 env_);
  ASSERT_TRUE(cli.WaitForLine(
      [&](const std::string& line) {
        return HasKind(line, Label(slow), "status", "Processing(0)");
      },
      10s));
  cli.Interrupt();
  ASSERT_TRUE(cli.WaitForLine(
      [](const std::string& line) {
        return Field(line, "text")
                   .find(
                       "no further device starts; 2 running updates will "
                       "finish") != std::string::npos;
      },
      5s));
  ASSERT_TRUE(cli.WaitForLine(
      [&](const std::string& line) {
        return HasKind(line, Label(quick), "end");
      },
      10s));
  // The running update goes on into its restart; the freed place stays
  // empty.
  ASSERT_TRUE(cli.WaitForLine(
      [&](const std::string& line) {
        return HasKind(line, Label(slow), "timer", "start");
      },
      10s));
  cli.Interrupt();
  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Wait(10s), 130) << cli.ErrorText();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, 3s);
  for (const std::string& line : cli.lines()) {
    EXPECT_NE(Field(line, "device"), Label(later)) << line;
  }
  const std::string summary = cli.lines().empty() ? "" : cli.lines().back();
  EXPECT_EQ(Field(SummaryOf(summary, Label(quick)), "result"), "failed");
  EXPECT_EQ(Field(SummaryOf(summary, Label(slow)), "result"), "stopped");
  EXPECT_EQ(Field(SummaryOf(summary, Label(slow)), "left_in_update"), "true");
  EXPECT_EQ(Field(SummaryOf(summary, Label(later)), "result"), "not started");
  EXPECT_EQ(Field(summary, "exit"), "130");
  EXPECT_EQ(slow.Param("user9"), "UPDATE");
}

}  // namespace
}  // namespace hj5::test
