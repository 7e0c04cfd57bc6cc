// hj5-update itself, in real time, against emulated devices on loopback:
// the form's update, its interrupts and the rollouts that protect a fleet.
#include <algorithm>
#include <set>
#include <thread>

#include "cli/cli_fixture.h"
#include "platform/steady_clock.h"
#include "support/headless_update.h"

namespace hj5::test {
namespace {

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
}  // namespace
}  // namespace hj5::test
