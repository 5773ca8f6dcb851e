#include "brand/cabinet.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/cabinet_builder.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

using test_support::BuildCabinet;
using test_support::CabinetEntry;
using test_support::CabinetLayout;

// The member texts written by tests/brand_cabinets.cmake.
const char kOneDocument[] = "{\"brand_id\": \"one\", \"brand_name\": \"One\"}\n";
const char kSeveralPartner[] = "{\"partner_id\": \"p-17\", \"brand_id\": \"partner\"}\n";
const char kSeveralBrand[] = "{\"brand_id\": \"several\", \"languages\": {\"interface\": \"de\"}}\n";
const char kSeveralNotes[] = "Packed together with the configuration documents.\n";
const char kTwinFirst[] = "{\"brand_id\": \"first\"}\n";
const char kTwinSecond[] = "{\"brand_id\": \"second\"}\n";

std::string TestCabinet(const std::wstring& name) {
  std::string bytes =
      test_support::ReadFileBytes(test_support::BuildFile(L"test_data\\cabinets\\" + name));
  EXPECT_FALSE(bytes.empty()) << "missing test cabinet";
  return bytes;
}

std::string LargeDocument() {
  std::string filler;
  for (int i = 0; i < 12000; ++i) filler += "0123456789abcdef";
  return "{\"brand_id\": \"large\", \"filler\": \"" + filler + "\"}\n";
}

uint32_t Read32(const std::string& bytes, size_t offset) {
  return static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8 |
         static_cast<uint8_t>(bytes[offset + 2]) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[offset + 3])) << 24;
}

void Write32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The header keeps the offset of the file table at byte 16; each entry starts with the
// member's size.
constexpr size_t kFilesOffsetField = 16;

// gcab refuses two members of one name; renaming the second in the file table (the names are
// not covered by the data checksums) gives a cabinet that holds "brand_config" twice.
std::string TwinsWithOneName(std::string cabinet) {
  size_t at = cabinet.find("brand_confih");
  EXPECT_NE(std::string::npos, at);
  if (at != std::string::npos) cabinet[at + 11] = 'g';
  return cabinet;
}

TEST(BrandCabinetTest, LibraryLoads) { EXPECT_TRUE(LoadCabinetLibrary()); }

struct ExtractCase {
  const char* name;
  std::string package;
  std::string member;
  bool ok;
  ExtractedMembers expected;
};

TEST(BrandCabinetTest, CabinetsMadeByGcab) {
  const ExtractCase cases[] = {
      {"one member", TestCabinet(L"one.cab"), "brand_config", true,
       {{"brand_config", kOneDocument}}},
      {"one member, compressed", TestCabinet(L"one_z.cab"), "brand_config", true,
       {{"brand_config", kOneDocument}}},
      {"the brand document among others", TestCabinet(L"several_z.cab"), "brand_config", true,
       {{"brand_config", kSeveralBrand}}},
      {"the partner document among others", TestCabinet(L"several_z.cab"), "partner_config",
       true, {{"partner_config", kSeveralPartner}}},
      {"every member", TestCabinet(L"several_z.cab"), "", true,
       {{"partner_config", kSeveralPartner},
        {"brand_config", kSeveralBrand},
        {"notes.txt", kSeveralNotes}}},
      {"a name that is only a prefix", TestCabinet(L"several_z.cab"), "notes", true, {}},
      {"a different extension and case", TestCabinet(L"wrong_member_z.cab"), "brand_config",
       true, {}},
      {"the later of two equal names", TwinsWithOneName(TestCabinet(L"twins.cab")),
       "brand_config", true, {{"brand_config", kTwinSecond}}},
      {"the later of two equal names, compressed",
       TwinsWithOneName(TestCabinet(L"twins_z.cab")), "brand_config", true,
       {{"brand_config", kTwinSecond}}},
      {"twins before renaming", TestCabinet(L"twins_z.cab"), "", true,
       {{"brand_config", kTwinFirst}, {"brand_confih", kTwinSecond}}},
      {"several data blocks", TestCabinet(L"large.cab"), "brand_config", true,
       {{"brand_config", LargeDocument()}}},
      {"several compressed blocks", TestCabinet(L"large_z.cab"), "brand_config", true,
       {{"brand_config", LargeDocument()}}},
  };
  for (const ExtractCase& test : cases) {
    SCOPED_TRACE(test.name);
    ExtractedMembers members;
    EXPECT_EQ(test.ok, ExtractPackage(test.package, test.member, &members));
    EXPECT_EQ(test.expected, members);
  }
}

