// web/form_body_test.cpp - the posted body: cutting, "+" and "%" decoding, the bounds.
#include "web/form_body.h"

#include <gtest/gtest.h>

namespace web {
namespace {

ByteSource From(const std::string& text) {
  auto at = std::make_shared<size_t>(0);
  return [text, at]() -> int {
    if (*at >= text.size()) return -1;
    return static_cast<unsigned char>(text[(*at)++]);
  };
}

TEST(FormBody, FieldsArriveInOrderDecoded) {
  const std::string body = "message=a+b%21&name=X&name=Y&empty&plus=%2B";
  const auto fields = ReadFormFields(From(body), static_cast<long>(body.size()));
  ASSERT_EQ(fields.size(), 5u);
  EXPECT_EQ(fields[0].Name, "message");
  EXPECT_EQ(fields[0].Value, "a b!");
  EXPECT_EQ(fields[1].Value, "X");
  EXPECT_EQ(fields[2].Value, "Y");
  EXPECT_EQ(fields[3].Name, "empty");
  EXPECT_EQ(fields[3].Value, "");
  EXPECT_EQ(fields[4].Value, "+");  // decoding follows the "+" step
  for (const auto& f : fields) EXPECT_FALSE(f.BadEscape);
}

TEST(FormBody, EscapesDecodeInEitherCaseAndEqualsSplitsOnce) {
  EXPECT_EQ(DecodeFormField("m=%4a%4A%3d").Value, "JJ=");
  EXPECT_EQ(DecodeFormField("m=x=y").Value, "x=y");
  EXPECT_EQ(DecodeFormField("m=line%0D%0Anext").Value, "line\r\nnext");
  EXPECT_EQ(DecodeFormField("m=cut%00here").Value, "cut");  // the text ends at a NUL byte
}

TEST(FormBody, TruncatedOrNonHexEscapeIsKeptAsWrittenAndFlagged) {
  // A "%" in the last two places of a field must not read past its end.
  FormField end = DecodeFormField("message=100%");
  EXPECT_TRUE(end.BadEscape);
  EXPECT_EQ(end.Value, "100%");
  FormField one = DecodeFormField("message=ab%4");
  EXPECT_TRUE(one.BadEscape);
  EXPECT_EQ(one.Value, "ab%4");
  FormField letters = DecodeFormField("message=%zz!");
  EXPECT_TRUE(letters.BadEscape);
  EXPECT_EQ(letters.Value, "%zz!");
}

TEST(FormBody, BudgetAndEndOfInputBoundTheBody) {
  const std::string body = "name=Ann&message=Hi";
  auto cut = ReadFormFields(From(body), 11);  // "name=Ann&me": the last character is kept
  ASSERT_EQ(cut.size(), 2u);
  EXPECT_EQ(cut[1].Name, "me");

  // The input ends before the budget: the unfinished field is not stored.
  auto shortInput = ReadFormFields(From(body), 1000);
  ASSERT_EQ(shortInput.size(), 1u);
  EXPECT_EQ(shortInput[0].Value, "Ann");

  EXPECT_TRUE(ReadFormFields(From(body), 0).empty());
  EXPECT_TRUE(ReadFormFields(From(body), -5).empty());
}

TEST(FormBody, OnlyTheFirstHundredFieldsAreUsed) {
  std::string body;
  for (int i = 0; i < 150; ++i) body += "name=N" + std::to_string(i) + "&";
  const auto fields = ReadFormFields(From(body), static_cast<long>(body.size()));
  ASSERT_EQ(fields.size(), kMaxFormFields);
  EXPECT_EQ(fields.back().Value, "N99");
}

TEST(FormBody, LongFieldIsNotLimited) {
  const std::string body = "message=" + std::string(30000, 'z');
  const auto fields = ReadFormFields(From(body), static_cast<long>(body.size()));
  ASSERT_EQ(fields.size(), 1u);
  EXPECT_EQ(fields[0].Value.size(), 30000u);
}

}  // namespace
}  // namespace web
