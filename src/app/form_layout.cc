#include "app/form_layout.h"

#include <QFontMetrics>
#include <QString>
#include <QStringList>

#include "platform/form_ops.h"

namespace hj5 {
namespace {

constexpr int Id(ControlId id) { return static_cast<int>(id); }

// clang-format off
constexpr ControlRow kControls[] = {
    {ControlKind::kLabel, kNoControlId, "labelAddress", "Address", 7, 11, 31, 8, 0},
    {ControlKind::kLabel, kNoControlId, "labelLoginId", "Login ID", 7, 25, 31, 8, 0},
    {ControlKind::kLabel, kNoControlId, "labelPassword", "Password", 7, 42, 31, 8, 0},
    {ControlKind::kLabel, kNoControlId, "labelPortNo", "Port No.", 7, 58, 31, 8, kHidden},
    {ControlKind::kLabel, kNoControlId, "labelHttp", "HTTP", 43, 57, 19, 8, kHidden},
    {ControlKind::kLabel, kNoControlId, "labelFtp", "FTP", 46, 61, 15, 8, kHidden},
    {ControlKind::kEdit, Id(ControlId::kAddress), nullptr, "", 39, 7, 66, 12, 0},
    {ControlKind::kEdit, Id(ControlId::kLoginId), nullptr, "", 39, 23, 66, 12, 0},
    {ControlKind::kEdit, Id(ControlId::kPassword), nullptr, "", 39, 39, 66, 12, 0},
    {ControlKind::kEdit, Id(ControlId::kHttpPort), nullptr, "", 96, 59, 41, 12,
     kDigitsOnly | kHidden},
    {ControlKind::kEdit, Id(ControlId::kFtpPort), nullptr, "", 64, 61, 41, 12,
     kDigitsOnly | kReadOnly | kHidden},
    {ControlKind::kEdit, Id(ControlId::kNotice), nullptr, "", 7, 65, 170, 12,
     kReadOnly | kNoBorder},
    {ControlKind::kEdit, Id(ControlId::kStatus), nullptr, "", 7, 78, 170, 12, kReadOnly},
    {ControlKind::kButton, Id(ControlId::kClose), nullptr, "Close", 127, 103, 50, 15,
     kDefaultButton},
    {ControlKind::kLogo, kNoControlId, "logo", "", 6, 108, 23, 10, 0},
    {ControlKind::kLabel, kNoControlId, "labelMaker", "Quorvel Corporation", 34, 110,
     57, 8, 0},
    {ControlKind::kButton, Id(ControlId::kUpdate), nullptr, "XML-UPDATE", 119, 33, 59,
     23, 0},
};
// clang-format on

// Windows' MulDiv for non-negative values: a * b / c rounded to nearest.
int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

}  // namespace

std::span<const ControlRow> FormControls() { return kControls; }

QFont FormFont() {
  const QString family = QStringLiteral("MS Sans Serif");
  QFont::insertSubstitutions(
      family, {QStringLiteral("Microsoft Sans Serif"),
               QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
  return QFont(family, 9);
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
