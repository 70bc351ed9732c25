// Feeds arbitrary bytes to the tokeniser, the tag parser, the rewriter and the visible-text search.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "html/HtmlParserEx.h"
#include "platform/UrlUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte picks the options, so every combination is reached.
  const uint8_t options = data[0];
  std::string page(reinterpret_cast<const char*>(data + 1), size - 1);

  vandrel::TScanner scanner;
  scanner.SetText(page);
  size_t steps = 0;
  while (scanner.NextToken()) {
    if (++steps > page.size() * 2 + 2) abort();  // every token consumes at least one byte
    if (scanner.Token() == vandrel::tkEquals) scanner.ReadAttributeValue();
  }

  vandrel::THtmlParserEx parser;
  parser.ParseLinks = options & 1;
  parser.ParseForms = options & 2;
  parser.ParseImages = options & 4;
  parser.ParseIFrames = options & 8;
  parser.CollectLinkText = options & 16;
  parser.StripComments = options & 32;
  parser.SetText(page);
  parser.Parse();
  for (const auto* list : {&parser.Links(), &parser.Images(), &parser.Frames()}) {
    for (const vandrel::TLinkItem* item : *list) {
      if (page.compare(item->Position, item->Address.size(), item->Address) != 0) abort();
      parser.LinkAt(item->Position);
    }
  }
  parser.ResolveLinks("http://www.store.test/dir/page.htm");
  parser.BuildRewrittenPage();
  (void)vandrel::DecodeEntities(page);

  // The last few bytes double as a sought text.
  std::string what = page.substr(page.size() > 6 ? page.size() - 6 : 0);
  (void)parser.FindLinkAtText(page, what, options & 64);
  return 0;
}
