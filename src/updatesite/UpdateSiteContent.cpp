#include "updatesite/UpdateSiteContent.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "engines/EngineCompiler.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/TextUtils.h"
#include "script/BaseCompiler.h"
#include "search/DefinitionFiles.h"
#include "update/UpdateInfoFiles.h"
#include "update/UpdaterBlobs.h"

namespace vandrel::site {

namespace fs = std::filesystem;

namespace {

enum class TKind { None, SearchType, Category, Script, Engine };

TKind KindOf(const std::string& lowerExt) {
  if (lowerExt == ".cst" || lowerExt == ".sst") return TKind::SearchType;
  if (lowerExt == ".cca" || lowerExt == ".sca") return TKind::Category;
  if (lowerExt == ".ccs" || lowerExt == ".scs") return TKind::Script;
  if (lowerExt == ".cen" || lowerExt == ".sen") return TKind::Engine;
  return TKind::None;
}

bool IsSource(const std::string& lowerExt) {
  return lowerExt.size() == 4 && lowerExt[1] == 's';
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int64_t StampOf(const fs::directory_entry& entry) {
  std::error_code ec;
  const auto time = entry.last_write_time(ec).time_since_epoch().count();
  return static_cast<int64_t>(time) ^ (static_cast<int64_t>(entry.file_size(ec)) << 1);
}

// Compiled files win over sources of the same name.
struct TFound {
  std::string Path;
  bool Source = true;
};

void Keep(std::map<std::string, TFound>& found, const std::string& name, const fs::path& path, bool source) {
  auto it = found.find(name);
  if (it == found.end() || (it->second.Source && !source)) found[name] = {path.string(), source};
}

bool IsIcon(const std::string& lowerName, const std::string& category) {
  if (lowerName == category + ".ico") return true;
  for (const char* suffix : {"16imageicon.bmp", "16alphaicon.bmp", "32imageicon.bmp", "32alphaicon.bmp"})
    if (lowerName == category + suffix) return true;
  return false;
}

}  // namespace

TUpdateSiteContent::TUpdateSiteContent(std::string folder, std::string edition, std::string scratch)
    : Folder_(std::move(folder)),
      VersionFile_(AsciiLowerCase(edition) + ".vui"),
      Scratch_(std::move(scratch)) {}

std::string TUpdateSiteContent::Fingerprint() const {
  std::string print;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(Folder_, ec), end; !ec && it != end; it.increment(ec)) {
    if (it.depth() > 1) {
      it.disable_recursion_pending();
      continue;
    }
    print += it->path().string() + "\n" + std::to_string(StampOf(*it)) + "\n";
  }
  return print;
}

bool TUpdateSiteContent::Compiled(const std::string& path, TDefinition& out) {
  std::error_code ec;
  const fs::directory_entry entry(path, ec);
  const int64_t stamp = StampOf(entry);
  auto cached = Cache_.find(path);
  if (cached != Cache_.end() && cached->second.Stamp == stamp) {
    out = cached->second;
    return true;
  }
  TDefinition def;
  def.Path = path;
  def.Stamp = stamp;
  const std::string ext = AsciiLowerCase(fs::path(path).extension().string());
  std::string compiledPath = path;
  if (IsSource(ext)) {
    // Each kind has keywords of its own, so each is compiled by its own compiler, as the script tool does.
    compiledPath = Scratch_ + "/compiled" + ext;
    std::unique_ptr<TSearchTypeReader> searchType;
    std::unique_ptr<TEngineCompiler> engine;
    std::unique_ptr<TBaseCompiler> base;
    TBaseCompiler* compiler = nullptr;
    switch (KindOf(ext)) {
      case TKind::SearchType:
        searchType = std::make_unique<TSearchTypeReader>();
        compiler = &searchType->Compiler();
        compiler->ResetVariables();
        break;
      case TKind::Category:
      case TKind::Engine:
        engine = std::make_unique<TEngineCompiler>();
        engine->ResetEngineVariables();
        compiler = engine.get();
        break;
      default:
        base = std::make_unique<TBaseCompiler>();
        base->ResetVariables();
        compiler = base.get();
    }
    if (!compiler->LoadFromFile(path) || compiler->Compile() != 0 ||
        compiler->SaveToFile(compiledPath) != 0) {
      Warnings_.push_back(path + " does not compile; left out");
      return false;
    }
  }
  def.Bytes = ReadWhole(compiledPath);
  def.Version = ReadDefinitionVersion(compiledPath);
  if (def.Version < 0) {
    Warnings_.push_back(path + " is not a compiled definition; left out");
    return false;
  }
  Cache_[path] = def;
  out = std::move(def);
  return true;
}

void TUpdateSiteContent::Rebuild() {
  const std::string print = Fingerprint();
  if (print == LastFingerprint_ && !Files_.empty()) return;
  LastFingerprint_ = print;
  Files_.clear();

  std::map<std::string, TFound> searchTypes, categories, scripts;
  std::map<std::string, std::map<std::string, TFound>> engines;  // category -> engine -> file
  std::vector<fs::path> others;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(Folder_, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_directory(ec)) {
      const std::string category = AsciiLowerCase(name);
      for (const auto& inner : fs::directory_iterator(entry.path(), ec)) {
        const std::string ext = AsciiLowerCase(inner.path().extension().string());
        if (inner.is_regular_file(ec) && KindOf(ext) == TKind::Engine)
          Keep(engines[category], AsciiLowerCase(inner.path().stem().string()), inner.path(), IsSource(ext));
      }
      continue;
    }
    if (!entry.is_regular_file(ec)) continue;
    const std::string ext = AsciiLowerCase(entry.path().extension().string());
    const std::string stem = AsciiLowerCase(entry.path().stem().string());
    switch (KindOf(ext)) {
      case TKind::SearchType:
        Keep(searchTypes, stem, entry.path(), IsSource(ext));
        break;
      case TKind::Category:
        Keep(categories, stem, entry.path(), IsSource(ext));
        break;
      case TKind::Script:
        Keep(scripts, stem, entry.path(), IsSource(ext));
        break;
      default:
        others.push_back(entry.path());
    }
  }

