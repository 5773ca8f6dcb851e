#include "platform/json_writer.h"

#include <jansson.h>

#include <cstdlib>
#include <string>

#include "gtest/gtest.h"

namespace platform {
namespace {

// The library's own writer, for the same members.
std::string LibraryText(const std::string& key, const std::string& value, int indent) {
  json_t* object = json_object();
  json_object_setn_new(object, key.data(), key.size(), json_stringn(value.data(), value.size()));
  char* text = json_dumps(object, JSON_INDENT(indent));
  std::string result = text != nullptr ? text : "<none>";
  free(text);
  json_decref(object);
  return result;
}

TEST(JsonObjectWriterTest, WritesWhatTheLibraryWrites) {
  const std::string texts[] = {
      "",  "plain", "quote \" and \\ backslash", "\b\f\n\r\t", std::string("nul\0x", 5),
      "\x01\x1f\x7f /", "\xD0\xB0\xD0\xB1", "\xF0\x9F\x98\x80", "%D0%B0%20",
  };
  for (int indent : {0, 2}) {
    for (const std::string& text : texts) {
      JsonObjectWriter writer(indent);
      ASSERT_TRUE(writer.Add(text, text));
      EXPECT_EQ(LibraryText(text, text, indent), writer.Text()) << text;
    }
    JsonObjectWriter two(indent);
    ASSERT_TRUE(two.Add("b", "1"));
    ASSERT_TRUE(two.Add("a", "2"));
    EXPECT_EQ(indent ? "{\n  \"b\": \"1\",\n  \"a\": \"2\"\n}" : "{\"b\": \"1\", \"a\": \"2\"}",
              two.Text());
    EXPECT_EQ("{}", JsonObjectWriter(indent).Text());
  }
}

TEST(JsonObjectWriterTest, RefusesTextThatIsNotUtf8) {
  for (const char* bad : {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82"}) {
    JsonObjectWriter writer(0);
    EXPECT_FALSE(writer.Add(bad, "v")) << bad;
    EXPECT_FALSE(writer.Add("k", bad)) << bad;
    EXPECT_EQ("{}", writer.Text());
    EXPECT_EQ(nullptr, json_string(bad)) << "the library refuses it too";
  }
}

}  // namespace
}  // namespace platform
