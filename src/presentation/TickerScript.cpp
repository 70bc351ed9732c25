#include "presentation/TickerScript.h"

#include <charconv>
#include <map>

#include "platform/TextUtils.h"
#include "script/BaseCompiler.h"
#include "script/Variables.h"

namespace vandrel {

std::vector<std::string> SplitCommaText(std::string_view text) {
  std::vector<std::string> items;
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  auto skipBlanks = [&] {
    while (i < text.size() && isBlank(text[i])) ++i;
  };
  skipBlanks();
  while (i < text.size()) {
    std::string item;
    if (text[i] == '"') {
      ++i;
      while (i < text.size()) {
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += text[i++];
      }
    } else {
      while (i < text.size() && text[i] != ',' && !isBlank(text[i])) item += text[i++];
    }
    items.push_back(std::move(item));
    skipBlanks();
    if (i < text.size() && text[i] == ',') {
      ++i;
      skipBlanks();
      if (i == text.size()) items.emplace_back();  // a trailing comma ends with an empty item
    }
  }
  return items;
}

namespace {

enum class TTok { tkEnd, tkIdent, tkNumber, tkString, tkSymbol };

struct TToken {
  TTok Kind = TTok::tkEnd;
  std::string Text;  // identifier, digits, decoded string, or the symbol
};

// Reads the text form of a component description one token at a time.
class TDescriptionParser {
 public:
  explicit TDescriptionParser(std::string_view text) : Text_(text) { Next(); }

  const TToken& Token() const { return Token_; }
  bool Failed() const { return !Error_.empty(); }
  const std::string& Error() const { return Error_; }

  void Fail(const std::string& why) {
    if (Error_.empty()) Error_ = "line " + std::to_string(Line_) + ": " + why;
    Token_ = {};
  }

  void Next() {
    if (Failed()) return;
    while (Pos_ < Text_.size() && static_cast<unsigned char>(Text_[Pos_]) <= ' ')
      if (Text_[Pos_++] == '\n') ++Line_;
    if (Pos_ >= Text_.size()) {
      Token_ = {};
      return;
    }
    const char c = Text_[Pos_];
    if (IsIdentStart(c)) {
      const size_t start = Pos_;
      while (Pos_ < Text_.size() && (IsIdentStart(Text_[Pos_]) || IsDigit(Text_[Pos_]) || Text_[Pos_] == '.'))
        ++Pos_;
      Token_ = {TTok::tkIdent, std::string(Text_.substr(start, Pos_ - start))};
    } else if (IsDigit(c) ||
               ((c == '-' || c == '+') && Pos_ + 1 < Text_.size() && IsDigit(Text_[Pos_ + 1]))) {
      const size_t start = Pos_++;
      while (Pos_ < Text_.size() && IsDigit(Text_[Pos_])) ++Pos_;
      Token_ = {TTok::tkNumber, std::string(Text_.substr(start, Pos_ - start))};
    } else if (c == '\'' || c == '#') {
      ReadString();
    } else {
      ++Pos_;
      Token_ = {TTok::tkSymbol, std::string(1, c)};
    }
  }

  bool IsSymbol(char c) const { return Token_.Kind == TTok::tkSymbol && Token_.Text[0] == c; }
  bool IsIdent(std::string_view word) const {
    return Token_.Kind == TTok::tkIdent && SameText(Token_.Text, word);
  }

  void Expect(char symbol) {
    if (!IsSymbol(symbol)) Fail(std::string("'") + symbol + "' expected");
    Next();
  }
  std::string ExpectIdent() {
    if (Token_.Kind != TTok::tkIdent) Fail("identifier expected");
    std::string word = Token_.Text;
    Next();
    return word;
  }

