#include "brand/distrib_info_params.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "brand/registry_values.h"
#include "platform/command_line.h"
#include "platform/file_util.h"
#include "platform/json_writer.h"
#include "platform/logging.h"
#include "platform/scoped_handle.h"
#include "platform/strings.h"

namespace installer {
namespace {

// Offsets into the DOS header, the PE header and one WIN_CERTIFICATE entry.
constexpr uint64_t kPeOffsetField = 0x3C;
// 4 (signature) + 20 (file header) + 128 (data directory 4 of the 32-bit optional header);
// the 64-bit optional header (magic 0x20B, the test build on machines without a 32-bit mode)
// has its data directories 16 bytes further on.
constexpr uint64_t kOptionalMagicOffset = 24;
constexpr uint64_t kSecurityDirectoryOffset = 152;
constexpr uint64_t kSecurityDirectoryOffset64 = 168;
// The entry's PKCS#7 blob starts behind dwLength, wRevision and wCertificateType.
constexpr uint64_t kCertificateHeaderSize = 8;
// The DER length of a sequence in its two-byte long form: 0x30 0x82 hi lo.
constexpr uint64_t kDerLengthEnd = kCertificateHeaderSize + 4;
// The tag starts behind the entry header and the 4 + L bytes of the DER sequence, rounded up
// to 8: (8 + 4 + L + 7) & ~7.
constexpr uint64_t kTagAlignmentMask = 0x1FFF8;

constexpr wchar_t kDistribInfoFileName[] = L"distrib_info";
// Room for every language code ("pt-BR", "sr-Latn-RS") and no more.
constexpr size_t kMaxLanguageCodeLength = 16;

// Reading helpers over a bounds-checked span: each caller checks offset + width <= size.
uint32_t ReadLe32(std::string_view bytes, uint64_t offset) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadBe16(std::string_view bytes, uint64_t offset) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// True when [offset, offset + width) lies inside `bytes`. The arithmetic is 64-bit, so a
// 32-bit offset taken from the file cannot wrap around.
bool Inside(std::string_view bytes, uint64_t offset, uint64_t width) {
  return offset <= bytes.size() && width <= bytes.size() - offset;
}

// The switch value as parameter bytes: UTF-8, which is what a tag carries for non-ASCII
// text; a value that is not valid UTF-16 is narrowed byte by byte instead.
std::string SwitchValueToBytes(const std::wstring& value) {
  std::string bytes;
  if (platform::WideToUtf8(value, &bytes)) return bytes;
  return platform::Narrow(value);
}

}  // namespace

std::string_view FindTag(std::string_view file) {
  if (!Inside(file, 0, 2) || file[0] != 'M' || file[1] != 'Z') return {};
  if (!Inside(file, kPeOffsetField, 4)) return {};
  const uint64_t pe_offset = ReadLe32(file, kPeOffsetField);
  if (!Inside(file, pe_offset, 4) || std::memcmp(file.data() + pe_offset, "PE\0\0", 4) != 0) {
    return {};
  }
  if (!Inside(file, pe_offset + kOptionalMagicOffset, 2)) return {};
  const bool pe32_plus = file[pe_offset + kOptionalMagicOffset] == 0x0B &&
                         file[pe_offset + kOptionalMagicOffset + 1] == 0x02;
  const uint64_t directory =
      pe_offset + (pe32_plus ? kSecurityDirectoryOffset64 : kSecurityDirectoryOffset);
  if (!Inside(file, directory, 4)) return {};
  const uint64_t entry = ReadLe32(file, directory);
  if (entry == 0 || !Inside(file, entry, kDerLengthEnd)) return {};
  if (static_cast<uint8_t>(file[entry + 8]) != 0x30 ||
      static_cast<uint8_t>(file[entry + 9]) != 0x82) {
    return {};
  }
  const uint64_t der_length = ReadBe16(file, entry + 10);
  const uint64_t tag = entry + ((der_length + 19) & kTagAlignmentMask);
  if (tag == 0 || !Inside(file, tag, kTagHeaderSize)) return {};
  if (std::memcmp(file.data() + tag, kTagMagic, 4) != 0) return {};
  const uint64_t text_length = ReadBe16(file, tag + 4);
  if (!Inside(file, tag + kTagHeaderSize, text_length)) return {};
  return file.substr(tag + kTagHeaderSize, text_length);
}

std::string ReadTag(const std::wstring& path) {
  platform::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::string();
  // The file's own size bounds the parse: the view itself is rounded up to whole pages,
  // and a tag reaching into that zero padding is not a tag of the file.
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 ||
      static_cast<uint64_t>(size.QuadPart) > SIZE_MAX) {
    return std::string();
  }
  platform::ScopedKernelHandle mapping(
      ::CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return std::string();
  platform::ScopedMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view) return std::string();
  const std::string_view bytes(static_cast<const char*>(view.get()),
                               static_cast<size_t>(size.QuadPart));
  return std::string(FindTag(bytes));
}

