// A path on the local machine, as a wide-character string.
//
// `FilePath` is a plain value: copyable, compared as text (case matters, no normalisation),
// and never touches the disk. Both `\` and `/` count as separators; new separators are
// always `\`. A drive prefix ("C:") is treated as part of the root, so "C:\" and "\" are
// roots that no operation strips or splits. Windows limits most of the paths the installer
// hands to it to `kMaxPath` characters including the terminating zero; the file operations
// in file_util.h check that limit, this type does not.
#ifndef PLATFORM_FILE_PATH_H_
#define PLATFORM_FILE_PATH_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

class FilePath {
 public:
  // MAX_PATH: paths of this many characters or more are refused by the file operations.
  static constexpr size_t kMaxPath = 260;
  static constexpr wchar_t kSeparator = L'\\';

  FilePath() = default;
  explicit FilePath(std::wstring_view path) : path_(path) {}

  static bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

  const std::wstring& value() const { return path_; }
  bool empty() const { return path_.empty(); }

  // This path followed by `component`, with exactly one separator between them: trailing
  // separators of this path and leading separators of `component` are dropped first (a
  // root keeps its own). An empty path gives `component`; an empty component gives this
  // path unchanged.
  FilePath Append(std::wstring_view component) const;
  FilePath Append(const FilePath& component) const { return Append(component.value()); }

  // The last component, after trailing separators are stripped: "C:\a\b.exe" -> "b.exe",
  // "C:\a\" -> "a". A root gives its separator ("C:\" -> "\"), a bare drive gives "".
  FilePath BaseName() const;
  // Everything before the last component, without trailing separators, roots kept:
  // "C:\a\b" -> "C:\a", "C:\a" -> "C:\", "\a" -> "\", a bare name -> ".".
  FilePath DirName() const;
  // Removes separators at the end, but never the separator of a root: "C:\a\\" -> "C:\a",
  // "C:\" stays, "\\" -> "\".
  FilePath StripTrailingSeparators() const;
  // True when any component refers to the parent folder. Windows drops trailing dots and
  // spaces from a component, so ".. ", " .." and "..." (made of dots and white space with
  // ".." in it) count as well as "..".
  bool ReferencesParent() const;

  bool operator==(const FilePath& other) const { return path_ == other.path_; }
  bool operator!=(const FilePath& other) const { return path_ != other.path_; }
  bool operator<(const FilePath& other) const { return path_ < other.path_; }

 private:
  std::wstring path_;
};

}  // namespace platform

#endif  // PLATFORM_FILE_PATH_H_