CabinetLayout Layout(std::vector<CabinetEntry> entries, std::string previous = "",
                     std::string next = "") {
  CabinetLayout layout;
  layout.entries = std::move(entries);
  layout.previous_cabinet = std::move(previous);
  layout.next_cabinet = std::move(next);
  return layout;
}

TEST(BrandCabinetTest, CabinetsMadeInMemory) {
  std::string document = R"({"brand_id": "memory"})";
  const ExtractCase cases[] = {
      {"no members", BuildCabinetFrom(Layout({})), "brand_config", true, {}},
      {"an empty member", BuildCabinet({{"brand_config", ""}}), "brand_config", true,
       {{"brand_config", ""}}},
      {"a member after a skipped one",
       BuildCabinet({{"notes", std::string(70000, 'n')}, {"brand_config", document}}),
       "brand_config", true, {{"brand_config", document}}},
      {"binary bytes are kept", BuildCabinet({{"brand_config", std::string("a\0b\xFF", 4)}}),
       "brand_config", true, {{"brand_config", std::string("a\0b\xFF", 4)}}},
      // Members split across cabinets cannot be completed from one package.
      {"continued from a previous cabinet",
       BuildCabinetFrom(Layout({{"brand_config", document, {}, test_support::kContinuedFromPrevious}},
                           "previous.cab")),
       "brand_config", false, {}},
      {"a whole member before the continued one",
       BuildCabinetFrom(Layout({{"first", "1", {}, 0},
                            {"brand_config", document, {}, test_support::kContinuedFromPrevious}},
                           "previous.cab")),
       "", false, {{"first", "1"}}},
      {"continued into a next cabinet",
       BuildCabinetFrom(Layout({{"brand_config", document, 4096, test_support::kContinuedToNext}},
                           "", "next.cab")),
       "brand_config", false, {}},
      // A table that promises more than the folder holds.
      {"announced larger than its data", BuildCabinetFrom(Layout({{"brand_config", document, 4096, 0}})),
       "brand_config", false, {}},
      {"announced near 2 GiB", BuildCabinetFrom(Layout({{"brand_config", document, 0x7FFFFFF0, 0}})),
       "brand_config", true, {}},
      {"announced 4 GiB - 1", BuildCabinetFrom(Layout({{"brand_config", document, 0xFFFFFFFF, 0}})),
       "brand_config", true, {}},
      {"announced above the limit", BuildCabinetFrom(Layout({{"brand_config", document, 17u << 20, 0}})),
       "brand_config", true, {}},
  };
  for (const ExtractCase& test : cases) {
    SCOPED_TRACE(test.name);
    ExtractedMembers members;
    EXPECT_EQ(test.ok, ExtractPackage(test.package, test.member, &members));
    EXPECT_EQ(test.expected, members);
  }
}

TEST(BrandCabinetTest, InputThatIsNoCabinet) {
  std::mt19937 random(20240917);
  std::string noise(1000, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  std::string header_only = TestCabinet(L"one.cab").substr(0, 36);
  const std::string inputs[] = {
      "", "M", "MSCF", std::string(36, '\0'), "MSCF" + std::string(32, '\xFF'), noise,
      "MSCF" + noise, header_only, std::string("MSCF\0\0\0\0", 8),
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input.size());
    ExtractedMembers members{{"left over", "from the caller"}};
    EXPECT_FALSE(ExtractPackage(input, "brand_config", &members));
    EXPECT_TRUE(members.empty());
  }
}

TEST(BrandCabinetTest, EveryTruncationLosesTheMember) {
  for (const wchar_t* name : {L"one.cab", L"one_z.cab"}) {
    std::string cabinet = TestCabinet(name);
    for (size_t length = 0; length < cabinet.size(); ++length) {
      SCOPED_TRACE(length);
      ExtractedMembers members;
      ExtractPackage(cabinet.substr(0, length), "brand_config", &members);
      // The member ends the file, so any cut takes bytes of it: it must not appear shortened.
      EXPECT_EQ(0u, members.count("brand_config"));
    }
  }
}

TEST(BrandCabinetTest, HugeAnnouncedSizeInAGcabCabinet) {
  for (const wchar_t* name : {L"one.cab", L"one_z.cab"}) {
    std::string cabinet = TestCabinet(name);
    size_t entry = Read32(cabinet, kFilesOffsetField);
    ASSERT_LT(entry + 4, cabinet.size());
    ASSERT_EQ(sizeof(kOneDocument) - 1, Read32(cabinet, entry));
    for (uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0x01000001u, 0x00FFFFFFu}) {
      SCOPED_TRACE(size);
      std::string damaged = cabinet;
      Write32(&damaged, entry, size);
      ExtractedMembers members;
      ExtractPackage(damaged, "brand_config", &members);
      EXPECT_TRUE(members.empty());
    }
  }
}

