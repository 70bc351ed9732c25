#include "update/UpdaterBlobs.h"

namespace vandrel {
namespace {

bool ReadInt32(std::string_view bytes, size_t& pos, int32_t& out) {
  if (bytes.size() - pos < 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[pos + static_cast<size_t>(i)]);
  out = static_cast<int32_t>(v);
  pos += 4;
  return true;
}

void WriteInt32(std::string& out, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

bool IsPlainName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char ch : name) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || ch == '/' || ch == '\\') return false;
  }
  return true;
}

}  // namespace

bool IsSafeUpdateName(std::string_view name, bool allowFolder) {
  const size_t slash = name.find('/');
  if (slash == std::string_view::npos) return IsPlainName(name);
  return allowFolder && IsPlainName(name.substr(0, slash)) && IsPlainName(name.substr(slash + 1));
}

TBlobReadResult TUpdaterBlob::LoadFromBytes(std::string_view bytes) {
  if (bytes.empty()) return TBlobReadResult::Ok;
  size_t pos = 0;
  int32_t count = 0;
  if (!ReadInt32(bytes, pos, count)) return TBlobReadResult::Truncated;
  for (int32_t i = 0; i < count; ++i) {
    int32_t nameLength = 0;
    if (!ReadInt32(bytes, pos, nameLength)) return TBlobReadResult::Truncated;
    if (nameLength < 0) return TBlobReadResult::BadLength;
    if (static_cast<uint64_t>(nameLength) > bytes.size() - pos) return TBlobReadResult::Truncated;
    std::string_view name = bytes.substr(pos, static_cast<size_t>(nameLength));
    pos += static_cast<size_t>(nameLength);
    int32_t dataLength = 0;
    if (!ReadInt32(bytes, pos, dataLength)) return TBlobReadResult::Truncated;
    if (dataLength <= 0) continue;
    if (static_cast<uint64_t>(dataLength) > bytes.size() - pos) return TBlobReadResult::Truncated;
    Items_.push_back({std::string(name), std::string(bytes.substr(pos, static_cast<size_t>(dataLength)))});
    pos += static_cast<size_t>(dataLength);
  }
  return TBlobReadResult::Ok;
}

std::string TUpdaterBlob::SaveToBytes() const {
  std::string out;
  WriteInt32(out, static_cast<int32_t>(Items_.size()));
  for (const TFileInfo& item : Items_) {
    WriteInt32(out, static_cast<int32_t>(item.Name.size()));
    out += item.Name;
    WriteInt32(out, static_cast<int32_t>(item.Data.size()));
    out += item.Data;
  }
  return out;
}

int TUpdaterBlob::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < Items_.size(); ++i)
    if (Items_[i].Name == name) return static_cast<int>(i);
  return -1;
}

void TUpdaterBlob::Add(std::string name, std::string data) {
  Items_.push_back({std::move(name), std::move(data)});
}

const char* BlobReadResultText(TBlobReadResult result) {
  switch (result) {
    case TBlobReadResult::Ok:
      return "ok";
    case TBlobReadResult::Truncated:
      return "the answer ends inside an entry";
    case TBlobReadResult::BadLength:
      return "the answer holds an impossible length";
  }
  return "";
}

}  // namespace vandrel
