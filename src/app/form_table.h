#ifndef HJ5_APP_FORM_TABLE_H_
#define HJ5_APP_FORM_TABLE_H_

#include <span>

namespace hj5 {

// The main form as both toolkits build it: its size in dialog units, its
// font and its controls in tab order.
inline constexpr int kFormWidthUnits = 185;
inline constexpr int kFormHeightUnits = 125;
inline constexpr char kFormFontFace[] = "MS Sans Serif";
inline constexpr int kFormFontPoints = 9;

// The kinds of control on the form.
enum class ControlKind { kLabel, kEdit, kButton, kLogo };

// What sets a control apart from the plain kind.
enum ControlFlag : unsigned {
  kHidden = 1u << 0,
  kReadOnly = 1u << 1,
  kNoBorder = 1u << 2,
  kDigitsOnly = 1u << 3,
  kDefaultButton = 1u << 4,
};

// One control of the form. Controls with a number carry their ControlId;
// the others kNoControlId and a descriptive name.
struct ControlRow {
  ControlKind kind;
  int id;
  const char* name;
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned flags;
};

inline constexpr int kNoControlId = -1;

// The form's controls in tab order.
std::span<const ControlRow> FormControls();

// The maker's label, whose text is the maker's name.
const ControlRow& MakerLabel();

}  // namespace hj5

#endif  // HJ5_APP_FORM_TABLE_H_
