#include "brand/distrib_info_params.h"

#include <windows.h>

#include <jansson.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "brand/registry_values.h"
#include "platform/strings.h"
#include "tests/support/browser_registry_key.h"
#include "tests/support/tagged_image.h"
#include "tests/support/test_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

// One parameter's value, or "<missing>".
std::string Param(const DistribInfoParams& params, const char* key) {
  std::string value = "<missing>";
  params.Get(key, &value);
  return value;
}

void PutLe32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}
void PutLe16(std::string* bytes, size_t offset, uint16_t value) {
  (*bytes)[offset] = static_cast<char>(value & 0xFF);
  (*bytes)[offset + 1] = static_cast<char>(value >> 8);
}
void PutBe16(std::string* bytes, size_t offset, uint16_t value) {
  (*bytes)[offset] = static_cast<char>(value >> 8);
  (*bytes)[offset + 1] = static_cast<char>(value & 0xFF);
}
uint32_t GetLe32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

// A minimal PE image: DOS header, PE signature, a security directory pointing at one
// certificate entry whose PKCS#7 stand-in has the DER length `der_length`, and a tag behind it.
struct ImageSpec {
  uint32_t pe_offset = 0x80;
  uint32_t cert_offset = 0x200;
  uint16_t der_length = 0x40;
  std::string text = "lang=tr&stat=1";
  // Where the tag goes, relative to the entry; 0 means where the reader expects it.
  uint32_t tag_offset = 0;
  std::string magic = "Zvct";
  int declared_length = -1;  // the N field; -1 means text.size()
  size_t trailing = 0;       // bytes after the text
};

using test_support::ExpectedTagOffset;

