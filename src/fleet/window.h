#ifndef HJ5_FLEET_WINDOW_H_
#define HJ5_FLEET_WINDOW_H_

#include <optional>
#include <string>
#include <string_view>

namespace hj5::fleet {

// A maintenance window, "01:00-05:00", in the machine's local time: the
// devices of a run start only while it is open. A window whose end comes
// before its start crosses midnight ("22:00-02:00").
struct Window {
  int start = 0;  // minutes after midnight
  int end = 0;

  bool Open(int minute_of_day) const {
    return start < end ? minute_of_day >= start && minute_of_day < end
                       : minute_of_day >= start || minute_of_day < end;
  }
  // "01:00-05:00", and one end of it: "01:00".
  std::string Text() const;
  static std::string Clock(int minute_of_day);
};

// "HH:MM-HH:MM" (00:00 to 23:59, the two ends apart); nullopt with why in
// `*error`.
std::optional<Window> ParseWindow(std::string_view text, std::string* error);

}  // namespace hj5::fleet

#endif  // HJ5_FLEET_WINDOW_H_
