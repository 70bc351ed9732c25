#include "update/UpdateInfoFiles.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/TextUtils.h"

namespace vandrel {

// ---------------------------------------------------------------------------------------------------
// The wrapper.

bool HasZsSignature(std::string_view data) {
  return data.size() >= kZsSignature.size() && data.substr(0, kZsSignature.size()) == kZsSignature;
}

TZsResult ZsDecompress(std::string_view data, std::string& out, uint64_t limit) {
  if (!HasZsSignature(data)) return TZsResult::NotWrapped;
  std::string_view in = data.substr(kZsSignature.size());
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return TZsResult::BadStream;
  // The text goes into blocks that double in size, left uninitialised, and is joined once at the end.
  // One buffer grown in place would be copied at each growth, and zero-filling room before inflating into
  // it writes every byte twice.
  constexpr size_t kFirstBlock = 16 * 1024;
  constexpr size_t kLastBlock = 8 * 1024 * 1024;
  struct TBlock {
    std::unique_ptr<char[]> Bytes;
    size_t Size = 0, Used = 0;
  };
  std::vector<TBlock> blocks;
  auto addBlock = [&blocks](size_t size) {
    blocks.push_back({std::make_unique_for_overwrite<char[]>(size), size, 0});
  };
  addBlock(std::clamp<size_t>(in.size() * 4, kFirstBlock, kLastBlock / 8));
  uint64_t produced = 0;
  size_t consumed = 0;
  int rc = Z_OK;
  TZsResult result = TZsResult::Inflated;
  while (rc != Z_STREAM_END) {
    if (produced >= limit) {
      result = TZsResult::TooLarge;
      break;
    }
    if (blocks.back().Used == blocks.back().Size) addBlock(std::min(blocks.back().Size * 2, kLastBlock));
    TBlock& block = blocks.back();
    // zlib counts in 32-bit units; feed in pieces that fit.
    const size_t inChunk = std::min<size_t>(in.size() - consumed, UINT_MAX);
    const size_t outChunk =
        static_cast<size_t>(std::min<uint64_t>(block.Size - block.Used, limit - produced));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + consumed));
    zs.avail_in = static_cast<uInt>(inChunk);
    zs.next_out = reinterpret_cast<Bytef*>(block.Bytes.get() + block.Used);
    zs.avail_out = static_cast<uInt>(outChunk);
    rc = inflate(&zs, Z_NO_FLUSH);
    consumed += inChunk - zs.avail_in;
    block.Used += outChunk - zs.avail_out;
    produced += outChunk - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && zs.avail_out != 0) {
      result = TZsResult::BadStream;  // the input ended before the stream did
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      result = TZsResult::BadStream;
      break;
    }
  }
  inflateEnd(&zs);
  if (result == TZsResult::Inflated && consumed != in.size()) result = TZsResult::BadStream;
  if (result != TZsResult::Inflated) return result;
  std::string joined;
  joined.reserve(static_cast<size_t>(produced));
  for (const TBlock& block : blocks) joined.append(block.Bytes.get(), block.Used);
  out = std::move(joined);
  return result;
}

bool ZsUnwrap(std::string_view data, std::string& out, uint64_t limit) {
  switch (ZsDecompress(data, out, limit)) {
    case TZsResult::NotWrapped:
      out.assign(data);
      return true;
    case TZsResult::Inflated:
      return true;
    default:
      return false;
  }
}

std::string ZsCompress(std::string_view plain, int level) {
  uLongf bound = compressBound(static_cast<uLong>(plain.size()));
  std::string out(kZsSignature);
  out.resize(kZsSignature.size() + bound);
  if (compress2(reinterpret_cast<Bytef*>(out.data() + kZsSignature.size()), &bound,
                reinterpret_cast<const Bytef*>(plain.data()), static_cast<uLong>(plain.size()),
                level) != Z_OK)
    return {};
  out.resize(kZsSignature.size() + bound);
  return out;
}

const char* ZsResultText(TZsResult result) {
  switch (result) {
    case TZsResult::NotWrapped:
      return "not compressed";
    case TZsResult::Inflated:
      return "inflated";
    case TZsResult::BadStream:
      return "damaged compressed data";
    case TZsResult::TooLarge:
      return "compressed data inflates beyond the size limit";
  }
  return "";
}

// ---------------------------------------------------------------------------------------------------
// Fields.