std::string BuildImage(const ImageSpec& layout) {
  const uint32_t tag_offset =
      layout.tag_offset ? layout.tag_offset : ExpectedTagOffset(layout.der_length);
  // A tag placed inside the DER stand-in must not shrink the image below the stand-in's end.
  const size_t size = std::max<size_t>(layout.cert_offset + tag_offset + 6 + layout.text.size(),
                                       layout.cert_offset + 12 + layout.der_length) +
                      layout.trailing;
  std::string image(size, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  PutLe32(&image, 0x3C, layout.pe_offset);
  std::memcpy(&image[layout.pe_offset], "PE\0\0", 4);
  PutLe32(&image, layout.pe_offset + 152, layout.cert_offset);
  PutLe32(&image, layout.pe_offset + 156, static_cast<uint32_t>(size - layout.cert_offset));
  const size_t entry = layout.cert_offset;
  PutLe32(&image, entry, static_cast<uint32_t>(size - entry));
  PutLe16(&image, entry + 4, 0x0200);
  PutLe16(&image, entry + 6, 0x0002);
  image[entry + 8] = '\x30';
  image[entry + 9] = '\x82';
  PutBe16(&image, entry + 10, layout.der_length);
  for (size_t i = 0; i < layout.der_length; ++i) image[entry + 12 + i] = '\xA5';
  const size_t tag = entry + tag_offset;
  std::memcpy(&image[tag], layout.magic.data(), 4);
  PutBe16(&image, tag + 4,
          static_cast<uint16_t>(layout.declared_length < 0 ? layout.text.size()
                                                           : layout.declared_length));
  std::memcpy(&image[tag + 6], layout.text.data(), layout.text.size());
  return image;
}

std::string WithByte(std::string image, size_t offset, char value) {
  image[offset] = value;
  return image;
}
std::string WithLe32(std::string image, size_t offset, uint32_t value) {
  PutLe32(&image, offset, value);
  return image;
}

TEST(FindTagTest, ReadsTheTagBehindTheSignature) {
  struct Case {
    const char* name;
    ImageSpec layout;
    std::string expected;
  } cases[] = {
      {"plain", ImageSpec{}, "lang=tr&stat=1"},
      {"DER length 0", ImageSpec{.der_length = 0}, "lang=tr&stat=1"},
      {"DER length 4 still rounds to 16", ImageSpec{.der_length = 4}, "lang=tr&stat=1"},
      {"DER length 5 rounds to 24", ImageSpec{.der_length = 5}, "lang=tr&stat=1"},
      {"largest DER length", ImageSpec{.der_length = 0xFFFF}, "lang=tr&stat=1"},
      {"PE header far out", ImageSpec{.pe_offset = 0x1000, .cert_offset = 0x2000}, "lang=tr&stat=1"},
      {"bytes after the text are not part of it", ImageSpec{.trailing = 9}, "lang=tr&stat=1"},
      {"N shorter than the text", ImageSpec{.declared_length = 4}, "lang"},
      {"N = 0", ImageSpec{.declared_length = 0}, ""},
      {"percent signs kept", ImageSpec{.text = "a=%D0%B0&b=+"}, "a=%D0%B0&b=+"},
      {"long text", ImageSpec{.text = std::string(60000, 'v')}, std::string(60000, 'v')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string image = BuildImage(c.layout);
    EXPECT_EQ(c.expected, std::string(FindTag(image)));
  }
}

TEST(FindTagTest, DamagedFilesGiveNoTag) {
  const ImageSpec layout;
  const std::string good = BuildImage(layout);
  const size_t pe = layout.pe_offset;
  const size_t entry = layout.cert_offset;
  const size_t tag = entry + ExpectedTagOffset(layout.der_length);
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"one byte", "M"},
      {"only MZ", "MZ"},
      {"no MZ", WithByte(good, 0, 'Z')},
      {"lower-case mz", WithByte(WithByte(good, 0, 'm'), 1, 'z')},
      {"cut inside e_lfanew", good.substr(0, 0x3F)},
      {"cut right before e_lfanew", good.substr(0, 0x3C)},
      {"e_lfanew at the end of the file", WithLe32(good, 0x3C, static_cast<uint32_t>(good.size()))},
      {"e_lfanew past the end", WithLe32(good, 0x3C, static_cast<uint32_t>(good.size() + 100))},
      {"PE signature straddles the end", WithLe32(good, 0x3C, static_cast<uint32_t>(good.size() - 2))},
      {"e_lfanew wraps around", WithLe32(good, 0x3C, 0xFFFFFFFE)},
      {"e_lfanew all ones", WithLe32(good, 0x3C, 0xFFFFFFFF)},
      {"e_lfanew 0", WithLe32(good, 0x3C, 0)},
      {"PE signature wrong", WithByte(good, pe + 3, 1)},
      {"PE signature lower case", WithByte(good, pe, 'p')},
      {"cut inside the security directory", good.substr(0, pe + 152 + 3)},
      {"cut before the security directory", good.substr(0, pe + 100)},
      {"security directory wraps", WithLe32(good, 0x3C, 0xFFFFFFFF - 100)},
      {"certificate offset 0", WithLe32(good, pe + 152, 0)},
      {"certificate offset at the end", WithLe32(good, pe + 152, static_cast<uint32_t>(good.size()))},
      {"certificate offset wraps", WithLe32(good, pe + 152, 0xFFFFFFF8)},
      {"certificate offset all ones", WithLe32(good, pe + 152, 0xFFFFFFFF)},
      {"certificate entry cut before the DER length", good.substr(0, entry + 11)},
      {"certificate entry cut at the DER tag", good.substr(0, entry + 9)},
      {"DER short length form", WithByte(good, entry + 9, '\x81')},
      {"DER one-byte length", WithByte(good, entry + 9, '\x40')},
      {"DER four-byte length", WithByte(good, entry + 9, '\x84')},
      {"DER set instead of sequence", WithByte(good, entry + 8, '\x31')},
      {"DER length past the end", WithByte(good, entry + 10, '\x7F')},
      {"tag header cut", good.substr(0, tag + 5)},
      {"magic only", good.substr(0, tag + 4)},
      {"magic wrong", WithByte(good, tag + 3, 'u')},
      {"magic lower case", WithByte(good, tag, 'z')},
      {"N one past the end", BuildImage(ImageSpec{.declared_length = 15})},
      {"N = 0xFFFF", BuildImage(ImageSpec{.declared_length = 0xFFFF})},
      {"text cut by one byte", good.substr(0, good.size() - 1)},
      {"tag not 8-aligned", BuildImage(ImageSpec{.der_length = 5, .tag_offset = 17})},
      {"tag right behind the entry header", BuildImage(ImageSpec{.tag_offset = 8})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ("", std::string(FindTag(c.bytes)));
  }
}

// Bytes placed so that they end exactly where an inaccessible page begins: any read past
// the end faults instead of seeing neighbouring memory.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(size_t capacity) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    pages_ = (capacity + page_ - 1) / page_ * page_;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, pages_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (base_) VirtualProtect(base_ + pages_, page_, PAGE_NOACCESS, &old);
  }
  ~GuardedBuffer() {
    if (base_) VirtualFree(base_, 0, MEM_RELEASE);
  }
  bool ok() const { return base_ != nullptr; }
  std::string_view Place(const std::string& bytes) {
    char* start = base_ + pages_ - bytes.size();
    std::memcpy(start, bytes.data(), bytes.size());
    return std::string_view(start, bytes.size());
  }

 private:
  size_t page_ = 4096;
  size_t pages_ = 0;
  char* base_ = nullptr;
};

