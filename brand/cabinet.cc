#include "brand/cabinet.h"

#include <windows.h>
#include <fdi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/strings.h"
#include "startup/logging.h"

namespace installer {
namespace {

using FdiCreateFunction = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE,
                                             PFNCLOSE, PFNSEEK, int, PERF);
using FdiCopyFunction = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT,
                                          void*);
using FdiDestroyFunction = BOOL(DIAMONDAPI*)(HFDI);

struct CabinetApi {
  HMODULE module = nullptr;
  FdiCreateFunction create = nullptr;
  FdiCopyFunction copy = nullptr;
  FdiDestroyFunction destroy = nullptr;
};

// Only the system folder's copy: a cabinet.dll next to the installer (a downloads folder)
// must never be picked up. The altered search path makes the library's own dependencies
// resolve from the system folder too.
constexpr const wchar_t* kCabinetCandidates[] = {
    L"%WINDIR%\\system32\\cabinet.dll",
    L"%SYSTEMROOT%\\system32\\cabinet.dll",
    L"C:\\Windows\\system32\\cabinet.dll",
};

// A package larger than this is not a configuration document; refusing it keeps a cabinet
// that announces or inflates to gigabytes from exhausting the address space of a 32-bit
// process (the string would abort, not fail, without exceptions).
constexpr uint32_t kMaxExtractedBytes = 16u << 20;

// FDI asks its callbacks for small integer handles; ours are indices, never pointers, so a
// value FDI hands back is checked before it is used.
constexpr INT_PTR kOutputHandle = 8;
constexpr INT_PTR kFirstCursorHandle = 16;

struct Extraction {
  std::string_view source;
  std::string requested;
  std::string source_name;  // decimal text FDI opens the source by
  std::vector<int64_t> cursors;  // position per cursor FDI opened
  std::vector<bool> cursor_open;

  bool member_open = false;
  std::string member_name;
  std::string member;
  uint32_t member_announced = 0;

  ExtractedMembers members;
  uint64_t held_bytes = 0;
};

// FDI's stream callbacks receive no user data, so they find the extraction of the calling
// thread here. One extraction per thread runs at a time; FDICopy never calls back on
// another thread.
thread_local Extraction* t_extraction = nullptr;

bool LoadApi(CabinetApi* api) {
  for (const wchar_t* candidate : kCabinetCandidates) {
    wchar_t path[MAX_PATH];
    DWORD length = ExpandEnvironmentStringsW(candidate, path, MAX_PATH);
    if (length < 1 || length > MAX_PATH) continue;
    api->module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (api->module != nullptr) break;
  }
  if (api->module == nullptr) {
    LOG(ERROR, "LoadCabinetLibrary") << "Cannot load cabinet.dll";
    return false;
  }
  api->create = reinterpret_cast<FdiCreateFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDICreate")));
  api->destroy = reinterpret_cast<FdiDestroyFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDIDestroy")));
  api->copy = reinterpret_cast<FdiCopyFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDICopy")));
  if (api->create == nullptr || api->destroy == nullptr || api->copy == nullptr) {
    LOG(ERROR, "LoadCabinetLibrary") << "cabinet.dll lacks the decompression entry points";
    return false;
  }
  return true;
}

// Kept for the life of the process: FDI contexts may be created from it at any time.
const CabinetApi* Api() {
  static CabinetApi api;
  static const bool loaded = LoadApi(&api);
  return loaded ? &api : nullptr;
}

int64_t* Cursor(INT_PTR handle) {
  Extraction* extraction = t_extraction;
  if (extraction == nullptr || handle < kFirstCursorHandle) return nullptr;
  size_t index = static_cast<size_t>(handle - kFirstCursorHandle);
  if (index >= extraction->cursors.size() || !extraction->cursor_open[index]) return nullptr;
  return &extraction->cursors[index];
}

FNALLOC(HeapAllocate) { return HeapAlloc(GetProcessHeap(), 0, cb); }

FNFREE(HeapRelease) {
  if (pv != nullptr) HeapFree(GetProcessHeap(), 0, pv);
}

FNOPEN(OpenSource) {
  Extraction* extraction = t_extraction;
  // Anything but our own source (a next cabinet named inside a damaged one, say) is refused
  // rather than parsed into an address.
  if (extraction == nullptr || pszFile == nullptr || extraction->source_name != pszFile) {
    return -1;
  }
  extraction->cursors.push_back(0);
  extraction->cursor_open.push_back(true);
  return kFirstCursorHandle + static_cast<INT_PTR>(extraction->cursors.size() - 1);
}

FNREAD(ReadSource) {
  int64_t* position = Cursor(hf);
  if (position == nullptr) return static_cast<UINT>(-1);
  std::string_view source = t_extraction->source;
  uint64_t available = source.size() - static_cast<uint64_t>(*position);
  UINT count = static_cast<UINT>(std::min<uint64_t>(cb, available));
  if (count != 0) memcpy(pv, source.data() + *position, count);
  *position += count;
  return count;
}

