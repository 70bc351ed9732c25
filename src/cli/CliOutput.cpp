#include "cli/CliOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "actions/AppErrors.h"
#include "platform/TextUtils.h"

namespace vandrel::cli {
namespace {

constexpr char kHex[] = "0123456789abcdef";

// Characters, not bytes: UTF-8 continuation bytes take no column.
size_t Width(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

std::string TerminalText(std::string_view text, bool keepLineBreaks) {
  const std::string shown = ToDisplayText(text);
  std::string out;
  out.reserve(shown.size());
  for (size_t i = 0; i < shown.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(shown[i]);
    if (keepLineBreaks && (c == '\n' || c == '\r')) {
      if (c == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') continue;
      out += '\n';
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(shown[i + 1]) <= 0x9F) {
      // The C1 controls (CSI among them) as UTF-8 take two bytes.
      const unsigned char code = static_cast<unsigned char>(shown[++i]);
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void PrintColumns(const std::vector<std::vector<std::string>>& rows, bool trimLines) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - Width(row[i]) + 2, ' ');
    }
    if (trimLines) line.erase(line.find_last_not_of(' ') + 1);
    std::printf("%s\n", line.c_str());
  }
}

void PrintError(std::string_view command, std::string_view message) {
  const std::string text = TerminalText(message, true);
  if (command.empty())
    std::fprintf(stderr, "vandrel-shopper-cli: %s\n", text.c_str());
  else
    std::fprintf(stderr, "vandrel-shopper-cli %.*s: %s\n", static_cast<int>(command.size()), command.data(),
                 text.c_str());
}

void InstallErrorPresenter() {
  SetErrorPresenter({[](TMessageStyle, const std::string& text) {
                       std::fprintf(stderr, "%s\n", TerminalText(text, true).c_str());
                     },
                     [] {}});
}

int FinishOutput(int status) {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int error = errno;
  if (flushed && !std::ferror(stdout)) return status;
  PrintError({}, std::string("cannot write the output: ") + (error ? std::strerror(error) : "write error"));
  return status == 0 ? 1 : status;
}

}  // namespace vandrel::cli