TEST(FindTagTest, NeverReadsPastTheEndOfTheFile) {
  GuardedBuffer buffer(1 << 20);
  ASSERT_TRUE(buffer.ok());
  const std::string good = BuildImage(ImageSpec{});
  // Every prefix of a valid image, read right up against the guard page.
  for (size_t length = 0; length <= good.size(); ++length) {
    const std::string_view tag = FindTag(buffer.Place(good.substr(0, length)));
    EXPECT_EQ(length == good.size() ? "lang=tr&stat=1" : "", std::string(tag)) << length;
  }
}

// The real installer with a certificate table appended: the security directory points at
// an entry holding a DER stand-in and the tag.
using test_support::AppendCertificateWithTag;

// Damages tags and PE headers at random (with a fixed seed, so a failure repeats) and
// requires every result to be either empty or a well-formed tag inside the file. The reads
// run against a guard page; a sample also goes through ReadTag on a real file.
TEST(FindTagTest, RandomlyDamagedFilesEndInEmptyOrATag) {
  const std::string installer =
      test_support::ReadFileBytes(test_support::BuildFile(L"lite_installer.exe"));
  ASSERT_FALSE(installer.empty());
  std::vector<std::string> bases = {
      BuildImage(ImageSpec{}),
      BuildImage(ImageSpec{.der_length = 0x1234, .text = "win10pin=1&browser=1&pps=3"}),
      AppendCertificateWithTag(installer, "zorvinuid=42&download_date=20261201", 0x0B21),
  };
  test_support::ScopedTempDir dir;
  GuardedBuffer buffer(installer.size() + 0x20000);
  ASSERT_TRUE(buffer.ok());

  std::mt19937 random(20261208);
  auto below = [&random](size_t bound) {
    return bound == 0 ? size_t{0} : std::uniform_int_distribution<size_t>(0, bound - 1)(random);
  };
  constexpr int kRounds = 6000;
  int tags = 0;
  int empties = 0;
  int file_checks = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::string bytes = bases[below(bases.size())];
    const uint32_t pe = GetLe32(bytes, 0x3C);
    const uint32_t entry = GetLe32(bytes, pe + 152);
    const uint32_t interesting[] = {0x3C, pe, pe + 152, entry, entry + 8, entry + 10,
                                    entry + ExpectedTagOffset(static_cast<uint16_t>(
                                                static_cast<uint8_t>(bytes[entry + 10]) << 8 |
                                                static_cast<uint8_t>(bytes[entry + 11])))};
    const uint32_t special[] = {0, 1, 7, 8, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF8,
                                static_cast<uint32_t>(bytes.size()),
                                static_cast<uint32_t>(bytes.size() - 1),
                                static_cast<uint32_t>(bytes.size() + 1)};
    const int damages = 1 + static_cast<int>(below(3));
    for (int d = 0; d < damages && !bytes.empty(); ++d) {
      switch (below(6)) {
        case 0:  // one random byte near a structure
          bytes[std::min(bytes.size() - 1, interesting[below(7)] + below(16))] =
              static_cast<char>(below(256));
          break;
        case 1:  // a random 32-bit value over a structure field
        case 2: {
          const size_t at = interesting[below(7)];
          if (at + 4 <= bytes.size()) {
            PutLe32(&bytes, at, below(2) ? special[below(10)] : static_cast<uint32_t>(random()));
          }
          break;
        }
        case 3:  // truncation
          bytes.resize(below(bytes.size() + 1));
          break;
        case 4:  // random garbage appended
          bytes.append(below(64), static_cast<char>(below(256)));
          break;
        default:  // a byte anywhere
          bytes[below(bytes.size())] = static_cast<char>(below(256));
          break;
      }
    }
    const std::string_view placed = buffer.Place(bytes);
    const std::string_view tag = FindTag(placed);
    if (tag.empty()) {
      ++empties;
    } else {
      ++tags;
      const char* begin = placed.data();
      const char* end = placed.data() + placed.size();
      ASSERT_GE(tag.data(), begin + 6) << "round " << round;
      ASSERT_LE(tag.data() + tag.size(), end) << "round " << round;
      ASSERT_EQ(0, std::memcmp(tag.data() - 6, "Zvct", 4)) << "round " << round;
      const size_t declared = static_cast<uint8_t>(tag.data()[-2]) << 8 |
                              static_cast<uint8_t>(tag.data()[-1]);
      ASSERT_EQ(declared, tag.size()) << "round " << round;
    }
    if (round % 40 == 0) {
      const std::wstring path = dir.File(L"damaged_" + std::to_wstring(round) + L".exe");
      ASSERT_TRUE(test_support::WriteFileBytes(path, bytes));
      EXPECT_EQ(std::string(tag), ReadTag(path)) << "round " << round;
      DeleteFileW(path.c_str());
      ++file_checks;
    }
  }
  // The damage must leave both outcomes common, or the test proves little.
  EXPECT_GT(tags, kRounds / 10);
  EXPECT_GT(empties, kRounds / 10);
  EXPECT_EQ(kRounds / 40, file_checks);
}

