#include "brand/cabinet.h"

#include <windows.h>
#include <fdi.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/logging.h"
#include "platform/seh_guard.h"
#include "platform/strings.h"
#include "platform/sync.h"
#include "platform/system_library.h"

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

// A package larger than this is not a configuration document; refusing it keeps a cabinet
// that announces or inflates to gigabytes from exhausting the address space of a 32-bit
// process (the string would abort, not fail, without exceptions).
constexpr uint32_t kMaxExtractedBytes = 16u << 20;

// FDI asks its callbacks for small integer handles; ours are indices, never pointers, so a
// value FDI hands back is checked before it is used.
constexpr INT_PTR kOutputHandle = 8;
constexpr INT_PTR kFirstCursorHandle = 16;
constexpr int64_t kClosedCursor = -1;

struct Extraction {
  std::string_view source;
  std::string requested;
  std::string source_name;  // decimal text FDI opens the source by
  std::vector<int64_t> cursors;  // position per cursor FDI opened; kClosedCursor once closed

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
const platform::ThreadSlot t_extraction_slot;

Extraction* CurrentExtraction() { return static_cast<Extraction*>(t_extraction_slot.Get()); }

// Only the system folder's copy: a cabinet.dll next to the installer must never be loaded.
bool LoadApi(CabinetApi* api) {
  api->module = platform::LoadSystemLibrary(L"cabinet.dll");
  if (api->module == nullptr) {
    logging::LogText(logging::kERROR, "LoadCabinetLibrary", __LINE__, "Cannot load cabinet.dll");
    return false;
  }
  api->create = reinterpret_cast<FdiCreateFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDICreate")));
  api->destroy = reinterpret_cast<FdiDestroyFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDIDestroy")));
  api->copy = reinterpret_cast<FdiCopyFunction>(
      reinterpret_cast<void*>(GetProcAddress(api->module, "FDICopy")));
  if (api->create == nullptr || api->destroy == nullptr || api->copy == nullptr) {
    logging::LogText(logging::kERROR, "LoadCabinetLibrary", __LINE__,
                     "cabinet.dll lacks the decompression entry points");
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
  Extraction* extraction = CurrentExtraction();
  if (extraction == nullptr || handle < kFirstCursorHandle) return nullptr;
  size_t index = static_cast<size_t>(handle - kFirstCursorHandle);
  if (index >= extraction->cursors.size() || extraction->cursors[index] == kClosedCursor) {
    return nullptr;
  }
  return &extraction->cursors[index];
}

FNALLOC(HeapAllocate) { return HeapAlloc(GetProcessHeap(), 0, cb); }

FNFREE(HeapRelease) {
  if (pv != nullptr) HeapFree(GetProcessHeap(), 0, pv);
}

FNOPEN(OpenSource) {
  Extraction* extraction = CurrentExtraction();
  // Anything but our own source (a next cabinet named inside a damaged one, say) is refused
  // rather than parsed into an address.
  if (extraction == nullptr || pszFile == nullptr || extraction->source_name != pszFile) {
    return -1;
  }
  extraction->cursors.push_back(0);
  return kFirstCursorHandle + static_cast<INT_PTR>(extraction->cursors.size() - 1);
}

FNREAD(ReadSource) {
  int64_t* position = Cursor(hf);
  if (position == nullptr) return static_cast<UINT>(-1);
  std::string_view source = CurrentExtraction()->source;
  uint64_t available = source.size() - static_cast<uint64_t>(*position);
  UINT count = static_cast<UINT>(std::min<uint64_t>(cb, available));
  if (count != 0) memcpy(pv, source.data() + *position, count);
  *position += count;
  return count;
}

FNWRITE(WriteMember) {
  Extraction* extraction = CurrentExtraction();
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
  int64_t* position = Cursor(hf);
  if (position == nullptr) return -1;
  *position = kClosedCursor;
  return 0;
}

FNSEEK(SeekSource) {
  int64_t* position = Cursor(hf);
  if (position == nullptr) return -1;
  int64_t size = static_cast<int64_t>(CurrentExtraction()->source.size());
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

uint16_t Get16(std::string_view bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                               static_cast<uint8_t>(bytes[offset + 1]) << 8);
}

uint32_t Get32(std::string_view bytes, size_t offset) {
  return Get16(bytes, offset) | static_cast<uint32_t>(Get16(bytes, offset + 2)) << 16;
}

// Advances *offset past a NUL-terminated string of at most `max_length` characters.
bool SkipString(std::string_view bytes, size_t* offset, size_t max_length) {
  size_t end = bytes.find('\0', *offset);
  if (end == std::string_view::npos || end - *offset > max_length) return false;
  *offset = end + 1;
  return true;
}

// The system decompressor trusts the tables of a cabinet further than a package from an
// unknown file deserves (one version dereferences a missing folder record when a cabinet
// lists files but no folders), so the header, folder and file tables are checked against the
// package before it is handed over. Only the layout is checked; the data blocks are the
// decompressor's.
bool CheckCabinetTables(std::string_view bytes) {
  // CFHEADER: signature, cbCabinet at 8, coffFiles at 16, version at 24, cFolders at 26,
  // cFiles at 28, flags at 30; optional reserve sizes and neighbour names follow at 36.
  constexpr size_t kHeaderSize = 36;
  constexpr uint16_t kPreviousCabinet = 0x0001;
  constexpr uint16_t kNextCabinet = 0x0002;
  constexpr uint16_t kReservePresent = 0x0004;
  constexpr size_t kMaxName = 255;
  if (bytes.size() < kHeaderSize || bytes.substr(0, 4) != "MSCF") return false;
  if (Get32(bytes, 8) > bytes.size() || static_cast<uint8_t>(bytes[25]) != 1) return false;
  uint32_t files_offset = Get32(bytes, 16);
  uint16_t folders = Get16(bytes, 26);
  uint16_t files = Get16(bytes, 28);
  uint16_t flags = Get16(bytes, 30);
  if (files != 0 && folders == 0) return false;

  size_t offset = kHeaderSize;
  size_t folder_reserve = 0;
  if (flags & kReservePresent) {
    if (bytes.size() < offset + 4) return false;
    size_t header_reserve = Get16(bytes, offset);
    folder_reserve = static_cast<uint8_t>(bytes[offset + 2]);
    offset += 4 + header_reserve;
    if (offset > bytes.size()) return false;
  }
  int names = ((flags & kPreviousCabinet) ? 2 : 0) + ((flags & kNextCabinet) ? 2 : 0);
  for (int i = 0; i < names; ++i) {
    if (!SkipString(bytes, &offset, kMaxName)) return false;
  }

  // CFFOLDER: coffCabStart, cCFData, typeCompress (low nibble: none, MSZIP, Quantum, LZX).
  for (uint16_t i = 0; i < folders; ++i) {
    if (bytes.size() < offset + 8 + folder_reserve) return false;
    if (Get32(bytes, offset) > bytes.size() || (Get16(bytes, offset + 6) & 0x0F) > 3) {
      return false;
    }
    offset += 8 + folder_reserve;
  }

  // CFFILE: cbFile, uoffFolderStart, iFolder at 8, date, time, attribs, then the name.
  constexpr uint16_t kFirstSpecialFolder = 0xFFFD;
  offset = files_offset;
  for (uint16_t i = 0; i < files; ++i) {
    if (offset > bytes.size() || bytes.size() - offset < 16) return false;
    uint16_t folder = Get16(bytes, offset + 8);
    if (folder >= folders && folder < kFirstSpecialFolder) return false;
    offset += 16;
    if (!SkipString(bytes, &offset, kMaxName)) return false;
  }
  return true;
}

// Makes an extraction the calling thread's for the duration of FDICopy.
class ScopedActiveExtraction {
 public:
  explicit ScopedActiveExtraction(Extraction* extraction) : previous_(CurrentExtraction()) {
    t_extraction_slot.Set(extraction);
  }
  ~ScopedActiveExtraction() { t_extraction_slot.Set(previous_); }
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
  if (!CheckCabinetTables(package)) return false;

  ERF error = {};
  HFDI context = api->create(HeapAllocate, HeapRelease, OpenSource, ReadSource, WriteMember,
                             CloseStream, SeekSource, cpuUNKNOWN, &error);
  if (context == nullptr) {
    logging::LogWithValue(logging::kERROR, "ExtractPackage", __LINE__,
                          "FDICreate failed: ", error.erfOper);
    return false;
  }

  Extraction extraction;
  extraction.source = package;
  extraction.requested = member_name;
  extraction.source_name =
      platform::ToString(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&extraction)));
  BOOL copied = FALSE;
  {
    ScopedActiveExtraction active(&extraction);
    std::vector<char> cabinet_name(extraction.source_name.begin(), extraction.source_name.end());
    cabinet_name.push_back('\0');
    char cabinet_path[1] = {'\0'};
    auto copy = [&] {
      copied = api->copy(context, cabinet_name.data(), cabinet_path, 0, Notify, nullptr,
                         &extraction);
    };
    // Last defence for damage the table check cannot see (inside compressed blocks): a fault
    // in the decompressor ends this extraction, not the installer.
    SehExceptionInfo fault;
    if (!CallGuarded(copy, &fault)) {
      logging::LogWithValue(logging::kERROR, "ExtractPackage", __LINE__,
                            "FDICopy faulted: 0x", platform::ToHexString(fault.code));
      copied = FALSE;
    }
    // After a fault the context may be half torn down: its destruction is guarded as well
    // (a fault there leaves it to the process's end).
    auto destroy = [&] { api->destroy(context); };
    if (!CallGuarded(destroy, &fault)) {
      logging::LogWithValue(logging::kERROR, "ExtractPackage", __LINE__,
                            "FDIDestroy faulted: 0x", platform::ToHexString(fault.code));
    }
  }
  *members = std::move(extraction.members);
  return copied != FALSE;
}

}  // namespace installer
