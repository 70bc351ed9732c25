// Byte layouts of FoxPro 2.x data files (.dbf) and memo files (.fpt): parsing with bound checks, building.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// Version bytes. VALUES: written into files, read by other programs.
constexpr uint8_t kDbfPlain = 0x03;     // no memo file
constexpr uint8_t kDbfWithMemo = 0xF5;  // FoxPro with an .fpt memo file
constexpr uint8_t kDbfEof = 0x1A;
constexpr uint8_t kDbfFieldEnd = 0x0D;
constexpr size_t kDbfPrefix = 32;       // fixed part of the header, also the size of a field descriptor
constexpr size_t kFptHeaderSize = 512;  // memo header; blocks start at the first boundary after it
constexpr size_t kFptBlockHeader = 8;   // type and length in front of every memo
constexpr int kMemoWidth = 10;          // memo pointers are 10 ASCII digits
constexpr uint32_t kFptTypeBinary = 0;  // picture/binary memo
constexpr uint32_t kFptTypeText = 1;

struct TXbFieldDef {
  std::string Name;  // at most 10 characters
  char Type = 'C';   // C N F L D M
  int Length = 0;
  int Decimals = 0;
  int Offset = 0;  // in the record, after the deletion flag (1-based); set by parsing and building
};

struct TXbHeader {
  uint8_t Version = kDbfPlain;
  uint32_t RecordCount = 0;
  uint16_t HeaderLength = 0;
  uint16_t RecordLength = 0;
  std::vector<TXbFieldDef> Fields;

  bool HasMemo() const;
};

// Parses the header from the file's first bytes (at least `HeaderLength` of them). Lengths, offsets, types
// and counts are checked; `why` says what was wrong.
bool ParseDbfHeader(std::string_view bytes, TXbHeader& out, std::string& why);
// The length the header claims (0 when fewer than 32 bytes are given).
size_t DbfHeaderLength(std::string_view bytes);
// Validates field definitions, cuts names to 10 characters and fills in offsets and lengths.
bool LayoutFields(std::vector<TXbFieldDef>& fields, TXbHeader& header, std::string& why);
// The full header including descriptors and terminator, with the given date (year since 1900, month, day).
std::string BuildDbfHeader(const TXbHeader& header, int year, int month, int day);
// Rewrites the record count and date in the 32-byte prefix.
void PatchDbfHeader(std::string& prefix, uint32_t recordCount, int year, int month, int day);

struct TXbMemoHeader {
  uint32_t NextFree = 0;   // block number
  uint32_t BlockSize = 0;  // bytes
};
bool ParseFptHeader(std::string_view bytes, TXbMemoHeader& out);
std::string BuildFptHeader(const TXbMemoHeader& header);
// The block number the text of a memo field holds: 0 for blank; false when it is not a number.
bool ParseMemoPointer(std::string_view field, uint32_t& block);
std::string FormatMemoPointer(uint32_t block);  // "%10d", blanks for 0

// The value a numeric field's text holds; blanks and text that is no number read as 0.
double XbNumberOf(std::string_view raw);

uint32_t ReadBe32(const unsigned char* p);
void WriteBe32(unsigned char* p, uint32_t v);

}  // namespace vandrel
