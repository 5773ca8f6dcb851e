#include "platform/memory_probe.h"

#include <windows.h>

namespace platform {

bool IsReadable(const void* address, size_t size) {
  if (address == nullptr) return false;
  const char* begin = static_cast<const char*>(address);
  const char* end = begin + size;
  while (begin < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(begin, &info, sizeof(info)) != sizeof(info)) return false;
    if (info.State != MEM_COMMIT) return false;
    if ((info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if ((info.Protect & readable) == 0) return false;
    begin = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

void CopyReadableString(const char* source, char* target, size_t capacity) {
  size_t n = 0;
  while (source != nullptr && n + 1 < capacity) {
    if (!IsReadable(source + n, 1) || source[n] == '\0') break;
    target[n] = source[n];
    ++n;
  }
  target[n] = '\0';
}

}  // namespace platform
