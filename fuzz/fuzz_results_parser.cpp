// Cuts records out of arbitrary pages with rules, markers and line-feed tags taken from the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "engines/ResultsParserEx.h"
#include "engines/SearchResults.h"
#include "engines/SearchTypeCompiler.h"

namespace {

// Input: option bytes, then up to five texts and the page, separated by byte 1.
std::vector<std::string> Split(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 1 && parts.size() < 7)
      parts.emplace_back();
    else
      parts.back() += static_cast<char>(data[i]);
  }
  parts.resize(7);
  return parts;
}

int8_t Byte(const std::string& options, size_t i) {
  return i < options.size() ? static_cast<int8_t>(options[i]) : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vandrel;
  std::vector<std::string> part = Split(data, size);
  const std::string& o = part[0];

  TSearchTypeReader type;
  type.OutputFields->AddField("title");
  type.OutputFields->AddField("price")->SetDeclaredType(dtMoney);
  type.OutputFields->AddField("url")->IsUrl = true;
  type.OutputFields->AddField("count")->SetDeclaredType(dtInteger);
  type.OutputFields->At(1).FormatString = (Byte(o, 9) & 1) ? "%.2f" : "%s";  // a mismatch is an error
  type.CurrentView->UrlReduction = static_cast<uint8_t>(Byte(o, 1)) & 15;
  type.SetUniqueKey("url");
  TSearchTypeInstance instance(&type);

  TResultsParserEx p;
  p.SetInstance(&instance);
  p.ParseType = static_cast<uint8_t>(Byte(o, 0)) % 3;
  p.ParseIncompleteLinks = Byte(o, 1) & 16;
  if (Byte(o, 1) & 32) p.BaseLink = "http://h/";
  p.MaxResults = static_cast<uint8_t>(Byte(o, 2)) % 8;
  p.ParseExpression = part[4];
  if (!part[5].empty()) p.LineFeedTags->Add(part[5]);
  p.Rules->FindOrAdd("Range")->StartMarker = Byte(o, 3) & 1 ? part[3] : std::string();
  p.Rules->FindOrAdd("Range")->EndMarker = Byte(o, 3) & 2 ? part[3] : std::string();
  const char* names[] = {"title", "price", "url", "count", "nosuch"};
  for (size_t i = 0; i < 5; ++i) {
    TSearchRule& r = *p.Rules->FindOrAdd(names[i]);
    r.StartMarker = part[1];
    r.EndMarker = part[2];
    r.StartMarkerOccurrence = Byte(o, 4 + i) % 4;
    r.EndMarkerOccurrence = Byte(o, 5 + i) % 4;
    r.StartLine = Byte(o, 10 + i) % 8;
    r.NbLines = Byte(o, 15 + i) % 8;
    r.StartChar = Byte(o, 20 + i);
    r.NbChars = Byte(o, 25 + i);
    r.StartMarkerMandatory = Byte(o, 30 + i) & 1;
    r.Clean = Byte(o, 30 + i) & 2;
    r.Expression = Byte(o, 30 + i) & 4 ? part[4] : std::string();
    r.ExpressionMandatory = Byte(o, 30 + i) & 8;
    r.Code = (Byte(o, 35 + i) & 7) == 5 ? 0 : Byte(o, 35 + i) & 7;  // formulas need a script
  }
  p.Rules->Find("url")->SetKey(true);
  p.Rules->Find("title")->AddTranslation(part[2], part[1]);

  for (int round = 0; round < 2; ++round) {
    p.SetPageText(part[6]);
    p.SetDocumentAddress("http://www.store.test/a/b.htm");
    p.PrepareRules();
    p.Parse();
  }
  TSearchResultList& results = p.Results();
  for (size_t i = 0; i < results.Count(); ++i) {
    TResultRecord& r = results.At(i);
    if (r.RecordId != static_cast<int32_t>(i) + 1) abort();
    for (size_t f = 0; f < r.FieldCount(); ++f) (void)r.Field(f).DisplayText();
    (void)r.UniqueKey();
    r.Refresh();
  }
  (void)p.GetDocumentTitle();
  return 0;
}
