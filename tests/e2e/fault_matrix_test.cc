// The fault matrix: every fault the device emulator offers, at every step of
// an update it can hit, against the real worker, the Asio transport and the
// libcurl client on loopback, with a recording form in place of the window.
//
// The mandated waits run kScale times faster (PacedClock) and the exchange
// limit is 1 s, which stands for the product's 20 s (25 virtual seconds: the
// limit counts in whole real seconds). Each row asserts the whole transcript
// of what the operator sees and the time to the outcome (the pauses, waits
// and limits the row passes through, plus 2 s); then the faults are cleared,
// a device left down is brought back, and the next update must complete.
//
// Rows run on several emulators side by side: most of a row is waiting.
// HJ5_FAULT_TABLE=<file> appends one markdown table row per case to <file>.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "e2e/paced_clock.h"
#include "platform/curl_ftp_client.h"
#include "support/emulator_process.h"
#include "support/headless_update.h"

namespace hj5::test {
namespace {

using Lines = std::vector<std::string>;

constexpr double kScale = 25;
constexpr std::chrono::milliseconds kGrace{150};
constexpr std::uint16_t kLimitSeconds = 1;
constexpr double kLimit = kLimitSeconds;
// Reboot times in real seconds: a quick device is back before the fourth
// poll; a slow one stays down beyond the exchange limit, yet comes back
// well within the 60 polls (about 40 polls at this scale).
constexpr double kQuickReboot = 0.3;
constexpr double kSlowReboot = 1.6;
// The token ends a reply without Content-Length after this quiet period.
constexpr double kQuiet = 0.2;
constexpr double kSlack = 2.0;

const std::string kError = "An error occurred during the updating process.";
const std::string kCompleted = "Update completed.";
const std::string kTimeOut = "Communication Error(Communication Time-out)";
const std::string kRefused = "Communication Error(Connection Error)";
const std::string kReception = "Communication Error(Reception Error)";
const std::string kResponse = "Communication Error(Response Error)";
const std::string kScript = "Script Returns Error!!";

// ---------------------------------------------------------------------------
// What the operator sees, with the real seconds of the pauses, waits and
// limits that it takes.

struct Path {
  Lines lines;
  double seconds = 0;
};

Path operator+(Path a, const Path& b) {
  a.lines.insert(a.lines.end(), b.lines.begin(), b.lines.end());
  a.seconds += b.seconds;
  return a;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

Path Say(const std::string& line) { return {{line}, 0}; }
Path Status(const std::string& text) { return Say("status " + Quoted(text)); }
Path Pause() { return {{}, 1 / kScale}; }

// ReportError; `seconds` is what the failing exchange took (a limit).
Path Reported(const std::string& text, double seconds = 0) {
  return {{"box warning " + Quoted(text), "button 1009 enabled",
           "status " + Quoted(text), "notice \"\""},
          seconds};
}

// The end of a run with a warning: the early end, and the finish's tail.
Path Ended(const std::string& text) {
  return {{"notice \"\"", "status " + Quoted(text),
           "box warning " + Quoted(text), "button 1009 enabled"}};
}

Path Answered(bool failed) {
  if (failed) return Ended(kError);
  return {{"notice \"\"", "status " + Quoted(kCompleted),
           "box information " + Quoted(kCompleted), "button 1009 enabled"}};
}

// The finish's wait ended without an answer.
Path NotBack(bool failed) {
  Path path = Say("notice \"\"");
  path = path + (failed ? Status(kError) + Say("box warning " + Quoted(kError))
                        : Status(kCompleted));
  return path + Say("box information \"Please restart HJ-5.\"") +
         Say("button 1009 enabled");
}

// The three endings of the reboot wait (5 s, then polls 1 s apart).
Path Wait(double seconds) { return {{"timer start", "timer stop"}, seconds}; }
Path WaitAnswered(double reboot) { return Wait(6 / kScale + reboot); }
Path WaitUsedUp() { return Wait(64 / kScale); }
Path WaitTimedOut() {  // three polls into the limit, 5 + 2 s of pauses
  return Wait(7 / kScale + 3 * kLimit) + Reported("Reboot Time out.");
}

enum class Step {
  kIdentity,
  kFtpOn,
  kMark,
  kRestart1,
  kProbes1,
  kModeOne,
  kUpload,
  kFtpOff,
  kRestore,
  kRestart2,
  kProbes2,
};

const char* StepName(Step step) {
  switch (step) {
    case Step::kIdentity:
      return "identity query";
    case Step::kFtpOn:
      return "FtpOn";
    case Step::kMark:
      return "MarkForUpdate";
    case Step::kRestart1:
      return "first RestartDevice";
    case Step::kProbes1:
      return "probes after the first restart";
    case Step::kModeOne:
      return "ModeOne";
    case Step::kUpload:
      return "upload";
    case Step::kFtpOff:
      return "FtpOff";
    case Step::kRestore:
      return "RestoreDeviceCode";
    case Step::kRestart2:
      return "second RestartDevice";
    case Step::kProbes2:
      return "probes after the second restart";
  }
  return "?";
}

Step Next(Step step) { return static_cast<Step>(static_cast<int>(step) + 1); }

// A step that went through; a command's status line comes before it is sent.
Path Passed(Step step, double reboot) {
  switch (step) {
    case Step::kIdentity:
      return Status("Processing(0)");
    case Step::kFtpOn:
      return Pause() + Status("Processing(1)");
    case Step::kMark:
      return Pause() + Status("Processing(2)");
    case Step::kRestart1:
      return Pause() + Status("Restarting ....");
    case Step::kProbes1:
      return WaitAnswered(reboot);
    case Step::kModeOne:
      return Status("Processing(3)");
    case Step::kUpload:
      return Pause() + Status("Processing(4)") + Say("message 102 -> 0");
    case Step::kFtpOff:
      return Status("Processing(6)");
    case Step::kRestore:
      return Pause() + Status("Processing(7)");
    case Step::kRestart2:
      return Pause() + Status("Restarting ....");
    case Step::kProbes2:
      return WaitAnswered(reboot);
  }
  return {};
}

// Steps [from, to) went through.
Path Steps(Step from, Step to, double reboot) {
  Path path;
  for (Step step = from; step != to; step = Next(step))
    path = path + Passed(step, reboot);
  return path;
}
Path Before(Step step, double reboot) {
  return Steps(Step::kIdentity, step, reboot);
}
// The finish from FtpOff through the second wait, answered.
Path Finish(bool failed, double reboot) {
  return Steps(Step::kFtpOff, Next(Step::kProbes2), reboot) + Answered(failed);
}
Path Completed(double reboot) {
  return Before(Step::kFtpOff, reboot) + Finish(false, reboot);
}

// What follows a command that failed at `step`. `down`: the command was a
// first restart that the device carried out, so FtpOff finds it down.
Path Aftermath(Step step, double reboot, bool down) {
  switch (step) {
    case Step::kIdentity:
      return Ended("Update Failure.");
    case Step::kFtpOn:
      return Ended(kError);
    case Step::kRestart1:
      if (down) {
        return Passed(Step::kFtpOff, reboot) + Reported(kRefused) +
               Reported("Processing(6) Error.") + Ended(kError);
      }
      return Finish(true, reboot);
    case Step::kMark:
    case Step::kModeOne:
      return Finish(true, reboot);
    case Step::kFtpOff:
      return Reported("Processing(6) Error.") + Ended(kError);
    case Step::kRestore:
      return Reported("Processing(7) Error.") + Ended(kError);
    case Step::kRestart2:
      return Reported("Restart Command Error.") + Ended(kError);
    default:
      break;
  }
  ADD_FAILURE() << "not a command: " << StepName(step);
  return {};
}

// ---------------------------------------------------------------------------
// The faults.

// An HTTP reply fault and what it makes of a command.
struct Kind {
  const char* label;
  const char* json;      // the fault's own keys
  const char* text;      // the text at a command; nullptr: the command passes
  bool slow;             // runs into the exchange limit
  bool carried_out;      // the device carries the command out all the same
  const char* identity;  // the text at the identity check; nullptr: accepted
};

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"blackhole", R"("blackhole": true)", kTimeOut.c_str(), true, true,
       kTimeOut.c_str()},
      {"delay 1.5 s (beyond the limit)", R"("delay_ms": 1500)",
       kTimeOut.c_str(), true, true, kTimeOut.c_str()},
      {"drip 50 ms a byte (beyond the limit)", R"("drip_ms": 50)",
       kTimeOut.c_str(), true, true, kTimeOut.c_str()},
      {"truncate after 10 bytes", R"("truncate": 10)", kScript.c_str(), false,
       true, "Device Code Error."},
      {"closed without a byte (truncate 0)", R"("truncate": 0)",
       kResponse.c_str(), false, true, kResponse.c_str()},
      {"oversize (20 KB)", R"("oversize": true)", kScript.c_str(), false, true,
       nullptr},
      {"garbage", R"("garbage": true)", kScript.c_str(), false, true,
       "Device Code Error."},
      {"token not at the end", R"("token_not_at_end": true)", kScript.c_str(),
       false, true, nullptr},
      {"reset mid-reply", R"("reset": true)", kReception.c_str(), false, true,
       kReception.c_str()},
      {"code -2", R"("code": -2)", "Login ID Error!!", false, false,
       "Login ID Error!!"},
      {"code -3", R"("code": -3)", "Login Password Error!!", false, false,
       "Login Password Error!!"},
      {"code -4", R"("code": -4)", "Script Error!!(gethjcparam)", false, false,
       "Script Error!!(gethjcparam)"},
      {"code -5", R"("code": -5)", "Script Error!!(sethjcparam)", false, false,
       nullptr},
      {"code -9", R"("code": -9)", kScript.c_str(), false, false, nullptr},
  };
  return kinds;
}

