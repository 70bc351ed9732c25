#include "storage/QuorinDb.h"

#include <map>
#include <utility>

#include "platform/Format.h"
#include "platform/xbase/XbEngine.h"

namespace vandrel {

namespace {

// One database per process, alive while a back end holds it.
std::weak_ptr<TQuorinDb>& SharedDb() {
  static std::weak_ptr<TQuorinDb> db;
  return db;
}

std::shared_ptr<IXbFileSystem>& NextFileSystem() {
  static std::shared_ptr<IXbFileSystem> fs;
  return fs;
}

std::vector<TQuorinDb::TSetAside>& SetAsideTables() {
  static std::vector<TQuorinDb::TSetAside> tables;
  return tables;
}

std::map<std::string, int>& LoginNumbers() {
  static std::map<std::string, int> numbers;
  return numbers;
}

}  // namespace

std::string WithTrailingSeparator(std::string folder) {
  if (!folder.empty() && folder.back() == '\\') folder.back() = '/';
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

TQuorinDb::TQuorinDb(std::shared_ptr<IXbFileSystem> fs) : TDatabase(std::move(fs)) {
  SetMemoBlockSize(64);
}

std::shared_ptr<TQuorinDb> TQuorinDb::Acquire() {
  if (auto db = SharedDb().lock()) return db;
  auto db = std::make_shared<TQuorinDb>(NextFileSystem());
  SharedDb() = db;
  return db;
}

bool TQuorinDb::Exists() {
  return !SharedDb().expired();
}

void TQuorinDb::UseFileSystem(std::shared_ptr<IXbFileSystem> fs) {
  NextFileSystem() = std::move(fs);
}

bool TQuorinDb::EnsureDictionary(const std::string& systemPath) {
  if (IsOpen()) return true;
  SetPath(WithTrailingSeparator(systemPath));
  return OpenDictionary();
}

TTable* TQuorinDb::OpenApplicationTable(const std::string& logicalName, const std::string& dataPath,
                                        const TSchemaTable& definition) {
  ClearError();
  TTable* table = OpenDefinedTable(logicalName, definition.FileName, false, definition.DictionaryName);
  if (table == nullptr) {
    if (LastErrorCode() != 0) return nullptr;
    table = DefineTable(logicalName, definition.FileName);
    DefineSchemaTable(*table, definition);
    // Read-only, the built-in definition serves without being written down.
    if (logicalName == definition.DictionaryName && !ReadOnly() && !table->RegisterInDictionary()) {
      ForgetTable(logicalName);
      return nullptr;
    }
  }
  table->SetPath(WithTrailingSeparator(dataPath));
  if (table->Open()) return table;
  // Only a missing, empty or unreadable file makes room for a new table (an unreadable one is moved
  // aside first); anything else keeps the user's data and fails the login.
  int why = LastErrorCode();
  if (why == xbeMissing || why == xbeEmpty || why == xbeDamaged) {
    const std::string reason = LastErrorMessage();
    ClearError();
    if (table->Create()) {
      if (why == xbeDamaged) SetAsideTables().push_back({table->FileName(), reason});
      return table;
    }
  }
  ForgetTable(logicalName);
  return nullptr;
}

std::vector<TQuorinDb::TSetAside> TQuorinDb::TakeSetAside() {
  return std::exchange(SetAsideTables(), {});
}

int TQuorinDb::TakeLoginNumber(const std::string& kind) {
  return ++LoginNumbers()[kind];
}

void TQuorinDb::GiveBackLoginNumber(const std::string& kind) {
  auto& n = LoginNumbers()[kind];
  if (n > 0) --n;
}

}  // namespace vandrel
