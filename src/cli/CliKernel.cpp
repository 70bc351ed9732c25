#include "cli/CliKernel.h"

#include <filesystem>

#include "cli/CliOutput.h"
#include "engines/SearchTypeInstance.h"
#include "kernel/AppConfig.h"
#include "platform/TextUtils.h"
#include "search/QuorinEngineRepository.h"
#include "search/SearchHistory.h"

namespace vandrel::cli {

bool OpenKernel(THeadlessKernel& kernel, const TKernelArguments& arguments, const char* command,
                bool readsOnly) {
  InstallErrorPresenter();
  std::error_code ec;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  TAppKernel::THooks hooks;
  // The installed definitions come along into the root folder, as the desktop program brings them, so
  // that a stored search can be run again without naming a data folder.
  if (!ec) {
    hooks.InstallationFolder = FindInstallationFolder(self);
    hooks.BuiltDataFolder = FindBuiltDataFolder(self);
  }
  hooks.UserName = CurrentUserName();
  hooks.DataFolder = arguments.Data;
  hooks.RefreshCatalogue = !arguments.Data.empty();
  hooks.CurrencyCode = arguments.Currency;
  hooks.AllowReadOnly = readsOnly;
  TStartOptions options;
  options.RootFolder = arguments.Root;
  options.DebugMode = arguments.Debug;
  options.Defines = arguments.Defines;
  if (!kernel.Open(options, std::move(hooks))) {
    const std::string& refusal = kernel.Kernel().RefusalText();
    PrintError(command, refusal.empty() ? "the program's data under " + ResolveRootFolder(arguments.Root) +
                                              " cannot be opened"
                                        : refusal);
    return false;
  }
  // Tables set aside while the kernel opened are said whatever the command, or the next command that
  // shows the history would be the first to mention a loss that happened now.
  for (const std::string& notice : TakeStorageDamageNotices()) PrintError(command, notice);
  return true;
}

bool IsReviewCategory(const std::string& catName) {
  return StartsWithText(catName, "review");
}

void SetInputValue(TSearchInputField& field, const TDynamicValue& value) {
  switch (value.Kind()) {
    case TDynamicValue::TKind::Integer:
      field.SetInteger(value.AsInteger());
      field.DataType = field.Definition->DataType;
      break;
    case TDynamicValue::TKind::Double:
      field.SetFloat(value.AsDouble());
      field.DataType = field.Definition->DataType;
      break;
    default:
      field.SetString(value.AsString());
      break;
  }
}

}  // namespace vandrel::cli