// A slow reply that still ends within the limit.
const Kind kDripWithin = {"drip 1 ms a byte (within the limit)",
                          R"("drip_ms": 1)",
                          nullptr,
                          false,
                          true,
                          nullptr};

const char* kPassThrough = R"("delay_ms": 0, "times": 1)";

std::string Fault(const std::string& aim, const std::string& kind) {
  return "{" + aim + ", " + kind + "}";
}

// The faults that put `kind` on `step` alone.
std::vector<std::string> Aimed(Step step, const Kind& kind) {
  const std::string mode2 = R"("match": {"MODE": "2", "CODE": )";
  switch (step) {
    case Step::kIdentity:
      return {Fault(R"("match": {"MODE": "4"})", kind.json)};
    case Step::kFtpOn:
      return {Fault(mode2 + R"("svr_ftp_port", "DATA": "21"})", kind.json)};
    case Step::kMark:
      return {Fault(mode2 + R"("user9", "DATA": "UPDATE"})", kind.json)};
    case Step::kRestart1:
      return {Fault(R"("match": {"MODE": "3"}, "times": 1)", kind.json)};
    case Step::kModeOne:
      return {Fault(R"("match": {"MODE": "1"})", kind.json)};
    case Step::kFtpOff:
      return {Fault(mode2 + R"("svr_ftp_port", "DATA": "0"})", kind.json)};
    case Step::kRestore:
      return {Fault(mode2 + R"("user9", "DATA": "HJ5M"})", kind.json)};
    case Step::kRestart2:  // the first restart passes
      return {Fault(R"("match": {"MODE": "3"})", kPassThrough),
              Fault(R"("match": {"MODE": "3"})", kind.json)};
    case Step::kProbes1:  // spent by the first wait: 60 quick polls, or 3
      return {Fault(kind.slow ? R"("probe": true, "times": 3)"
                              : R"("probe": true, "times": 60)",
                    kind.json)};
    case Step::kProbes2:  // the first wait's answer passes
      return {Fault(R"("probe": true)", kPassThrough),
              Fault(R"("probe": true)", kind.json)};
    default:
      break;
  }
  ADD_FAILURE() << "not aimed: " << StepName(step);
  return {};
}