  TVersionVUI version;
  // A hand-written "site.vui" supplies the site's own settings and software updates.
  const std::string siteFile = FindPathIgnoringCase(Folder_ + "/", "site.vui");
  if (fs::exists(siteFile, ec)) {
    TVersionVUI site;
    site.LoadFromBytes(ReadWhole(siteFile));
    version.UpdateSite = site.UpdateSite;
    version.UpdateDisabled = site.UpdateDisabled;
    version.UpdateFrequency = site.UpdateFrequency;
    version.SoftwareUpdates = site.SoftwareUpdates;
  }
  TDefinition def;
  for (const auto& [name, found] : scripts) {
    if (!Compiled(found.Path, def)) continue;
    version.CustomScriptVersions.Add({name, 0, def.Version});
    Files_[name + ".zcs"] = ZsCompress(def.Bytes);
  }
  for (const auto& [name, found] : searchTypes) {
    if (!Compiled(found.Path, def)) continue;
    version.SearchTypeVersions.Add({name, 0, def.Version});
    Files_[name + ".zst"] = ZsCompress(def.Bytes);
  }

  // Engines go out by their bare name when that names one engine; when categories hold different engines
  // of one name, each also goes out as "category/engine", and every package carries its own engines.
  std::map<std::string, std::vector<std::pair<std::string, std::string>>>
      byEngine;  // name -> (category, bytes)
  for (const auto& [category, list] : categories) {
    if (!Compiled(list.Path, def)) continue;
    TVUICategoryVersion entry;
    entry.Name = category;
    entry.FetchEngines = true;
    entry.SkipIfAbsent = false;
    entry.Version = def.Version;
    version.CategoryVersions.Add(entry);
    TUpdaterBlob package;
    package.Add(category + ".cca", def.Bytes);
    for (const fs::path& other : others)
      if (IsIcon(AsciiLowerCase(other.filename().string()), category))
        package.Add(other.filename().string(), ReadWhole(other.string()));
    TCategoryVUI engineVui;
    for (const auto& [engine, file] : engines[category]) {
      TDefinition compiled;
      if (!Compiled(file.Path, compiled)) continue;
      engineVui.EngineVersions.Add({engine, 0, compiled.Version});
      package.Add(category + "/" + engine + ".cen", compiled.Bytes);
      byEngine[engine].emplace_back(category, compiled.Bytes);
    }
    Files_[category + ".vui"] = ZsCompress(engineVui.SaveToBytes());
    Files_[category + ".zca"] = ZsCompress(package.SaveToBytes());
  }
  for (const auto& [engine, copies] : byEngine) {
    const bool same = std::all_of(copies.begin(), copies.end(), [&copies](const auto& copy) {
      return copy.second == copies.front().second;
    });
    if (same) {
      Files_[engine + ".zen"] = ZsCompress(copies.front().second);
      continue;
    }
    for (const auto& [category, bytes] : copies) Files_[category + "/" + engine + ".zen"] = ZsCompress(bytes);
  }
  Files_[VersionFile_] = ZsCompress(version.SaveToBytes());
}

std::string TUpdateSiteContent::Answer(std::string_view body, size_t& asked, size_t& sent) {
  std::lock_guard<std::mutex> guard(Lock_);
  Rebuild();
  TUpdaterBlob blob;
  asked = sent = 0;
  size_t start = 0;
  while (start <= body.size() && !body.empty()) {
    const size_t end = std::min(body.find(';', start), body.size());
    const std::string name(body.substr(start, end - start));
    start = end + 1;
    ++asked;
    if (auto it = Files_.find(name); it != Files_.end()) {
      blob.Add(name, it->second);
      ++sent;
    } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".zen") == 0) {
      // An engine whose name several categories use: every category's own copy.
      const std::string suffix = "/" + name;
      for (const auto& [file, bytes] : Files_)
        if (file.size() > suffix.size() &&
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
          blob.Add(file, bytes);
          ++sent;
        }
    }
  }
  return blob.SaveToBytes();
}

std::vector<std::string> TUpdateSiteContent::Names() {
  std::lock_guard<std::mutex> guard(Lock_);
  Rebuild();
  std::vector<std::string> names;
  for (const auto& [name, bytes] : Files_) names.push_back(name);
  return names;
}

std::vector<std::string> TUpdateSiteContent::TakeWarnings() {
  std::lock_guard<std::mutex> guard(Lock_);
  std::vector<std::string> warnings;
  warnings.swap(Warnings_);
  return warnings;
}

}  // namespace vandrel::site
