// The run's record: what a resume may skip, and a journal or result file
// that cannot be written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "fleet/fleet_fakes.h"
#include "fleet/run_record.h"
#include "fleet/scheduler.h"

namespace hj5::fleet::test {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A file's bytes, read from memory.
class StringFile final : public SequentialFile {
 public:
  explicit StringFile(std::string bytes) : bytes_(std::move(bytes)) {}
  Status Read(char* buffer, std::size_t size, std::size_t* got) override {
    *got = std::min(size, bytes_.size() - at_);
    bytes_.copy(buffer, *got, at_);
    at_ += *got;
    return Status();
  }
  std::uint64_t Size() const override { return bytes_.size(); }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// The journal fails from its `fail_from`-th line on, as on a full disk;
// a whole file named `fail_write` cannot be written.
class FaultFolder final : public OwnFolder {
 public:
  FaultFolder(std::unique_ptr<OwnFolder> real, int fail_from,
              std::string fail_write)
      : real_(std::move(real)),
        fail_from_(fail_from),
        fail_write_(std::move(fail_write)) {}

  Status Lock() override { return real_->Lock(); }
  Status Read(const std::string& name, std::size_t limit,
              std::string* text) override {
    return real_->Read(name, limit, text);
  }
  Status Write(const std::string& name, std::string_view text) override {
    if (name == fail_write_) return Full();
    return real_->Write(name, text);
  }
  Status OpenAppend(const std::string& name,
                    std::unique_ptr<AppendFile>* file) override {
    if (Status opened = real_->OpenAppend(name, file); !opened.ok())
      return opened;
    if (name == "journal.jsonl")
      *file = std::make_unique<Faulty>(std::move(*file), fail_from_);
    return Status();
  }
  Status Sub(const std::string& name,
             std::unique_ptr<OwnFolder>* folder) override {
    return real_->Sub(name, folder);
  }
  Status SyncNames() override { return real_->SyncNames(); }

 private:
  static Status Full() {
    return Status::Failure(folder_code::kSystem, "No space left on device");
  }
  struct Faulty final : AppendFile {
    Faulty(std::unique_ptr<AppendFile> real, int fail_from)
        : real(std::move(real)), fail_from(fail_from) {}
    Status Append(std::string_view bytes) override {
      return ++lines >= fail_from ? Full() : real->Append(bytes);
    }
    Status Sync() override { return real->Sync(); }
    std::unique_ptr<AppendFile> real;
    const int fail_from;
    int lines = 0;
  };

  std::unique_ptr<OwnFolder> real_;
  const int fail_from_;
  const std::string fail_write_;
};

class RecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::temp_directory_path() /
            ("hj5-record-" + std::to_string(std::random_device{}())))
               .string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  Plan PlanFor(RunMode mode, const std::string& file, bool resume = false) {
    Plan plan = PlanOf(3, /*jobs=*/2);
    plan.mode = mode;
    plan.results_dir = dir_;
    plan.resume = resume;
    if (!file.empty()) {
      StringFile bytes(file);
      std::unique_ptr<FileSnapshot> snapshot;
      EXPECT_TRUE(FileSnapshot::Take(bytes, 1 << 20, &snapshot).ok());
      plan.snapshot = std::move(snapshot);
      plan.file = ChosenFile{"site.xml", "site.xml"};
    }
    return plan;
  }

  // The record of `plan`, or the refusal's text.
  std::variant<std::unique_ptr<RunRecord>, std::string> Open(
      const Plan& plan, int fail_from = 1000, std::string fail_write = "") {
    std::unique_ptr<OwnFolder> folder;
    EXPECT_TRUE(OwnFolder::Open(dir_, FolderUse::kWrite, &folder).ok());
    return RunRecord::Open(
        plan, WallTime(),
        std::make_unique<FaultFolder>(std::move(folder), fail_from,
                                      std::move(fail_write)));
  }

  void WriteFile(const std::string& name, const std::string& text) {
    fs::create_directories(dir_);
    std::ofstream(fs::path(dir_) / name) << text;
  }

