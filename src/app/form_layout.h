#ifndef HJ5_APP_FORM_LAYOUT_H_
#define HJ5_APP_FORM_LAYOUT_H_

#include <QFont>
#include <QRect>
#include <span>

namespace hj5 {

// The form's size in dialog units.
inline constexpr int kFormWidthUnits = 185;
inline constexpr int kFormHeightUnits = 125;

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

// The form's font, "MS Sans Serif" at 9 points. Where that face is missing,
// a sans serif of Arial's metrics stands in before the toolkit's general
// fallback.
QFont FormFont();

// The dialog base units of a font, derived as Windows derives them for a
// dialog: x is the average width of "A".."Z" "a".."z" rounded to a whole
// pixel, y the font's height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Turns a rectangle in dialog units into pixels: x and widths times x / 4,
// y and heights times y / 8, each rounded to the nearest pixel.
QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base);

}  // namespace hj5

#endif  // HJ5_APP_FORM_LAYOUT_H_
