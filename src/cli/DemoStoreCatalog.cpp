#include "cli/DemoStoreCatalog.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace vandrel::cli {
namespace {

struct TProduct {
  const char* Slug;
  const char* Title;
  const char* Maker;
  int Cents;  // list price in US cents; stores scale it into their own currency
};

struct TCategory {
  const char* Name;
  const char* CatalogHost;  // where the product pages the stores link to live
  std::vector<TProduct> Products;
};

// How a store writes the shared product address; several stores naming one product with these variants is
// exactly what the result merger has to see through.
enum class TLinkStyle { Plain, Www, TrailingSlash, DefaultPage };

enum class TStoreFault { None, ServerErrorThenGarbage };

struct TStore {
  const char* Id;
  const char* Name;
  size_t Category;  // index into Categories()
  const char* Currency;
  int RatePercent;  // price in the store's currency per 100 US cents
  TLinkStyle Link;
  size_t First;  // the store carries every `Step`-th product of its category from `First` on
  size_t Step;
  size_t NoPriceEvery;  // every n-th carried product shows no price; 0 never
  TStoreFault Fault = TStoreFault::None;
};

constexpr size_t kPageSize = 5;
constexpr size_t kUnknownQueryCount = 4;

const std::vector<TCategory>& Categories() {
  static const std::vector<TCategory> categories = {
      {"books",
       "books.catalog.test",
       {{"harbour-of-glass", "The Harbour of Glass", "Mira Castell", 1499},
        {"quiet-engines", "Quiet Engines: A History of Clockwork", "Tomas Berrin", 2450},
        {"salt-and-cedar", "Salt and Cedar", "Lena Oduya", 1299},
        {"garden-atlas", "The Garden Atlas", "Petra Lund", 3500},
        {"night-ferry", "Night Ferry to Aldermoor", "Mira Castell", 999},
        {"practical-bread", "Practical Bread Baking", "Jon Arkwell", 2199},
        {"northern-lights", "Under the Northern Lights", "Sanna Vik", 1650},
        {"glass-city", "Glass City Stories", "Mira Castell", 1175},
        {"small-boats", "Small Boats and Big Water", "Ed Calloway", 2899},
        {"paper-moons", "A Field Guide to Paper Moons", "Iris Tamm", 1850},
        {"chess-endings", "Chess Endings for Everyone", "Viktor Sallo", 1999},
        {"river-voices", "River Voices", "Lena Oduya", 1425}}},
      {"music",
       "music.catalog.test",
       {{"blue-hour-live", "Blue Hour (Live)", "The Lanterns", 1599},
        {"copper-sky", "Copper Sky", "Ada Renn Quartet", 1299},
        {"harbour-songs", "Harbour Songs", "The Lanterns", 1399},
        {"northern-suite", "Northern Suite for Strings", "Aldermoor Chamber Players", 1899},
        {"static-bloom", "Static Bloom", "Neon Orchard", 1099},
        {"greatest-hits", "Greatest Hits 1990-2000", "Neon Orchard", 2199},
        {"slow-rivers", "Slow Rivers", "Ada Renn Quartet", 1499},
        {"midnight-radio", "Midnight Radio", "Kasper Holm", 999},
        {"glass-piano", "Glass Piano Works", "Iris Tamm", 1750},
        {"festival-box", "Festival Box Set", "The Lanterns", 4999},
        {"dust-and-gold", "Dust and Gold", "Kasper Holm", 1199},
        {"city-lights-ep", "City Lights EP", "Neon Orchard", 699}}},
      {"films",
       "films.catalog.test",
       {{"harbour-of-glass-film", "The Harbour of Glass (Blu-ray)", "Northlight Pictures", 1999},
        {"last-ferry", "The Last Ferry", "Aldermoor Films", 1499},
        {"copper-mountain", "Copper Mountain", "Redline Studio", 1299},
        {"quiet-city", "Quiet City (Director's Cut)", "Northlight Pictures", 2499},
        {"space-gardeners", "Space Gardeners", "Redline Studio", 1799},
        {"night-ferry-film", "Night Ferry (DVD)", "Aldermoor Films", 999},
        {"glass-city-series", "Glass City: Complete Series", "Northlight Pictures", 5999},
        {"river-chase", "River Chase", "Redline Studio", 1150},
        {"midnight-radio-doc", "Midnight Radio: A Documentary", "Kasper Holm", 1699},
        {"salt-coast", "Salt Coast", "Aldermoor Films", 1399},
        {"paper-moons-film", "Paper Moons", "Northlight Pictures", 1599},
        {"chess-match", "The Chess Match", "Redline Studio", 1099}}},
      {"electronics",
       "electronics.catalog.test",
       {{"volta-x2-headphones", "Volta X2 Wireless Headphones", "Volta", 12999},
        {"lumen-4k-tv", "Lumen 55\" 4K Television", "Lumen", 54999},
        {"pocketcam-s", "PocketCam S Action Camera", "Brightframe", 19999},
        {"volta-mini-speaker", "Volta Mini Bluetooth Speaker", "Volta", 4999},
        {"arc-laptop-14", "Arc 14 Laptop, 16 GB", "Arcwell", 89900},
        {"lumen-soundbar", "Lumen Soundbar 300", "Lumen", 24900},
        {"arc-tablet-10", "Arc Tablet 10", "Arcwell", 32900},
        {"brightframe-drone", "Brightframe Sky Drone", "Brightframe", 45900},
        {"volta-earbuds", "Volta Buds Wireless Earbuds", "Volta", 7999},
        {"usb-c-charger", "65 W USB-C Charger", "Arcwell", 3499},
        {"lumen-monitor-27", "Lumen 27\" Monitor", "Lumen", 29999},
        {"pocketcam-mount", "PocketCam Handlebar Mount", "Brightframe", 1999}}},
  };
  return categories;
}

const std::vector<TStore>& Stores() {
  static const std::vector<TStore> stores = {
      {"pageturner", "PageTurner Books", 0, "USD", 100, TLinkStyle::Plain, 0, 1, 5},
      {"bookbarn", "The Book Barn", 0, "GBP", 79, TLinkStyle::Www, 0, 2, 0},
      {"leafandspine", "Leaf & Spine", 0, "EUR", 92, TLinkStyle::TrailingSlash, 1, 1, 4},
      {"groovecrate", "GrooveCrate", 1, "USD", 100, TLinkStyle::DefaultPage, 0, 1, 0},
      {"vinylvault", "Vinyl Vault", 1, "CAD", 136, TLinkStyle::Plain, 1, 2, 3},
      {"soundshelf", "SoundShelf", 1, "EUR", 92, TLinkStyle::Www, 2, 1, 0},
      {"reelhouse", "ReelHouse", 2, "EUR", 92, TLinkStyle::Plain, 0, 1, 0},
      {"cinemart", "CineMart", 2, "GBP", 79, TLinkStyle::TrailingSlash, 0, 2, 2},
      {"screenstop", "ScreenStop", 2, "USD", 100, TLinkStyle::DefaultPage, 1, 1, 6},
      {"voltmart", "VoltMart", 3, "USD", 100, TLinkStyle::Www, 0, 1, 0},
      {"circuitnorth", "Circuit North", 3, "CAD", 136, TLinkStyle::Plain, 0, 1, 4},
      {"gadgetgrove", "Gadget Grove", 3, "GBP", 79, TLinkStyle::DefaultPage, 2, 1, 0},
      {"brokenbazaar", "Broken Bazaar", 3, "USD", 100, TLinkStyle::Plain, 0, 1, 0,
       TStoreFault::ServerErrorThenGarbage},
  };
  return stores;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
        c == '.') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A malformed escape is kept as it stands rather than guessed at.
std::string UrlDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string QueryField(std::string_view query, std::string_view name) {
  while (!query.empty()) {
    const size_t amp = query.find('&');
    std::string_view pair = query.substr(0, amp);
    const size_t eq = pair.find('=');
    if (UrlDecode(pair.substr(0, eq)) == name)
      return eq == std::string_view::npos ? "" : UrlDecode(pair.substr(eq + 1));
    if (amp == std::string_view::npos) break;
    query.remove_prefix(amp + 1);
  }
  return {};
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || u >= 0x80) {
      word += static_cast<char>(u >= 'A' && u <= 'Z' ? u + 32 : u);
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

int MatchScore(const TProduct& product, const std::vector<std::string>& queryWords) {
  const std::vector<std::string> title = Words(std::string(product.Title) + " " + product.Maker);
  int score = 0;
  for (const auto& w : queryWords)
    if (std::find(title.begin(), title.end(), w) != title.end()) ++score;
  return score;
}

// Each store writes amounts the way shops of its currency do.
std::string PriceText(const TStore& store, int usCents) {
  const int64_t cents = (static_cast<int64_t>(usCents) * store.RatePercent + 50) / 100;
  const std::string units = std::to_string(cents / 100);
  std::string fraction = std::to_string(cents % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  const std::string_view currency = store.Currency;
  if (currency == "EUR") return units + "," + fraction + " &euro;";
  if (currency == "GBP") return "&pound;" + units + "." + fraction;
  if (currency == "CAD") return "CDN$ " + units + "." + fraction;
  return "$" + units + "." + fraction;
}

std::string ProductLink(const TStore& store, const TCategory& category, const TProduct& product) {
  const std::string path = std::string("/item/") + product.Slug;
  switch (store.Link) {
    case TLinkStyle::Www:
      return std::string("http://www.") + category.CatalogHost + path;
    case TLinkStyle::TrailingSlash:
      return std::string("http://") + category.CatalogHost + path + "/";
    case TLinkStyle::DefaultPage:
      return std::string("http://") + category.CatalogHost + path + "/index.html";
    case TLinkStyle::Plain:
      break;
  }
  return std::string("http://") + category.CatalogHost + path;
}

std::string Page(const std::string& title, const std::string& body) {
  return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + HtmlEscape(title) +
         "</title></head>\n<body>\n" + body + "</body></html>\n";
}

TDemoResponse NotFound() {
  return {404, "text/html; charset=utf-8", Page("Not Found", "<h1>Not Found</h1>\n")};
}

TDemoResponse StoreIndex() {
  std::string body = "<h1>Demo stores</h1>\n<ul>\n";
  for (const auto& store : Stores())
    body += std::string("<li><a href=\"/") + store.Id + "/search?q=\">" + HtmlEscape(store.Name) + "</a> (" +
            Categories()[store.Category].Name + ", " + store.Currency + ")</li>\n";
  return {200, "text/html; charset=utf-8", Page("Demo stores", body + "</ul>\n")};
}

// The broken store fails differently by page so a searcher meets both a refusal and a page it cannot read.
TDemoResponse FaultyAnswer(long page) {
  if (page <= 1)
    return {500, "text/html; charset=utf-8",
            Page("Internal Server Error", "<h1>Internal Server Error</h1>\n")};
  std::string garbage =
      "<html><body><table class=\"results\"><tr class=\"result\"><td class=\"title\"><a href=";
  for (int i = 0; i < 64; ++i) garbage += static_cast<char>((i * 37 + 11) % 256);
  return {200, "text/html; charset=utf-8", garbage};
}

TDemoResponse SearchPage(const TStore& store, const std::string& query, long page) {
  if (store.Fault == TStoreFault::ServerErrorThenGarbage) return FaultyAnswer(page);
  const TCategory& category = Categories()[store.Category];
  struct TRow {
    const TProduct* Product;
    size_t Carried;  // position in the store's range, which decides the missing prices
    int Score;
  };
  std::vector<TRow> rows;
  for (size_t i = store.First, n = 0; i < category.Products.size(); i += store.Step, ++n)
    rows.push_back({&category.Products[i], n, 0});
  const std::vector<std::string> words = Words(query);
  bool anyMatch = false;
  for (auto& row : rows) {
    row.Score = MatchScore(*row.Product, words);
    anyMatch = anyMatch || row.Score > 0;
  }
  if (anyMatch) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const TRow& a, const TRow& b) { return a.Score > b.Score; });
  } else if (rows.size() > kUnknownQueryCount) {
    rows.resize(kUnknownQueryCount);
  }