namespace {

bool ParseInt32(std::string_view text, int base, int32_t& out) {
  if (text.empty()) return false;
  bool negative = false;
  if (text.front() == '-' || text.front() == '+') {
    negative = text.front() == '-';
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  }
  int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  if (negative) value = -value;
  // Hexadecimal spellings of negative numbers ("$FFFFFFFF") keep their 32-bit meaning.
  if (base == 16 && !negative && value > INT32_MAX && value <= UINT32_MAX) value -= int64_t{1} << 32;
  if (value < INT32_MIN || value > INT32_MAX) return false;
  out = static_cast<int32_t>(value);
  return true;
}

// The "VUI" section also takes "0x" before hexadecimal digits.
int32_t ReadVuiSectionInteger(std::string_view text, int32_t fallback) {
  int32_t value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    return ParseInt32(text.substr(2), 16, value) ? value : fallback;
  return ReadVuiInteger(text, fallback);
}

std::string Field(const std::vector<std::string>& fields, size_t index) {
  return index < fields.size() ? fields[index] : std::string();
}

std::string Join(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) out += '|';
    out += fields[i];
  }
  return out;
}

}  // namespace

int32_t ReadVuiInteger(std::string_view field, int32_t fallback) {
  int32_t value = 0;
  if (!field.empty() && field.front() == '$')
    return ParseInt32(field.substr(1), 16, value) ? value : fallback;
  return ParseInt32(field, 10, value) ? value : fallback;
}

std::vector<std::string> SplitVuiFields(std::string_view value) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t bar = value.find('|', start);
    fields.emplace_back(value.substr(start, bar == std::string_view::npos ? value.npos : bar - start));
    if (bar == std::string_view::npos) return fields;
    start = bar + 1;
  }
}

const TVersionVUISoftwareUpdate* TVersionVUISoftwareUpdateList::FindByBuild(int32_t build) const {
  for (const TVersionVUISoftwareUpdate& item : Items_)
    if (item.FirstBuild <= build && build <= item.LastBuild) return &item;
  return nullptr;
}

// ---------------------------------------------------------------------------------------------------
// The sectioned text.

bool TVUI::LoadFromBytes(std::string_view bytes) {
  Sections_.clear();
  std::string plain;
  const bool usable = ZsUnwrap(bytes, plain);
  if (usable) {
    std::string_view text = plain;
    size_t pos = 0;
    TSection* current = nullptr;
    while (pos < text.size()) {
      size_t end = text.find_first_of("\r\n", pos);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(pos, end - pos);
      pos = end;
      if (pos < text.size())
        pos += (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ? 2 : 1;
      if (line.empty() || line.front() == ';') continue;
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        Sections_.push_back({std::string(line.substr(1, line.size() - 2)), {}});
        current = &Sections_.back();
      } else if (current) {
        current->Lines.emplace_back(line);
      }
    }
  }
  ReadSections();
  return usable;
}

std::string TVUI::SaveToBytes() {
  WriteSections();
  std::string out;
  for (const TSection& section : Sections_) {
    out += "[" + section.Name + "]\r\n";
    for (const std::string& line : section.Lines) out += line + "\r\n";
  }
  return out;
}

const TVUI::TSection* TVUI::FindSection(std::string_view name) const {
  for (const TSection& section : Sections_)
    if (SameText(section.Name, name)) return &section;
  return nullptr;
}

std::vector<std::pair<std::string, std::string>> TVUI::SectionEntries(std::string_view name) const {
  std::vector<std::pair<std::string, std::string>> entries;
  const TSection* section = FindSection(name);
  if (!section) return entries;
  auto split = [](const std::string& line) {
    const size_t eq = line.find('=');
    return eq == std::string::npos
               ? std::pair<std::string_view, std::string_view>(line, {})
               : std::pair<std::string_view, std::string_view>(std::string_view(line).substr(0, eq),
                                                               std::string_view(line).substr(eq + 1));
  };
  // The value of the first line that has a key: a repeated key never overrides the first.
  std::unordered_map<std::string, std::string_view> firstValues;
  for (const std::string& line : section->Lines) {
    auto [key, value] = split(line);
    firstValues.emplace(AsciiLowerCase(key), value);
  }
  for (const std::string& line : section->Lines) {
    const std::string_view key = split(line).first;
    entries.emplace_back(std::string(key), std::string(firstValues[AsciiLowerCase(key)]));
  }
  return entries;
}

void TVUI::AddSection(std::string name, std::vector<std::string> lines) {
  Sections_.push_back({std::move(name), std::move(lines)});
}

// ---------------------------------------------------------------------------------------------------

