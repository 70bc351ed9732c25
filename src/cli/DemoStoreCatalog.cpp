#include "cli/DemoStoreCatalog.h"

#include "cli/DemoBanners.h"
#include "platform/CharCodes.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace vandrel::cli {
namespace {

struct TProduct {
  const char* Slug;
  const char* Title;
  const char* Maker;        // author, artist, studio or brand
  int Cents;                // list price in US cents; stores scale it into their own currency
  const char* Detail = "";  // ISBN, media or format where the kind of product has one
};

struct TCategory {
  const char* Name;         // also the `dept` a store spanning several categories is asked for
  const char* CatalogHost;  // where the product pages the stores link to live
  std::vector<TProduct> Products;
};

// How a store writes the shared product address; several stores naming one product with these variants is
// exactly what the result merger has to see through.
enum class TLinkStyle { Plain, Www, TrailingSlash, DefaultPage };

enum class TStoreFault { None, ServerErrorThenGarbage };

// Stores mark their result lists up differently, so each layout needs engine rules of its own.
enum class TLayout { Table, List, Cards };

struct TStore {
  const char* Id;
  const char* Name;
  std::vector<size_t> Departments;  // indexes into Categories(); the first answers when `dept` is absent
  const char* Currency;
  int RatePercent;  // price in the store's currency per 100 US cents
  TLinkStyle Link;
  size_t First;  // the store carries every `Step`-th product of its category from `First` on
  size_t Step;
  size_t NoPriceEvery;  // every n-th carried product shows no price; 0 never
  TStoreFault Fault = TStoreFault::None;
  TLayout Layout = TLayout::Table;
  const char* Shipping = "Ships in 2-3 days";
  bool UsedSection = false;  // also sells used copies, asked for with `section=used`
};

// Review sites: the first two republish the same reviews (one under a "www." host), the third writes its own.
struct TReviewSite {
  const char* Id;
  const char* Name;
  const char* Host;  // empty: links to the shared review archive
  TLinkStyle Link;
  std::vector<const char*> Critics;
};

constexpr size_t kPageSize = 5;
constexpr size_t kUnknownQueryCount = 4;

const std::vector<TCategory>& Categories() {
  static const std::vector<TCategory> categories = {
      {"books",
       "books.catalog.test",
       {{"harbour-of-glass", "The Harbour of Glass", "Mira Castell", 1499, "9781555010014"},
        {"quiet-engines", "Quiet Engines: A History of Clockwork", "Tomas Berrin", 2450, "9781555010021"},
        {"salt-and-cedar", "Salt and Cedar", "Lena Oduya", 1299, "9781555010038"},
        {"garden-atlas", "The Garden Atlas", "Petra Lund", 3500, "9781555010045"},
        {"night-ferry", "Night Ferry to Aldermoor", "Mira Castell", 999, "9781555010052"},
        {"practical-bread", "Practical Bread Baking", "Jon Arkwell", 2199, "9781555010069"},
        {"northern-lights", "Under the Northern Lights", "Sanna Vik", 1650, "9781555010076"},
        {"glass-city", "Glass City Stories", "Mira Castell", 1175, "9781555010083"},
        {"small-boats", "Small Boats and Big Water", "Ed Calloway", 2899, "9781555010090"},
        {"paper-moons", "A Field Guide to Paper Moons", "Iris Tamm", 1850, "9781555010106"},
        {"chess-endings", "Chess Endings for Everyone", "Viktor Sallo", 1999, "9781555010113"},
        {"river-voices", "River Voices", "Lena Oduya", 1425, "9781555010120"}}},
      {"music",
       "music.catalog.test",
       {{"blue-hour-live", "Blue Hour (Live)", "The Lanterns", 1599, "CD"},
        {"copper-sky", "Copper Sky", "Ada Renn Quartet", 1299, "CD"},
        {"harbour-songs", "Harbour Songs", "The Lanterns", 1399, "Vinyl"},
        {"northern-suite", "Northern Suite for Strings", "Aldermoor Chamber Players", 1899, "CD"},
        {"static-bloom", "Static Bloom", "Neon Orchard", 1099, "Cassette"},
        {"greatest-hits", "Greatest Hits 1990-2000", "Neon Orchard", 2199, "CD"},
        {"slow-rivers", "Slow Rivers", "Ada Renn Quartet", 1499, "Vinyl"},
        {"midnight-radio", "Midnight Radio", "Kasper Holm", 999, "Single"},
        {"glass-piano", "Glass Piano Works", "Iris Tamm", 1750, "CD"},
        {"festival-box", "Festival Box Set", "The Lanterns", 4999, "Box set"},
        {"dust-and-gold", "Dust and Gold", "Kasper Holm", 1199, "Vinyl"},
        {"city-lights-ep", "City Lights EP", "Neon Orchard", 699, "Single"}}},
      {"movies",
       "films.catalog.test",
       {{"harbour-of-glass-film", "The Harbour of Glass (Blu-ray)", "Northlight Pictures", 1999, "Blu-ray"},
        {"last-ferry", "The Last Ferry", "Aldermoor Films", 1499, "DVD"},
        {"copper-mountain", "Copper Mountain", "Redline Studio", 1299, "DVD"},
        {"quiet-city", "Quiet City (Director's Cut)", "Northlight Pictures", 2499, "Blu-ray"},
        {"space-gardeners", "Space Gardeners", "Redline Studio", 1799, "DVD"},
        {"night-ferry-film", "Night Ferry (DVD)", "Aldermoor Films", 999, "DVD"},
        {"glass-city-series", "Glass City: Complete Series", "Northlight Pictures", 5999, "DVD"},
        {"river-chase", "River Chase", "Redline Studio", 1150, "VHS"},
        {"midnight-radio-doc", "Midnight Radio: A Documentary", "Kasper Holm", 1699, "DVD"},
        {"salt-coast", "Salt Coast", "Aldermoor Films", 1399, "LaserDisc"},
        {"paper-moons-film", "Paper Moons", "Northlight Pictures", 1599, "Blu-ray"},
        {"chess-match", "The Chess Match", "Redline Studio", 1099, "DVD"}}},
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
      {"hardware",
       "hardware.catalog.test",
       {{"ironclad-drill", "Ironclad 18V Cordless Drill", "Ironclad", 8999},
        {"ironclad-impact", "Ironclad Impact Driver", "Ironclad", 10999},
        {"stanwell-tape", "Stanwell 25 ft Tape Measure", "Stanwell", 1499},
        {"stanwell-hammer", "Stanwell 16 oz Claw Hammer", "Stanwell", 1999},
        {"brightbolt-worklight", "Brightbolt LED Work Light", "Brightbolt", 3499},
        {"ironclad-screwdrivers", "Ironclad 6-Piece Screwdriver Set", "Ironclad", 2499},
        {"brightbolt-stud-finder", "Brightbolt Stud Finder", "Brightbolt", 2999},
        {"stanwell-wrenches", "Stanwell Adjustable Wrench Set", "Stanwell", 3299},
        {"greyforge-table-saw", "Greyforge 10\" Table Saw", "Greyforge", 34900},
        {"greyforge-vise", "Greyforge Workbench Vise", "Greyforge", 5999}}},
      {"healthproducts",
       "health.catalog.test",
       {{"vitalis-multivitamin", "Vitalis Daily Multivitamin, 120 tablets", "Vitalis", 1899},
        {"vitalis-d3", "Vitalis Vitamin D3 2000 IU", "Vitalis", 1299},
        {"purebreath-humidifier", "PureBreath Cool Mist Humidifier", "PureBreath", 4999},
        {"medisure-thermometer", "Medisure Digital Thermometer", "Medisure", 1599},
        {"medisure-bp-monitor", "Medisure Blood Pressure Monitor", "Medisure", 4499},
        {"purebreath-purifier", "PureBreath HEPA Air Purifier", "PureBreath", 12999},
        {"calmleaf-sleep-tea", "Calmleaf Chamomile Sleep Tea", "Calmleaf", 699},
        {"vitalis-omega3", "Vitalis Omega-3 Fish Oil", "Vitalis", 2199},
        {"medisure-first-aid", "Medisure First Aid Kit, 120 pieces", "Medisure", 2599},
        {"calmleaf-bath-salts", "Calmleaf Lavender Bath Salts", "Calmleaf", 999}}},
      {"home",
       "home.catalog.test",
       {{"hearthstone-skillet", "Hearthstone Cast Iron Skillet 12\"", "Hearthstone", 3999},
        {"hearthstone-dutch-oven", "Hearthstone Dutch Oven 6 qt", "Hearthstone", 7999},
        {"loomwell-towels", "Loomwell Cotton Bath Towel Set", "Loomwell", 3499},
        {"loomwell-duvet", "Loomwell Linen Duvet Cover", "Loomwell", 8999},
        {"brightnest-lamp", "Brightnest Ceramic Table Lamp", "Brightnest", 4599},
        {"brightnest-clock", "Brightnest Wall Clock", "Brightnest", 2999},
        {"hearthstone-knife", "Hearthstone Chef's Knife 8\"", "Hearthstone", 5499},
        {"tidyhome-organizer", "Tidyhome Bamboo Drawer Organizer", "Tidyhome", 1999},
        {"tidyhome-robot-vacuum", "Tidyhome Robot Vacuum R2", "Tidyhome", 19999},
        {"loomwell-throw", "Loomwell Wool Throw Blanket", "Loomwell", 5999}}},
      {"officesupplies",
       "office.catalog.test",
       {{"inkwell-gel-pens", "Inkwell Gel Pens, 12 pack", "Inkwell", 899},
        {"inkwell-fountain-pen", "Inkwell Fountain Pen", "Inkwell", 3499},
        {"deskline-stapler", "Deskline Stapler Pro", "Deskline", 1999},
        {"deskline-chair", "Deskline Ergonomic Office Chair", "Deskline", 24999},
        {"paperleaf-copy-paper", "Paperleaf A4 Copy Paper, 500 sheets", "Paperleaf", 699},
        {"paperleaf-notebooks", "Paperleaf Spiral Notebooks, 5 pack", "Paperleaf", 1299},
        {"deskline-monitor-stand", "Deskline Monitor Stand", "Deskline", 3999},
        {"inkwell-highlighters", "Inkwell Highlighters, 6 colours", "Inkwell", 599},
        {"clearfile-label-printer", "Clearfile Label Printer", "Clearfile", 5999},
        {"clearfile-scanner", "Clearfile Document Scanner", "Clearfile", 17999}}},
      {"software",
       "software.catalog.test",
       {{"quillwrite-office", "Quillwrite Office Suite 2026", "Quillwrite", 14999},
        {"shieldwall-antivirus", "Shieldwall Antivirus, 3 devices", "Shieldwall", 3999},
        {"shieldwall-vpn", "Shieldwall VPN, 1 year", "Shieldwall", 4999},
        {"pixelforge-photo", "Pixelforge Photo Editor", "Pixelforge", 7999},
        {"pixelforge-video", "Pixelforge Video Studio", "Pixelforge", 9999},
        {"ledgerly-home", "Ledgerly Home Accounting", "Ledgerly", 4999},
        {"ledgerly-tax", "Ledgerly Tax Filer 2026", "Ledgerly", 3999},
        {"quillwrite-notes", "Quillwrite Notes", "Quillwrite", 1999},
        {"tuneshop-music-maker", "Tuneshop Music Maker", "Tuneshop", 5999},
        {"shieldwall-backup", "Shieldwall Backup Cloud", "Shieldwall", 5999}}},
      {"sports",
       "sports.catalog.test",
       {{"trailhawk-running-shoes", "Trailhawk Running Shoes", "Trailhawk", 11999},
        {"trailhawk-backpack", "Trailhawk Hiking Backpack 30 L", "Trailhawk", 8999},
        {"summitline-poles", "Summitline Carbon Trekking Poles", "Summitline", 7999},
        {"summitline-tent", "Summitline 2-Person Tent", "Summitline", 19999},
        {"aquaglide-goggles", "Aquaglide Swim Goggles", "Aquaglide", 1999},
        {"courtside-racket", "Courtside Tennis Racket Pro", "Courtside", 14999},
        {"courtside-balls", "Courtside Tennis Balls, 4 pack", "Courtside", 699},
        {"aquaglide-snorkel", "Aquaglide Snorkel Set", "Aquaglide", 3999},
        {"trailhawk-helmet", "Trailhawk Cycling Helmet", "Trailhawk", 6999},
        {"summitline-yoga-mat", "Summitline Yoga Mat", "Summitline", 2999}}},
      {"toys",
       "toys.catalog.test",
       {{"brickworks-castle", "Brickworks Castle Set, 1200 pieces", "Brickworks", 8999},
        {"brickworks-shuttle", "Brickworks Space Shuttle", "Brickworks", 5999},
        {"puzzlenest-harbour", "Puzzlenest 1000-Piece Harbour Puzzle", "Puzzlenest", 1999},
        {"puzzlenest-teasers", "Puzzlenest Wooden Brain Teasers", "Puzzlenest", 1499},
        {"whirlwind-rc-car", "Whirlwind RC Racing Car", "Whirlwind", 4999},
        {"whirlwind-mini-drone", "Whirlwind Mini Drone", "Whirlwind", 3999},
        {"cuddlecub-bear", "Cuddlecub Plush Bear", "Cuddlecub", 2499},
        {"cuddlecub-dragon", "Cuddlecub Plush Dragon", "Cuddlecub", 2799},
        {"brickworks-marble-run", "Brickworks Marble Run", "Brickworks", 3999},
        {"puzzlenest-game-night", "Puzzlenest Family Board Game Night", "Puzzlenest", 2999}}},
  };
  return categories;
}

// Category indexes, in the order above.
enum : size_t {
  kBooks,
  kMusic,
  kMovies,
  kElectronics,
  kHardware,
  kHealth,
  kHome,
  kOffice,
  kSoftware,
  kSports,
  kToys
};

const std::vector<TStore>& Stores() {
  using L = TLayout;
  using S = TLinkStyle;
  const TStoreFault ok = TStoreFault::None;
  static const std::vector<size_t> keywordDepartments = {kElectronics, kHardware, kHealth, kHome,
                                                         kOffice,      kSoftware, kSports, kToys};
  static const std::vector<TStore> stores = {
      {"pageturner", "PageTurner Books", {kBooks}, "USD", 100, S::Plain, 0, 1, 5},
      {"bookbarn",
       "The Book Barn",
       {kBooks},
       "GBP",
       79,
       S::Www,
       0,
       2,
       0,
       ok,
       L::Table,
       "Free delivery",
       true},
      {"leafandspine", "Leaf & Spine", {kBooks}, "EUR", 92, S::TrailingSlash, 1, 1, 4, ok, L::List},
      {"groovecrate", "GrooveCrate", {kMusic}, "USD", 100, S::DefaultPage, 0, 1, 0},
      {"vinylvault", "Vinyl Vault", {kMusic}, "CAD", 136, S::Plain, 1, 2, 3, ok, L::List, "Ships in 5 days"},
      {"soundshelf", "SoundShelf", {kMusic}, "EUR", 92, S::Www, 2, 1, 0, ok, L::Cards},
      {"reelhouse", "ReelHouse", {kMovies}, "EUR", 92, S::Plain, 0, 1, 0},
      {"cinemart",
       "CineMart",
       {kMovies},
       "GBP",
       79,
       S::TrailingSlash,
       0,
       2,
       2,
       ok,
       L::Table,
       "Free delivery"},
      {"screenstop", "ScreenStop", {kMovies}, "USD", 100, S::DefaultPage, 1, 1, 6, ok, L::Cards},
      {"voltmart", "VoltMart", {kElectronics}, "USD", 100, S::Www, 0, 1, 0},
      {"circuitnorth", "Circuit North", {kElectronics}, "CAD", 136, S::Plain, 0, 1, 4},
      {"gadgetgrove", "Gadget Grove", {kElectronics}, "GBP", 79, S::DefaultPage, 2, 1, 0, ok, L::List},
      {"brokenbazaar",
       "Broken Bazaar",
       {kElectronics},
       "USD",
       100,
       S::Plain,
       0,
       1,
       0,
       TStoreFault::ServerErrorThenGarbage},
      {"megamart", "MegaMart", keywordDepartments, "USD", 100, S::Www, 0, 1, 4, ok, L::Cards,
       "Free shipping"},
      {"bargainbin", "Bargain Bin", keywordDepartments, "EUR", 92, S::TrailingSlash, 1, 1, 0, ok, L::List,
       "Ships in 1-2 weeks"},
      {"toolden", "The Tool Den", {kHardware}, "GBP", 79, S::Plain, 0, 1, 3},
      {"wellnessway", "Wellness Way", {kHealth}, "CAD", 136, S::DefaultPage, 0, 1, 0},
      {"nestandhome", "Nest & Home", {kHome}, "GBP", 79, S::Plain, 0, 1, 5, ok, L::List},
      {"deskdepot", "Desk Depot", {kOffice}, "USD", 100, S::DefaultPage, 0, 1, 0},
      {"softshelf", "SoftShelf", {kSoftware}, "EUR", 92, S::Plain, 0, 1, 4, ok, L::Cards, "Instant download"},
      {"fieldandcourt", "Field & Court", {kSports}, "AUD", 152, S::Plain, 0, 1, 0},
      {"toyboxjunction", "ToyBox Junction", {kToys}, "JPY", 15000, S::Plain, 0, 1, 4, ok, L::List},
  };
  return stores;
}

const std::vector<TReviewSite>& ReviewSites() {
  static const std::vector<TReviewSite> sites = {
      {"critichub", "CriticHub", "", TLinkStyle::Plain, {"Dana Whitfield", "Omar Reyes", "Kit Marlowe"}},
      {"starsandscores",
       "Stars & Scores",
       "",
       TLinkStyle::Www,
       {"Dana Whitfield", "Omar Reyes", "Kit Marlowe"}},
      {"honestowl",
       "The Honest Owl",
       "www.honestowl.test",
       TLinkStyle::TrailingSlash,
       {"Ruth Ambler", "Jonas Feld"}},
  };
  return sites;
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

// A malformed escape is kept as it stands rather than guessed at.
std::string UrlDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
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
  const std::vector<std::string> title =
      Words(std::string(product.Title) + " " + product.Maker + " " + product.Detail);
  int score = 0;
  for (const auto& w : queryWords)
    if (std::find(title.begin(), title.end(), w) != title.end()) ++score;
  return score;
}

// Groups whole units by threes, as shops in that currency print them.
std::string GroupThousands(int64_t units) {
  std::string digits = std::to_string(units);
  for (size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, ",");
  return digits;
}

// Each store writes amounts the way shops of its currency do.
std::string PriceText(const TStore& store, int usCents) {
  const int64_t cents = (static_cast<int64_t>(usCents) * store.RatePercent + 50) / 100;
  const std::string_view currency = store.Currency;
  // Yen have no minor unit: the amount is rounded to whole yen and grouped.
  if (currency == "JPY") return "&yen;" + GroupThousands((cents + 50) / 100);
  const std::string units = std::to_string(cents / 100);
  std::string fraction = std::to_string(cents % 100);
  if (fraction.size() < 2) fraction.insert(0, "0");
  if (currency == "EUR") return units + "," + fraction + " &euro;";
  if (currency == "GBP") return "&pound;" + units + "." + fraction;
  if (currency == "CAD") return "CDN$ " + units + "." + fraction;
  if (currency == "AUD") return "AU$" + units + "." + fraction;
  return "$" + units + "." + fraction;
}

std::string StyledLink(TLinkStyle style, const std::string& host, const std::string& path) {
  switch (style) {
    case TLinkStyle::Www:
      return "http://www." + host + path;
    case TLinkStyle::TrailingSlash:
      return "http://" + host + path + "/";
    case TLinkStyle::DefaultPage:
      return "http://" + host + path + "/index.html";
    case TLinkStyle::Plain:
      break;
  }
  return "http://" + host + path;
}

std::string ProductLink(const TStore& store, const TCategory& category, const TProduct& product) {
  return StyledLink(store.Link, category.CatalogHost, std::string("/item/") + product.Slug);
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
  for (const auto& store : Stores()) {
    body += std::string("<li><a href=\"/") + store.Id + "/search?q=\">" + HtmlEscape(store.Name) + "</a> (";
    for (size_t i = 0; i < store.Departments.size(); ++i)
      body += std::string(i ? ", " : "") + Categories()[store.Departments[i]].Name;
    body += std::string(", ") + store.Currency + ")</li>\n";
  }
  body += "</ul>\n<h2>Review sites</h2>\n<ul>\n";
  for (const auto& site : ReviewSites())
    body += std::string("<li><a href=\"/") + site.Id + "/reviews?q=&amp;dept=books\">" +
            HtmlEscape(site.Name) + "</a></li>\n";
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

// Orders a category's products for a query: matches first (by the number of query words they contain),
// then the rest; a query that matches nothing gets a short page of suggestions.
template <typename TRow>
void RankRows(std::vector<TRow>& rows, std::string_view query) {
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
}

std::string NextPageLink(const std::string& path, const std::string& query, const std::string& dept,
                         bool used, long page) {
  std::string target = path + "?q=" + UrlEncode(query);
  if (!dept.empty()) target += "&amp;dept=" + UrlEncode(dept);
  if (used) target += "&amp;section=used";
  return "<p class=\"pages\"><a class=\"next\" href=\"" + target + "&amp;page=" + std::to_string(page + 1) +
         "\">Next &gt;</a></p>\n";
}

// A used copy is its own offer: its own address, a lower price and the condition where the delivery goes.
std::string ResultRow(const TStore& store, const TCategory& category, const TProduct& p, bool noPrice,
                      bool used) {
  const std::string link = ProductLink(store, category, p) + (used ? "?condition=used" : "");
  const std::string price =
      noPrice ? std::string("Price not available") : PriceText(store, used ? p.Cents * 6 / 10 : p.Cents);
  const std::string shipping = used ? "Used, very good" : store.Shipping;
  const std::string detail = HtmlEscape(p.Detail);
  switch (store.Layout) {
    case TLayout::List:
      return "<li class=\"hit\"><a class=\"name\" href=\"" + link + "\">" + HtmlEscape(p.Title) +
             "</a> <span class=\"by\">by " + HtmlEscape(p.Maker) + "</span> <span class=\"detail\">" +
             detail + "</span> <span class=\"cost\">" + price + "</span> <span class=\"ship\">" + shipping +
             "</span></li>\n";
    case TLayout::Cards:
      return "<div class=\"card\">\n  <h3><a href=\"" + link + "\">" + HtmlEscape(p.Title) +
             "</a></h3>\n  <p class=\"brand\">" + HtmlEscape(p.Maker) + "</p>\n  <p class=\"detail\">" +
             detail + "</p>\n  <p class=\"price\">" + price + "</p>\n  <p class=\"delivery\">" + shipping +
             "</p>\n</div>\n";
    case TLayout::Table:
      break;
  }
  return "<tr class=\"result\"><td class=\"title\"><a href=\"" + link + "\">" + HtmlEscape(p.Title) +
         "</a></td><td class=\"maker\">" + HtmlEscape(p.Maker) + "</td><td class=\"detail\">" + detail +
         "</td><td class=\"price\">" + price + "</td><td class=\"ship\">" + shipping + "</td></tr>\n";
}

TDemoResponse SearchPage(const TStore& store, size_t department, const std::string& query,
                         const std::string& dept, bool used, long page) {
  if (store.Fault == TStoreFault::ServerErrorThenGarbage) return FaultyAnswer(page);
  const TCategory& category = Categories()[department];
  struct TRow {
    const TProduct* Product;
    size_t Carried;  // position in the store's range, which decides the missing prices
    int Score;
  };
  std::vector<TRow> rows;
  for (size_t i = store.First, n = 0; i < category.Products.size(); i += store.Step, ++n)
    rows.push_back({&category.Products[i], n, 0});
  RankRows(rows, query);

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
    static const char* const kOpen[] = {"<table class=\"results\">\n", "<ol class=\"hits\">\n",
                                        "<div class=\"cards\">\n"};
    static const char* const kClose[] = {"</table>\n", "</ol>\n", "</div><!-- /cards -->\n"};
    const size_t layout = static_cast<size_t>(store.Layout);
    body += kOpen[layout];
    for (size_t i = first; i < last; ++i) {
      const bool noPrice = store.NoPriceEvery != 0 && (rows[i].Carried + 1) % store.NoPriceEvery == 0;
      body += ResultRow(store, category, *rows[i].Product, noPrice, used);
    }
    body += kClose[layout];
    if (last < rows.size())
      body += NextPageLink("/" + std::string(store.Id) + "/search", query, dept, used, page);
  }
  return {200, "text/html; charset=utf-8", Page(std::string(store.Name) + " - search results", body)};
}

// A stable small number from a text, so ratings and critics stay the same from run to run.
uint32_t Hash(std::string_view text) {
  uint32_t h = 2166136261u;
  for (unsigned char c : text) h = (h ^ c) * 16777619u;
  return h;
}

TDemoResponse ReviewPage(const TReviewSite& site, size_t department, const std::string& query,
                         const std::string& dept, long page) {
  const TCategory& category = Categories()[department];
  struct TRow {
    const TProduct* Product;
    int Score;
  };
  std::vector<TRow> rows;
  for (const auto& product : category.Products) rows.push_back({&product, 0});
  RankRows(rows, query);

  // Worst to best, one per half star from 2.0 up, so a verdict never contradicts its rating.
  static const char* const kVerdicts[] = {"Disappointing in daily use",   "Hard to recommend",
                                          "Good, with a few rough edges", "Solid value for the money",
                                          "A clear recommendation",       "Among the best we tested",
                                          "Our favourite this year"};
  const size_t first = static_cast<size_t>(page - 1) * kPageSize;
  const size_t last = std::min(rows.size(), first + kPageSize);
  std::string body = std::string("<div id=\"masthead\">") + HtmlEscape(site.Name) + "</div>\n";
  if (first >= rows.size()) {
    body += "<p>No more reviews.</p>\n";
  } else {
    body += "<section id=\"reviews\">\n";
    for (size_t i = first; i < last; ++i) {
      const TProduct& p = *rows[i].Product;
      // The republishing sites share one archive of reviews, so their ratings and critics agree.
      const uint32_t h = Hash(std::string(*site.Host ? site.Id : "archive") + "/" + p.Slug);
      const std::string critic = site.Critics[h % site.Critics.size()];
      const int halfStars = 4 + static_cast<int>((h >> 8) % 7);  // 2.0 to 5.0
      const std::string rating = std::to_string(halfStars / 2) + (halfStars % 2 ? ".5" : ".0");
      const std::string link = *site.Host
                                   ? StyledLink(site.Link, site.Host, std::string("/reviews/") + p.Slug)
                                   : StyledLink(site.Link, "reviews.catalog.test",
                                                "/" + std::string(category.Name) + "/" + p.Slug);
      body += "<div class=\"review\">\n<a class=\"headline\" href=\"" + link + "\">" + HtmlEscape(p.Title) +
              "</a>\n<span class=\"rating\">" + rating + " / 5</span> by <span class=\"critic\">" +
              HtmlEscape(critic) + "</span>\n<p class=\"summary\">" + kVerdicts[halfStars - 4] +
              ".</p>\n</div>\n";
    }
    body += "</section>\n";
    if (last < rows.size())
      body += NextPageLink("/" + std::string(site.Id) + "/reviews", query, dept, false, page);
  }
  return {200, "text/html; charset=utf-8", Page(std::string(site.Name) + " - reviews", body)};
}

// The department asked for by name; a store of one department ignores the parameter.
bool FindDepartment(const std::vector<size_t>& departments, const std::string& dept, size_t& found) {
  if (dept.empty()) {
    found = departments.front();
    return true;
  }
  for (size_t d : departments) {
    if (dept == Categories()[d].Name) {
      found = d;
      return true;
    }
  }
  if (departments.size() == 1) {
    found = departments.front();
    return true;
  }
  return false;
}

std::vector<size_t> AllDepartments() {
  std::vector<size_t> all;
  for (size_t i = 0; i < Categories().size(); ++i) all.push_back(i);
  return all;
}

}  // namespace

