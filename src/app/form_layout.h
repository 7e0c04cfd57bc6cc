#ifndef HJ5_APP_FORM_LAYOUT_H_
#define HJ5_APP_FORM_LAYOUT_H_

#include <QFont>
#include <QRect>

#include "app/form_table.h"

namespace hj5 {

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
