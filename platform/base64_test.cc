#include "platform/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct Vector {
  std::string bytes;
  const char* text;
};

// RFC 4648 test vectors plus bytes that use the last two alphabet characters and zeros.
const Vector kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
    {std::string("\xFB\xFF\xBF", 3), "+/+/"},
    {std::string("\x00", 1), "AA=="},
    {std::string("\x00\x00\x00", 3), "AAAA"},
    {std::string("\xFF\xFF", 2), "//8="},
    {std::string("\x4A\x00\x01\x80", 4), "SgABgA=="},
};

TEST(Base64Test, EncodesKnownVectors) {
  for (const Vector& v : kVectors) EXPECT_EQ(v.text, Base64Encode(v.bytes)) << v.text;
}

TEST(Base64Test, DecodesKnownVectors) {
  for (const Vector& v : kVectors) {
    std::string out = "untouched";
    ASSERT_TRUE(Base64Decode(v.text, &out)) << v.text;
    EXPECT_EQ(v.bytes, out) << v.text;
  }
}

TEST(Base64Test, RoundTripsEveryByteValueAndLength) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t len = 0; len <= bytes.size(); ++len) {
    std::string part = bytes.substr(bytes.size() - len);
    std::string text = Base64Encode(part);
    EXPECT_EQ(0u, text.size() % 4);
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n ")) << len;
    std::string back;
    ASSERT_TRUE(Base64Decode(text, &back)) << len;
    EXPECT_EQ(part, back) << len;
  }
}

TEST(Base64Test, RefusesInvalidText) {
  const char* kInvalid[] = {
      "Z",          // not a whole group
      "Zg",         // padding missing
      "Zg=",        // padding incomplete
      "Zm9vY",      // five characters
      "Zg==Zg==",   // padding in the middle
      "Z===",       // three padding characters
      "====",       // padding only
      "=Zg=",       // padding first
      "Zg=a",       // character after padding
      "Zm 9v",      // white space
      "Zm9v\n",     // line break
      "Zm9v\r\nYmFy",
      "Zm-v",       // URL-safe alphabet
      "Zm_v",
      "Zm9*",
      "Zh==",       // leftover bits not zero ("f" is "Zg==")
      "Zm9=",       // leftover bits not zero ("fo" is "Zm8=")
  };
  for (const char* text : kInvalid) {
    std::string out = "untouched";
    EXPECT_FALSE(Base64Decode(text, &out)) << text;
    EXPECT_EQ("untouched", out) << text;
  }
  std::string out = "untouched";
  EXPECT_FALSE(Base64Decode(std::string_view("Zm\0v", 4), &out));
  EXPECT_FALSE(Base64Decode("Zm9v\x80YmE=", &out));
  EXPECT_EQ("untouched", out);
}

}  // namespace
}  // namespace platform
