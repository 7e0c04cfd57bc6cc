// hj5-update's results in real time against emulated devices on loopback:
// the run folder, a resume after kill -9, the upload throttle, the
// read-back.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include "cli/cli_fixture.h"

namespace hj5::test {
namespace {

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
  {  // Its report shows every device, those that never ended too.
    CliProcess report({"--report", folder}, {});
    EXPECT_EQ(report.Wait(20s), 0) << report.ErrorText();
    std::ifstream in(folder + "/report.html");
    const std::string page(std::istreambuf_iterator<char>(in), {});
    for (const auto& device : owned)
      EXPECT_NE(page.find("\"" + Label(*device) + "\""), std::string::npos);
    EXPECT_NE(page.find("never ended"), std::string::npos);
  }
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

// Everything a run shows or keeps, but the two device lists that keep the
// operator's columns: the bytes of each file of the run's folder and both
// streams.
std::string AllButTheLists(const CliProcess& cli, const std::string& folder) {
  std::string all = cli.ErrorText();
  for (const std::string& line : cli.lines()) all += line + "\n";
  if (!std::filesystem::exists(folder)) return all;
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name == "failed.csv" ||
        name == "not-started.csv")
      continue;
    std::ifstream in(entry.path(), std::ios::binary);
    all += std::string(std::istreambuf_iterator<char>(in), {});
  }
  return all;
}

// The device's password, planted wherever a run could quote it back: in a
// device's reply, in a devices file's row read with the columns out of
// line. It is in no message, event, log, result file or JSON; the lists of
// failed and not started devices keep it (they are fed back as they are).
TEST_F(CliE2eTest, APasswordPlantedAnywhereIsEchoedNowhere) {
  const std::string secret = "Pw-1234";
  auto owned = Devices(1, {"--reboot-seconds", "0.5", "--pw", secret});
  ASSERT_TRUE(owned[0]->ok());
  const EmulatorProcess& device = *owned[0];
  const std::string good = path_ + ".good.csv";
  std::ofstream(good) << "address,ftp_port,password\n"
                      << Label(device) << "," << device.ftp_port() << ","
                      << secret << "\n";
  const std::string misaligned = path_ + ".misaligned.csv";
  std::ofstream(misaligned)
      << "address,ftp_port,password,http_port\n"
      << Label(device) << "," << device.ftp_port() << ",x," << secret << "\n";
  const struct {
    const char* planted;
    std::string fault;  // the device's reply
    std::string list;
    int exit;
  } cases[] = {
      {"a refusal's reply",
       R"j({"match": {"MODE": "4"}, "body": "pw=)j" + secret +
           R"j(\r\nHJ5_Ret(-3)"})j",
       good, 1},
      {"an identity reply without the code",
       R"j({"match": {"MODE": "4"}, "body": "user9=)j" + secret +
           R"j(x\r\nHJ5_Ret(0)"})j",
       good, 1},
      {"a reply without a token",
       R"({"match": {"CODE": "svr_ftp_port"}, "body": ")" + secret + R"("})",
       good, 1},
      {"the port column of a row", "", misaligned, 2},
  };
  for (const auto& c : cases) {
    owned[0]->ClearFaults();
    if (!c.fault.empty()) owned[0]->AddFault(c.fault);
    const std::string folder = Folder("secret");
    CliProcess cli({"--devices", c.list, "--id", "admin", "--json", "--results",
                    folder, path_},
                   {});
    EXPECT_EQ(cli.Wait(60s), c.exit) << c.planted << cli.ErrorText();
    EXPECT_EQ(AllButTheLists(cli, folder).find(secret), std::string::npos)
        << c.planted;
    if (c.exit == 1) {
      std::ifstream failed(folder + "/failed.csv");
      EXPECT_NE(
          std::string(std::istreambuf_iterator<char>(failed), {}).find(secret),
          std::string::npos)
          << c.planted;
    }
  }
}

// The machine's clock moved (libfaketime) to ten seconds before the window
// closes: the first device starts, the second never does, the run exits 5;
// in the next window a resume updates the second alone.
TEST_F(CliE2eTest, AWindowClosesAfterTheFirstDeviceAndAResumeFinishesTheRest) {
  const char* faketime =
      "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  if (!std::filesystem::exists(faketime)) GTEST_SKIP() << "no libfaketime";
  const auto owned = Devices(2);
  for (const auto& device : owned) ASSERT_TRUE(device->ok());
  const std::string list = DeviceList(Pointers(owned));
  const std::string folder = Folder("window");
  const auto at = [&](const char* when) {
    return std::vector<std::string>{"HJ5_PASSWORD=hj5pass", "TZ=UTC",
                                    "FAKETIME_DONT_FAKE_MONOTONIC=1",
                                    std::string("LD_PRELOAD=") + faketime,
                                    std::string("FAKETIME=@") + when};
  };
  CliProcess closing(
      {"--devices", list, "--id", "admin", "--jobs", "1", "--window",
       "01:00-05:00", "--results", folder, "--json", path_},
      at("2026-12-09 04:59:50"));
  EXPECT_EQ(closing.Wait(60s), 5) << closing.ErrorText();
  const nlohmann::json summary = JsonLine(closing.lines().back());
  EXPECT_EQ(TextOf(summary, "stopped_by"), "window");
  EXPECT_EQ(TextOf(SummaryOf(closing.lines(), Label(*owned[1])), "result"),
            "not started");
  EXPECT_GT(summary["window_overrun_seconds"].get<double>(), 0);
  EXPECT_TRUE(owned[1]->RequestBodies().empty());
  CliProcess refused({"--devices", list, "--id", "admin", "--window",
                      "01:00-05:00", "--resume", folder, path_},
                     at("2026-12-09 12:00:00"));
  EXPECT_EQ(refused.Wait(20s), 2);
  owned[0]->ClearRecords();
  CliProcess resumed({"--devices", list, "--id", "admin", "--window",
                      "01:00-05:00", "--resume", folder, "--json", path_},
                     at("2026-12-10 01:00:00"));
  EXPECT_EQ(resumed.Wait(60s), 0) << resumed.ErrorText();
  EXPECT_TRUE(owned[0]->RequestBodies().empty());
  EXPECT_EQ(owned[1]->StoredFile(path_.substr(5)), content_);
}

}  // namespace
}  // namespace hj5::test