bool IsRestart(Step step) {
  return step == Step::kRestart1 || step == Step::kRestart2;
}

// ---------------------------------------------------------------------------
// Rows.

// The emulators the rows run on.
enum class Device {
  kQuick,          // reboots in 0.3 s, refuses connections while down
  kSlowReboot,     // reboots in 1.6 s
  kBlackholeDown,  // accepts connections and never answers while down
  kNoLength,       // replies without Content-Length
};
constexpr Device kDevices[] = {Device::kQuick, Device::kSlowReboot,
                               Device::kBlackholeDown, Device::kNoLength};

double RebootOf(Device device) {
  return device == Device::kSlowReboot ? kSlowReboot : kQuickReboot;
}

// How many emulators of a kind take rows side by side.
int CountOf(Device device) {
  switch (device) {
    case Device::kQuick:
      return 4;
    case Device::kNoLength:
      return 2;
    default:
      return 1;
  }
}

std::vector<std::string> ArgsOf(Device device) {
  std::vector<std::string> args = {"--reboot-seconds",
                                   std::to_string(RebootOf(device))};
  if (device == Device::kBlackholeDown) {
    args.insert(args.end(), {"--down", "blackhole"});
  } else if (device == Device::kNoLength) {
    args.push_back("--no-length");
  }
  return args;
}

