#include "app/form_layout.h"

#include <QFontMetrics>
#include <QString>
#include <QStringList>

namespace hj5 {
namespace {

// Windows' MulDiv for non-negative values: a * b / c rounded to nearest.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

}  // namespace

QFont FormFont() {
  const QString family = QString::fromLatin1(kFormFontFace);
  QFont::insertSubstitutions(
      family, {QStringLiteral("Microsoft Sans Serif"),
               QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  return QFont(family, kFormFontPoints);
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  QFontMetrics metrics(font);
  const int width = metrics.horizontalAdvance(kAlphabet);
  return DialogBaseUnits{(width + 26) / 52, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& units, DialogBaseUnits base) {
  return QRect(MulDiv(units.x(), base.x, 4), MulDiv(units.y(), base.y, 8),
               MulDiv(units.width(), base.x, 4),
               MulDiv(units.height(), base.y, 8));
}

}  // namespace hj5
