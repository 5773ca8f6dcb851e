// Version numbers from a file's version resource.
//
// The installer reports its own version to the statistics and compares the installed
// browser's version; both come from the product version of the fixed version record.
#ifndef BRAND_FILE_VERSION_H_
#define BRAND_FILE_VERSION_H_

#include <cstdint>
#include <string>

namespace installer {

// The product version of `module_path` (the installer's own file when empty) as its most
// and least significant 32-bit halves. Logs "Module: <path> Version: <ms>.<ls>" on success.
// False, with both outputs untouched, when the file has no readable version record or its
// fixed part is shorter than 52 bytes.
bool GetFileVersion(const std::wstring& module_path, uint32_t* most_significant,
                    uint32_t* least_significant);

// "a.b.c.d" from the four 16-bit parts of the product version; "0.0.0.0" when the version
// cannot be read.
std::wstring GetFileVersionString(const std::wstring& module_path);

// The four 16-bit parts as "a.b.c.d".
std::wstring FormatFileVersion(uint32_t most_significant, uint32_t least_significant);

}  // namespace installer

#endif  // BRAND_FILE_VERSION_H_
