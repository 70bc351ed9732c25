#include "platform/xbase/XbFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace vandrel {

namespace {

uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutLe16(char* p, uint16_t v) {
  p[0] = static_cast<char>(v & 0xFF);
  p[1] = static_cast<char>(v >> 8);
}
void PutLe32(char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool CheckField(const TXbFieldDef& f, std::string& why) {
  bool ok = false;
  switch (f.Type) {
    case 'C':
      ok = f.Length >= 1 && f.Length <= 255 && f.Decimals == 0;
      break;
    case 'N':
    case 'F':
      ok = f.Length >= 1 && f.Length <= 20 && f.Decimals >= 0 && f.Decimals < f.Length;
      break;
    case 'L':
      ok = f.Length == 1;
      break;
    case 'D':
      ok = f.Length == 8;
      break;
    case 'M':
      ok = f.Length == kMemoWidth;
      break;
    default:
      why = "unsupported field type";
      return false;
  }
  if (!ok) why = "bad field length";
  return ok;
}

}  // namespace

double XbNumberOf(std::string_view raw) {
  size_t b = raw.find_first_not_of(' ');
  if (b == std::string_view::npos) return 0;
  raw.remove_prefix(b);
  while (!raw.empty() && raw.back() == ' ') raw.remove_suffix(1);
  double v = 0;
  std::from_chars(raw.data(), raw.data() + raw.size(), v);
  return v;
}

uint32_t ReadBe32(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void WriteBe32(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

bool TXbHeader::HasMemo() const {
  return std::any_of(Fields.begin(), Fields.end(), [](const TXbFieldDef& f) { return f.Type == 'M'; });
}

size_t DbfHeaderLength(std::string_view bytes) {
  if (bytes.size() < kDbfPrefix) return 0;
  return Le16(reinterpret_cast<const unsigned char*>(bytes.data()) + 8);
}

bool ParseDbfHeader(std::string_view bytes, TXbHeader& out, std::string& why) {
  out = TXbHeader{};
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  if (bytes.size() < kDbfPrefix) {
    why = "file shorter than a header";
    return false;
  }
  out.Version = p[0];
  if (out.Version != kDbfPlain && out.Version != kDbfWithMemo) {
    why = "unknown version byte";
    return false;
  }
  out.RecordCount = Le32(p + 4);
  out.HeaderLength = Le16(p + 8);
  out.RecordLength = Le16(p + 10);
  if (out.HeaderLength < kDbfPrefix * 2 + 1 || out.HeaderLength > bytes.size()) {
    why = "bad header length";
    return false;
  }
  size_t pos = kDbfPrefix;
  int offset = 1;
  while (true) {
    if (pos >= out.HeaderLength) {
      why = "missing field terminator";
      return false;
    }
    if (p[pos] == kDbfFieldEnd) break;
    if (pos + kDbfPrefix > out.HeaderLength) {
      why = "truncated field descriptor";
      return false;
    }
    TXbFieldDef f;
    size_t nameLen = 0;
    while (nameLen < 11 && p[pos + nameLen] != 0) ++nameLen;
    if (nameLen == 0 || nameLen > 10) {
      why = "bad field name";
      return false;
    }
    f.Name.assign(reinterpret_cast<const char*>(p + pos), nameLen);
    f.Type = static_cast<char>(std::toupper(p[pos + 11]));
    f.Length = p[pos + 16];
    f.Decimals = p[pos + 17];
    if (!CheckField(f, why)) return false;
    f.Offset = offset;
    offset += f.Length;
    out.Fields.push_back(std::move(f));
    pos += kDbfPrefix;
    if (out.Fields.size() > 255) {
      why = "too many fields";
      return false;
    }
  }
  if (out.Fields.empty()) {
    why = "no fields";
    return false;
  }
  if (offset != out.RecordLength) {
    why = "record length does not match the fields";
    return false;
  }
  if (out.HasMemo() != (out.Version == kDbfWithMemo)) {
    why = "version byte does not match the memo fields";
    return false;
  }
  return true;
}

bool LayoutFields(std::vector<TXbFieldDef>& fields, TXbHeader& header, std::string& why) {
  if (fields.empty() || fields.size() > 255) {
    why = "bad field count";
    return false;
  }
  int offset = 1;
  for (auto& f : fields) {
    if (f.Name.size() > 10) f.Name.resize(10);
    for (char& c : f.Name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (f.Name.empty() || !CheckField(f, why)) {
      if (why.empty()) why = "empty field name";
      return false;
    }
    f.Offset = offset;
    offset += f.Length;
  }
  if (offset > 65535) {
    why = "record too long";
    return false;
  }
  header.Fields = fields;
  header.RecordLength = static_cast<uint16_t>(offset);
  header.HeaderLength = static_cast<uint16_t>(kDbfPrefix + kDbfPrefix * fields.size() + 1);
  header.Version = header.HasMemo() ? kDbfWithMemo : kDbfPlain;
  return true;
}

void PatchDbfHeader(std::string& prefix, uint32_t recordCount, int year, int month, int day) {
  prefix[1] = static_cast<char>(year);
  prefix[2] = static_cast<char>(month);
  prefix[3] = static_cast<char>(day);
  PutLe32(prefix.data() + 4, recordCount);
}

std::string BuildDbfHeader(const TXbHeader& header, int year, int month, int day) {
  std::string out(header.HeaderLength, '\0');
  out[0] = static_cast<char>(header.Version);
  PatchDbfHeader(out, header.RecordCount, year, month, day);
  PutLe16(out.data() + 8, header.HeaderLength);
  PutLe16(out.data() + 10, header.RecordLength);
  out[28] = 0;     // no compound index file
  out[29] = 0x03;  // Windows ANSI code page
  size_t pos = kDbfPrefix;
  for (const auto& f : header.Fields) {
    std::memcpy(out.data() + pos, f.Name.data(), std::min<size_t>(f.Name.size(), 10));
    out[pos + 11] = f.Type;
    PutLe32(out.data() + pos + 12, static_cast<uint32_t>(f.Offset));
    out[pos + 16] = static_cast<char>(f.Length);
    out[pos + 17] = static_cast<char>(f.Decimals);
    pos += kDbfPrefix;
  }
  out[pos] = static_cast<char>(kDbfFieldEnd);
  return out;
}

bool ParseFptHeader(std::string_view bytes, TXbMemoHeader& out) {
  if (bytes.size() < 8) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  out.NextFree = ReadBe32(p);
  out.BlockSize = static_cast<uint32_t>((p[6] << 8) | p[7]);
  return out.BlockSize > 0;
}

std::string BuildFptHeader(const TXbMemoHeader& header) {
  std::string out(kFptHeaderSize, '\0');
  WriteBe32(reinterpret_cast<unsigned char*>(out.data()), header.NextFree);
  out[6] = static_cast<char>((header.BlockSize >> 8) & 0xFF);
  out[7] = static_cast<char>(header.BlockSize & 0xFF);
  return out;
}

bool ParseMemoPointer(std::string_view field, uint32_t& block) {
  size_t b = field.find_first_not_of(" \0", 0, 2);
  if (b == std::string_view::npos) {
    block = 0;
    return true;
  }
  size_t e = field.find_last_not_of(" \0", std::string_view::npos, 2);
  std::string_view digits = field.substr(b, e - b + 1);
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), block);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size();
}

std::string FormatMemoPointer(uint32_t block) {
  if (block == 0) return std::string(kMemoWidth, ' ');
  char buf[16];
  auto r = std::to_chars(buf, buf + sizeof buf, block);
  std::string digits(buf, r.ptr);
  return std::string(kMemoWidth - std::min<size_t>(digits.size(), kMemoWidth), ' ') + digits;
}

}  // namespace vandrel
