// What an update site offers: built from a folder of definitions (sources or compiled files), as the
// information files, compressed definitions and category packages the update exchange asks for by name.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::site {

class TUpdateSiteContent {
 public:
  // `scratch` is a private folder for compiling sources.
  TUpdateSiteContent(std::string folder, std::string edition, std::string scratch);

  // The updater blob answering a ";"-joined list of wanted names; `asked` and `sent` count the names
  // and the entries. Rebuilds what changed in the folder first. Safe from any thread.
  std::string Answer(std::string_view body, size_t& asked, size_t& sent);
  // The names on offer, sorted. Safe from any thread.
  std::vector<std::string> Names();
  // Problems met while building (a definition that does not compile, two engines of one name).
  std::vector<std::string> TakeWarnings();

  const std::string& VersionFileName() const { return VersionFile_; }

 private:
  struct TDefinition {
    std::string Path;
    int64_t Stamp = 0;  // modification time and size, to see a changed file
    std::string Bytes;  // compiled
    int32_t Version = 0;
  };

  void Rebuild();
  bool Compiled(const std::string& path, TDefinition& out);
  std::string Fingerprint() const;

  std::string Folder_;
  std::string VersionFile_;
  std::string Scratch_;
  std::mutex Lock_;
  std::string LastFingerprint_;
  std::map<std::string, TDefinition> Cache_;  // by path
  std::map<std::string, std::string> Files_;  // wanted name -> bytes
  std::vector<std::string> Warnings_;
};

}  // namespace vandrel::site
