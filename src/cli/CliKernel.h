// Opens the program's kernel for a command: the root folder, the definitions' folder, the constants the
// command line adds, and the currency prices are shown in.
#pragma once

#include <string>

#include "cli/CommandArguments.h"
#include "kernel/HeadlessKernel.h"

namespace vandrel {
class TSearchInputField;
}  // namespace vandrel

namespace vandrel::cli {

// False after printing why (as `command`) when the kernel did not open. A command that `readsOnly` also
// works on a database that cannot be written; any other is refused there with the kernel's reason.
bool OpenKernel(THeadlessKernel& kernel, const TKernelArguments& arguments, const char* command,
                bool readsOnly = false);

// The engine update run before a search when it is due (search, history rerun).
struct TDueUpdateOptions {
  bool Skip = false;  // --no-update, or definitions read from their sources
  std::string Site;   // the update address for this run; empty: the configured one
};
void RunDueUpdate(THeadlessKernel& kernel, const TDueUpdateOptions& options, const char* command);

// Review categories are named "review..."; every other one is a price category.
bool IsReviewCategory(const std::string& catName);

// Gives an input field of a search instance a value ParseFieldValue made.
void SetInputValue(TSearchInputField& field, const TDynamicValue& value);

}  // namespace vandrel::cli