  static DeviceOutcome Ended(const std::string& device, Result result) {
    DeviceOutcome outcome;
    outcome.device = device;
    outcome.result = result;
    outcome.succeeded = true;
    return outcome;
  }

  std::string dir_;
};

const std::string kXml = "<?xml version=\"1.0\"?>\n<a/>\n";

TEST_F(RecordTest, OnlyAnUpdateThatCompletedWithThisFileIsSkipped) {
  {  // A check's folder is never taken for an update's.
    const Plan check = PlanFor(RunMode::kCheck, kXml);
    auto opened = Open(check);
    auto& record = std::get<std::unique_ptr<RunRecord>>(opened);
    ASSERT_TRUE(record->Journal(Ended("d0", Result::kAccepted), {}).ok());
  }
  auto refused = Open(PlanFor(RunMode::kUpdate, kXml, /*resume=*/true));
  ASSERT_TRUE(std::holds_alternative<std::string>(refused));
  EXPECT_THAT(std::get<std::string>(refused),
              HasSubstr("holds a run of --check"));
  fs::remove_all(dir_);

  // A folder written before the mode was recorded: its accepted check
  // counts for nothing, a completed update does.
  const Plan update = PlanFor(RunMode::kUpdate, kXml, /*resume=*/true);
  const std::string sha = update.snapshot->sha256();
  WriteFile("run.json", R"({"file":"site.xml","sha256":")" + sha + "\"}\n");
  WriteFile(
      "journal.jsonl",
      R"({"device":"d0","result":"accepted","succeeded":true,"sha256":")" +
          sha + "\"}\n" +
          R"({"device":"d1","result":"completed","succeeded":true,"sha256":")" +
          sha + "\"}\n" + R"({"device":"d2","result":"compl)");
  {
    auto opened = Open(update);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<RunRecord>>(opened))
        << std::get<std::string>(opened);
    const auto& record = std::get<std::unique_ptr<RunRecord>>(opened);
    EXPECT_FALSE(record->CompletedBefore("d0"));
    EXPECT_TRUE(record->CompletedBefore("d1"));
    EXPECT_FALSE(record->CompletedBefore("d2"));
  }

  // Nor is another file's run, nor a run.json that is no record.
  auto other = Open(PlanFor(RunMode::kUpdate, kXml + " ", true));
  EXPECT_THAT(std::get<std::string>(other),
              HasSubstr("holds the run of another file"));
  WriteFile("run.json", "[1, 2");
  auto broken = Open(update);
  EXPECT_THAT(std::get<std::string>(broken),
              HasSubstr("run.json does not parse"));
  WriteFile("run.json", R"({"file":"site.xml","sha256":")" + sha + "\"}\n");
  WriteFile("journal.jsonl", "{}\nnot json\n{}\n");
  auto garbled = Open(update);
  EXPECT_THAT(std::get<std::string>(garbled),
              HasSubstr("journal.jsonl line 2 does not parse"));
}

TEST_F(RecordTest, AJournalLineThatCannotBeWrittenStopsTheRun) {
  FakeFleetTime time;
  FakeDeviceRuns runs(time);
  RecordingObserver seen;
  Plan plan = PlanFor(RunMode::kUpdate, kXml);
  plan.devices = PlanOf(6).devices;
  runs.script(0).ms = 3000;  // running when the journal fails: it finishes
  auto opened = Open(plan, /*fail_from=*/1);
  auto& record = std::get<std::unique_ptr<RunRecord>>(opened);
  const RunReport report =
      RunFleet({plan, 100, time, time, runs, seen, record.get()});
  EXPECT_THAT(runs.started, ElementsAre(0, 1));
  EXPECT_THAT(seen.lines, Contains("halt record 1"));
  EXPECT_THAT(seen.lines, Contains("end d0 completed"));
  EXPECT_THAT(report.record_failure, HasSubstr("No space left on device"));
  EXPECT_EQ(report.Count(true, true), 2u);  // kept, and told in the summary
  EXPECT_EQ(ExitStatus(report), exit_status::kRecordIncomplete);
}