struct TablePatch {
  const char* name;
  size_t offset;  // from the start, or from the file table when `in_file_table`
  bool in_file_table;
  int width;  // 1, 2 or 4 bytes
  uint32_t value;
};

// Tables that point outside the package or at records that do not exist are refused before
// the decompressor sees them (some versions of it dereference a missing folder).
TEST(BrandCabinetTest, DamagedTablesAreRefused) {
  const TablePatch patches[] = {
      {"files but no folder", 26, false, 2, 0},
      {"a folder index past the folders", 8, true, 2, 1},
      {"a folder index just below the special values", 8, true, 2, 0xFFFC},
      {"file table beyond the end", 16, false, 4, 0x7FFFFFF0},
      {"file table at the very end", 16, false, 4, 0xFFFFFFFF},
      {"cabinet size larger than the package", 8, false, 4, 0x10000},
      {"an unknown major version", 25, false, 1, 2},
      {"folder data beyond the end", 36, false, 4, 0x00FFFFFF},
      {"an unknown compression type", 42, false, 2, 0x0007},
      {"more files than the table holds", 28, false, 2, 40},
      {"a reserve area larger than the package", 30, false, 2, 0x0004},
  };
  std::string original = TestCabinet(L"one_z.cab");
  size_t file_table = Read32(original, kFilesOffsetField);
  for (const TablePatch& patch : patches) {
    SCOPED_TRACE(patch.name);
    std::string cabinet = original;
    size_t at = patch.offset + (patch.in_file_table ? file_table : 0);
    for (int i = 0; i < patch.width; ++i) {
      cabinet[at + i] = static_cast<char>((patch.value >> (8 * i)) & 0xFF);
    }
    ExtractedMembers members;
    EXPECT_FALSE(ExtractPackage(cabinet, "brand_config", &members));
    EXPECT_TRUE(members.empty());
  }
}

// Thousands of damaged cabinets through the real library: each run must come back (no crash,
// no hang) with a documented result, false or a map that holds nothing but the member asked
// for. A member that is there was extracted to its announced size.
TEST(BrandCabinetTest, DamagedCabinetsNeverCrash) {
  const std::vector<std::string> originals = {
      TestCabinet(L"one.cab"), TestCabinet(L"one_z.cab"), TestCabinet(L"several_z.cab"),
      TwinsWithOneName(TestCabinet(L"twins_z.cab")),
      BuildCabinet({{"notes", std::string(40000, 'n')}, {"brand_config", kOneDocument}}),
  };
  std::mt19937 random(7051);
  int failed = 0;
  int without_member = 0;
  int with_member = 0;
  const int kRuns = 6000;
  for (int run = 0; run < kRuns; ++run) {
    std::string cabinet = originals[random() % originals.size()];
    int mutations = 1 + random() % 4;
    for (int m = 0; m < mutations && !cabinet.empty(); ++m) {
      switch (random() % 6) {
        case 0:
        case 1:  // flip a byte anywhere
          cabinet[random() % cabinet.size()] ^= static_cast<char>(1 + random() % 255);
          break;
        case 2:  // flip a byte of the header and tables, where the offsets live
          cabinet[random() % std::min<size_t>(cabinet.size(), 96)] ^=
              static_cast<char>(1 << (random() % 8));
          break;
        case 3:  // truncate
          cabinet.resize(random() % cabinet.size());
          break;
        case 4: {  // extend with noise
          size_t extra = 1 + random() % 512;
          for (size_t i = 0; i < extra; ++i) cabinet.push_back(static_cast<char>(random()));
          break;
        }
        case 5: {  // an extreme 32-bit value at a random aligned place of the first 96 bytes
          size_t limit = std::min<size_t>(cabinet.size(), 96);
          if (limit < 4) break;
          static const uint32_t kExtremes[] = {0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFF};
          Write32(&cabinet, (random() % (limit - 3)) & ~size_t{1}, kExtremes[random() % 6]);
          break;
        }
      }
    }
    ExtractedMembers members;
    bool ok = ExtractPackage(cabinet, "brand_config", &members);
    ASSERT_LE(members.size(), 1u) << "run " << run;
    if (!members.empty()) {
      ASSERT_EQ("brand_config", members.begin()->first) << "run " << run;
    }
    if (!ok) {
      ++failed;
    } else if (members.empty()) {
      ++without_member;
    } else {
      ++with_member;
    }
  }
  // The damage must reach the extraction: some runs fail, some still yield the member.
  EXPECT_GT(failed, 0);
  EXPECT_GT(with_member, 0);
  EXPECT_EQ(kRuns, failed + without_member + with_member);
}

}  // namespace
}  // namespace installer
