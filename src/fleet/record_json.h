#ifndef HJ5_FLEET_RECORD_JSON_H_
#define HJ5_FLEET_RECORD_JSON_H_

#include <nlohmann/json.hpp>
#include <string>

#include "fleet/event.h"
#include "fleet/outcome.h"

namespace hj5::fleet {

// The words of the run's record and of the JSON output, one place for
// both: they are a file format, kept as scripts read them.

// "2026-01-31T12:34:56.789Z".
std::string UtcText(WallTime time);

// An event's kind and text as the record writes them: "status",
// "warning", ..., the restart counter's as "timer" with "start" or "stop".
const char* EventKindName(EventKind kind);
std::string EventText(const Event& event);

// A device's entry of the summary and of the journal.
nlohmann::ordered_json DeviceJson(const DeviceOutcome& outcome);

// The summary object of a run.
nlohmann::ordered_json SummaryJson(const RunReport& report, int exit_status,
                                   WallTime time);

// What stops a run early, as the summary names it ("canary", "budget",
// "window", "record"); null when nothing did.
nlohmann::ordered_json StoppedByJson(const RunReport& report);

// A JSON value as one line; a byte that is no part of valid UTF-8 (texts
// from devices and servers may hold any) becomes U+FFFD.
std::string JsonLineOf(const nlohmann::ordered_json& value);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_RECORD_JSON_H_