struct Row {
  std::string fault;
  std::string step;
  std::vector<std::string> faults;
  Device device = Device::kQuick;
  bool stuck = false;  // the device is down and stays down before the run
  Path expect = {};
};

// A reply fault at a command. A reply that holds the line while the device
// restarts is aimed at a slow device: the exchange's limit ends before the
// device comes back (a quick one would end the held line at its boot).
Row CommandRow(Step step, const Kind& kind) {
  Row row{kind.label, StepName(step), Aimed(step, kind)};
  if (kind.slow && IsRestart(step)) row.device = Device::kSlowReboot;
  const double reboot = RebootOf(row.device);
  const double cost = kind.slow ? kLimit : 0;
  const char* text = step == Step::kIdentity ? kind.identity : kind.text;
  if (text == nullptr) {
    row.expect = Completed(reboot);
  } else {
    const bool down = step == Step::kRestart1 && kind.carried_out;
    row.expect = Before(step, reboot) + Passed(step, reboot) +
                 Reported(text, cost) + Aftermath(step, reboot, down);
  }
  return row;
}

// A reply fault at the probes of one wait: slow replies time the wait out,
// quick failures use its 60 polls up.
Row ProbeRow(Step step, const Kind& kind) {
  Row row{kind.label, StepName(step), Aimed(step, kind)};
  const double reboot = kQuickReboot;
  const Path wait = kind.slow ? WaitTimedOut() : WaitUsedUp();
  if (step == Step::kProbes2) {
    row.expect = Before(step, reboot) + wait + NotBack(false);
  } else if (kind.slow) {
    row.expect = Before(step, reboot) + wait + Finish(true, reboot);
  } else {
    row.expect = Before(step, reboot) + wait +
                 Steps(Step::kModeOne, Step::kFtpOff, reboot) +
                 Finish(false, reboot);
  }
  return row;
}

std::vector<Row> CommandRows(Step step) {
  std::vector<Row> rows;
  for (const Kind& kind : Kinds()) rows.push_back(CommandRow(step, kind));
  if (!IsRestart(step)) rows.push_back(CommandRow(step, kDripWithin));
  return rows;
}

std::vector<Row> ProbeRows(Step step) {
  std::vector<Row> rows;
  for (const Kind& kind : Kinds()) rows.push_back(ProbeRow(step, kind));
  return rows;
}

