// "parse": runs one engine definition over a saved store page and prints the records it cuts.
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "engines/EngineCompiler.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"
#include "platform/TextUtils.h"

namespace vandrel::cli {

namespace {

struct ParseOptions {
  std::string SearchType, Engine, Page, Address;
  std::vector<std::pair<std::string, std::string>> Sets;
  bool Json = false;
};

int Usage(const char* problem) {
  std::fprintf(stderr, "vandrel-shopper-cli parse: %s\n", problem);
  std::fprintf(
      stderr,
      "usage: vandrel-shopper-cli parse --search-type FILE --engine FILE --page FILE [--address URL] "
      "[--set FIELD=VALUE]... [--json]\n");
  return 2;
}

// The first error of a definition, as the user needs it to find the line.
int ReportError(const TBaseCompiler& c, const std::string& file) {
  if (c.Errors.empty()) {
    std::printf("error 0: %s could not be used (line 0)\n", file.c_str());
  } else {
    const TCompilerMsgItem& e = c.Errors.front();
    std::printf("error %d: %s (line %d)\n", e.Code, ToDisplayText(e.Text).c_str(), e.Line);
  }
  return 2;
}

bool ReadFile(const std::string& name, std::string& out) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

void SetInputValue(TSearchInputField& f, const std::string& value) {
  if (IsNumericType(f.DataType)) {
    double d = 0;
    auto res = std::from_chars(value.data(), value.data() + value.size(), d);
    if (res.ec != std::errc()) d = 0;
    if (IsIntegralType(f.DataType))
      f.SetInteger(static_cast<int64_t>(d));
    else
      f.SetFloat(d);
    f.DataType = f.Definition->DataType;
  } else {
    f.SetString(value);
  }
}

std::string JsonString(std::string_view text) {
  std::string s = ToDisplayText(text);
  std::string out = "\"";
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      static const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void PrintJson(const TSearchTypeReader& type, const std::vector<TResultRecord*>& records) {
  std::printf("[");
  for (size_t r = 0; r < records.size(); ++r) {
    TResultRecord& rec = *records[r];
    std::printf("%s\n  {", r ? "," : "");
    for (size_t i = 0; i < type.OutputFields->Count(); ++i) {
      const std::string& name = type.OutputFields->At(i).FieldName;
      TResultField* f = rec.FindField(name);
      std::string text = f ? f->DisplayText() : std::string();
      std::printf("%s%s: %s", i ? ", " : "", JsonString(name).c_str(), JsonString(text).c_str());
    }
    if (rec.FilteredOut) std::printf(", \"_filtered\": true");
    std::printf("}");
  }
  std::printf("%s]\n", records.empty() ? "" : "\n");
}

void PrintTable(const TSearchTypeReader& type, const std::vector<TResultRecord*>& records) {
  size_t columns = type.OutputFields->Count();
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> head;
  for (size_t i = 0; i < columns; ++i) head.push_back(ToDisplayText(type.OutputFields->At(i).FieldName));
  head.push_back("filtered");
  rows.push_back(head);
  for (TResultRecord* rec : records) {
    std::vector<std::string> row;
    for (size_t i = 0; i < columns; ++i) {
      TResultField* f = rec->FindField(type.OutputFields->At(i).FieldName);
      row.push_back(f ? ToDisplayText(f->DisplayText()) : std::string());
    }
    row.push_back(rec->FilteredOut ? "yes" : "");
    rows.push_back(std::move(row));
  }
  std::vector<size_t> widths(columns + 1, 0);
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    std::printf("%s\n", line.c_str());
  }
  std::printf("%zu record(s)\n", records.size());
}

}  // namespace

int RunParse(const Args& args) {
  ParseOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    bool ok = true;
    if (a == "--search-type") {
      ok = value(o.SearchType);
    } else if (a == "--engine") {
      ok = value(o.Engine);
    } else if (a == "--page") {
      ok = value(o.Page);
    } else if (a == "--address") {
      ok = value(o.Address);
    } else if (a == "--json") {
      o.Json = true;
    } else if (a == "--set") {
      std::string pair;
      ok = value(pair);
      size_t eq = pair.find('=');
      if (!ok || eq == std::string::npos || eq == 0) return Usage("--set takes FIELD=VALUE");
      o.Sets.emplace_back(pair.substr(0, eq), pair.substr(eq + 1));
    } else {
      return Usage(("unknown argument '" + a + "'").c_str());
    }
    if (!ok) return Usage(("missing value after " + a).c_str());
  }
  if (o.SearchType.empty() || o.Engine.empty() || o.Page.empty())
    return Usage("--search-type, --engine and --page are required");
  std::string page;
  if (!ReadFile(o.Page, page)) return Usage(("cannot read page " + o.Page).c_str());

  TSearchTypeReader type;
  if (!type.Load(o.SearchType)) return ReportError(type.Compiler(), o.SearchType);
  TSearchTypeInstance instance(&type);
  for (const auto& [name, value] : o.Sets) {
    TSearchInputField* f = instance.InputFields.Find(name);
    if (!f) return Usage(("the search type has no input field '" + name + "'").c_str());
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
