#include "device/reply_token.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace hj5 {
namespace {

TEST(ParseReplyTokenTest, ReadsTheNumberAndWhetherTheTokenIsClosed) {
  const auto plain = ParseReplyToken("HJ5_Ret(0)");
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->code, 0);
  EXPECT_TRUE(plain->closed);
  EXPECT_EQ(plain->length, 10u);

  const auto spaced = ParseReplyToken("HJ5_Ret( -12)\r\nmore");
  ASSERT_TRUE(spaced.has_value());
  EXPECT_EQ(spaced->code, -12);
  EXPECT_TRUE(spaced->closed);
  EXPECT_EQ(spaced->length, 13u);

  const auto open = ParseReplyToken("HJ5_Ret(+7x)");
  ASSERT_TRUE(open.has_value());
  EXPECT_EQ(open->code, 7);
  EXPECT_FALSE(open->closed);
  EXPECT_EQ(open->length, 10u);
}

TEST(ParseReplyTokenTest, NeedsTheTokenAtTheStartAndANumber) {
  for (const char* at :
       {"", "HJ5_Ret", "HJ5_Ret()", "HJ5_Ret(-)", "HJ5_Ret(--1)", "hj5_ret(1)",
        "HJ5_Ret (1)", " HJ5_Ret(1)", "xHJ5_Ret(1)"}) {
    EXPECT_FALSE(ParseReplyToken(at).has_value()) << at;
  }
}

// A reply is judged as sscanf(at, "HJ5_Ret(%d)") would judge it: both agree
// on whether there is a number and what it is.
TEST(ParseReplyTokenTest, AgreesWithScanf) {
  for (const char* at :
       {"HJ5_Ret(5)", "HJ5_Ret(5", "HJ5_Ret(\t+5)", "HJ5_Ret(\n-0)",
        "HJ5_Ret(12a)", "HJ5_Ret(a12)", "HJ5_Ret(+-1)", "HJ5_Ret(-2)\r\n",
        "HJ5_Ret( )", "HJ5_Ret"}) {
    SCOPED_TRACE(at);
    int expected = 0;
    const bool read = std::sscanf(at, "HJ5_Ret(%d)", &expected) == 1;
    const auto token = ParseReplyToken(at);
    ASSERT_EQ(token.has_value(), read);
    if (read) {
      EXPECT_EQ(token->code, expected);
    }
  }
}

TEST(EndsWithClosingTokenTest, AcceptsAClosedTokenAndTrailingLineEnds) {
  for (const char* held : {"HJ5_Ret(0)", "body HJ5_Ret(-12)", "HJ5_Ret(7)\r\n",
                           "HJ5_Ret(7) \n", "HJ5_Ret(+7)\t", "HJ5_Ret( 7)",
                           "HJ5_Ret(HJ5_Ret(1)", "HJ5_Ret(1)HJ5_Ret(2)"}) {
    EXPECT_TRUE(EndsWithClosingToken(held)) << held;
  }
}

TEST(EndsWithClosingTokenTest, RejectsAnythingElseAtTheEnd) {
  for (const char* held :
       {"", "HJ5_Ret()", "HJ5_Ret(-)", "HJ5_Ret(1", "HJ5_Ret(1)x", "hj5_ret(1)",
        "HJ5_Ret (1)", "HJ5_Ret(--1)", "(1)", "HJ5_Ret(1 )", "HJ5_Ret(1)\v",
        "HJ5_Ret(1))", "HJ5_Ret(1)HJ5_Ret("}) {
    EXPECT_FALSE(EndsWithClosingToken(held)) << held;
  }
}

}  // namespace
}  // namespace hj5