Row UploadRow(const char* name, const char* message) {
  Row row{std::string("FTP ") + name,
          StepName(Step::kUpload),
          {std::string(R"({"ftp": ")") + name + "\"}"}};
  const double reboot = kQuickReboot;
  row.expect = Before(Step::kUpload, reboot) + Pause() +
               Status("Processing(4)") +
               Say("box warning " +
                   Quoted(std::string("Firm Sending Error(") + message + ")")) +
               Say("message 102 -> -1") + Finish(true, reboot);
  return row;
}

// ---------------------------------------------------------------------------
// Running rows.

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Waits (at most 10 s) until the device answers commands again.
bool WaitUntilUp(EmulatorProcess& device) {
  for (int i = 0; i < 500; ++i) {
    if (Contains(device.Control("GET", "/state"), "\"up\": true")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// Faults cleared, a stuck device restarted, the device up.
void Recover(EmulatorProcess& device) {
  device.ClearFaults();
  if (Contains(device.Control("GET", "/state"), "\"stuck\": true"))
    device.Control("POST", "/restart");
  EXPECT_TRUE(WaitUntilUp(device)) << "the device did not come back";
}

// The boxes in order, then the last status: the table's summary.
std::string Seen(const Lines& lines) {
  std::string seen;
  std::string status;
  for (const std::string& line : lines) {
    if (line.starts_with("box ")) {
      if (!seen.empty()) seen += "; ";
      seen += line.substr(4);
    } else if (line.starts_with("status ")) {
      status = line.substr(7);
    }
  }
  return seen + " / status " + status;
}

struct Outcome {
  double took = 0;
  double bound = 0;
};

struct Lane {
  EmulatorProcess* device = nullptr;
  double reboot = kQuickReboot;
  std::vector<std::size_t> rows = {};
};

class FaultMatrixTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CurlFtpClient init;  // libcurl is set up before the lanes start
    content_ = "<?xml version=\"1.0\"?>\r\n<firmware>\n";
    while (content_.size() < 200 * 1024)
      content_ += "  <block>0123456789abcdef\r\n\t</block>\n";
    content_ += "</firmware>\n";
    path_ = "/tmp/hj5-matrix-" + std::to_string(::getpid()) + ".xml";
    std::ofstream(path_, std::ios::binary) << content_;
    for (Device kind : kDevices) {
      for (int i = 0; i < CountOf(kind); ++i) {
        devices_.push_back(
            {kind, std::make_unique<EmulatorProcess>(ArgsOf(kind))});
      }
    }
  }

  static void TearDownTestSuite() {
    devices_.clear();
    std::remove(path_.c_str());
  }

  void SetUp() override {
    for (const auto& [kind, device] : devices_)
      ASSERT_TRUE(device->ok()) << device->error();
  }

  // Runs every row, the rows of each device one after the other, the
  // devices side by side; then prints the table.
  void RunRows(const std::vector<Row>& rows) {
    std::vector<Lane> lanes = Lanes(rows);
    std::vector<Outcome> outcomes(rows.size());
    std::vector<std::thread> threads;
    for (Lane& lane : lanes) {
      if (lane.rows.empty()) continue;
      threads.emplace_back([&rows, &outcomes, &lane] {
        for (std::size_t i : lane.rows)
          outcomes[i] = RunRow(*lane.device, lane.reboot, rows[i]);
      });
    }
    for (std::thread& thread : threads) thread.join();
    PrintTable(rows, outcomes);
  }

 private:
  // One lane per emulator; the rows of a kind dealt out among its lanes.
  static std::vector<Lane> Lanes(const std::vector<Row>& rows) {
    std::vector<Lane> lanes;
    for (const auto& [kind, device] : devices_)
      lanes.push_back({device.get(), RebootOf(kind)});
    for (Device kind : kDevices) {
      std::vector<std::size_t> own;
      for (std::size_t i = 0; i < devices_.size(); ++i)
        if (devices_[i].first == kind) own.push_back(i);
      std::size_t next = 0;
      for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].device == kind)
          lanes[own[next++ % own.size()]].rows.push_back(i);
      }
    }
    return lanes;
  }

  // One row, then the update that shows the device was left usable.
  static Outcome RunRow(EmulatorProcess& device, double reboot,
                        const Row& row) {
    SCOPED_TRACE(row.fault + " at " + row.step);
    device.ClearRecords();
    if (row.stuck) {
      device.AddFault(R"({"never_back_after_restart": 1})");
      device.Control("POST", "/restart");
    }
    for (const std::string& fault : row.faults) device.AddFault(fault);
    Outcome outcome;
    outcome.bound = row.expect.seconds + kSlack;
    {
      PacedClock clock(kScale, kGrace);
      HeadlessUpdate update(clock, device.http_port(), device.ftp_port(), path_,
                            "matrix.xml");
      outcome.took =
          std::chrono::duration<double>(update.Run(kLimitSeconds)).count();
      EXPECT_EQ(update.Lines(), row.expect.lines);
      EXPECT_LT(outcome.took, outcome.bound);
    }
    Recover(device);
    ExpectCleanUpdate(device, reboot);
    return outcome;
  }

  static void ExpectCleanUpdate(EmulatorProcess& device, double reboot) {
    SCOPED_TRACE("the update after the fault");
    device.ClearRecords();
    PacedClock clock(kScale, kGrace);
    HeadlessUpdate update(clock, device.http_port(), device.ftp_port(), path_,
                          "matrix.xml");
    update.Run(kLimitSeconds);
    EXPECT_EQ(update.Lines(), Completed(reboot).lines);
    EXPECT_TRUE(device.StoredFile("matrix.xml") == content_);
    EXPECT_EQ(device.Param("user9"), "HJ5M");
    EXPECT_EQ(device.Param("svr_ftp_port"), "0");
  }

  static void PrintTable(const std::vector<Row>& rows,
                         const std::vector<Outcome>& outcomes) {
    std::string table;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      char times[64];
      std::snprintf(times, sizeof times, "| %.1f | %.2f |", outcomes[i].bound,
                    outcomes[i].took);
      table += "| " + rows[i].fault + " | " + rows[i].step + " | " +
               Seen(rows[i].expect.lines) + " " + times + "\n";
    }
    std::fputs(table.c_str(), stdout);
    if (const char* file = std::getenv("HJ5_FAULT_TABLE")) {
      std::ofstream(file, std::ios::app) << table;
    }
  }

  static inline std::vector<std::pair<Device, std::unique_ptr<EmulatorProcess>>>
      devices_;
  static inline std::string content_;
  static inline std::string path_;
};

