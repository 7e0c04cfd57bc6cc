#ifndef HJ5_CLI_WEB_PAGE_H_
#define HJ5_CLI_WEB_PAGE_H_

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace hj5::cli::web {

// The page's parts, embedded at build time (page.html, page.css, page.js
// and Debian's Chart.js).
extern const std::string_view kPageHtml;
extern const std::string_view kPageCss;
extern const std::string_view kPageJs;
extern const std::string_view kChartJs;

// The one page of a run, everything inside it: the live one, with its
// token, or a report, with none. `data` is what page.js reads.
std::string PageHtml(const nlohmann::ordered_json& data,
                     const std::string& token);

// JSON text fit for the inside of a <script> element and for an event
// stream's line: "<" as \u003c, a byte that is no UTF-8 as U+FFFD.
std::string ScriptJson(const nlohmann::ordered_json& value);

}  // namespace hj5::cli::web

#endif  // HJ5_CLI_WEB_PAGE_H_
