#ifndef HJ5_CLI_RUN_FOLDER_H_
#define HJ5_CLI_RUN_FOLDER_H_

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <variant>

#include "cli/cli_os.h"
#include "cli/event.h"
#include "cli/output.h"
#include "cli/plan.h"

namespace hj5::cli {

// One device's log in the run's folder: its events with their times and
// causes, a line each (no password is in any event).
// Threading: Write() from the device's worker, one event at a time.
class DeviceLog {
 public:
  explicit DeviceLog(std::FILE* file) : file_(file) {}
  ~DeviceLog();
  DeviceLog(const DeviceLog&) = delete;
  DeviceLog& operator=(const DeviceLog&) = delete;

  void Write(const Event& event, const std::string& time);

 private:
  std::FILE* file_;
};

// The folder of a run (--results DIR, --resume DIR):
//   run.json         the file (its name and SHA-256) and when the run began
//   journal.jsonl    one line per device as it ends, each on the disk
//                    before the next is written
//   logs/            one log per device
//   failed.csv, not-started.csv   in the devices file's own format, every
//                    column kept: --devices DIR/failed.csv is the second
//                    pass
//   summary.json, junit.xml       at the end
// Threading: the front end's thread, but for the device logs.
class RunFolder {
 public:
  // Opens or creates the folder for `plan`'s run. Refused, with the
  // reason: a folder holding the run of another file, a folder to resume
  // that holds no run, a folder that cannot be written.
  static std::variant<std::unique_ptr<RunFolder>, std::string> Open(
      const Plan& plan, const std::string& file_path);

  // The devices its journal says completed with this file.
  const std::set<std::string>& completed() const { return completed_; }

  // A log for device `index` of the plan; nullptr when it cannot be made.
  std::unique_ptr<DeviceLog> OpenLog(std::size_t index);

  // Appends the device's line to the journal and syncs it to the disk.
  // False when that failed.
  bool Journal(const DeviceOutcome& outcome, const std::string& time);

  // failed.csv, not-started.csv, summary.json and junit.xml. False, with
  // the reason in `*error`, when one of them could not be written.
  bool Finish(const RunReport& report, int exit_status, const std::string& time,
              std::string* error);

 private:
  RunFolder(const Plan& plan, std::string dir)
      : plan_(plan), dir_(std::move(dir)) {}
  std::string Path(const std::string& name) const;

  const Plan& plan_;
  const std::string dir_;
  std::set<std::string> completed_;
  std::unique_ptr<DurableFile> journal_;
};

}  // namespace hj5::cli

#endif  // HJ5_CLI_RUN_FOLDER_H_