  const size_t first = static_cast<size_t>(page - 1) * kPageSize;
  const size_t last = std::min(rows.size(), first + kPageSize);
  std::string body = std::string("<div id=\"header\"><h1>") + HtmlEscape(store.Name) + "</h1></div>\n";
  body += "<form action=\"/" + std::string(store.Id) + "/search\"><input name=\"q\" value=\"" +
          HtmlEscape(query) + "\"><input type=\"submit\" value=\"Search\"></form>\n";
  if (first >= rows.size()) {
    body += "<p class=\"summary\">No more results for <b>" + HtmlEscape(query) + "</b>.</p>\n";
  } else {
    body += "<p class=\"summary\">Results " + std::to_string(first + 1) + " - " + std::to_string(last) +
            " of " + std::to_string(rows.size()) + " for <b>" + HtmlEscape(query) + "</b></p>\n";
    body += "<table class=\"results\">\n";
    for (size_t i = first; i < last; ++i) {
      const TProduct& p = *rows[i].Product;
      const bool noPrice = store.NoPriceEvery != 0 && (rows[i].Carried + 1) % store.NoPriceEvery == 0;
      body += "<tr class=\"result\"><td class=\"title\"><a href=\"" + ProductLink(store, category, p) +
              "\">" + HtmlEscape(p.Title) + "</a></td><td class=\"maker\">" + HtmlEscape(p.Maker) +
              "</td><td class=\"price\">" +
              (noPrice ? std::string("Price not available") : PriceText(store, p.Cents)) + "</td></tr>\n";
    }
    body += "</table>\n";
    if (last < rows.size())
      body += "<p class=\"pages\"><a class=\"next\" href=\"/" + std::string(store.Id) +
              "/search?q=" + UrlEncode(query) + "&amp;page=" + std::to_string(page + 1) +
              "\">Next &gt;</a></p>\n";
  }
  return {200, "text/html; charset=utf-8", Page(std::string(store.Name) + " - search results", body)};
}

}  // namespace

TDemoResponse DemoStoreResponse(std::string_view target) {
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path == "/" || path == "/index.html") return StoreIndex();
  if (path.size() < 2 || path[0] != '/') return NotFound();
  const size_t slash = path.find('/', 1);
  const std::string_view storeId = path.substr(1, slash == std::string_view::npos ? path.npos : slash - 1);
  const std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  for (const auto& store : Stores()) {
    if (storeId != store.Id) continue;
    if (rest != "/search") return NotFound();
    const std::string pageText = QueryField(query, "page");
    long page = 1;
    if (!pageText.empty()) {
      auto [ptr, ec] = std::from_chars(pageText.data(), pageText.data() + pageText.size(), page);
      // Absurd page numbers would only overflow the offset arithmetic.
      if (ec != std::errc() || ptr != pageText.data() + pageText.size() || page < 1 || page > 1000)
        return {400, "text/html; charset=utf-8", Page("Bad Request", "<h1>Bad page number</h1>\n")};
    }
    return SearchPage(store, QueryField(query, "q"), page);
  }
  return NotFound();
}

}  // namespace vandrel::cli