TEST_F(FaultMatrixTest, IdentityQuery) {
  RunRows(CommandRows(Step::kIdentity));
}

TEST_F(FaultMatrixTest, FtpOn) { RunRows(CommandRows(Step::kFtpOn)); }

TEST_F(FaultMatrixTest, MarkForUpdate) { RunRows(CommandRows(Step::kMark)); }

TEST_F(FaultMatrixTest, FirstRestart) { RunRows(CommandRows(Step::kRestart1)); }

TEST_F(FaultMatrixTest, ProbesAfterTheFirstRestart) {
  RunRows(ProbeRows(Step::kProbes1));
}

TEST_F(FaultMatrixTest, ModeOne) { RunRows(CommandRows(Step::kModeOne)); }

TEST_F(FaultMatrixTest, Upload) {
  RunRows({UploadRow("login_refused", "Connection Error"),
           UploadRow("stor_550", "Server side File Error"),
           UploadRow("stor_552", "Server side File Error"),
           UploadRow("final_451", "Server side File Error"),
           UploadRow("drop_mid_upload", "Send File Error"),
           UploadRow("not_started", "Connection Error")});
}

TEST_F(FaultMatrixTest, FtpOff) { RunRows(CommandRows(Step::kFtpOff)); }

TEST_F(FaultMatrixTest, RestoreDeviceCode) {
  RunRows(CommandRows(Step::kRestore));
}

