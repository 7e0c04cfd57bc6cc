#include "device/decimal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace hj5 {
namespace {

TEST(ReadLeadingNumberTest, ReadsWhatScanfReadsForNumbersThatFitAnInt) {
  for (const std::string text : {"42", "  -7", "+13x", "\t\n\v\f\r 5 6", "0012",
                                 "-0", "2147483647", "-2147483648", "8080/"}) {
    SCOPED_TRACE(text);
    int expected = 0;
    int used = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "%d%n", &expected, &used), 1);
    const std::optional<LeadingNumber> number = ReadLeadingNumber(text);
    ASSERT_TRUE(number.has_value());
    EXPECT_EQ(static_cast<int>(number->value), expected);
    EXPECT_EQ(number->length, static_cast<std::size_t>(used));
  }
}

TEST(ReadLeadingNumberTest, NeedsADigitAfterTheWhiteSpaceAndSign) {
  for (const std::string text : {"", " ", "-", "+ 1", "--1", "x1", "- 1"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ReadLeadingNumber(text).has_value());
  }
  // A no-break space (0xA0 in Latin-1) is no white space in the C locale.
  EXPECT_FALSE(ReadLeadingNumber(std::string(1, '\xA0') + "1").has_value());
}

// Beyond an int the low bits of the true value stay exact: a port field
// keeps the low 16 bits of what was typed.
TEST(ReadLeadingNumberTest, WrapsModuloTwoToThe32) {
  EXPECT_EQ(ReadLeadingNumber("-1")->value, 0xFFFFFFFFu);
  EXPECT_EQ(ReadLeadingNumber("4294967297")->value, 1u);
  EXPECT_EQ(static_cast<std::uint16_t>(ReadLeadingNumber("65536")->value), 0);
  EXPECT_EQ(static_cast<std::uint16_t>(ReadLeadingNumber("-65535")->value), 1);
  const auto big = ReadLeadingNumber("99999999999999999999 ");
  EXPECT_EQ(big->value, 1661992959u);
  EXPECT_EQ(big->length, 20u);
  EXPECT_EQ(ReadLeadingNumber("-99999999999999999999")->value, 2632974337u);
}

}  // namespace
}  // namespace hj5