TEST(ReadTagTest, ReadsFilesOnDisk) {
  test_support::ScopedTempDir dir;
  const std::wstring tagged = dir.File(L"tagged.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(tagged, BuildImage(ImageSpec{})));
  EXPECT_EQ("lang=tr&stat=1", ReadTag(tagged));

  const std::wstring empty = dir.File(L"empty.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(empty, ""));
  EXPECT_EQ("", ReadTag(empty));
  EXPECT_EQ("", ReadTag(dir.File(L"missing.exe")));
  EXPECT_EQ("", ReadTag(dir.path()));
  EXPECT_EQ("", ReadTag(L""));
  // A file opened by someone else for reading can still be read.
  HANDLE held = CreateFileW(tagged.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  EXPECT_EQ("lang=tr&stat=1", ReadTag(tagged));
  CloseHandle(held);
}

TEST(ReadTagTest, TagReachingIntoThePagePaddingIsIgnored) {
  // The mapping is rounded up to whole pages of zeros; the file itself ends earlier.
  test_support::ScopedTempDir dir;
  const std::wstring path = dir.File(L"short.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(path, BuildImage(ImageSpec{.declared_length = 100})));
  EXPECT_EQ("", ReadTag(path));
}

TEST(ReadTagTest, UntaggedInstallerHasNoTag) {
  EXPECT_EQ("", ReadTag(test_support::BuildFile(L"lite_installer.exe")));
}

TEST(ParseDistribParamsTest, SplitsPairs) {
  using Map = DistribInfoParams::ParamMap;
  struct Case {
    const char* name;
    std::string text;
    Map expected;
  } cases[] = {
      {"empty", "", {}},
      {"one pair", "a=1", {{"a", "1"}}},
      {"two pairs", "lang=tr&stat=1", {{"lang", "tr"}, {"stat", "1"}}},
      {"repeated key keeps the last value", "a=1&b=2&a=3", {{"a", "3"}, {"b", "2"}}},
      {"nothing after =", "a=&b=2", {{"a", ""}, {"b", "2"}}},
      {"no =", "flag&b=2", {{"flag", ""}, {"b", "2"}}},
      {"key alone", "k", {{"k", ""}}},
      {"= first", "=x", {{"", "x"}}},
      {"= first twice", "=x&=y", {{"", "y"}}},
      {"lone =", "=", {{"", ""}}},
      {"lone &", "&", {{"", ""}}},
      {"trailing & adds nothing", "a=1&", {{"a", "1"}}},
      {"leading &", "&a=1", {{"", ""}, {"a", "1"}}},
      {"double &", "a=1&&b=2", {{"", ""}, {"a", "1"}, {"b", "2"}}},
      {"= inside the value", "a=b=c", {{"a", "b=c"}}},
      {"== ", "==", {{"", "="}}},
      {"percent signs kept", "q=%D0%B0%20b&r=%", {{"q", "%D0%B0%20b"}, {"r", "%"}}},
      {"plus kept", "q=a+b", {{"q", "a+b"}}},
      {"percent in the key", "%6C=1", {{"%6C", "1"}}},
      {"bytes kept", "a=\xFF\xFE&\xC3\xA9=1", {{"a", "\xFF\xFE"}, {"\xC3\xA9", "1"}}},
      {"embedded zero", std::string("a=x\0y&b", 7), {{"a", std::string("x\0y", 3)}, {"b", ""}}},
      {"spaces are bytes too", " a = 1 ", {{" a ", " 1 "}}},
      {"delivered keys", "win10pin=1&browser=1&pps=3&zorvinuid=42&download_date=20261201",
       {{"browser", "1"}, {"download_date", "20261201"}, {"pps", "3"}, {"win10pin", "1"},
        {"zorvinuid", "42"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, ParseDistribParams(c.text));
  }
}

TEST(ParseDistribParamsTest, VeryLongValuesAndManyPairs) {
  const std::string long_value(200000, 'v');
  auto params = ParseDistribParams("a=1&long=" + long_value + "&z=2");
  ASSERT_EQ(3u, params.size());
  EXPECT_EQ(long_value, params["long"]);
  EXPECT_EQ("2", params["z"]);

  std::string many;
  for (int i = 0; i < 5000; ++i) many += "k" + std::to_string(i) + "=" + std::to_string(i) + "&";
  params = ParseDistribParams(many);
  ASSERT_EQ(5000u, params.size());
  EXPECT_EQ("4999", params["k4999"]);
}

// The members of a JSON object as a map; fails the test when the text is not an object of
// strings.
DistribInfoParams::ParamMap ParseJsonObject(const std::string& text) {
  DistribInfoParams::ParamMap members;
  json_error_t error;
  json_t* root = json_loadb(text.data(), text.size(), JSON_ALLOW_NUL, &error);
  EXPECT_NE(nullptr, root) << error.text;
  if (!root) return members;
  EXPECT_TRUE(json_is_object(root));
  const char* key;
  size_t key_length;
  json_t* value;
  json_object_keylen_foreach(root, key, key_length, value) {
    EXPECT_TRUE(json_is_string(value));
    members[std::string(key, key_length)] =
        std::string(json_string_value(value), json_string_length(value));
  }
  json_decref(root);
  return members;
}

TEST(BuildDistribInfoJsonTest, IndentsByTwoInKeyOrder) {
  std::string json;
  ASSERT_TRUE(BuildDistribInfoJson({{"stat", "1"}, {"lang", "tr"}}, &json));
  EXPECT_EQ("{\n  \"lang\": \"tr\",\n  \"stat\": \"1\"\n}", json);
  ASSERT_TRUE(BuildDistribInfoJson({}, &json));
  EXPECT_EQ("{}", json);
}

TEST(BuildDistribInfoJsonTest, MembersAndWhatIsLeftOut) {
  using Map = DistribInfoParams::ParamMap;
  struct Case {
    const char* name;
    Map params;
    Map expected;
  } cases[] = {
      {"percent encoding kept", {{"q", "%D0%B0%20"}}, {{"q", "%D0%B0%20"}}},
      {"UTF-8 kept", {{"w", "\xD0\xB0\xD0\xB1"}}, {{"w", "\xD0\xB0\xD0\xB1"}}},
      {"value not UTF-8 left out", {{"bad", "\xFF"}, {"good", "1"}}, {{"good", "1"}}},
      {"overlong encoding left out", {{"bad", "\xC0\xAF"}, {"good", "1"}}, {{"good", "1"}}},
      {"key not UTF-8 left out", {{"\xFE", "v"}, {"good", "1"}}, {{"good", "1"}}},
      {"empty key and value", {{"", ""}, {"a", ""}}, {{"", ""}, {"a", ""}}},
      {"quotes and backslashes", {{"q", "a\"b\\c"}}, {{"q", "a\"b\\c"}}},
      {"control characters", {{"c", "a\nb\tc"}}, {{"c", "a\nb\tc"}}},
      {"embedded zero", {{"z", std::string("a\0b", 3)}}, {{"z", std::string("a\0b", 3)}}},
      {"long value", {{"l", std::string(100000, 'x')}}, {{"l", std::string(100000, 'x')}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string json;
    ASSERT_TRUE(BuildDistribInfoJson(c.params, &json));
    EXPECT_EQ(c.expected, ParseJsonObject(json));
  }
}

TEST(DistribInfoParamsTest, GetAndGetBool) {
  DistribInfoParams params;
  params.SetParamsForTesting({{"def", "1"},
                              {"stat", "2"},
                              {"zero", "0"},
                              {"three", "3"},
                              {"empty", ""},
                              {"padded", " 1"},
                              {"two_chars", "11"},
                              {"true", "true"},
                              {"plus", "+1"}});
  struct Case {
    std::string key;
    bool result;
    bool flag;
  } cases[] = {
      {"def", true, true},     {"stat", true, false},    {"zero", false, false},
      {"three", false, false}, {"empty", false, false},  {"padded", false, false},
      {"two_chars", false, false}, {"true", false, false}, {"plus", false, false},
      {"missing", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    // The flag starts set so that clearing it is visible.
    bool flag = true;
    EXPECT_EQ(c.result, params.GetBool(c.key, &flag));
    EXPECT_EQ(c.flag, flag);
  }
  std::string value = "untouched";
  EXPECT_FALSE(params.Get("missing", &value));
  EXPECT_EQ("untouched", value);
  EXPECT_TRUE(params.Get("empty", &value));
  EXPECT_EQ("", value);
  EXPECT_TRUE(params.Has("empty"));
  EXPECT_FALSE(params.Has("missing"));
  EXPECT_FALSE(params.UseSavedParams());
}

// The tag lies outside the signature: its "lang" is taken only as a language code.
TEST(DistribInfoParamsTest, LanguageIsTakenOnlyAsALanguageCode) {
  const std::pair<std::string, bool> cases[] = {
      {"tr", true},    {"pt-BR", true},  {"", true},      {std::string(16, 'a'), true},
      {std::string(17, 'a'), false}, {"en\" --x", false}, {"../x", false}, {"a?", false},
      {"ru\r", false}, {"en_US", false}, {"ru%20", false}, {"\xD1\x80\xD1\x83", false},
  };
  for (const auto& [value, taken] : cases) {
    SCOPED_TRACE(value);
    test_support::ScopedTestLog log;
    DistribInfoParams params;
    params.SetParamsForTesting({{"lang", value}});
    std::string language = "untouched";
    EXPECT_EQ(taken, params.GetLanguage(&language));
    EXPECT_EQ(taken ? value : "untouched", language);
    EXPECT_EQ(taken ? 0 : 1, log.CountLines(L"WARNING: GetLanguage"));
  }
  test_support::ScopedTestLog log;  // An absent "lang" is no warning.
  std::string language;
  EXPECT_FALSE(DistribInfoParams().GetLanguage(&language));
  EXPECT_EQ(L"", log.Text());
}

// Points the temporary folder of this process at a private folder.
class ScopedTempFolder {
 public:
  explicit ScopedTempFolder(const std::wstring& folder) {
    Remember(L"TMP", &old_tmp_);
    Remember(L"TEMP", &old_temp_);
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());
  }
  ~ScopedTempFolder() {
    SetEnvironmentVariableW(L"TMP", old_tmp_.c_str());
    SetEnvironmentVariableW(L"TEMP", old_temp_.c_str());
  }

 private:
  static void Remember(const wchar_t* name, std::wstring* value) {
    wchar_t buffer[MAX_PATH] = {};
    GetEnvironmentVariableW(name, buffer, MAX_PATH);
    *value = buffer;
  }
  std::wstring old_tmp_;
  std::wstring old_temp_;
};

class FakeDistribInfoParams : public DistribInfoParams {
 public:
  void Save(const std::string& raw_text) override { saved.push_back(raw_text); }
  std::wstring GetOwnPath() const override { return own_path; }

  std::wstring own_path;
  std::vector<std::string> saved;
};

class CreateJsonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tagged_ = dir_.File(L"tagged.exe");
    ASSERT_TRUE(test_support::WriteFileBytes(tagged_, BuildImage(ImageSpec{.text = "banner=3&def=1"})));
    untagged_ = test_support::BuildFile(L"lite_installer.exe");
  }
  std::wstring Expected() const { return temp_.path() + L"\\distrib_info"; }
  std::string Written() const { return test_support::ReadFileBytes(Expected()); }

  test_support::ScopedTestLog log_;
  test_support::ScopedTempDir dir_;
  test_support::ScopedTempDir temp_;
  ScopedTempFolder temp_folder_{temp_.path() + L"\\"};
  std::wstring tagged_;
  std::wstring untagged_;
};

TEST_F(CreateJsonTest, SwitchTextIsSavedParsedAndWritten) {
  FakeDistribInfoParams params;
  params.own_path = tagged_;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L"lang=tr&stat=1&q=%41"));
  EXPECT_EQ(Expected(), params.distr_info_file());
  // The switch wins over the tag of the own file.
  EXPECT_EQ(std::vector<std::string>{"lang=tr&stat=1&q=%41"}, params.saved);
  const DistribInfoParams::ParamMap expected = {{"lang", "tr"}, {"q", "%41"}, {"stat", "1"}};
  EXPECT_EQ(expected, params.params());
  EXPECT_EQ(expected, ParseJsonObject(Written()));
  EXPECT_EQ("{\n  \"lang\": \"tr\",\n  \"q\": \"%41\",\n  \"stat\": \"1\"\n}", Written());
}

TEST_F(CreateJsonTest, EmptySwitchFallsBackToTheTag) {
  FakeDistribInfoParams params;
  params.own_path = tagged_;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L""));
  EXPECT_EQ(std::vector<std::string>{"banner=3&def=1"}, params.saved);
  EXPECT_EQ((DistribInfoParams::ParamMap{{"banner", "3"}, {"def", "1"}}), ParseJsonObject(Written()));
  bool flag = false;
  EXPECT_TRUE(params.GetBool("def", &flag));
  EXPECT_TRUE(flag);
}

TEST_F(CreateJsonTest, NoSwitchAndNoTagLeavesNothingBehind) {
  struct Case {
    const char* name;
    std::wstring own_path;
  } cases[] = {
      {"untagged installer", untagged_},
      {"own path unknown", L""},
      {"own file missing", dir_.File(L"missing.exe")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeDistribInfoParams params;
    params.own_path = c.own_path;
    EXPECT_FALSE(params.CreateJsonFromDistribParamsForTesting(L""));
    EXPECT_EQ(L"", params.distr_info_file());
    EXPECT_TRUE(params.saved.empty());
    EXPECT_TRUE(params.params().empty());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Expected().c_str()));
  }
}

TEST_F(CreateJsonTest, TagOfLengthZeroGivesNoParameters) {
  const std::wstring zero = dir_.File(L"zero.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(zero, BuildImage(ImageSpec{.declared_length = 0})));
  FakeDistribInfoParams params;
  params.own_path = zero;
  EXPECT_FALSE(params.CreateJsonFromDistribParamsForTesting(L""));
  EXPECT_TRUE(params.saved.empty());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Expected().c_str()));
}

