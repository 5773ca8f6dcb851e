// In-memory extraction of cabinet archives through the system's cabinet library.
//
// The library is loaded once per process by full path (never through the search path) and
// kept loaded. A package is read straight from memory: the decompressor opens its "file" by a
// decimal handle that names the in-memory source, so nothing touches the disk. Only
// single-volume cabinets are read; a member continued from or into another cabinet aborts.
#ifndef BRAND_CABINET_H_
#define BRAND_CABINET_H_

#include <string>
#include <string_view>

#include "platform/string_map.h"

namespace installer {

// Member name to member bytes; a later member of the same name replaces an earlier one.
using ExtractedMembers = platform::StringMap<std::string>;

// Loads cabinet.dll from the system folder (three candidate paths) and resolves FDICreate,
// FDIDestroy and FDICopy. True once all three are known; the handle is never released.
bool LoadCabinetLibrary();

// Extracts the member `member_name` (every member when it is empty) of the cabinet held in
// `package`. Returns FDICopy's result; *members receives whatever was completely extracted,
// even on failure (a damaged cabinet may still yield the members before the damage). False
// with an empty map when the library or the decompression context is unavailable.
bool ExtractPackage(std::string_view package, const std::string& member_name,
                    ExtractedMembers* members);

}  // namespace installer

#endif  // BRAND_CABINET_H_