TEST_F(RecordTest, AResultFileThatCannotBeWrittenMakesTheRunIncomplete) {
  FakeFleetTime time;
  FakeDeviceRuns runs(time);
  RecordingObserver seen;
  runs.script(1).completes = false;
  const Plan plan = PlanFor(RunMode::kUpdate, kXml);
  auto opened = Open(plan, 1000, "summary.json");
  auto& record = std::get<std::unique_ptr<RunRecord>>(opened);
  const RunReport report =
      RunFleet({plan, 100, time, time, runs, seen, record.get()});
  EXPECT_THAT(report.record_failure, HasSubstr("No space left on device"));
  EXPECT_EQ(ExitStatus(report), exit_status::kRecordIncomplete);
  EXPECT_EQ(seen.lines.back(), "exit 4");
}

#ifndef _WIN32
// junit.xml stays XML whatever a device list or a device's reply holds:
// a real parser reads it back.
TEST_F(RecordTest, JunitXmlIsValidXmlForAnyBytes) {
  RunReport report;
  const std::string hostile[] = {
      "a\xEF\xBF\xBE"
      "b\xEF\xBF\xBF",
      "ctl\x01\x1b[2J\x7f", "bad\xff\xfe utf8", "<&'\"> \xc2\x85 \xed\xa0\x80"};
  for (const std::string& name : hostile) {
    DeviceOutcome outcome;
    outcome.device = name;
    outcome.result = Result::kFailed;
    outcome.update = UpdateOutcome{};
    outcome.update->failures.push_back(Status::Failure(-3, name, name));
    report.outcomes.push_back(outcome);
  }
  fs::create_directories(dir_);
  const std::string path = dir_ + "/junit.xml";
  std::ofstream(path, std::ios::binary) << JunitXml(report, "suite", {});
  const std::string parse =
      "/usr/bin/python3 -c \"import sys, xml.etree.ElementTree as E; "
      "print(len(E.parse(sys.argv[1]).getroot().iter('testcase').__next__()"
      ".attrib))\" " +
      path + " > /dev/null";
  EXPECT_EQ(std::system(parse.c_str()), 0);
}
#endif

// A rollout its window stopped goes on in the next window as one: the
// budget counts every device once, by its latest line.
TEST_F(RecordTest, AResumedWindowRolloutCountsItsBudgetOverTheWholeRollout) {
  Plan plan = PlanFor(RunMode::kUpdate, kXml, /*resume=*/true);
  plan.devices = PlanOf(6).devices;
  plan.jobs = 1;
  plan.max_failures = 2;
  const std::string sha = plan.snapshot->sha256();
  const auto line = [&](const char* device, const char* result, bool ok) {
    return R"({"device":")" + std::string(device) + R"(","result":")" + result +
           R"(","succeeded":)" + (ok ? "true" : "false") + R"(,"sha256":")" +
           sha + "\"}\n";
  };
  WriteFile("run.json", R"({"mode":"update","sha256":")" + sha + "\"}\n");
  WriteFile("journal.jsonl",
            line("d0", "failed", false) + line("d1", "failed", false));
  WriteFile("summary.json", R"({"stopped_by": "window"})");
  FakeFleetTime time;
  FakeDeviceRuns runs(time);
  RecordingObserver seen;
  runs.script(1).completes = false;  // fails again: still one failure
  runs.script(2).completes = false;
  runs.script(3).completes = false;
  auto opened = Open(plan);
  auto& record = std::get<std::unique_ptr<RunRecord>>(opened);
  RunFleet({plan, 100, time, time, runs, seen, record.get()});
  // d0 completes (1 failure left), d1 fails again (still 2), d2 and d3 fail
  // (3 > 2): nothing after d3.
  EXPECT_THAT(runs.started, ElementsAre(0, 1, 2, 3));
  EXPECT_THAT(seen.lines, Contains("halt budget 0"));
}

}  // namespace
}  // namespace hj5::fleet::test
