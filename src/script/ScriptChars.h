// Character classes of the script language, shared by the tokenizer and the statement translator.
#pragma once

namespace vandrel::script_chars {

inline bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsNameChar(char c) {
  return IsLetter(c) || IsDigit(c);
}
inline bool IsOperatorChar(char c) {
  switch (c) {
    case '(':
    case ')':
    case '*':
    case '+':
    case ',':
    case '-':
    case '/':
    case '<':
    case '=':
    case '>':
    case '[':
    case ']':
    case '^':
      return true;
    default:
      return false;
  }
}

}  // namespace vandrel::script_chars
