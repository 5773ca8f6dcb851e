#include "trust/trusted_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace installer {
namespace {

struct FrameCase {
  const char* name;
  std::string json;
  bool parsed;
  std::vector<std::string> ids;
};

// "AQID" is 01 02 03, "BAUG" is 04 05 06, "Bw==" is 07.
TEST(ParseTrustedJsonTest, FramesAndElements) {
  const FrameCase kCases[] = {
      {"empty text", "", false, {}},
      {"not JSON", "trusted_info", false, {}},
      {"truncated", R"({"trusted_info":{"certificates":[{"id":"AQID"}])", false, {}},
      {"root is an array", R"([{"trusted_info":{"certificates":[]}}])", false, {}},
      {"root is a string", R"("AQID")", false, {}},
      {"no trusted_info", R"({"certificates":[{"id":"AQID"}]})", false, {}},
      {"trusted_info an array", R"({"trusted_info":[{"certificates":[]}]})", false, {}},
      {"trusted_info a string", R"({"trusted_info":"x"})", false, {}},
      {"no certificates", R"({"trusted_info":{}})", false, {}},
      {"certificates an object", R"({"trusted_info":{"certificates":{"id":"AQID"}}})", false, {}},
      {"certificates a string", R"({"trusted_info":{"certificates":"AQID"}})", false, {}},
      {"certificates null", R"({"trusted_info":{"certificates":null}})", false, {}},
      {"empty array", R"({"trusted_info":{"certificates":[]}})", true, {}},
      {"one id", R"({"trusted_info":{"certificates":[{"id":"AQID"}]}})", true, {"\x01\x02\x03"}},
      {"other members ignored",
       R"({"x":1,"trusted_info":{"y":[1],"certificates":[{"id":"AQID","name":"a"}]}})", true,
       {"\x01\x02\x03"}},
      {"elements that are not objects",
       R"({"trusted_info":{"certificates":[1,"AQID",null,true,["AQID"],{"id":"BAUG"}]}})", true,
       {"\x04\x05\x06"}},
      {"id of the wrong type",
       R"({"trusted_info":{"certificates":[{"id":1},{"id":null},{"id":["AQID"]},{"id":{}},{"ID":"AQID"}]}})",
       true, {}},
      {"invalid Base64 skipped",
       R"({"trusted_info":{"certificates":[{"id":"AQI"},{"id":"AQ D"},{"id":"AQ-D"},{"id":"Bw=="},{"id":"Bw"}]}})",
       true, {"\x07"}},
      {"empty id skipped", R"({"trusted_info":{"certificates":[{"id":""},{"id":"Bw=="}]}})", true,
       {"\x07"}},
      {"duplicates collapse",
       R"({"trusted_info":{"certificates":[{"id":"AQID"},{"id":"BAUG"},{"id":"AQID"}]}})", true,
       {"\x01\x02\x03", "\x04\x05\x06"}},
  };
  for (const FrameCase& c : kCases) {
    TrustedCertificateIds ids = {"left over"};
    EXPECT_EQ(c.parsed, ParseTrustedJson(c.json, &ids)) << c.name;
    EXPECT_EQ(TrustedCertificateIds(c.ids.begin(), c.ids.end()), ids) << c.name;
  }
}

TEST(ParseTrustedJsonTest, IdsKeepEveryByteValue) {
  // A serial pair with zero bytes and high bytes must come through unchanged, NULs included.
  std::string json = R"({"trusted_info":{"certificates":[{"id":"AP8AgAF/"}]}})";
  TrustedCertificateIds ids;
  ASSERT_TRUE(ParseTrustedJson(json, &ids));
  ASSERT_EQ(1u, ids.size());
  EXPECT_EQ(std::string("\x00\xFF\x00\x80\x01\x7F", 6), *ids.begin());
}

TEST(ParseTrustedJsonTest, TextIsTakenByLengthNotByTerminator) {
  // The resource bytes are not zero-terminated; whatever follows the given length is not read.
  std::string buffer = R"({"trusted_info":{"certificates":[{"id":"AQID"}]}}garbage)";
  TrustedCertificateIds ids;
  EXPECT_TRUE(ParseTrustedJson(std::string_view(buffer).substr(0, buffer.size() - 7), &ids));
  EXPECT_EQ(1u, ids.size());
  EXPECT_FALSE(ParseTrustedJson(buffer, &ids));
  EXPECT_TRUE(ids.empty());
}

}  // namespace
}  // namespace installer
