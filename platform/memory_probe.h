// Reading memory that an exception record points at.
//
// The parameters of a raised exception come from whoever raised it: the delay-load helper's
// point at its DelayLoadInfo and the names in it, but a RaiseException with made-up
// parameters could point anywhere. A handler that followed them blindly would fault inside
// itself, where nothing catches it; these check every page first.
#ifndef PLATFORM_MEMORY_PROBE_H_
#define PLATFORM_MEMORY_PROBE_H_

#include <cstddef>

namespace platform {

// True when every byte of [address, address + size) lies in committed, readable memory that
// is not a guard page. False for null.
bool IsReadable(const void* address, size_t size);

// Copies the zero-terminated `source` into `target` (at most `capacity` - 1 characters and a
// terminating zero, `capacity` at least 1), stopping early at the first unreadable byte. A
// null `source` gives an empty string.
void CopyReadableString(const char* source, char* target, size_t capacity);

}  // namespace platform

#endif  // PLATFORM_MEMORY_PROBE_H_