FNWRITE(WriteMember) {
  Extraction* extraction = t_extraction;
  if (extraction == nullptr || hf != kOutputHandle || !extraction->member_open) {
    return static_cast<UINT>(-1);
  }
  // More than the member announced means the folder data is damaged.
  if (cb > extraction->member_announced - extraction->member.size()) {
    return static_cast<UINT>(-1);
  }
  extraction->member.append(static_cast<const char*>(pv), cb);
  return cb;
}

FNCLOSE(CloseStream) {
  if (hf == kOutputHandle) return 0;  // FDI closes the output itself when it bails out
  if (Cursor(hf) == nullptr) return -1;
  t_extraction->cursor_open[static_cast<size_t>(hf - kFirstCursorHandle)] = false;
  return 0;
}

FNSEEK(SeekSource) {
  int64_t* position = Cursor(hf);
  if (position == nullptr) return -1;
  int64_t size = static_cast<int64_t>(t_extraction->source.size());
  int64_t target;
  switch (seektype) {
    case SEEK_SET:
      target = dist;
      break;
    case SEEK_CUR:
      target = *position + dist;
      break;
    case SEEK_END:
      target = size + dist;
      break;
    default:
      *position = 0;
      return 0;
  }
  if (target < 0 || target > size) return -1;
  *position = target;
  return static_cast<LONG>(target);
}

INT_PTR CopyFileNotice(Extraction* extraction, const FDINOTIFICATION* notice) {
  std::string name = notice->psz1 ? notice->psz1 : "";
  if (!extraction->requested.empty() && name != extraction->requested) return 0;
  // The size field is signed but the cabinet stores it unsigned.
  uint32_t announced = static_cast<uint32_t>(notice->cb);
  if (extraction->held_bytes + announced > kMaxExtractedBytes) return 0;
  extraction->member_open = true;
  extraction->member_name = std::move(name);
  extraction->member.clear();
  extraction->member.reserve(announced);
  extraction->member_announced = announced;
  return kOutputHandle;
}

INT_PTR CloseFileNotice(Extraction* extraction) {
  if (!extraction->member_open) return 1;
  extraction->member_open = false;
  // FDI reports the close even after a decompression error; a member shorter than announced
  // is damaged and must not replace a good one.
  if (extraction->member.size() != extraction->member_announced) {
    extraction->member.clear();
    return 1;
  }
  std::string& slot = extraction->members[extraction->member_name];
  extraction->held_bytes -= slot.size();
  extraction->held_bytes += extraction->member.size();
  slot = std::move(extraction->member);
  extraction->member.clear();
  return 1;
}

FNFDINOTIFY(Notify) {
  Extraction* extraction = static_cast<Extraction*>(pfdin->pv);
  switch (fdint) {
    case fdintCABINET_INFO:
    case fdintENUMERATE:
      return 0;
    case fdintCOPY_FILE:
      return CopyFileNotice(extraction, pfdin);
    case fdintCLOSE_FILE_INFO:
      return CloseFileNotice(extraction);
    case fdintPARTIAL_FILE:
    case fdintNEXT_CABINET:
    default:
      // A member spanning cabinets cannot be completed from one package in memory.
      return -1;
  }
}

// Makes an extraction the calling thread's for the duration of FDICopy.
class ScopedActiveExtraction {
 public:
  explicit ScopedActiveExtraction(Extraction* extraction) : previous_(t_extraction) {
    t_extraction = extraction;
  }
  ~ScopedActiveExtraction() { t_extraction = previous_; }
  ScopedActiveExtraction(const ScopedActiveExtraction&) = delete;
  ScopedActiveExtraction& operator=(const ScopedActiveExtraction&) = delete;

 private:
  Extraction* previous_;
};

}  // namespace

bool LoadCabinetLibrary() { return Api() != nullptr; }

bool ExtractPackage(std::string_view package, const std::string& member_name,
                    ExtractedMembers* members) {
  members->clear();
  const CabinetApi* api = Api();
  if (api == nullptr) return false;

  ERF error = {};
  HFDI context = api->create(HeapAllocate, HeapRelease, OpenSource, ReadSource, WriteMember,
                             CloseStream, SeekSource, cpuUNKNOWN, &error);
  if (context == nullptr) {
    LOG(ERROR, "ExtractPackage") << "FDICreate failed: " << error.erfOper;
    return false;
  }

  Extraction extraction;
  extraction.source = package;
  extraction.requested = member_name;
  extraction.source_name =
      platform::ToString(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&extraction)));
  BOOL copied;
  {
    ScopedActiveExtraction active(&extraction);
    std::vector<char> cabinet_name(extraction.source_name.begin(), extraction.source_name.end());
    cabinet_name.push_back('\0');
    char cabinet_path[1] = {'\0'};
    copied = api->copy(context, cabinet_name.data(), cabinet_path, 0, Notify, nullptr,
                       &extraction);
    api->destroy(context);
  }
  *members = std::move(extraction.members);
  return copied != FALSE;
}

}  // namespace installer