DistribInfoParams::ParamMap ParseDistribParams(std::string_view text) {
  // The tag lies outside the signature and may hold thousands of pairs: they are sorted once.
  std::vector<DistribInfoParams::ParamMap::value_type> pairs;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t key_end = text.find_first_of("&=", pos);
    std::string_view key = text.substr(pos, key_end == std::string_view::npos
                                                ? std::string_view::npos
                                                : key_end - pos);
    std::string_view value;
    size_t pair_end = key_end;
    if (key_end != std::string_view::npos && text[key_end] == '=') {
      pair_end = text.find('&', key_end + 1);
      value = text.substr(key_end + 1, pair_end == std::string_view::npos
                                           ? std::string_view::npos
                                           : pair_end - key_end - 1);
    }
    pairs.emplace_back(std::string(key), std::string(value));
    if (pair_end == std::string_view::npos) break;
    pos = pair_end + 1;
  }
  DistribInfoParams::ParamMap params;
  params.Assign(std::move(pairs));
  return params;
}

bool BuildDistribInfoJson(const DistribInfoParams::ParamMap& params, std::string* json) {
  platform::JsonObjectWriter writer(2);
  // A key or value that is not UTF-8 cannot be written as JSON text: that parameter is left
  // out of the document.
  for (const auto& [key, value] : params) writer.Add(key, value);
  *json = writer.Text();
  return true;
}

DistribInfoParams::DistribInfoParams() = default;
DistribInfoParams::~DistribInfoParams() = default;

bool DistribInfoParams::Get(std::string_view key, std::string* value) const {
  auto it = params_.find(key);
  if (it == params_.end()) return false;
  *value = it->second;
  return true;
}

bool DistribInfoParams::GetBool(std::string_view key, bool* flag) const {
  *flag = false;
  std::string value;
  if (!Get(key, &value)) return false;
  if (value == "1") {
    *flag = true;
    return true;
  }
  return value == "2";
}

bool DistribInfoParams::GetLanguage(std::string* language) const {
  std::string value;
  if (!Get("lang", &value)) return false;
  if (!IsLanguageCode(value)) {
    // The value itself stays out of the log: it may hold line breaks or 64 KB.
    LOG(WARNING, "GetLanguage") << "Distribution parameter lang ignored: no language code ("
                                << value.size() << " bytes)";
    return false;
  }
  *language = value;
  return true;
}

bool IsLanguageCode(std::string_view text) {
  if (text.size() > kMaxLanguageCodeLength) return false;
  for (char c : text) {
    const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c >= '0' && c <= '9') || c == '-';
    if (!allowed) return false;
  }
  return true;
}

void DistribInfoParams::Save(const std::string& raw_text) {
  StoreValueInRegistry(kDistribInfoParamsValue, platform::WidenUtf8(raw_text));
}

std::wstring DistribInfoParams::GetOwnPath() const {
  return platform::OwnExecutablePath().value();
}

bool DistribInfoParams::CreateJsonFromDistribParams() {
  return CreateJsonFromText(ProcessCommandLine().Value("distr-info-params"));
}

bool DistribInfoParams::CreateJsonFromDistribParamsForTesting(const std::wstring& switch_value) {
  return CreateJsonFromText(switch_value);
}

bool DistribInfoParams::CreateJsonFromText(const std::wstring& switch_value) {
  std::string raw_text = SwitchValueToBytes(switch_value);
  if (raw_text.empty()) raw_text = ReadTag(GetOwnPath());
  if (raw_text.empty()) return !distr_info_file_.empty();

  Save(raw_text);
  params_ = ParseDistribParams(raw_text);
  if (params_.empty()) return !distr_info_file_.empty();

  // In the temporary folder; a bare name when Windows gives none.
  platform::FilePath temp;
  platform::TempFolder(&temp);
  const std::wstring path = temp.Append(kDistribInfoFileName).value();
  std::string json;
  if (!BuildDistribInfoJson(params_, &json)) {
    logging::LogText(logging::kERROR, "CreateJsonFromDistribParams", __LINE__,
                     "Can't create json dump");
    return !distr_info_file_.empty();
  }
  platform::ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
  DWORD written = 0;
  const bool write_ok =
      file && ::WriteFile(file.get(), json.data(), static_cast<DWORD>(json.size()), &written,
                          nullptr) &&
      written == json.size();
  if (!write_ok) {
    logging::LogText(logging::kERROR, "CreateJsonFromDistribParams", __LINE__,
                     "Write json to file error");
    // A partly written document would reach the setup program as if it were complete.
    file.reset();
    ::DeleteFileW(path.c_str());
    return !distr_info_file_.empty();
  }
  distr_info_file_ = path;
  return true;
}

}  // namespace installer
