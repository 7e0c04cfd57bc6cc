#include "fleet/run_record.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "fleet/device_list.h"
#include "fleet/record_json.h"

namespace hj5::fleet {
namespace {

// A device's label as a part of a file name: what is no letter, digit, dot
// or hyphen becomes "_".
std::string FileNamePart(const std::string& label) {
  std::string part = label;
  for (char& c : part) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || c == '.' || c == '-';
    if (!plain) c = '_';
  }
  return part;
}

// Whether XML 1.0 may hold the code point.
bool XmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Text fit for XML 1.0: valid UTF-8 (a stray byte becomes U+FFFD, as in
// the JSON output), the five special characters escaped, each character
// XML cannot hold (controls, U+FFFE, U+FFFF) as "?".
std::string Xml(const std::string& text) {
  const std::string utf8 =
      nlohmann::json::parse(JsonLineOf(nlohmann::ordered_json(text)))
          .get<std::string>();
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xE0 ? 2
                               : lead < 0xF0 ? 3
                                             : 4;
    char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (std::size_t k = 1; k < length; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    const std::string_view bytes(utf8.data() + i, length);
    i += length;
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += XmlChar(c) ? std::string(bytes) : "?";
    }
  }
  return out;
}

// The devices of the plan that `pick` chooses, as a devices file.
template <typename Pick>
std::string DevicesCsv(const Plan& plan, const RunReport& report, Pick pick) {
  std::string csv = CsvRow(plan.columns) + "\n";
  for (std::size_t i = 0; i < report.outcomes.size(); ++i) {
    if (pick(report.outcomes[i])) csv += CsvRow(plan.devices[i].fields) + "\n";
  }
  return csv;
}

Status Incomplete(const std::string& what, const Status& failed) {
  return Status::Failure(failed.code(), what + ": " + failed.cause());
}

}  // namespace

bool DeviceLog::Write(const Event& event) {
  if (failed_) return false;
  if (event.kind == EventKind::kTick) return true;
  std::string line = UtcText(event.time) + " " + EventKindName(event.kind);
  if (event.kind == EventKind::kUpload || event.kind == EventKind::kUploaded) {
    line += " " + std::to_string(event.bytes) + "/" +
            std::to_string(event.total) + " bytes";
  }
  if (event.kind == EventKind::kUploaded)
    line += ", result " + std::to_string(event.code);
  if (const std::string text = EventText(event); !text.empty())
    line += " " + text;
  if (!event.cause.empty()) line += " (" + event.cause + ")";
  if (event.kind == EventKind::kWarning && event.code != 0)
    line += " [" + std::to_string(event.code) + "]";
  failed_ = !file_->Append(line + "\n").ok();
  return !failed_;
}

std::variant<std::unique_ptr<RunRecord>, std::string> RunRecord::Open(
    const Plan& plan, WallTime began) {
  const std::string& dir = *plan.results_dir;
  std::unique_ptr<OwnFolder> folder;
  if (Status opened = OwnFolder::Open(dir, FolderUse::kWrite, &folder);
      !opened.ok())
    return opened.cause();
  return Open(plan, began, std::move(folder));
}

std::variant<std::unique_ptr<RunRecord>, std::string> RunRecord::Open(
    const Plan& plan, WallTime began, std::unique_ptr<OwnFolder> folder) {
  if (Status locked = folder->Lock(); !locked.ok())
    return *plan.results_dir + ": " + locked.cause();
  std::unique_ptr<RunRecord> record(new RunRecord(plan, std::move(folder)));
  if (std::string refused = record->ReadRun(began); !refused.empty())
    return refused;
  if (std::string refused = record->ReadJournal(); !refused.empty())
    return refused;
  std::string summary;
  if (record->folder_->Read("summary.json", kRunJsonLimit, &summary).ok()) {
    const nlohmann::json last = nlohmann::json::parse(summary, nullptr, false);
    record->stopped_by_window_ =
        last.is_object() &&
        last.value("stopped_by", nlohmann::json()) == "window";
  }
  OwnFolder& own = *record->folder_;
  if (Status opened = own.OpenAppend("journal.jsonl", &record->journal_);
      !opened.ok())
    return record->Refusal(opened.cause());
  if (Status made = own.Sub("logs", &record->logs_); !made.ok())
    return record->Refusal(made.cause());
  // The journal's name must outlast a power cut too, where the system lets
  // a folder be synced.
  static_cast<void>(own.SyncNames());
  return record;
}

