#include "platform/file_path.h"

namespace platform {

namespace {

// Length of a leading drive prefix ("C:"), 0 when there is none.
size_t DriveLength(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':' &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
    return 2;
  }
  return 0;
}

size_t LastSeparator(std::wstring_view path) { return path.find_last_of(L"\\/"); }

}  // namespace

FilePath FilePath::StripTrailingSeparators() const {
  size_t start = DriveLength(path_);
  size_t end = path_.size();
  // The first separator after the drive is the root and stays.
  while (end > start + 1 && IsSeparator(path_[end - 1])) --end;
  return FilePath(std::wstring_view(path_).substr(0, end));
}

FilePath FilePath::Append(std::wstring_view component) const {
  if (path_.empty()) return FilePath(component);
  size_t skip = 0;
  while (skip < component.size() && IsSeparator(component[skip])) ++skip;
  component.remove_prefix(skip);
  if (component.empty()) return *this;

  std::wstring result = StripTrailingSeparators().path_;
  // "C:" + "a" is "C:a" (relative to the drive's current folder), as Windows reads it.
  if (!IsSeparator(result.back()) && DriveLength(result) != result.size()) {
    result.push_back(kSeparator);
  }
  result.append(component);
  return FilePath(result);
}

FilePath FilePath::BaseName() const {
  FilePath stripped = StripTrailingSeparators();
  std::wstring_view view(stripped.path_);
  view.remove_prefix(DriveLength(view));
  size_t last = LastSeparator(view);
  if (last != std::wstring_view::npos && last + 1 < view.size()) view.remove_prefix(last + 1);
  return FilePath(view);
}

FilePath FilePath::DirName() const {
  FilePath stripped = StripTrailingSeparators();
  std::wstring_view view(stripped.path_);
  size_t drive = DriveLength(view);
  size_t last = LastSeparator(view);
  if (last == std::wstring_view::npos || last < drive) {
    if (drive > 0) return FilePath(view.substr(0, drive));
    return FilePath(L".");
  }
  if (last == drive) return FilePath(view.substr(0, drive + 1));
  return FilePath(view.substr(0, last)).StripTrailingSeparators();
}

bool FilePath::ReferencesParent() const {
  std::wstring_view rest(path_);
  while (!rest.empty()) {
    size_t end = rest.find_first_of(L"\\/");
    std::wstring_view component = rest.substr(0, end);
    if (component.find(L"..") != std::wstring_view::npos &&
        component.find_first_not_of(L". \t\r\n") == std::wstring_view::npos) {
      return true;
    }
    if (end == std::wstring_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return false;
}

}  // namespace platform