TEST_F(FaultMatrixTest, SecondRestart) {
  RunRows(CommandRows(Step::kRestart2));
}

TEST_F(FaultMatrixTest, ProbesAfterTheSecondRestart) {
  RunRows(ProbeRows(Step::kProbes2));
}

// A device that is down: refusing connections, or accepting and never
// answering (--down blackhole).
TEST_F(FaultMatrixTest, DeviceDown) {
  const double reboot = kQuickReboot;
  const Path first_refused =
      Before(Step::kProbes1, reboot) + WaitUsedUp() +
      Passed(Step::kModeOne, reboot) + Reported(kRefused) +
      Passed(Step::kFtpOff, reboot) + Reported(kRefused) +
      Reported("Processing(6) Error.") + Ended(kError);
  const Path first_silent = Before(Step::kProbes1, reboot) + WaitTimedOut() +
                            Passed(Step::kFtpOff, reboot) +
                            Reported(kTimeOut, kLimit) +
                            Reported("Processing(6) Error.") + Ended(kError);
  const char* never_first = R"({"never_back_after_restart": 1})";
  const char* never_second = R"({"never_back_after_restart": 2})";
  RunRows({
      {"down, refusing",
       StepName(Step::kIdentity),
       {},
       Device::kQuick,
       true,
       Passed(Step::kIdentity, reboot) + Reported(kRefused) +
           Ended("Update Failure.")},
      {"down, blackhole",
       StepName(Step::kIdentity),
       {},
       Device::kBlackholeDown,
       true,
       Passed(Step::kIdentity, reboot) + Reported(kTimeOut, kLimit) +
           Ended("Update Failure.")},
      {"never back, refusing",
       StepName(Step::kProbes1),
       {never_first},
       Device::kQuick,
       false,
       first_refused},
      {"never back, blackhole",
       StepName(Step::kProbes1),
       {never_first},
       Device::kBlackholeDown,
       false,
       first_silent},
      {"never back, refusing",
       StepName(Step::kProbes2),
       {never_second},
       Device::kQuick,
       false,
       Before(Step::kProbes2, reboot) + WaitUsedUp() + NotBack(false)},
      {"never back, blackhole",
       StepName(Step::kProbes2),
       {never_second},
       Device::kBlackholeDown,
       false,
       Before(Step::kProbes2, reboot) + WaitTimedOut() + NotBack(false)},
  });
}

// A device that sends no Content-Length: a reply ends once the line stays
// quiet for 0.2 s after a closing token, so a reply without a token at its
// end runs into the limit, where with Content-Length it is judged at once.
Row WithoutLength(Step step, const Kind& kind) {
  Row row = CommandRow(step, kind);
  row.fault += ", no Content-Length";
  row.device = Device::kNoLength;
  row.expect.seconds += 8 * kQuiet;  // at most 8 replies end by their token
  return row;
}

TEST_F(FaultMatrixTest, RepliesWithoutContentLength) {
  const Kind garbage = {"garbage", R"("garbage": true)", kTimeOut.c_str(), true,
                        true,      kTimeOut.c_str()};
  const Kind trailer = {"token not at the end",
                        R"("token_not_at_end": true)",
                        kTimeOut.c_str(),
                        true,
                        true,
                        kTimeOut.c_str()};
  const Kind oversize = {"oversize (20 KB)",
                         R"("oversize": true)",
                         kScript.c_str(),
                         false,
                         true,
                         nullptr};
  const Kind wrong_id = {"code -2", R"("code": -2)", "Login ID Error!!",
                         false,     false,           "Login ID Error!!"};
  std::vector<Row> rows;
  for (Step step : {Step::kIdentity, Step::kFtpOn}) {
    for (const Kind& kind : {garbage, trailer, oversize, wrong_id, kDripWithin})
      rows.push_back(WithoutLength(step, kind));
  }
  RunRows(rows);
}

}  // namespace
}  // namespace hj5::test
