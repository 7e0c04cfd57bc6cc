#ifndef HJ5_FLEET_RUN_RECORD_H_
#define HJ5_FLEET_RUN_RECORD_H_

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "fleet/event.h"
#include "fleet/outcome.h"
#include "fleet/plan.h"
#include "platform/own_folder.h"

namespace hj5::fleet {

// One device's log in the run's folder: its events with their times and
// causes, a line each (no password is in any event).
// Threading: Write() from the device's worker, one event at a time.
class DeviceLog {
 public:
  explicit DeviceLog(std::unique_ptr<AppendFile> file)
      : file_(std::move(file)) {}

  // False once a line could not be written.
  bool Write(const Event& event);

 private:
  std::unique_ptr<AppendFile> file_;
  bool failed_ = false;
};

// What an earlier run's journal says of a device: its latest line.
struct Recorded {
  Result result = Result::kNotStarted;
  bool succeeded = false;
};

// The record of a run in its folder (--results DIR, --resume DIR), written
// by the engine as the run goes, never through output:
//   run.json         the mode, the file (name, SHA-256, size), when it began
//   journal.jsonl    one line per device as it ends, each synced to the
//                    disk before the run goes on: the run's write-ahead log
//   logs/            one log per device
//   failed.csv, not-started.csv   in the devices file's own format, every
//                    column kept (the one place a password column is kept):
//                    --devices DIR/failed.csv is the second pass
//   summary.json, junit.xml       at the end
// The folder is the user's own (OwnFolder) and locked for the run's life.
// Threading: the engine's thread, but for the device logs.
class RunRecord {
 public:
  // The most bytes of run.json and of the journal that are read.
  static constexpr std::size_t kRunJsonLimit = 64 << 20;
  static constexpr std::size_t kJournalLimit = 256 << 20;
  static constexpr std::size_t kJournalLineLimit = 1 << 20;

  // Opens or creates the folder for `plan`'s run and takes its lock.
  // Refused, with the reason: a folder another run holds; one holding the
  // run of another mode or file; a folder to resume that holds no run; a
  // folder not the user's own; a record that does not parse.
  static std::variant<std::unique_ptr<RunRecord>, std::string> Open(
      const Plan& plan, WallTime began);
  // The same in a folder already open (a test's, whose files fail on cue).
  static std::variant<std::unique_ptr<RunRecord>, std::string> Open(
      const Plan& plan, WallTime began, std::unique_ptr<OwnFolder> folder);

  // True when an earlier pass completed this device's update with this
  // file: only a journal line saying "completed" counts.
  bool CompletedBefore(const std::string& device) const;

  // The folder's last run was stopped by its window: a resume goes on with
  // the same rollout, its canary and budget counting every device once, by
  // its latest journal line.
  bool StoppedByWindow() const { return stopped_by_window_; }
  // The device failed in an earlier pass (its latest line says so).
  bool FailedBefore(const std::string& device) const;

  // A log for device `index` of the plan; nullptr when it cannot be made
  // (the record is then incomplete).
  std::unique_ptr<DeviceLog> OpenLog(std::size_t index);

  // Appends the device's line to the journal and syncs it to the disk.
  Status Journal(const DeviceOutcome& outcome, WallTime time);

  // failed.csv, not-started.csv, summary.json and junit.xml.
  Status Finish(const RunReport& report, int exit_status, WallTime time);

  // Why a part of the record is missing so far (a log that could not be
  // written); empty when none is.
  std::string Missing() const;
  void NoteMissing(const std::string& what);

 private:
  RunRecord(const Plan& plan, std::unique_ptr<OwnFolder> folder)
      : plan_(plan), folder_(std::move(folder)) {}
  std::string Refusal(const std::string& why) const;
  std::string ReadRun(WallTime began);
  std::string ReadJournal();

  const Plan& plan_;
  const std::unique_ptr<OwnFolder> folder_;
  std::unique_ptr<OwnFolder> logs_;
  std::unique_ptr<AppendFile> journal_;
  std::map<std::string, Recorded> recorded_;  // by device label
  bool stopped_by_window_ = false;
  mutable std::mutex mutex_;
  std::string missing_;  // guarded by mutex_
};

// The name of device `index`'s log in logs/: "0001-127.0.0.1_8080.log".
std::string DeviceLogName(std::size_t index, const std::string& label);

// junit.xml of a run: one test case a device.
std::string JunitXml(const RunReport& report, const std::string& suite,
                     WallTime time);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_RUN_RECORD_H_
