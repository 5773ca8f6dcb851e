#include "tests/support/cabinet_builder.h"

namespace test_support {
namespace {

// Sizes of the fixed records of the format.
constexpr uint32_t kHeaderSize = 36;
constexpr uint32_t kFolderSize = 8;
constexpr uint32_t kFileSize = 16;
constexpr uint32_t kBlockSize = 32768;

constexpr uint16_t kFlagPreviousCabinet = 0x0001;
constexpr uint16_t kFlagNextCabinet = 0x0002;

void Put16(std::string* out, uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void PutString(std::string* out, const std::string& text) {
  out->append(text);
  out->push_back('\0');
}

}  // namespace

std::string BuildCabinetFrom(const CabinetLayout& layout) {
  uint16_t flags = 0;
  uint32_t header_size = kHeaderSize;
  if (!layout.previous_cabinet.empty()) {
    flags |= kFlagPreviousCabinet;
    header_size += static_cast<uint32_t>(layout.previous_cabinet.size() + 1 + 1);  // + disk ""
  }
  if (!layout.next_cabinet.empty()) {
    flags |= kFlagNextCabinet;
    header_size += static_cast<uint32_t>(layout.next_cabinet.size() + 1 + 1);
  }

  std::string folder_data;
  std::string file_table;
  for (const CabinetEntry& entry : layout.entries) {
    Put32(&file_table, entry.announced_size.value_or(static_cast<uint32_t>(entry.data.size())));
    Put32(&file_table, static_cast<uint32_t>(folder_data.size()));
    Put16(&file_table, entry.folder_index);
    Put16(&file_table, 0x5A21);  // 2025-01-01
    Put16(&file_table, 0);
    Put16(&file_table, 0x20);  // archive attribute
    PutString(&file_table, entry.name);
    folder_data += entry.data;
  }

  std::string blocks;
  uint32_t block_count = 0;
  for (size_t offset = 0; offset < folder_data.size(); offset += kBlockSize) {
    std::string chunk = folder_data.substr(offset, kBlockSize);
    Put32(&blocks, 0);  // no checksum
    Put16(&blocks, static_cast<uint32_t>(chunk.size()));
    Put16(&blocks, static_cast<uint32_t>(chunk.size()));
    blocks += chunk;
    ++block_count;
  }

  uint32_t files_offset = header_size + kFolderSize;
  uint32_t data_offset = files_offset + static_cast<uint32_t>(file_table.size());
  uint32_t total = data_offset + static_cast<uint32_t>(blocks.size());

  std::string cabinet = "MSCF";
  Put32(&cabinet, 0);
  Put32(&cabinet, total);
  Put32(&cabinet, 0);
  Put32(&cabinet, files_offset);
  Put32(&cabinet, 0);
  cabinet.push_back(3);  // format version 1.3
  cabinet.push_back(1);
  Put16(&cabinet, 1);  // folders
  Put16(&cabinet, static_cast<uint32_t>(layout.entries.size()));
  Put16(&cabinet, flags);
  Put16(&cabinet, 0x1234);  // set id
  Put16(&cabinet, layout.previous_cabinet.empty() ? 0 : 1);  // index in the set
  if (!layout.previous_cabinet.empty()) {
    PutString(&cabinet, layout.previous_cabinet);
    PutString(&cabinet, "");
  }
  if (!layout.next_cabinet.empty()) {
    PutString(&cabinet, layout.next_cabinet);
    PutString(&cabinet, "");
  }
  Put32(&cabinet, data_offset);
  Put16(&cabinet, block_count);
  Put16(&cabinet, 0);  // no compression
  cabinet += file_table;
  cabinet += blocks;
  return cabinet;
}

std::string BuildCabinet(const std::vector<std::pair<std::string, std::string>>& members) {
  CabinetLayout layout;
  for (const auto& [name, data] : members) layout.entries.push_back({name, data, {}, 0});
  return BuildCabinetFrom(layout);
}

}  // namespace test_support
