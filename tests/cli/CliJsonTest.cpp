#include "CliJson.h"

#include <gtest/gtest.h>

namespace {

// The reader takes files a user edited by hand: everything malformed must be refused, never
// half-read, and nesting must not exhaust the stack.
TEST(CliJsonTest, RefusesMalformedDocuments) {
  const char* cases[] = {
      "",         "{",       "{\"a\"}",   "{\"a\":1,}", "[1,]",          "[1 2]",
      "\"abc",    "\"\\x\"", "\"\\u12\"", "tru",        "nul",           "{} {}",
      "\"a\nb\"", "{1:2}",   "-",         "1e",         "[\"\\u00G0\"]",
  };
  for (const char* text : cases) {
    TJsonValue value;
    std::string error;
    EXPECT_FALSE(TCliJson::Parse(text, value, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  TJsonValue value;
  std::string error;
  EXPECT_FALSE(TCliJson::Parse(std::string(100000, '['), value, error));
  EXPECT_TRUE(TCliJson::Parse(std::string(30, '[') + std::string(30, ']'), value, error));
}

TEST(CliJsonTest, DecodesEscapesToUtf8) {
  struct TCase {
    const char* json;
    std::string text;
  };
  const TCase cases[] = {
      {"\"a\\\"b\\\\c\\/d\"", "a\"b\\c/d"},
      {"\"\\n\\t\\r\\b\\f\"", "\n\t\r\b\f"},
      {"\"\\u00e9\"", "\xC3\xA9"},
      {"\"\\u20AC\"", "\xE2\x82\xAC"},
      {"\"\\ud83d\\ude00\"", "\xF0\x9F\x98\x80"}, // a surrogate pair is one character
      {"\"\xE4\xB8\xAD\"", "\xE4\xB8\xAD"},       // UTF-8 passes as it is
  };
  for (const TCase& c : cases) {
    TJsonValue value;
    std::string error;
    ASSERT_TRUE(TCliJson::Parse(c.json, value, error)) << c.json << ": " << error;
    EXPECT_EQ(value.type, TJsonValue::TType::String);
    EXPECT_EQ(value.text, c.text) << c.json;
  }
}

TEST(CliJsonTest, QuoteParsesBackToTheSameText) {
  std::string all;
  for (int c = 1; c < 128; ++c) {
    all += static_cast<char>(c);
  }
  all += "\xC3\xA9\xF0\x9F\x98\x80";
  TJsonValue value;
  std::string error;
  ASSERT_TRUE(TCliJson::Parse(TCliJson::Quote(all), value, error)) << error;
  EXPECT_EQ(value.text, all);
}

TEST(CliJsonTest, ObjectsKeepOrderAndNesting) {
  TJsonValue value;
  std::string error;
  ASSERT_TRUE(TCliJson::Parse(" {\"b\": [1, true, null], \"a\": {\"c\": -2.5e1}} ", value, error));
  ASSERT_EQ(value.members.size(), 2u);
  EXPECT_EQ(value.members[0].first, "b");
  EXPECT_EQ(value.Find("b")->items.size(), 3u);
  EXPECT_TRUE(value.Find("b")->items[1].boolean);
  EXPECT_EQ(value.Find("b")->items[2].type, TJsonValue::TType::Null);
  EXPECT_DOUBLE_EQ(value.Find("a")->Find("c")->number, -25.0);
  EXPECT_EQ(value.Find("missing"), nullptr);
  EXPECT_EQ(value.Find("b")->Find("x"), nullptr);
}

} // namespace