std::string RunRecord::Refusal(const std::string& why) const {
  return *plan_.results_dir + ": " + why;
}

// run.json: a new folder gets one; an existing one must record this mode
// and this file.
std::string RunRecord::ReadRun(WallTime began) {
  const std::string sha256 = plan_.snapshot ? plan_.snapshot->sha256() : "";
  std::string text;
  const Status read = folder_->Read("run.json", kRunJsonLimit, &text);
  if (read.code() == folder_code::kNotFound) {
    if (plan_.resume) return Refusal("holds no run to resume");
    nlohmann::ordered_json run = {
        {"mode", ModeName(plan_.mode)},
        {"file", plan_.file ? plan_.file->path : ""},
        {"sha256", sha256},
        {"size", plan_.snapshot ? plan_.snapshot->Size() : 0},
        {"started", UtcText(began)}};
    // What a report shows of a run that never ended: every device with the
    // operator's own columns, none of the known ones (no password).
    const std::vector<std::size_t> own = OperatorColumns(plan_.columns);
    nlohmann::ordered_json columns = nlohmann::ordered_json::array();
    for (std::size_t column : own) columns.push_back(plan_.columns[column]);
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const PlannedDevice& device : plan_.devices) {
      nlohmann::ordered_json values = nlohmann::ordered_json::array();
      for (std::size_t column : own)
        values.push_back(column < device.fields.size() ? device.fields[column]
                                                       : "");
      devices.push_back({device.label, std::move(values)});
    }
    run["columns"] = std::move(columns);
    run["devices"] = std::move(devices);
    if (Status written = folder_->Write("run.json", JsonLineOf(run) + "\n");
        !written.ok())
      return Refusal(written.cause());
    return "";
  }
  if (!read.ok()) return Refusal(read.cause());
  const nlohmann::json run = nlohmann::json::parse(text, nullptr, false);
  if (!run.is_object() || !run.contains("sha256") || !run["sha256"].is_string())
    return Refusal("run.json does not parse as a run's record");
  // A folder written before the mode was recorded held an update.
  const std::string mode = run.value("mode", std::string("update"));
  if (mode != ModeName(plan_.mode)) {
    return Refusal("holds a run of --" + mode + ", not of " +
                   (plan_.mode == RunMode::kUpdate
                        ? std::string("an update")
                        : "--" + std::string(ModeName(plan_.mode))));
  }
  const std::string recorded = run["sha256"];
  if (recorded != sha256) {
    return Refusal("holds the run of another file (" +
                   run.value("file", std::string("?")) + ", SHA-256 " +
                   recorded + "); this file's is " + sha256);
  }
  return "";
}

// The journal's lines, each device by its latest. The last line, cut by a
// crash before its line end, is left out; any other line that does not
// parse, or is longer than a line can be, refuses the folder.
std::string RunRecord::ReadJournal() {
  std::string text;
  const Status read = folder_->Read("journal.jsonl", kJournalLimit, &text);
  if (read.code() == folder_code::kNotFound) return "";
  if (!read.ok()) return Refusal(read.cause());
  const std::string sha256 = plan_.snapshot ? plan_.snapshot->sha256() : "";
  std::size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // cut by a crash
    const std::string_view bytes =
        std::string_view(text).substr(start, end - start);
    start = end + 1;
    const nlohmann::json line =
        bytes.size() > kJournalLineLimit
            ? nlohmann::json()
            : nlohmann::json::parse(bytes, nullptr, false);
    if (!line.is_object()) {
      return Refusal("journal.jsonl line " + std::to_string(number) +
                     " does not parse as a device's line");
    }
    if (line.value("sha256", "") != sha256) continue;
    const std::optional<Result> result =
        ResultNamed(line.value("result", std::string()));
    if (!result) continue;
    recorded_[line.value("device", std::string())] =
        Recorded{*result, line.value("succeeded", false)};
  }
  return "";
}

bool RunRecord::FailedBefore(const std::string& device) const {
  const auto found = recorded_.find(device);
  return found != recorded_.end() && !found->second.succeeded &&
         found->second.result != Result::kNotStarted;
}

