// hj5-update itself, in real time, against emulated devices on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <thread>

#include "cli/cli_process.h"
#include "platform/steady_clock.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"

namespace hj5::test {
namespace {

using namespace std::chrono_literals;

// The value of `name` in a JSON line, as text.
std::string Field(const std::string& line, const char* name) {
  return TextOf(JsonLine(line), name);
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
  void TearDown() override {
    std::remove(path_.c_str());
    for (const std::string& folder : folders_)
      std::filesystem::remove_all(folder);
  }

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

  // A fresh run folder, removed with the test's files.
  std::string Folder(const std::string& name) {
    const std::string folder = path_ + "." + name;
    std::filesystem::remove_all(folder);
    folders_.push_back(folder);
    return folder;
  }

  static std::string Label(const EmulatorProcess& device) {
    return "127.0.0.1:" + Port(device.http_port());
  }

  std::string content_;
  std::string path_;
  std::vector<std::string> folders_;
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
  EXPECT_EQ(Field(cli.lines().back(), "kind"), "summary");
  EXPECT_EQ(TextOf(SummaryOf(cli.lines(), Label(device)), "result"),
            "completed");
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
  const char* results[] = {"completed", "failed", "failed", "completed"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(TextOf(SummaryOf(cli.lines(), Label(*devices[i])), "result"),
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

// Once: no further start. Twice: the running update stops and its device's
// recovery begins (it first waits for the restarting device). Three times:
// abandoned at once, the device left as it is and said so.
TEST_F(CliE2eTest, CtrlCOnceFinishesTwiceRestoresThriceAbandons) {
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
                       "no further device starts; 2 running devices will "
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
  ASSERT_TRUE(cli.WaitForLine(
      [&](const std::string& line) {
        return HasKind(line, Label(slow), "timer", "start");
      },
      5s));
  cli.Interrupt();
  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_EQ(cli.Wait(10s), 130) << cli.ErrorText();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, 3s);
  for (const std::string& line : cli.lines()) {
    EXPECT_NE(Field(line, "device"), Label(later)) << line;
  }
  const std::vector<std::string>& lines = cli.lines();
  EXPECT_EQ(TextOf(SummaryOf(lines, Label(quick)), "result"), "failed");
  EXPECT_EQ(TextOf(SummaryOf(lines, Label(slow)), "result"), "stopped");
  EXPECT_EQ(TextOf(SummaryOf(lines, Label(slow)), "left_in_update"), "true");
  EXPECT_EQ(TextOf(SummaryOf(lines, Label(later)), "result"), "not started");
  EXPECT_EQ(Field(lines.back(), "exit"), "130");
  EXPECT_EQ(slow.Param("user9"), "UPDATE");
}

// --- Rollouts that protect a fleet --------------------------------------

// Emulated devices, each on ports of its own.
std::vector<std::unique_ptr<EmulatorProcess>> Devices(
    int count,
    const std::vector<std::string>& args = {"--reboot-seconds", "0.5"}) {
  std::vector<std::unique_ptr<EmulatorProcess>> devices;
  for (int i = 0; i < count; ++i)
    devices.push_back(std::make_unique<EmulatorProcess>(args));
  return devices;
}

std::vector<EmulatorProcess*> Pointers(
    const std::vector<std::unique_ptr<EmulatorProcess>>& owned) {
  std::vector<EmulatorProcess*> pointers;
  for (const auto& device : owned) pointers.push_back(device.get());
  return pointers;
}

constexpr char kFtpOnRefused[] =
    R"({"match": {"CODE": "svr_ftp_port", "DATA": "21"}, "code": -5})";

TEST_F(CliE2eTest, AFailingCanaryLeavesEveryOtherDeviceUntouched) {
  const auto owned = Devices(3);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  owned[0]->AddFault(kFtpOnRefused);
  CliProcess cli({"--devices", DeviceList(Pointers(owned)), "--id", "admin",
                  "--canary", "1", "--json", path_},
                 env_);
  EXPECT_EQ(cli.Wait(60s), 3) << cli.ErrorText();
  EXPECT_EQ(TextOf(JsonLine(cli.lines().back()), "stopped_by"), "canary");
  for (int i : {1, 2}) {
    EXPECT_TRUE(owned[i]->RequestBodies().empty()) << i;
    EXPECT_EQ(TextOf(SummaryOf(cli.lines(), Label(*owned[i])), "result"),
              "not started");
  }
}

// 40% of 6 devices is a budget of 2: the third failure ends the run.
TEST_F(CliE2eTest, TheFailureBudgetStartsNoDeviceAfterItIsExceeded) {
  const auto owned = Devices(6);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  for (int i = 0; i < 5; ++i) owned[i]->AddFault(kFtpOnRefused);
  CliProcess cli({"--devices", DeviceList(Pointers(owned)), "--id", "admin",
                  "--jobs", "1", "--max-failures", "40%", "--json", path_},
                 env_);
  EXPECT_EQ(cli.Wait(60s), 3) << cli.ErrorText();
  const nlohmann::json summary = JsonLine(cli.lines().back());
  EXPECT_EQ(TextOf(summary, "stopped_by"), "budget");
  EXPECT_EQ(TextOf(summary, "failed"), "3");
  EXPECT_EQ(TextOf(summary, "not_started"), "3");
  for (int i = 3; i < 6; ++i)
    EXPECT_TRUE(owned[i]->RequestBodies().empty()) << i;
}

// SIGTERM while one device restarts and another receives the file: both
// stop, the upload is aborted (its device never stores the part it got as
// the whole), and both are brought back to FTP off and the device code.
TEST_F(CliE2eTest, SigtermRestoresDevicesInTheirRestartAndTheirUpload) {
  EmulatorProcess restarting({"--reboot-seconds", "10"});
  EmulatorProcess receiving({"--reboot-seconds", "0.5"});
  ASSERT_TRUE(restarting.ok() && receiving.ok());
  receiving.AddFault(R"({"ftp": "slow_store", "bytes_per_second": 8388608})");
  // Larger than what the sockets' buffers hold, so that the upload is still
  // sending when the signal comes.
  std::ofstream(path_, std::ios::binary | std::ios::app)
      << std::string(48 << 20, 'x');
  CliProcess cli({"--devices", DeviceList({&restarting, &receiving}), "--id",
                  "admin", "--json", path_},
                 env_);
  ASSERT_TRUE(cli.WaitForLine(
      [&](const std::string& line) {
        return HasKind(line, Label(receiving), "upload");
      },
      30s));
  std::this_thread::sleep_for(500ms);
  cli.Signal(SIGTERM);
  EXPECT_EQ(cli.Wait(150s), 143) << cli.ErrorText();
  for (EmulatorProcess* device : {&restarting, &receiving}) {
    EXPECT_EQ(device->Param("svr_ftp_port"), "0");
    EXPECT_EQ(device->Param("user9"), "HJ5M");
    const nlohmann::json entry = SummaryOf(cli.lines(), Label(*device));
    EXPECT_EQ(TextOf(entry, "result"), "restored");
    EXPECT_EQ(TextOf(entry, "left_in_update"), "false");
  }
  EXPECT_EQ(TextOf(SummaryOf(cli.lines(), Label(receiving)), "partial_upload"),
            "true");
  const nlohmann::json state = JsonLine(receiving.Control("GET", "/state"));
  EXPECT_EQ(TextOf(state, "stored_uploads"), "0");
  EXPECT_EQ(TextOf(state, "incomplete_uploads"), "1");
}

TEST_F(CliE2eTest, CheckFindsAndRestoreRepairsExactlyTheDevicesLeftInUpdate) {
  EmulatorProcess left({"--reboot-seconds", "0.5", "--left-in-update"});
  EmulatorProcess fine({"--reboot-seconds", "0.5"});
  EmulatorProcess also_left({"--reboot-seconds", "0.5", "--left-in-update"});
  ASSERT_TRUE(left.ok() && fine.ok() && also_left.ok());
  const std::string list = DeviceList({&left, &fine, &also_left});
  CliProcess check({"--check", "--devices", list, "--id", "admin", "--json"},
                   env_);
  EXPECT_EQ(check.Wait(30s), 1) << check.ErrorText();
  const char* found[] = {"in update", "accepted", "in update"};
  EmulatorProcess* devices[] = {&left, &fine, &also_left};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(TextOf(SummaryOf(check.lines(), Label(*devices[i])), "result"),
              found[i]);
    devices[i]->ClearRecords();
  }
  CliProcess restore(
      {"--restore", "--devices", list, "--id", "admin", "--json"}, env_);
  EXPECT_EQ(restore.Wait(60s), 0) << restore.ErrorText();
  for (EmulatorProcess* device : {&left, &also_left}) {
    EXPECT_EQ(TextOf(SummaryOf(restore.lines(), Label(*device)), "result"),
              "restored");
    EXPECT_EQ(device->Param("svr_ftp_port"), "0");
    EXPECT_EQ(device->Param("user9"), "HJ5M");
    EXPECT_EQ(device->BootCount(), 2);
  }
  EXPECT_EQ(TextOf(SummaryOf(restore.lines(), Label(fine)), "result"),
            "not in update");
  ASSERT_EQ(fine.RequestBodies().size(), 1u);  // the identity query alone
  EXPECT_NE(fine.RequestBodies()[0].find("MODE=4"), std::string::npos);
  EXPECT_EQ(fine.BootCount(), 1);
}

// --- Results an operator can act on ---------------------------------------

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// kill -9 in the middle of a fleet: the journal keeps every device that
// ended, and the resumed run sends nothing at all to those that completed.
TEST_F(CliE2eTest, AKilledRunResumesWithExactlyTheDevicesThatDidNotComplete) {
  const auto owned = Devices(4);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  const std::string list = DeviceList(Pointers(owned));
  const std::string folder = Folder("killed");
  {
    CliProcess cli({"--devices", list, "--id", "admin", "--jobs", "2",
                    "--results", folder, "--json", path_},
                   env_);
    for (int i : {0, 1}) {
      ASSERT_TRUE(cli.WaitForLine(
          [&](const std::string& line) {
            return HasKind(line, Label(*owned[i]), "end", "completed");
          },
          40s));
    }
    ASSERT_TRUE(cli.WaitForLine(
        [&](const std::string& line) {
          return HasKind(line, Label(*owned[2]), "status", "Processing(1)");
        },
        10s));
    cli.Signal(SIGKILL);
    EXPECT_EQ(cli.Wait(5s), 128 + SIGKILL);
  }
  EXPECT_EQ(FileLines(folder + "/journal.jsonl").size(), 2u);
  for (const auto& device : owned) device->ClearRecords();
  CliProcess resumed({"--devices", list, "--id", "admin", "--jobs", "2",
                      "--resume", folder, "--json", path_},
                     env_);
  EXPECT_EQ(resumed.Wait(90s), 0) << resumed.ErrorText();
  for (int i : {0, 1}) EXPECT_TRUE(owned[i]->RequestBodies().empty()) << i;
  for (int i : {2, 3}) {
    EXPECT_EQ(TextOf(SummaryOf(resumed.lines(), Label(*owned[i])), "result"),
              "completed");
    EXPECT_EQ(owned[i]->StoredFile(path_.substr(5)), content_);
  }
  // Another file is never taken for the same run.
  std::ofstream(path_, std::ios::app) << "<!-- changed -->\n";
  CliProcess other(
      {"--devices", list, "--id", "admin", "--resume", folder, path_}, env_);
  EXPECT_EQ(other.Wait(10s), 2);
  EXPECT_NE(other.ErrorText().find("holds the run of another file"),
            std::string::npos)
      << other.ErrorText();
}

// The second pass on failed.csv runs exactly the failed device, its own
// columns kept; junit.xml holds one case a device, read by a real parser.
TEST_F(CliE2eTest, FailedCsvIsTheSecondPassAndJunitXmlReadsBack) {
  const auto owned = Devices(3);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  owned[1]->AddFault(kFtpOnRefused);
  const std::string list = path_ + ".sites.csv";
  {
    std::ofstream out(list);
    out << "site,address,ftp_port\n";
    for (std::size_t i = 0; i < owned.size(); ++i) {
      out << "\"hall " << i << ", east\"," << Label(*owned[i]) << ","
          << owned[i]->ftp_port() << "\n";
    }
  }
  const std::string folder = Folder("second");
  CliProcess first(
      {"--devices", list, "--id", "admin", "--results", folder, path_}, env_);
  EXPECT_EQ(first.Wait(60s), 1) << first.ErrorText();
  EXPECT_EQ(FileLines(folder + "/failed.csv"),
            (std::vector<std::string>{"site,address,ftp_port",
                                      "\"hall 1, east\"," + Label(*owned[1]) +
                                          "," + Port(owned[1]->ftp_port())}));
  const std::string parse =
      "import sys, xml.etree.ElementTree as ET\n"
      "for c in ET.parse(sys.argv[1]).getroot().iter('testcase'):\n"
      "    f = c.find('failure')\n"
      "    print(c.get('name'), f.get('message') if f is not None else 'ok')\n";
  const std::string script = path_ + ".junit.py";
  const std::string out = path_ + ".junit.txt";
  std::ofstream(script) << parse;
  ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + folder +
                         "/junit.xml > " + out)
                            .c_str()),
            0);
  EXPECT_EQ(FileLines(out),
            (std::vector<std::string>{
                Label(*owned[0]) + " ok",
                Label(*owned[1]) + " Script Error!!(sethjcparam)",
                Label(*owned[2]) + " ok"}));
  std::remove(script.c_str());
  std::remove(out.c_str());
  std::remove(list.c_str());
  owned[1]->ClearFaults();
  for (const auto& device : owned) device->ClearRecords();
  CliProcess second(
      {"--devices", folder + "/failed.csv", "--id", "admin", path_}, env_);
  EXPECT_EQ(second.Wait(60s), 0) << second.ErrorText();
  EXPECT_TRUE(owned[0]->RequestBodies().empty());
  EXPECT_FALSE(owned[1]->RequestBodies().empty());
  EXPECT_TRUE(owned[2]->RequestBodies().empty());
}

