#ifndef HJ5_CLI_WEB_REPORT_H_
#define HJ5_CLI_WEB_REPORT_H_

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/status.h"

namespace hj5::cli::web {

// Writes DIR/report.html: the run's page as one file with nothing to
// fetch (styles, script, chart and data inside it), readable offline and
// printable, made from the run's record alone (run.json, the journal, the
// logs, summary.json when the run got that far), so that it serves any
// folder, one whose run was killed included. It only reads the record and
// takes no lock. `*path` is the report's path.
Status WriteReport(const std::string& dir, std::string* path);

// The page's data of the record in DIR (what page.js reads), for tests.
Status ReportData(const std::string& dir, nlohmann::ordered_json* data);

// "2026-01-31T12:34:56.789Z" as ms since the epoch; nullopt for anything
// else.
std::optional<std::int64_t> UtcMs(const std::string& text);

}  // namespace hj5::cli::web

#endif  // HJ5_CLI_WEB_REPORT_H_