TEST_F(CreateJsonTest, LoneAmpersandGivesOneEmptyMember) {
  FakeDistribInfoParams params;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L"&"));
  EXPECT_EQ((DistribInfoParams::ParamMap{{"", ""}}), ParseJsonObject(Written()));
}

TEST_F(CreateJsonTest, NonAsciiSwitchTextBecomesUtf8) {
  FakeDistribInfoParams params;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L"city=\x041C\x0438\x043D\x0441\x043A"));
  EXPECT_EQ("\xD0\x9C\xD0\xB8\xD0\xBD\xD1\x81\xD0\xBA", Param(params, "city"));
  EXPECT_EQ(params.params(), ParseJsonObject(Written()));
}

TEST_F(CreateJsonTest, ValueThatIsNotUtf8IsLeftOutOfTheFile) {
  const std::wstring path = dir_.File(L"latin1.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(path, BuildImage(ImageSpec{.text = "a=\xE9t\xE9&b=2"})));
  FakeDistribInfoParams params;
  params.own_path = path;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L""));
  // The parameter itself is still there for the installer's own readers.
  EXPECT_EQ("\xE9t\xE9", Param(params, "a"));
  EXPECT_EQ((DistribInfoParams::ParamMap{{"b", "2"}}), ParseJsonObject(Written()));
}