bool RunRecord::CompletedBefore(const std::string& device) const {
  const auto found = recorded_.find(device);
  return found != recorded_.end() &&
         (found->second.result == Result::kCompleted ||
          found->second.result == Result::kCompletedBefore);
}

std::string DeviceLogName(std::size_t index, const std::string& label) {
  char number[16];
  std::snprintf(number, sizeof number, "%04zu-", index + 1);
  return number + FileNamePart(label) + ".log";
}

std::unique_ptr<DeviceLog> RunRecord::OpenLog(std::size_t index) {
  const std::string name = DeviceLogName(index, plan_.devices[index].label);
  std::unique_ptr<AppendFile> file;
  if (Status opened = logs_->OpenAppend(name, &file); !opened.ok()) {
    NoteMissing("logs/" + opened.cause());
    return nullptr;
  }
  return std::make_unique<DeviceLog>(std::move(file));
}

Status RunRecord::Journal(const DeviceOutcome& outcome, WallTime time) {
  nlohmann::ordered_json entry = DeviceJson(outcome);
  entry["sha256"] = plan_.snapshot ? plan_.snapshot->sha256() : "";
  entry["time"] = UtcText(time);
  if (Status written = journal_->Append(JsonLineOf(entry) + "\n");
      !written.ok())
    return Incomplete("journal.jsonl", written);
  if (Status synced = journal_->Sync(); !synced.ok())
    return Incomplete("journal.jsonl", synced);
  return Status();
}

Status RunRecord::Finish(const RunReport& report, int exit_status,
                         WallTime time) {
  const std::string suite =
      "hj5-update " + (plan_.file ? plan_.file->name : std::string());
  const auto failed = [](const DeviceOutcome& o) {
    return o.started() && !o.succeeded;
  };
  const auto not_started = [](const DeviceOutcome& o) { return !o.started(); };
  const std::pair<const char*, std::string> files[] = {
      {"failed.csv", DevicesCsv(plan_, report, failed)},
      {"not-started.csv", DevicesCsv(plan_, report, not_started)},
      {"summary.json",
       SummaryJson(report, exit_status, time)
               .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
           "\n"},
      {"junit.xml", JunitXml(report, suite, time)}};
  for (const auto& [name, text] : files) {
    if (Status written = folder_->Write(name, text); !written.ok())
      return written;
  }
  return Status();
}

std::string RunRecord::Missing() const {
  std::lock_guard lock(mutex_);
  return missing_;
}

void RunRecord::NoteMissing(const std::string& what) {
  std::lock_guard lock(mutex_);
  if (missing_.empty()) missing_ = what;
}

std::string JunitXml(const RunReport& report, const std::string& suite,
                     WallTime time) {
  std::string cases;
  for (const DeviceOutcome& outcome : report.outcomes) {
    cases += "    <testcase classname=\"hj5-update\" name=\"" +
             Xml(outcome.device) + "\" time=\"" +
             std::to_string(outcome.seconds) + "\"";
    if (!outcome.started()) {
      cases += ">\n      <skipped message=\"not started\"/>\n    </testcase>\n";
    } else if (outcome.succeeded) {
      cases += "/>\n";
    } else {
      // The message is the first failure the operator was told, else the
      // device's last text.
      std::string message = outcome.text;
      std::string body;
      if (outcome.update) {
        const auto& failures = outcome.update->failures;
        if (!failures.empty() && !failures.front().text().empty())
          message = failures.front().text();
        for (const Status& failure : failures) {
          body += failure.text();
          if (!failure.cause().empty()) body += " (" + failure.cause() + ")";
          body += "\n";
        }
      }
      cases += ">\n      <failure type=\"" + Xml(ResultName(outcome.result)) +
               "\" message=\"" + Xml(message) + "\">" + Xml(body) +
               "</failure>\n    </testcase>\n";
    }
  }
  const std::string counts =
      " tests=\"" + std::to_string(report.outcomes.size()) + "\" failures=\"" +
      std::to_string(report.Count(true, false)) + "\" skipped=\"" +
      std::to_string(report.Count(false, false)) + "\"";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites "
         "name=\"hj5-update\"" +
         counts + ">\n  <testsuite name=\"" + Xml(suite) + "\"" + counts +
         " timestamp=\"" + Xml(UtcText(time)) + "\">\n" + cases +
         "  </testsuite>\n</testsuites>\n";
}

}  // namespace hj5::fleet
