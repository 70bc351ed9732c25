// Splits a page into tag and text tokens and searches its text; the base of every HTML parser.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// Token kinds. Script-visible numbers: keep the order.
enum THtmlTokenKind : int {
  tkEnd = 0,       // end of page
  tkTagOpen = 1,   // "<"
  tkTagClose = 2,  // ">"
  tkWord = 3,      // word inside a tag (lower-cased), or an unquoted attribute value (case kept)
  tkString = 4,    // quoted text inside a tag, without its quotes
  tkText = 5,      // text between tags
  tkEquals = 6,    // "=" inside a tag
};

// A forgiving tokeniser: it never fails and always advances, whatever the bytes. Positions are 0-based
// byte offsets into the page. Holds no shared state, so each thread may run its own scanner.
class TScanner {
 public:
  TScanner();
  virtual ~TScanner();
  TScanner(const TScanner&) = delete;  // tokens point into the scanner's own buffers
  TScanner& operator=(const TScanner&) = delete;

  bool LoadFromFile(const std::string& fileName);
  // Reads from the stream's position to its end.
  bool LoadFromStream(std::istream& stream);
  virtual void SetText(std::string text);
  const std::string& Text() const { return text_; }

  // The page, or for a rewriting parser the rewritten page.
  virtual bool SaveToFile(const std::string& fileName) const;
  virtual void SaveToStream(std::ostream& stream) const;

  // Reads the next token; false (and tkEnd) at the end of the page.
  bool NextToken();
  // After "=": reads an attribute value, quoted (tkString) or bare (tkWord, case kept).
  bool ReadAttributeValue();
  // Reads tokens up to and including the ">" that ends the current tag.
  void SkipToTagEnd();

  THtmlTokenKind Token() const { return token_; }
  // Valid until the next token is read.
  std::string_view TokenText() const { return tokenText_; }
  // Offset of the token's first character (for a quoted string, the character after the quote).
  size_t TokenStart() const { return tokenStart_; }
  size_t TokenLength() const { return tokenText_.size(); }
  bool InTag() const { return inTag_; }

  size_t Position() const { return pos_; }
  // Also leaves any tag: the next token is read as page text.
  void SetPosition(size_t pos);
  size_t Length() const { return text_.size(); }
  bool AtEnd() const { return pos_ >= text_.size(); }

  // Naive searches that move the position to the first character of the match. Case-insensitive
  // comparison folds ASCII letters only. FindNext includes a match at the position itself; so does
  // FindPrevious, which searches leftwards.
  bool FindNext(std::string_view what, bool caseSensitive);
  bool FindPrevious(std::string_view what, bool caseSensitive);
  // Index of the text that occurs first from the position (the earlier in `texts` on a tie), or -1;
  // the position moves to that occurrence.
  int FindFirstOf(const std::vector<std::string>& texts, bool caseSensitive);

  // Line arithmetic over the line-feed markers (case-sensitive; where several could match, the one
  // that occurs first wins). Line 0 of `pos` starts just after the nearest marker that ends at or
  // before it; line k > 0 past k further markers (page end when they run out); k < 0 goes back.
  size_t LinePosition(size_t pos, int k) const;
  void SkipLineFeeds(int k) { SetPosition(LinePosition(pos_, k)); }
  // Initially the single marker "\n".
  std::vector<std::string> LineFeeds;

  bool CommentsEnabled = true;
  std::string CommentOpener = "!--";

  void PushPosition() { saved_.push_back(pos_); }
  // Restores the last pushed position (and leaves any tag); false when nothing was pushed.
  bool PopPosition();

  // Bytes skipped between the words of a tag. Every control byte counts, so no byte can stall a tag.
  static bool IsBlank(unsigned char c) { return c <= 32 || c == 255; }

 protected:
  std::string text_;
  size_t pos_ = 0;  // next byte to read

 private:
  // Where the nearest line-feed marker starting at or after `from` begins, and its length.
  bool NextLineFeed(size_t from, size_t& at, size_t& len) const;
  // The line-feed marker with the greatest end not after `limit`.
  bool PrevLineFeed(size_t limit, size_t& at, size_t& len) const;
  void ReadQuoted(char quote);
  // Leaves the tag with the end token; answers false, as the readers do at the end of the page.
  bool EndOfPage();

  bool inTag_ = false;
  THtmlTokenKind token_ = tkEnd;
  std::string_view tokenText_;
  size_t tokenStart_ = 0;
  std::string lowered_;  // buffer behind a lower-cased word token
  std::vector<size_t> saved_;
};

}  // namespace vandrel