 private:
  static bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  // Quoted runs ('it''s') and character codes (#13) joined, as the streaming format writes long texts.
  void ReadString() {
    std::string text;
    for (;;) {
      if (Pos_ < Text_.size() && Text_[Pos_] == '\'') {
        ++Pos_;
        for (;;) {
          if (Pos_ >= Text_.size() || Text_[Pos_] == '\n') return Fail("unterminated string");
          if (Text_[Pos_] == '\'') {
            if (Pos_ + 1 < Text_.size() && Text_[Pos_ + 1] == '\'') {
              text += '\'';
              Pos_ += 2;
              continue;
            }
            ++Pos_;
            break;
          }
          text += Text_[Pos_++];
        }
      } else if (Pos_ < Text_.size() && Text_[Pos_] == '#') {
        const size_t start = ++Pos_;
        while (Pos_ < Text_.size() && IsDigit(Text_[Pos_])) ++Pos_;
        int code = -1;
        std::from_chars(Text_.data() + start, Text_.data() + Pos_, code);
        if (code < 0 || code > 255) return Fail("bad character code");
        text += static_cast<char>(code);
      } else {
        break;
      }
    }
    Token_ = {TTok::tkString, std::move(text)};
  }

  std::string_view Text_;
  size_t Pos_ = 0;
  int Line_ = 1;
  TToken Token_;
  std::string Error_;
};

// Strings split with "+" across lines are one value.
std::string ReadStringValue(TDescriptionParser& p) {
  std::string text;
  for (;;) {
    if (p.Token().Kind != TTok::tkString) {
      p.Fail("string expected");
      return {};
    }
    text += p.Token().Text;
    p.Next();
    if (!p.IsSymbol('+')) return text;
    p.Next();
  }
}

bool ReadBoolean(TDescriptionParser& p) {
  if (p.IsIdent("True") || p.IsIdent("False")) {
    const bool value = p.IsIdent("True");
    p.Next();
    return value;
  }
  p.Fail("True or False expected");
  return false;
}

int64_t ReadInteger(TDescriptionParser& p) {
  int64_t value = 0;
  const std::string& digits = p.Token().Text;
  const char* first = digits.data() + (!digits.empty() && digits[0] == '+' ? 1 : 0);
  if (p.Token().Kind != TTok::tkNumber ||
      std::from_chars(first, digits.data() + digits.size(), value).ec != std::errc())
    p.Fail("number expected");
  p.Next();
  return value;
}

template <class E>
E ReadEnum(TDescriptionParser& p, const std::map<std::string, E>& names) {
  const std::string word = AsciiLowerCase(p.ExpectIdent());
  auto it = names.find(word);
  if (it == names.end()) {
    p.Fail("unknown value '" + word + "'");
    return names.begin()->second;
  }
  return it->second;
}

uint32_t ReadColor(TDescriptionParser& p) {
  // The usual named colours, in 0x00BBGGRR.
  static const std::map<std::string, uint32_t> kColors = {
      {"clblack", 0x000000},  {"clmaroon", 0x000080},  {"clgreen", 0x008000}, {"clolive", 0x008080},
      {"clnavy", 0x800000},   {"clpurple", 0x800080},  {"clteal", 0x808000},  {"clgray", 0x808080},
      {"clsilver", 0xC0C0C0}, {"clred", 0x0000FF},     {"cllime", 0x00FF00},  {"clyellow", 0x00FFFF},
      {"clblue", 0xFF0000},   {"clfuchsia", 0xFF00FF}, {"claqua", 0xFFFF00},  {"clwhite", 0xFFFFFF}};
  if (p.Token().Kind == TTok::tkIdent) return ReadEnum(p, kColors);
  const int64_t value = ReadInteger(p);
  if (value < 0 || value > 0xFFFFFF) p.Fail("colour out of range");
  return static_cast<uint32_t>(value);
}

uint8_t ReadFontStyles(TDescriptionParser& p) {
  static const std::map<std::string, TTickerFontStyle> kStyles = {
      {"fsbold", fsBold}, {"fsitalic", fsItalic}, {"fsunderline", fsUnderline}, {"fsstrikeout", fsStrikeOut}};
  uint8_t styles = 0;
  p.Expect('[');
  while (!p.Failed() && !p.IsSymbol(']')) {
    styles |= ReadEnum(p, kStyles);
    if (p.IsSymbol(',')) p.Next();
  }
  p.Expect(']');
  return styles;
}

void ReadElement(TDescriptionParser& p, TTickerElement& e) {
  static const std::map<std::string, TTickerElementStyle> kStyles = {
      {"estext", TTickerElementStyle::esText},
      {"eshyperlink", TTickerElementStyle::esHyperLink},
      {"esimage", TTickerElementStyle::esImage},
      {"estopic", TTickerElementStyle::esTopic}};
  static const std::map<std::string, TTickerElementImage> kImages = {{"einone", TTickerElementImage::eiNone},
                                                                     {"eistar", TTickerElementImage::eiStar},
                                                                     {"eidot", TTickerElementImage::eiDot}};
  while (!p.Failed() && !p.IsIdent("end")) {
    const std::string name = AsciiLowerCase(p.ExpectIdent());
    p.Expect('=');
    if (name == "style")
      e.Style = ReadEnum(p, kStyles);
    else if (name == "text")
      e.Text = ReadStringValue(p);
    else if (name == "hyperlink")
      e.HyperLink = ReadStringValue(p);
    else if (name == "fontstyles")
      e.FontStyles = ReadFontStyles(p);
    else if (name == "color")
      e.Color = ReadColor(p);
    else if (name == "image")
      e.Image = ReadEnum(p, kImages);
    else
      p.Fail("unknown element property '" + name + "'");
  }
  p.Next();  // end
}

std::vector<TTickerElement> ReadElements(TDescriptionParser& p) {
  std::vector<TTickerElement> elements;
  p.Expect('<');
  while (!p.Failed() && p.IsIdent("item")) {
    p.Next();
    ReadElement(p, elements.emplace_back());
  }
  p.Expect('>');
  return elements;
}

}  // namespace

bool ReadTickerDescription(std::string_view text, TTickerDescription& into, std::string* error) {
  TDescriptionParser p(text);
  TTickerDescription read = into;
  if (!p.IsIdent("object")) p.Fail("'object' expected");
  p.Next();
  p.ExpectIdent();
  p.Expect(':');
  if (!p.IsIdent("TScrollingTicker")) p.Fail("TScrollingTicker expected");
  p.Next();
  while (!p.Failed() && !p.IsIdent("end")) {
    if (p.Token().Kind == TTok::tkEnd) p.Fail("'end' expected");
    const std::string name = AsciiLowerCase(p.ExpectIdent());
    p.Expect('=');
    if (name == "beveled")
      read.Beveled = ReadBoolean(p);
    else if (name == "hint")
      read.Hint = ReadStringValue(p);
    else if (name == "elements")
      read.Elements = ReadElements(p);
    else
      p.Fail("unknown property '" + name + "'");
  }
  if (!p.Failed()) {
    p.Next();
    if (p.Token().Kind != TTok::tkEnd) p.Fail("text after 'end'");
  }
  if (p.Failed()) {
    if (error) *error = p.Error();
    return false;
  }
  into = std::move(read);
  return true;
}

bool LoadTickerScript(const std::string& file, const std::string& name, TTickerDescription& into,
                      std::string* error) {
  TBaseCompiler compiler;
  compiler.ResetVariables();
  // A ticker script is data; one that loops must not hold up the progress window.
  compiler.RunTimeLimit = 2000;
  std::string reason;
  if (!compiler.LoadFromFile(file, &reason)) {
    if (error) *error = "cannot read " + file + ": " + reason;
    return false;
  }
  if (compiler.Compile() != 0 || compiler.ExecuteProcedure("Register") != 0) {
    if (error)
      *error = file + ": " + (compiler.Errors.empty() ? std::string("error") : compiler.Errors.back().Text);
    return false;
  }
  const std::vector<std::string> lines = SplitCommaText(compiler.Variables().GetString("TickerData", ""));
  std::string description = "object " + name + ": TScrollingTicker\r\n";
  for (const std::string& line : lines) description += line + "\r\n";
  description += "end";
  return ReadTickerDescription(description, into, error);
}

}  // namespace vandrel
