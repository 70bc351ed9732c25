// The one database of the process, shared by every storage back end that is logged in.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "storage/DbKernel.h"
#include "storage/QuorinSchema.h"

namespace vandrel {

// Main thread only, like every back end that uses it; no locks of its own.
class TQuorinDb : public TDatabase {
 public:
  explicit TQuorinDb(std::shared_ptr<IXbFileSystem> fs);

  // The shared database: created with memo blocks of 64 bytes when no back end holds it, destroyed with
  // the last reference.
  static std::shared_ptr<TQuorinDb> Acquire();
  // Whether some back end holds the database now.
  static bool Exists();
  // The file system the next database is created over; null returns to the real one. For tests.
  static void UseFileSystem(std::shared_ptr<IXbFileSystem> fs);

  // Opens the dictionary in `systemPath` unless it is open already.
  bool EnsureDictionary(const std::string& systemPath);

  // Opens an application table under `logicalName` from `dataPath`, defined by its dictionary entry or
  // by the built-in schema, and creates its file only where there is no table yet. A file that exists
  // but cannot be opened (locked, an unexpected field) is left as it is; null then, with the reason as
  // the last error, and the table is forgotten.
  TTable* OpenApplicationTable(const std::string& logicalName, const std::string& dataPath,
                               const TSchemaTable& definition);

  // Tables found unreadable and set aside (a new, empty one took each one's place) since the last call,
  // process-wide, for the user to be told once: the file name and the engine's reason.
  struct TSetAside {
    std::string File;    // the data file that could not be read
    std::string Reason;  // the engine's message
  };
  static std::vector<TSetAside> TakeSetAside();

  // Login numbers of one back-end kind, process-wide: taken at each login, given back when it fails.
  static int TakeLoginNumber(const std::string& kind);
  static void GiveBackLoginNumber(const std::string& kind);
};

// A folder with the trailing separator every path of the database carries.
std::string WithTrailingSeparator(std::string folder);

}  // namespace vandrel
