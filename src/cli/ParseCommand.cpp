// "parse": runs one engine definition over a saved store page and prints the records it cuts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CliKernel.h"
#include "cli/CliOutput.h"
#include "cli/CommandArguments.h"
#include "cli/Commands.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/JsonWriter.h"

namespace vandrel::cli {

namespace {

int Usage(const std::string& problem) {
  return UsageError("parse", problem);
}

// The first error of a definition, as the user needs it to find the line.
int ReportError(const TBaseCompiler& c, const std::string& file) {
  if (c.Errors.empty()) {
    std::printf("error 0: %s could not be used (line 0)\n", TerminalText(file).c_str());
  } else {
    const TCompilerMsgItem& e = c.Errors.front();
    std::printf("error %d: %s (line %d)\n", e.Code, TerminalText(e.Text).c_str(), e.Line);
  }
  return 2;
}

// The whole file, or false with the system's reason: a folder, a file that cannot be opened or read
// (/proc/self/mem) is told apart from an empty one.
bool ReadInput(const std::string& name, std::string& out, std::string& reason) {
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    reason = std::strerror(EISDIR);
    return false;
  }
  out.clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      close(fd);
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return true;
}

void PrintJson(const TSearchTypeReader& type, const std::vector<TResultRecord*>& records) {
  TJsonWriter json;
  json.BeginArray();
  for (TResultRecord* rec : records) {
    json.BeginObject();
    for (size_t i = 0; i < type.OutputFields->Count(); ++i) {
      const std::string& name = type.OutputFields->At(i).FieldName;
      TResultField* f = rec->FindField(name);
      json.Member(name, f ? f->DisplayText() : std::string());
    }
    if (rec->FilteredOut) json.Member("_filtered", true);
    json.EndObject();
  }
  json.EndArray();
  std::printf("%s\n", json.Text().c_str());
}

void PrintTable(const TSearchTypeReader& type, const std::vector<TResultRecord*>& records) {
  const size_t columns = type.OutputFields->Count();
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head;
  for (size_t i = 0; i < columns; ++i) head.push_back(TerminalText(type.OutputFields->At(i).FieldName));
  head.push_back("filtered");
  rows.push_back(head);
  for (TResultRecord* rec : records) {
    std::vector<std::string> row;
    for (size_t i = 0; i < columns; ++i) {
      TResultField* f = rec->FindField(type.OutputFields->At(i).FieldName);
      row.push_back(f ? TerminalText(f->DisplayText()) : std::string());
    }
    row.push_back(rec->FilteredOut ? "yes" : "");
    rows.push_back(std::move(row));
  }
  PrintColumns(rows, true);
  std::printf("%zu record(s)\n", records.size());
}

}  // namespace

int RunParse(const Args& args) {
  TParseArguments o;
  std::string error;
  if (!ParseParseArguments(args, o, error)) return Usage(error);
  std::string page, definition, reason;
  for (const std::string* file : {&o.SearchType, &o.Engine, &o.Page}) {
    std::string& into = file == &o.Page ? page : definition;
    if (!ReadInput(*file, into, reason)) {
      PrintError("parse", "cannot read " + *file + ": " + reason);
      return 2;
    }
  }

  TSearchTypeReader type;
  if (!type.Load(o.SearchType)) return ReportError(type.Compiler(), o.SearchType);
  TSearchTypeInstance instance(&type);
  for (const auto& [name, text] : o.Sets) {
    TSearchInputField* f = instance.InputFields.Find(name);
    if (!f) return Usage("the search type has no input field '" + name + "'");
    TDynamicValue value;
    if (!ParseFieldValue(f->Definition->DataType, text, value, reason))
      return Usage("--set " + name + ": " + reason);
    SetInputValue(*f, value);
  }
  instance.InputFields.RecomputeFields();

  TEngineReader reader;
  if (!reader.Load(o.Engine, &instance)) return ReportError(reader.Compiler(), o.Engine);
  TEngineCompiler& engine = reader.Compiler();
  TVariableList& vars = engine.Variables();

  // The first page of a search, as the searcher runs it.
  engine.ResetEngineVariables();
  engine.ResultsParser.Reset();
  engine.SetInstance(&instance);
  std::vector<TResultRecord*> shown;
  auto finish = [&]() {
    if (o.Json)
      PrintJson(type, shown);
    else
      PrintTable(type, shown);
    return 0;
  };
  if (engine.ExecuteProcedure("Init") != 0) return ReportError(engine, o.Engine);
  if (vars.GetBoolean("Terminated", false)) return finish();
  engine.ResultsParser.MaxResults = static_cast<int32_t>(vars.GetInteger("ResultsPerEngine", 0));
  engine.ResultsParser.DocumentType = static_cast<int32_t>(vars.GetInteger("DocumentType", 0));
  if (engine.ExecuteProcedure("BeforeDownload") != 0) return ReportError(engine, o.Engine);
  if (vars.GetBoolean("Terminated", false)) return finish();
  std::string address = o.Address.empty() ? vars.GetString("SourceUrl", "") : o.Address;

  engine.ApplyPageSettings();
  engine.ResultsParser.SetPageText(page);
  engine.ResultsParser.SetDocumentAddress(address);
  if (engine.ExecuteProcedure("AfterDownload") != 0) return ReportError(engine, o.Engine);
  if (vars.GetBoolean("Terminated", false)) return finish();
  engine.ApplyParseSettings();
  engine.ResultsParser.PrepareRules();
  engine.ResultsParser.Parse();
  if (engine.ExecuteProcedure("AfterParse") != 0) return ReportError(engine, o.Engine);

  TSearchResultList& results = engine.ResultsParser.Results();
  for (size_t i = 0; i < results.Count(); ++i) {
    TResultRecord& r = results.At(i);
    if (r.Deleted) continue;
    r.Refresh();
    shown.push_back(&r);
  }
  return finish();
}

}  // namespace vandrel::cli
