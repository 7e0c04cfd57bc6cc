#include "fleet/window.h"

#include <cstdio>

namespace hj5::fleet {
namespace {

// "HH:MM" as minutes after midnight; -1 when it is none.
int Minutes(std::string_view text) {
  if (text.size() != 5 || text[2] != ':') return -1;
  for (std::size_t i : {0, 1, 3, 4})
    if (text[i] < '0' || text[i] > '9') return -1;
  const int hours = (text[0] - '0') * 10 + (text[1] - '0');
  const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
  if (hours > 23 || minutes > 59) return -1;
  return hours * 60 + minutes;
}

}  // namespace

std::string Window::Clock(int minute_of_day) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d", minute_of_day / 60,
                minute_of_day % 60);
  return text;
}

std::string Window::Text() const { return Clock(start) + "-" + Clock(end); }

std::optional<Window> ParseWindow(std::string_view text, std::string* error) {
  const std::size_t dash = text.find('-');
  const int start = dash == 5 ? Minutes(text.substr(0, 5)) : -1;
  const int end = dash == 5 ? Minutes(text.substr(6)) : -1;
  if (start < 0 || end < 0) {
    *error = "--window: not HH:MM-HH:MM (00:00 to 23:59): " + std::string(text);
    return std::nullopt;
  }
  if (start == end) {
    *error = "--window: its start and its end are the same time";
    return std::nullopt;
  }
  return Window{start, end};
}

}  // namespace hj5::fleet