// The times each device's upload was open: from its STOR to its end.
std::vector<std::pair<double, double>> UploadSpans(EmulatorProcess& device) {
  const nlohmann::json records = JsonLine(device.Control("GET", "/records"));
  std::vector<double> starts;
  for (const nlohmann::json& line : records["ftp"]) {
    if (TextOf(line, "line").starts_with("STOR"))
      starts.push_back(line["t"].get<double>());
  }
  std::vector<std::pair<double, double>> spans;
  for (const nlohmann::json& event : records["events"]) {
    const std::string kind = TextOf(event, "event");
    if ((kind == "ftp_stored" || kind == "ftp_incomplete") &&
        spans.size() < starts.size())
      spans.push_back({starts[spans.size()], event["t"].get<double>()});
  }
  return spans;
}

TEST_F(CliE2eTest, MaxUploadsTwoNeverHasMoreThanTwoStorsOpen) {
  const auto owned = Devices(4);
  for (const auto& device : owned) {
    ASSERT_TRUE(device->ok());
    device->AddFault(R"({"ftp": "slow_store", "bytes_per_second": 1048576})");
  }
  std::ofstream(path_, std::ios::binary | std::ios::app)
      << std::string(3 << 20, 'x');
  CliProcess cli({"--devices", DeviceList(Pointers(owned)), "--id", "admin",
                  "--jobs", "4", "--max-uploads", "2", path_},
                 env_);
  EXPECT_EQ(cli.Wait(90s), 0) << cli.ErrorText();
  std::vector<std::pair<double, int>> edges;  // time, +1 open / -1 closed
  for (const auto& device : owned) {
    for (const auto& [start, end] : UploadSpans(*device)) {
      edges.push_back({start, +1});
      edges.push_back({end, -1});
    }
  }
  ASSERT_EQ(edges.size(), 8u);
  std::sort(edges.begin(), edges.end());  // an end before a start at a tie
  int open = 0, most = 0;
  for (const auto& [time, step] : edges) most = std::max(most, open += step);
  EXPECT_EQ(most, 2);
}

TEST_F(CliE2eTest, ATruncatingDeviceFailsVerifyAndIsRestored) {
  const auto owned = Devices(2);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  owned[0]->AddFault(R"({"ftp": "store_short"})");
  CliProcess cli({"--devices", DeviceList(Pointers(owned)), "--id", "admin",
                  "--verify", "--json", path_},
                 env_);
  EXPECT_EQ(cli.Wait(60s), 1) << cli.ErrorText();
  const nlohmann::json truncated = SummaryOf(cli.lines(), Label(*owned[0]));
  EXPECT_EQ(TextOf(truncated, "result"), "failed");
  ASSERT_TRUE(truncated.contains("failures"));
  EXPECT_EQ(TextOf(truncated["failures"][0], "text"),
            "Firm Sending Error(Verify Error)");
  EXPECT_EQ(owned[0]->Param("svr_ftp_port"), "0");
  EXPECT_EQ(owned[0]->Param("user9"), "HJ5M");
  EXPECT_EQ(TextOf(SummaryOf(cli.lines(), Label(*owned[1])), "result"),
            "completed");
}

}  // namespace
}  // namespace hj5::test
