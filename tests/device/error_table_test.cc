#include "device/error_table.h"

#include <gtest/gtest.h>

namespace hj5 {
namespace {

TEST(ErrorTableTest, HttpClientCodesHaveTheirMessages) {
  EXPECT_EQ(HttpErrorText(-1), "Network Parameter Error");
  EXPECT_EQ(HttpErrorText(-2), "Socket Error");
  EXPECT_EQ(HttpErrorText(-3), "Connection Error");
  EXPECT_EQ(HttpErrorText(-4), "Sending Error");
  EXPECT_EQ(HttpErrorText(-5), "Communication Time-out");
  EXPECT_EQ(HttpErrorText(-6), "Reception Error");
  EXPECT_EQ(HttpErrorText(-7), "Response Error");
  EXPECT_EQ(HttpErrorText(-8), "Memory Reserve Error");
  EXPECT_EQ(HttpErrorText(-10), "Internal Processing Error");
}

TEST(ErrorTableTest, CodesOutsideTheHttpTableAreUnknown) {
  for (int code : {-9, 0, 1, -11, -2147483647 - 1}) {
    EXPECT_EQ(HttpErrorText(code), "Return Value Unknown") << code;
  }
}

TEST(ErrorTableTest, FtpClientCodesHaveTheirMessages) {
  EXPECT_EQ(FtpErrorText(-1), "Argument Error");
  EXPECT_EQ(FtpErrorText(-2), "Connection Error");
  EXPECT_EQ(FtpErrorText(-3), "Send File Error");
  EXPECT_EQ(FtpErrorText(-4), "Server side File Error");
  EXPECT_EQ(FtpErrorText(-5), "Character Convert Error");
  EXPECT_EQ(FtpErrorText(-6), "Memory Reserve Error");
  EXPECT_EQ(FtpErrorText(-7), "Return Value Unknown");
}

TEST(ErrorTableTest, FirstEqualRowWinsAndAnEmptyTableKnowsNothing) {
  constexpr ErrorRow rows[] = {{-1, "first"}, {-1, "second"}};
  EXPECT_EQ(ErrorTable(rows).Lookup(-1), "first");
  EXPECT_EQ(ErrorTable(std::span<const ErrorRow>()).Lookup(-1),
            "Return Value Unknown");
}

}  // namespace
}  // namespace hj5
