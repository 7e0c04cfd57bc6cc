#include "cli/web/page.h"

namespace hj5::cli::web {
namespace {

// Replaces the first `marker` of `text` by `value`.
void Fill(std::string& text, std::string_view marker, std::string_view value) {
  const std::size_t at = text.find(marker);
  if (at != std::string::npos) text.replace(at, marker.size(), value);
}

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
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
      case '{':
        out += "&#123;";
        break;  // never a marker
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

std::string ScriptJson(const nlohmann::ordered_json& value) {
  const std::string text =
      value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '<') {
      out += "\\u003c";
    } else {
      out += c;
    }
  }
  return out;
}

std::string PageHtml(const nlohmann::ordered_json& data,
                     const std::string& token) {
  std::string title = "hj5-update";
  if (data.contains("file") && data["file"].is_object())
    title += ": " + data["file"].value("name", std::string());
  std::string page(kPageHtml);
  Fill(page, "/*HJ5_STYLE*/", kPageCss);
  Fill(page, "/*HJ5_CHART*/", kChartJs);
  Fill(page, "/*HJ5_APP*/", kPageJs);
  Fill(page, "{{HJ5_TOKEN}}", token);
  Fill(page, "{{HJ5_TITLE}}", HtmlEscaped(title));
  // Last, so that nothing a device or a list says is taken for a marker.
  Fill(page, "{{HJ5_DATA}}", ScriptJson(data));
  return page;
}

}  // namespace hj5::cli::web
