#include "app/form_table.h"

#include <string_view>

#include "update/form_ops.h"

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

constexpr const ControlRow& FindMaker() {
  for (const ControlRow& row : kControls) {
    if (row.name && std::string_view(row.name) == "labelMaker") return row;
  }
  return kControls[0];
}

}  // namespace

std::span<const ControlRow> FormControls() { return kControls; }

const ControlRow& MakerLabel() { return FindMaker(); }

}  // namespace hj5
