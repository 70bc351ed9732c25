// The subcommands of vandrel-shopper-cli; each lives in its own file and returns the process exit status.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {
class TUpdateRun;
}  // namespace vandrel

namespace vandrel::cli {

using Args = std::vector<std::string>;  // the words after the subcommand

struct Command {
  const char* name;
  const char* usage;  // one line for the help text: the arguments, then what the command does
  int (*run)(const Args& args);
};

// Every subcommand, in the order the help text lists them.
const std::vector<Command>& AllCommands();
// Null for an unknown name.
const Command* FindCommand(std::string_view name);
// "-h" or "--help" among the options (before a "--").
bool HelpAsked(const Args& args);
// Prints the problem and the command's usage on stderr; returns 2, the status of a usage error.
int UsageError(std::string_view command, const std::string& problem);

int RunVersion(const Args& args);
int RunConfig(const Args& args);
int RunFetch(const Args& args);
int RunParse(const Args& args);
int RunDemoStores(const Args& args);
int RunSearch(const Args& args);
int RunCatalogue(const Args& args);
int RunHistory(const Args& args);
int RunDb(const Args& args);
int RunIntegration(const Args& args);
int RunOpen(const Args& args);
int RunUninstall(const Args& args);
int RunUpdate(const Args& args);

// An engine update as "update" shows it, for every command that runs one: steps and download progress
// on stderr, what changed (or would) on `out`, and the closing sentence.
void ShowUpdateProgress(TUpdateRun& run);
void PrintUpdateReport(const TUpdateRun& run, FILE* out);
bool UpdateFailed(const TUpdateRun& run);
std::string UpdateOutcomeText(const TUpdateRun& run);

}  // namespace vandrel::cli
