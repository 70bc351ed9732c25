#include "presentation/OptionsController.h"

#include <algorithm>

namespace vandrel {

std::string DurationText(int seconds) {
  const int n = std::max(seconds, 0);
  const int days = n / 86400, hours = (n / 3600) % 24, minutes = (n / 60) % 60, secs = n % 60;
  std::string text;
  int parts = 0;
  auto add = [&](int value, const char* one, const char* many) {
    if (value == 0 || parts == 2) return;
    if (parts > 0) text += ' ';
    text += value == 1 ? std::string(one) : std::to_string(value) + many;
    ++parts;
  };
  add(days, "1 day,", " days,");
  add(hours, "1 hour", " hours");
  add(minutes, "1 min", " min");
  add(secs, "1 sec", " sec");
  if (!text.empty() && text.back() == ',') text.pop_back();
  return text.empty() ? "0 sec" : text;
}

// ---------------------------------------------------------------------------------------------------

TCurrencyPicker::TCurrencyPicker(TCurrencyConverter& converter, std::string ratePattern)
    : converter_(converter), ratePattern_(std::move(ratePattern)), items_(converter.PickerItems()) {}

int TCurrencyPicker::IndexOf(std::string_view code) const {
  const std::string wanted = TCurrencyConverter::CodeOfPickerItem(code.empty() ? "USD" : code);
  for (size_t i = 0; i < items_.size(); ++i)
    if (TCurrencyConverter::CodeOfPickerItem(items_[i]) == wanted) return static_cast<int>(i);
  return -1;
}

void TCurrencyPicker::Select(std::string_view code) {
  items_ = converter_.PickerItems();  // the table may have been reloaded since
  code_ = TCurrencyConverter::CodeOfPickerItem(code.empty() ? "USD" : code);
}

void TCurrencyPicker::SelectIndex(int index) {
  if (index >= 0 && static_cast<size_t>(index) < items_.size())
    code_ = TCurrencyConverter::CodeOfPickerItem(items_[index]);
}

std::string TCurrencyPicker::RateText() const {
  if (!converter_.Definitions().Find(code_)) return "";
  return converter_.TodayRateText(code_, ratePattern_);
}

// ---------------------------------------------------------------------------------------------------

TOptionsController::TOptionsController(IDesktopSettings& settings, TCurrencyConverter& converter,
                                       IUserPrompts& prompts, TOptionsHooks hooks)
    : Currency(converter),
      settings_(settings),
      converter_(converter),
      prompts_(prompts),
      hooks_(std::move(hooks)) {}

void TOptionsController::Load() {
  stored_ = settings_.ReadOptions();
  Values = stored_;
  SetTimeout(Values.Timeout);
  SetMaxTransfers(Values.MaxTransfers);
  SetDaysToKeepSearches(Values.DaysToKeepSearches);
  navigatorEnabled_ = !Values.NavigatorExeName.empty() ||
                      (hooks_.InstalledNavigatorPath && !hooks_.InstalledNavigatorPath().empty());
  Currency.Select(Values.CurrencyConvertCode);
  integrationChanged_ = false;
}

void TOptionsController::SetTimeout(int seconds) {
  Values.Timeout = std::clamp(seconds, kMinTimeout, kMaxTimeout);
}

void TOptionsController::SetMaxTransfers(int count) {
  Values.MaxTransfers = std::clamp(count, kMinTransfers, kMaxTransfers);
}

void TOptionsController::SetDaysToKeepSearches(int days) {
  Values.DaysToKeepSearches = std::clamp(days, kMinDaysToKeep, kMaxDaysToKeep);
}

bool TOptionsController::FixedBoxClicked() {
  TPrompt prompt;
  prompt.Caption = kNotAvailableCaption;
  prompt.Text = kNotAvailableText;
  prompts_.Ask(prompt);
  return true;
}

std::string TOptionsController::ProgramPathForBox() const {
  if (!Values.NavigatorExeName.empty() || !hooks_.InstalledNavigatorPath) return Values.NavigatorExeName;
  return hooks_.InstalledNavigatorPath();
}

void TOptionsController::ProgramPathChosen(const std::string& path) {
  if (path.empty()) return;
  Values.NavigatorExeName = path;
  navigatorEnabled_ = true;
}

void TOptionsController::Accept() {
  TOptionsSettings toStore = Values;
  // The currency is compared with what prices are shown in now, not with the stored text: an empty
  // stored code already means "USD".
  const std::string code = Currency.Code();
  const bool currencyChanged =
      code != converter_.TargetCode || Values.ShowConvertedCurrencies != stored_.ShowConvertedCurrencies;
  if (currencyChanged) {
    toStore.CurrencyConvertCode = code;
  } else {
    toStore.CurrencyConvertCode = stored_.CurrencyConvertCode;
    toStore.ShowConvertedCurrencies = stored_.ShowConvertedCurrencies;
  }
  settings_.WriteOptions(toStore);
  stored_ = toStore;

  if (hooks_.ApplyHints) hooks_.ApplyHints(toStore.ShowHints);
  if (integrationChanged_ && hooks_.RewriteIntegration) hooks_.RewriteIntegration();
  integrationChanged_ = false;
  if (hooks_.SetForcedBrowser) hooks_.SetForcedBrowser(toStore.ForceNavigatorUse, toStore.NavigatorExeName);
  if (currencyChanged) {
    converter_.TargetCode = code;
    converter_.ShowConverted = toStore.ShowConvertedCurrencies;
    if (hooks_.ReloadPriceResults) hooks_.ReloadPriceResults();
  }
  if (hooks_.Changed) hooks_.Changed();
}

}  // namespace vandrel
