#include "tests/support/tagged_image.h"

#include <cstring>

namespace test_support {
namespace {

void PutLe32(std::string* bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<char>(value >> (8 * i));
}

void PutBe16(std::string* bytes, size_t offset, uint16_t value) {
  (*bytes)[offset] = static_cast<char>(value >> 8);
  (*bytes)[offset + 1] = static_cast<char>(value);
}

uint32_t GetLe32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

}  // namespace

uint32_t ExpectedTagOffset(uint16_t der_length) { return (8u + 4u + der_length + 7u) & ~7u; }

std::string AppendCertificateWithTag(std::string exe, const std::string& text,
                                     uint16_t der_length) {
  while (exe.size() % 8) exe.push_back('\0');
  const size_t entry = exe.size();
  const size_t tag = entry + ExpectedTagOffset(der_length);
  std::string table(tag - entry + 6 + text.size(), '\0');
  table[8] = '\x30';
  table[9] = '\x82';
  PutBe16(&table, 10, der_length);
  std::memcpy(&table[tag - entry], "Zvct", 4);
  PutBe16(&table, tag - entry + 4, static_cast<uint16_t>(text.size()));
  std::memcpy(&table[tag - entry + 6], text.data(), text.size());
  PutLe32(&table, 0, static_cast<uint32_t>(table.size()));
  exe += table;
  const uint32_t pe = GetLe32(exe, 0x3C);
  // Data directory 4; 16 bytes further on in a PE32+ optional header (magic 0x20B).
  const uint32_t directory = pe + (GetLe32(exe, pe + 24) % 0x10000 == 0x20B ? 168 : 152);
  PutLe32(&exe, directory, static_cast<uint32_t>(entry));
  PutLe32(&exe, directory + 4, static_cast<uint32_t>(table.size()));
  return exe;
}

}  // namespace test_support
