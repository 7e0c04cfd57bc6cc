#include "device/error_table.h"

namespace hj5 {
namespace {

constexpr ErrorRow kHttpRows[] = {
    {-1, "Network Parameter Error"},
    {-2, "Socket Error"},
    {-3, "Connection Error"},
    {-4, "Sending Error"},
    {-5, "Communication Time-out"},
    {-6, "Reception Error"},
    {-7, "Response Error"},
    {-8, "Memory Reserve Error"},
    {-10, "Internal Processing Error"},
};

constexpr ErrorRow kFtpRows[] = {
    {-1, "Argument Error"},          {-2, "Connection Error"},
    {-3, "Send File Error"},         {-4, "Server side File Error"},
    {-5, "Character Convert Error"}, {-6, "Memory Reserve Error"},
};

}  // namespace

std::string ErrorTable::Lookup(std::int32_t code) const {
  for (const ErrorRow& row : rows_) {
    if (row.code == code) return row.message;
  }
  return kUnknown;
}

const ErrorTable& HttpErrorTable() {
  static constexpr ErrorTable table{kHttpRows};
  return table;
}

const ErrorTable& FtpErrorTable() {
  static constexpr ErrorTable table{kFtpRows};
  return table;
}

std::string HttpErrorText(std::int32_t code) {
  return HttpErrorTable().Lookup(code);
}

std::string FtpErrorText(std::int32_t code) {
  return FtpErrorTable().Lookup(code);
}

}  // namespace hj5
