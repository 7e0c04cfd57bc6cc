// What the device gets for the text of the Windows form and of
// hj5-update.exe, in the code pages of Western and Japanese Windows.

#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace hj5 {
namespace {

constexpr unsigned kWestern = 1252;
constexpr unsigned kJapanese = 932;

TEST(CodePageTest, WesternTextBecomesItsOwnBytes) {
  EXPECT_EQ(ToCodePage(L"admin", kWestern), "admin");
  EXPECT_EQ(ToCodePage(L"", kWestern), "");
  EXPECT_EQ(ToCodePage(L"caf\u00e9", kWestern), "caf\xE9");
  EXPECT_EQ(ToCodePage(L"\u20ac5", kWestern),
            "\x80"
            "5");  // the euro sign
}

TEST(CodePageTest, JapaneseCharactersCountTwoBytes) {
  const std::optional<std::string> bytes =
      ToCodePage(L"\u65e5\u672c", kJapanese);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(*bytes, "\x93\xFA\x96\x7B");  // 日本 in Shift JIS
  EXPECT_EQ(ToCodePage(L"pw\u65e5", kJapanese)->size(), 4u);
}

// "?" or a look-alike would send another login ID or password than the
// operator typed: such text is refused.
TEST(CodePageTest, ACharacterWithoutItsOwnFormIsRefused) {
  EXPECT_EQ(ToCodePage(L"\u0101dmin", kWestern), std::nullopt);  // ā, not a
  EXPECT_EQ(ToCodePage(L"\u65e5", kWestern), std::nullopt);
  EXPECT_EQ(ToCodePage(L"\u221e", kWestern), std::nullopt);  // ∞, not 8
  EXPECT_EQ(ToCodePage(L"caf\u00e9", kJapanese), std::nullopt);
  EXPECT_EQ(ToCodePage(L"\u0101", kJapanese), std::nullopt);
}

TEST(CodePageTest, BytesReadBackAsTheText) {
  EXPECT_EQ(FromCodePage("caf\xE9", kWestern), L"caf\u00e9");
  EXPECT_EQ(FromCodePage("\x93\xFA\x96\x7B", kJapanese), L"\u65e5\u672c");
  EXPECT_EQ(FromCodePage("", kWestern), L"");
}

}  // namespace
}  // namespace hj5