namespace {

TVUIFileVersion ReadFileVersion(const std::string& name, const std::string& value) {
  const std::vector<std::string> f = SplitVuiFields(value);
  TVUIFileVersion v;
  v.Name = name;
  v.MinCompilerVersion = ReadVuiInteger(Field(f, 0), 0);
  v.Version = ReadVuiInteger(Field(f, 1), 0);
  return v;
}

TVUICategoryVersion ReadCategoryVersion(const std::string& name, const std::string& value) {
  const std::vector<std::string> f = SplitVuiFields(value);
  TVUICategoryVersion v;
  v.Name = name;
  v.FetchEngines = ReadVuiInteger(Field(f, 0), 0) != 0;
  v.SkipIfAbsent = ReadVuiInteger(Field(f, 1), 1) != 0;
  v.MinCompilerVersion = ReadVuiInteger(Field(f, 2), 0);
  v.Version = ReadVuiInteger(Field(f, 3), 0);
  return v;
}

TVersionVUISoftwareUpdate ReadSoftwareUpdate(const std::string& key, const std::string& value) {
  TVersionVUISoftwareUpdate u;
  const size_t dash = key.find('-');
  if (dash != std::string::npos && key.find('-', dash + 1) == std::string::npos) {
    u.FirstBuild = ReadVuiInteger(std::string_view(key).substr(0, dash), 0);
    u.LastBuild = ReadVuiInteger(std::string_view(key).substr(dash + 1), 0);
  }
  const std::vector<std::string> f = SplitVuiFields(value);
  u.Flag = ReadVuiInteger(Field(f, 0), 0) != 0;
  u.Text1 = Field(f, 1);
  u.Text2 = Field(f, 2);
  for (size_t i = 3; i < f.size() && !f[i].empty(); ++i) u.Addresses.push_back(f[i]);
  return u;
}

std::string FileVersionLine(const TVUIFileVersion& v) {
  return v.Name + "=" + std::to_string(v.MinCompilerVersion) + "|" + std::to_string(v.Version);
}

std::vector<std::string> FileVersionLines(const TVUIFileVersionList& list) {
  std::vector<std::string> lines;
  for (const TVUIFileVersion& v : list) lines.push_back(FileVersionLine(v));
  return lines;
}

}  // namespace

void TVersionVUI::ReadSections() {
  UpdateSite.clear();
  UpdateDisabled = false;
  UpdateFrequency = -1;
  SoftwareUpdates.Clear();
  CustomScriptVersions.Clear();
  SearchTypeVersions.Clear();
  CategoryVersions.Clear();
  auto entries = SectionEntries("VUI");
  for (const auto& [key, value] : entries) {
    if (SameText(key, "UpdateSite")) UpdateSite = value;
    if (SameText(key, "UpdateDisabled")) UpdateDisabled = ReadVuiSectionInteger(value, 0) != 0;
    if (SameText(key, "UpdateFrequency")) UpdateFrequency = ReadVuiSectionInteger(value, -1);
  }
  for (const auto& [key, value] : SectionEntries("SoftwareUpdates"))
    SoftwareUpdates.Add(ReadSoftwareUpdate(key, value));
  for (const auto& [key, value] : SectionEntries("CustomScriptVersions"))
    CustomScriptVersions.Add(ReadFileVersion(key, value));
  for (const auto& [key, value] : SectionEntries("SearchTypeVersions"))
    SearchTypeVersions.Add(ReadFileVersion(key, value));
  for (const auto& [key, value] : SectionEntries("CategoryVersions"))
    CategoryVersions.Add(ReadCategoryVersion(key, value));
}

void TVersionVUI::WriteSections() {
  ClearSections();
  AddSection("VUI",
             {"UpdateSite=" + UpdateSite, std::string("UpdateDisabled=") + (UpdateDisabled ? "1" : "0"),
              "UpdateFrequency=" + std::to_string(UpdateFrequency)});
  std::vector<std::string> lines;
  for (const TVersionVUISoftwareUpdate& u : SoftwareUpdates) {
    std::vector<std::string> f = {u.Flag ? "1" : "0", u.Text1, u.Text2};
    f.insert(f.end(), u.Addresses.begin(), u.Addresses.end());
    lines.push_back(std::to_string(u.FirstBuild) + "-" + std::to_string(u.LastBuild) + "=" + Join(f));
  }
  AddSection("SoftwareUpdates", std::move(lines));
  AddSection("CustomScriptVersions", FileVersionLines(CustomScriptVersions));
  AddSection("SearchTypeVersions", FileVersionLines(SearchTypeVersions));
  lines.clear();
  for (const TVUICategoryVersion& c : CategoryVersions)
    lines.push_back(c.Name + "=" + (c.FetchEngines ? "1" : "0") + "|" + (c.SkipIfAbsent ? "1" : "0") + "|" +
                    std::to_string(c.MinCompilerVersion) + "|" + std::to_string(c.Version));
  AddSection("CategoryVersions", std::move(lines));
}

void TCategoryVUI::ReadSections() {
  EngineVersions.Clear();
  for (const auto& [key, value] : SectionEntries("EngineVersions"))
    EngineVersions.Add(ReadFileVersion(key, value));
}

void TCategoryVUI::WriteSections() {
  ClearSections();
  AddSection("EngineVersions", FileVersionLines(EngineVersions));
}

}  // namespace vandrel
