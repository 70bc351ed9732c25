// Our page tokeniser and tag parser against gumbo on the same pages, with the throughput ratio.
#include <benchmark/benchmark.h>

#include <time.h>

#include <string>
#include <vector>

#include "html/HtmlParserEx.h"

#ifdef VANDREL_HAVE_GUMBO
#include <gumbo.h>
#endif

namespace {

// One result row of a store page, the way shop search pages of the kind we parse are built.
std::string ResultRow(int id, bool lineBreaks) {
  const char* nl = lineBreaks ? "\n    " : "";
  std::string n = std::to_string(id);
  std::string row;
  row += "<tr class=\"result\" bgcolor='#F0F0F0'>";
  row += nl;
  row += "<td width=80 valign=top><a href=\"/item.asp?id=" + n + "&amp;ref=srch\"><img src=\"/img/c" + n +
         ".jpg\" width=60 height=90 border=0 alt=\"cover\"></a></td>";
  row += nl;
  row += "<td><font face=\"Arial,Helvetica\" size=2><A HREF=\"/item.asp?id=" + n + "\"><B>The Garden of " +
         n + " Paths</B></A><br>by <a href='/author.asp?a=" + n + "'>A. Writer</a>, Paperback";
  row += nl;
  row += "<!-- price block -->List price: <s>$19.99</s> Our price: <b>$" + std::to_string(10 + id % 9) +
         ".99</b>&nbsp;&middot;&nbsp;Ships in 24 hours";
  row += nl;
  row += "<form action=\"/cart.asp\" method=post><input type=hidden name=id value=" + n +
         "><input type=image src=\"/img/buy.gif\" name=buy></form></font></td></tr>";
  row += lineBreaks ? "\n" : "";
  return row;
}

std::string PageHead(bool lineBreaks) {
  const char* nl = lineBreaks ? "\n" : "";
  return std::string("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">") + nl +
         "<html><head><title>Search results</title>" + nl +
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">" + nl +
         "<link rel=stylesheet href=\"/css/store.css\"><script language=\"JavaScript\">" + nl +
         "function pop(u){window.open(u,'w','width=400');} // <a href=x>" + nl + "</script></head>" + nl +
         "<body bgcolor=white><table width=\"100%\" cellpadding=2>" + nl;
}

std::string BigPage(bool lineBreaks) {
  std::string page = PageHead(lineBreaks);
  for (int id = 1; page.size() < (1u << 20); ++id) page += ResultRow(id, lineBreaks);
  return page + "</table></body></html>";
}

std::vector<std::string> StorePages() {
  std::vector<std::string> pages;
  for (int p = 0; p < 20; ++p) {
    std::string page = PageHead(true);
    for (int r = 0; r < 10 + p * 2; ++r) page += ResultRow(p * 100 + r, true);
    page += "</table><p>Pages: ";
    for (int k = 1; k <= 10; ++k)
      page += "<a href=\"/search.asp?page=" + std::to_string(k) + "\">" + std::to_string(k) + "</a> ";
    pages.push_back(page + "</p></body></html>");
  }
  return pages;
}

const std::vector<std::string>& PageSet(int which) {
  static const std::vector<std::string> oneLine{BigPage(false)};
  static const std::vector<std::string> multiLine{BigPage(true)};
  static const std::vector<std::string> store = StorePages();
  return which == 0 ? oneLine : which == 1 ? multiLine : store;
}

size_t Tokenise(const std::string& page) {
  vandrel::TScanner s;
  s.SetText(page);
  size_t n = 0;
  while (s.NextToken()) {
    if (s.Token() == vandrel::tkEquals) s.ReadAttributeValue();
    ++n;
  }
  return n;
}

size_t ParsePage(const std::string& page) {
  vandrel::THtmlParserEx p;
  p.ParseImages = true;
  p.SetText(page);
  p.Parse();
  return p.Links().Count() + p.Images().Count();
}

// Each iteration runs ours and gumbo on the whole set; the counters give both rates and their ratio.
template <size_t (*Ours)(const std::string&)>
void Compare(benchmark::State& state) {
  const auto& pages = PageSet(static_cast<int>(state.range(0)));
  size_t bytes = 0;
  for (const auto& p : pages) bytes += p.size();
  // Thread CPU time, so other processes on a busy machine do not skew the ratio.
  auto now = [] {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  };
  double ours = 0, peer = 0;
  for (auto _ : state) {
    double t0 = now();
    for (const auto& p : pages) benchmark::DoNotOptimize(Ours(p));
    double t1 = now();
#ifdef VANDREL_HAVE_GUMBO
    for (const auto& p : pages) {
      GumboOutput* out = gumbo_parse_with_options(&kGumboDefaultOptions, p.data(), p.size());
      benchmark::DoNotOptimize(out);
      gumbo_destroy_output(&kGumboDefaultOptions, out);
    }
#endif
    double t2 = now();
    ours += t1 - t0;
    peer += t2 - t1;
  }
  double mb = static_cast<double>(bytes) * static_cast<double>(state.iterations()) / 1e6;
  state.counters["ours_MBps"] = mb / ours;
#ifdef VANDREL_HAVE_GUMBO
  state.counters["gumbo_MBps"] = mb / peer;
  state.counters["ratio"] = peer / ours;
#endif
  state.SetLabel(state.range(0) == 0   ? "1 MB one line"
                 : state.range(0) == 1 ? "1 MB multi-line"
                                       : "20 store pages");
}

}  // namespace

BENCHMARK_TEMPLATE(Compare, Tokenise)
    ->Name("HtmlTokens_vs_Gumbo")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(Compare, ParsePage)
    ->Name("HtmlParse_vs_Gumbo")
    ->DenseRange(0, 2)
    ->Unit(benchmark::kMillisecond);