TEST_F(CreateJsonTest, ExistingFileIsTruncated) {
  ASSERT_TRUE(test_support::WriteFileBytes(Expected(), std::string(5000, '#')));
  FakeDistribInfoParams params;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L"a=1"));
  EXPECT_EQ("{\n  \"a\": \"1\"\n}", Written());
}

TEST_F(CreateJsonTest, UnwritableFolderIsLoggedAndGivesNoFile) {
  const std::wstring missing = temp_.path() + L"\\no_such_folder\\";
  ScopedTempFolder unwritable(missing);
  FakeDistribInfoParams params;
  EXPECT_FALSE(params.CreateJsonFromDistribParamsForTesting(L"a=1"));
  EXPECT_EQ(L"", params.distr_info_file());
  // The parameters are still read and saved; only the file is missing.
  EXPECT_EQ(std::vector<std::string>{"a=1"}, params.saved);
  EXPECT_EQ("1", Param(params, "a"));
  EXPECT_TRUE(log_.Contains(L"ERROR: CreateJsonFromDistribParams ("));
  EXPECT_TRUE(log_.Contains(L"): Write json to file error"));
}

TEST_F(CreateJsonTest, RealSaveStoresTheRawTextInTheRegistry) {
  test_support::ScopedBrowserRegistryKey key;
  DistribInfoParams params;
  ASSERT_TRUE(params.CreateJsonFromDistribParamsForTesting(L"lang=uk&x=%20"));
  DWORD type = 0;
  std::string bytes;
  ASSERT_TRUE(key.Read(L"DistribInfoParams", &type, &bytes));
  EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(std::wstring(L"lang=uk&x=%20", 14),
            std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
  EXPECT_TRUE(log_.Contains(L"HKEY_CURRENT_USER\\" + key.path() +
                            L"\\DistribInfoParams = lang=uk&x=%20\n"));
}

TEST_F(CreateJsonTest, SaveWidensUtf8AndOtherBytes) {
  test_support::ScopedBrowserRegistryKey key;
  DistribInfoParams params;
  params.Save("city=\xD0\x9C");
  EXPECT_EQ(L"city=\x041C", ReadStringFromRegistry("DistribInfoParams"));
  params.Save("city=\xE9");
  EXPECT_EQ(L"city=\x00E9", ReadStringFromRegistry("DistribInfoParams"));
}

TEST_F(CreateJsonTest, ProcessWithoutSwitchOrTagWritesNothing) {
  test_support::ScopedBrowserRegistryKey key;
  DistribInfoParams params;
  // The test program's command line has no "distr-info-params" and its file no tag.
  EXPECT_FALSE(params.CreateJsonFromDistribParams());
  EXPECT_EQ(L"", params.distr_info_file());
  EXPECT_FALSE(key.Exists(L"DistribInfoParams"));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Expected().c_str()));
}