TDemoResponse DemoStoreResponse(std::string_view target) {
  if (auto banner = DemoBannerResponse(target)) return *banner;
  const size_t question = target.find('?');
  const std::string_view path = target.substr(0, question);
  const std::string_view query =
      question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
  if (path == "/" || path == "/index.html") return StoreIndex();
  if (path.size() < 2 || path[0] != '/') return NotFound();
  const size_t slash = path.find('/', 1);
  const std::string_view storeId = path.substr(1, slash == std::string_view::npos ? path.npos : slash - 1);
  const std::string_view rest = slash == std::string_view::npos ? std::string_view() : path.substr(slash);

  long page = 1;
  const std::string pageText = QueryField(query, "page");
  if (!pageText.empty()) {
    auto [ptr, ec] = std::from_chars(pageText.data(), pageText.data() + pageText.size(), page);
    // Absurd page numbers would only overflow the offset arithmetic.
    if (ec != std::errc() || ptr != pageText.data() + pageText.size() || page < 1 || page > 1000)
      return {400, "text/html; charset=utf-8", Page("Bad Request", "<h1>Bad page number</h1>\n")};
  }
  const std::string dept = QueryField(query, "dept");
  const std::string words = QueryField(query, "q");
  size_t department = 0;
  for (const auto& store : Stores()) {
    if (storeId != store.Id) continue;
    if (rest != "/search") return NotFound();
    if (!FindDepartment(store.Departments, dept, department)) return NotFound();
    const std::string section = QueryField(query, "section");
    if (!section.empty() && (section != "used" || !store.UsedSection)) return NotFound();
    return SearchPage(store, department, words, dept, !section.empty(), page);
  }
  for (const auto& site : ReviewSites()) {
    if (storeId != site.Id) continue;
    if (rest != "/reviews") return NotFound();
    static const std::vector<size_t> all = AllDepartments();
    if (!FindDepartment(all, dept, department)) return NotFound();
    return ReviewPage(site, department, words, dept, page);
  }
  return NotFound();
}

}  // namespace vandrel::cli
