#ifndef HJ5_CLI_REPORT_JSON_H_
#define HJ5_CLI_REPORT_JSON_H_

#include <nlohmann/json.hpp>
#include <string>

#include "cli/output.h"

namespace hj5::cli {

// A device's entry of the summary (and of the journal).
nlohmann::ordered_json DeviceJson(const DeviceOutcome& outcome);

// The summary object of a run.
nlohmann::ordered_json SummaryJson(const RunReport& report, int exit_status,
                                   const std::string& time);

// A JSON value as one line; a byte that is no part of valid UTF-8 (texts
// from devices and servers may hold any) becomes U+FFFD.
std::string JsonLineOf(const nlohmann::ordered_json& value);

}  // namespace hj5::cli

#endif  // HJ5_CLI_REPORT_JSON_H_
