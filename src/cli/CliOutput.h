// How the command line writes: text made safe for a terminal, column tables, messages and the final check
// that everything written reached its destination.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel::cli {

// `text` as UTF-8 with every control character written as an escape ("\x1b", "\u009b"), so that text
// from definitions, stores and stored searches cannot move the cursor, retitle the terminal or change
// its colours. With `keepLineBreaks`, "\n" stays and "\r" becomes a line break.
std::string TerminalText(std::string_view text, bool keepLineBreaks = false);

// Rows of cells, each column as wide as its widest cell (in characters) plus two spaces. The cells must
// already be terminal text. `trimLines` drops the spaces that pad the last cells of a line.
void PrintColumns(const std::vector<std::vector<std::string>>& rows, bool trimLines = false);

// Writes "vandrel-shopper-cli COMMAND: MESSAGE" (escaped) on stderr.
void PrintError(std::string_view command, std::string_view message);

// Sends the kernel's messages to stderr; a fatal one ends the start, which then reports its failure.
void InstallErrorPresenter();

// Flushes stdout. A write that failed on the way (a full disk, a closed pipe) turns a success into
// status 1, with a message on stderr.
int FinishOutput(int status);

}  // namespace vandrel::cli
