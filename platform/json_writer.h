// A JSON object of text members, written exactly as the JSON library's json_dumps writes one
// (members in the order added, ": " and ", " or, indented, one member a line), without
// linking the library's whole writer for the two flat documents the program writes.
#ifndef PLATFORM_JSON_WRITER_H_
#define PLATFORM_JSON_WRITER_H_

#include <string>
#include <string_view>

namespace platform {

class JsonObjectWriter {
 public:
  // `indent`: 0 for one line, otherwise spaces before each member on a line of its own.
  explicit JsonObjectWriter(int indent) : indent_(indent) {}

  // Adds "key": "value"; false, and nothing added, when either is not valid UTF-8.
  bool Add(std::string_view key, std::string_view value);
  // The document: "{}" when nothing was added.
  std::string Text() const;

 private:
  int indent_;
  std::string members_;
};

}  // namespace platform

#endif  // PLATFORM_JSON_WRITER_H_