// Runs a program with `arguments` and returns its exit code (0xFFFFFFFF when it did not run
// or did not end within a minute).
DWORD RunProgram(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

TEST_F(CreateJsonTest, InstallerProcessReadsItsSwitchOrItsOwnTag) {
  const std::string probe =
      test_support::ReadFileBytes(test_support::BuildFile(L"test_programs\\distrib_probe.exe"));
  ASSERT_FALSE(probe.empty()) << "distrib_probe.exe is not built";
  const std::wstring plain = dir_.File(L"plain_probe.exe");
  const std::wstring stamped = dir_.File(L"stamped_probe.exe");
  ASSERT_TRUE(test_support::WriteFileBytes(plain, probe));
  ASSERT_TRUE(test_support::WriteFileBytes(
      stamped, AppendCertificateWithTag(probe, "banner=2&lang=tr", 0x0300)));
  struct Case {
    const char* name;
    std::wstring exe;
    std::wstring arguments;
    DWORD exit_code;
    DistribInfoParams::ParamMap expected;
    std::wstring saved;
  } cases[] = {
      {"tag of the own file", stamped, L"", 1, {{"banner", "2"}, {"lang", "tr"}}, L"banner=2&lang=tr"},
      {"empty switch means the tag", stamped, L"--distr-info-params=", 1,
       {{"banner", "2"}, {"lang", "tr"}}, L"banner=2&lang=tr"},
      {"switch beats the tag", stamped, L"\"--distr-info-params=a=1&b\"", 1, {{"a", "1"}, {"b", ""}},
       L"a=1&b"},
      {"switch without a tag", plain, L"--distr-info-params=stat=2", 1, {{"stat", "2"}}, L"stat=2"},
      {"neither", plain, L"", 0, {}, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(Expected().c_str());
    test_support::ScopedBrowserRegistryKey case_key;
    const std::wstring arguments =
        L"--registry-key=\"" + case_key.path() + L"\" " + c.arguments;
    ASSERT_EQ(c.exit_code, RunProgram(c.exe, arguments));
    if (c.exit_code == 1) {
      EXPECT_EQ(c.expected, ParseJsonObject(Written()));
    } else {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Expected().c_str()));
    }
    DWORD type = 0;
    std::string bytes;
    if (c.saved.empty()) {
      EXPECT_FALSE(case_key.Exists(L"DistribInfoParams"));
    } else {
      ASSERT_TRUE(case_key.Read(L"DistribInfoParams", &type, &bytes));
      EXPECT_EQ(c.saved + L'\0',
                std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2));
    }
  }
  // The probe's reader agrees with the one linked here.
  EXPECT_EQ("banner=2&lang=tr", ReadTag(stamped));
}

TEST(GetOwnPathTest, IsTheRunningProgram) {
  DistribInfoParams params;
  const std::wstring path = platform::ToLowerAscii(params.GetOwnPath());
  ASSERT_GT(path.size(), 16u);
  EXPECT_EQ(L"\\brand_tests.exe", path.substr(path.size() - 16));
  EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
}

}  // namespace
}  // namespace installer
