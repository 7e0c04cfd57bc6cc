#include "cli/run_folder.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <system_error>

#include "cli/device_list.h"
#include "cli/report_json.h"

namespace hj5::cli {
namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes the whole file through a temporary one renamed over it, so that a
// reader never finds half of it.
bool WriteWhole(const fs::path& path, const std::string& text,
                std::string* error) {
  fs::path part = path;
  part += ".part";
  {
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      *error = Utf8Of(path) + ": cannot be written";
      return false;
    }
  }
  std::error_code failed;
  fs::rename(part, path, failed);
  if (failed) *error = Utf8Of(path) + ": " + failed.message();
  return !failed;
}

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

// Text fit for XML 1.0: valid UTF-8 (a stray byte becomes U+FFFD, as in
// the JSON output), the five special characters escaped, the control
// characters it cannot hold as "?".
std::string Xml(const std::string& text) {
  const std::string utf8 =
      nlohmann::json::parse(JsonLineOf(nlohmann::ordered_json(text)))
          .get<std::string>();
  std::string out;
  for (unsigned char c : utf8) {
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
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += '?';
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

// One test case a device, its failures with the operator's text and cause.
std::string JunitXml(const RunReport& report, const std::string& suite,
                     const std::string& time) {
  std::string cases;
  for (const DeviceOutcome& outcome : report.outcomes) {
    cases += "    <testcase classname=\"hj5-update\" name=\"" +
             Xml(outcome.device) + "\" time=\"" +
             std::to_string(outcome.seconds) + "\"";
    if (outcome.result == "not started") {
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
      cases += ">\n      <failure type=\"" + Xml(outcome.result) +
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
         " timestamp=\"" + Xml(time) + "\">\n" + cases +
         "  </testsuite>\n</testsuites>\n";
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

}  // namespace

DeviceLog::~DeviceLog() {
  if (file_) std::fclose(file_);
}

void DeviceLog::Write(const Event& event, const std::string& time) {
  if (!file_ || event.kind == "tick") return;
  std::string line = time + " " + event.kind;
  if (event.bytes) {
    line += " " + std::to_string(*event.bytes) + "/" +
            std::to_string(event.total.value_or(0)) + " bytes";
  }
  if (event.result) line += ", result " + std::to_string(*event.result);
  if (!event.text.empty()) line += " " + event.text;
  if (!event.cause.empty()) line += " (" + event.cause + ")";
  std::fputs((line + "\n").c_str(), file_);
  std::fflush(file_);
}

std::variant<std::unique_ptr<RunFolder>, std::string> RunFolder::Open(
    const Plan& plan, const std::string& file_path) {
  const std::string& dir = *plan.results_dir;
  std::error_code failed;
  fs::create_directories(PathOf(dir) / "logs", failed);
  if (failed) return dir + ": " + failed.message();
  std::unique_ptr<RunFolder> folder(new RunFolder(plan, dir));
  const fs::path run = PathOf(folder->Path("run.json"));
  const nlohmann::json recorded =
      nlohmann::json::parse(ReadText(run), nullptr, false);
  if (recorded.is_object() && recorded.contains("sha256")) {
    const std::string sha256 = recorded.value("sha256", "");
    if (sha256 != plan.file_sha256) {
      return dir + " holds the run of another file (" +
             recorded.value("file", std::string("?")) + ", SHA-256 " + sha256 +
             "); this file's is " + plan.file_sha256;
    }
  } else if (plan.resume) {
    return dir + " holds no run to resume";
  } else {
    std::string error;
    const nlohmann::ordered_json record = {{"file", file_path},
                                           {"sha256", plan.file_sha256}};
    if (!WriteWhole(run, JsonLineOf(record) + "\n", &error)) return error;
  }
  for (std::string line : [&] {
         std::vector<std::string> lines;
         std::ifstream in(PathOf(folder->Path("journal.jsonl")));
         for (std::string l; std::getline(in, l);) lines.push_back(l);
         return lines;
       }()) {
    // A line cut by a crash does not parse and is left out.
    const nlohmann::json entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_object() && entry.value("succeeded", false) &&
        entry.value("sha256", "") == plan.file_sha256) {
      folder->completed_.insert(entry.value("device", ""));
    }
  }
  std::string error;
  folder->journal_ = DurableFile::Open(folder->Path("journal.jsonl"), &error);
  if (!folder->journal_) return error;
  return folder;
}

std::string RunFolder::Path(const std::string& name) const {
  return Utf8Of(PathOf(dir_) / PathOf(name));
}

std::unique_ptr<DeviceLog> RunFolder::OpenLog(std::size_t index) {
  char number[16];
  std::snprintf(number, sizeof number, "%04zu-", index + 1);
  const fs::path path =
      PathOf(dir_) / "logs" /
      PathOf(number + FileNamePart(plan_.devices[index].label) + ".log");
#ifdef _WIN32
  std::FILE* file = _wfopen(path.c_str(), L"ab");
#else
  std::FILE* file = std::fopen(path.c_str(), "ab");
#endif
  if (!file) return nullptr;
  return std::make_unique<DeviceLog>(file);
}

bool RunFolder::Journal(const DeviceOutcome& outcome, const std::string& time) {
  nlohmann::ordered_json entry = DeviceJson(outcome);
  entry["sha256"] = plan_.file_sha256;
  entry["time"] = time;
  return journal_->Append(JsonLineOf(entry));
}

bool RunFolder::Finish(const RunReport& report, int exit_status,
                       const std::string& time, std::string* error) {
  const std::string suite =
      "hj5-update " + (plan_.file ? plan_.file->name : std::string());
  return WriteWhole(PathOf(Path("failed.csv")),
                    DevicesCsv(plan_, report,
                               [](const DeviceOutcome& o) {
                                 return o.result != "not started" &&
                                        !o.succeeded;
                               }),
                    error) &&
         WriteWhole(PathOf(Path("not-started.csv")),
                    DevicesCsv(plan_, report,
                               [](const DeviceOutcome& o) {
                                 return o.result == "not started";
                               }),
                    error) &&
         WriteWhole(PathOf(Path("summary.json")),
                    SummaryJson(report, exit_status, time)
                            .dump(2, ' ', false,
                                  nlohmann::json::error_handler_t::replace) +
                        "\n",
                    error) &&
         WriteWhole(PathOf(Path("junit.xml")), JunitXml(report, suite, time),
                    error);
}

}  // namespace hj5::cli
