// The "config" subcommand: shows and changes the settings kept in the store.
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/CliOutput.h"
#include "cli/CommandArguments.h"
#include "cli/Commands.h"
#include "kernel/AppConfig.h"
#include "platform/CommandLineOptions.h"
#include "platform/Format.h"
#include "platform/RegistryFileStore.h"
#include "platform/TextUtils.h"

namespace vandrel::cli {
namespace {

struct TSetting {
  TConfigSection* Section = nullptr;
  const TConfigProperty* Property = nullptr;
};

// "Preferences.MaxTransfers", or the bare name when no other section has a setting of that name.
std::optional<TSetting> FindSetting(const TAppConfig& config, std::string_view name) {
  std::string_view sectionName;
  if (const size_t dot = name.find('.'); dot != std::string_view::npos) {
    sectionName = name.substr(0, dot);
    name = name.substr(dot + 1);
  }
  std::optional<TSetting> found;
  for (const auto& section : config.Sections()) {
    if (!sectionName.empty() && !SameText(section->PublishedName(), sectionName)) continue;
    if (const TConfigProperty* p = section->FindProperty(name)) {
      if (found) return std::nullopt;  // ambiguous
      found = TSetting{section.get(), p};
    }
  }
  return found;
}

std::string ValueText(const TSetting& s) {
  const int index = s.Property->Index;
  switch (s.Property->Type) {
    case TConfigType::ctBoolean:
      return s.Section->GetBoolean(index) ? "true" : "false";
    case TConfigType::ctInteger:
      return std::to_string(s.Section->GetInteger(index));
    case TConfigType::ctString:
      return s.Section->GetString(index);
    case TConfigType::ctDateTime:
      return FormatGeneral(s.Section->GetDateTime(index));
    case TConfigType::ctSecret:
      return s.Section->GetSecret(index);
  }
  return {};
}

// Stores `text` and answers how the setting should read afterwards; nothing, with `problem` set, when
// `text` is no value of the setting.
std::optional<std::string> SetValue(const TSetting& s, const std::string& text, std::string& problem) {
  const int index = s.Property->Index;
  const char* end = text.data() + text.size();
  switch (s.Property->Type) {
    case TConfigType::ctBoolean: {
      const bool on = SameText(text, "true") || SameText(text, "yes") || text == "1";
      if (!on && !SameText(text, "false") && !SameText(text, "no") && text != "0") {
        problem = "not true or false";
        return std::nullopt;
      }
      s.Section->SetBoolean(index, on);
      return on ? "true" : "false";
    }
    case TConfigType::ctInteger: {
      int64_t value = 0;
      if (!ParseIntegerArg(text, s.Property->Min, s.Property->Max, value, problem)) {
        if (problem == "out of range")
          problem += " (" + std::to_string(s.Property->Min) + " to " + std::to_string(s.Property->Max) + ")";
        return std::nullopt;
      }
      s.Section->SetInteger(index, static_cast<int32_t>(value));
      return std::to_string(value);
    }
    case TConfigType::ctDateTime: {
      double value = 0;
      const auto [ptr, ec] = std::from_chars(text.data(), end, value);
      if (text.empty() || ec != std::errc() || ptr != end) {
        problem = "not a number";
        return std::nullopt;
      }
      s.Section->SetDateTime(index, value);
      return FormatGeneral(value);
    }
    case TConfigType::ctString:
      s.Section->SetString(index, text);
      return text;
    case TConfigType::ctSecret:
      s.Section->SetSecret(index, text);
      return text;
  }
  return std::nullopt;
}

}  // namespace

int RunConfig(const Args& args) {
  TConfigArguments o;
  std::string error;
  if (!ParseConfigArguments(args, o, error)) return UsageError("config", error);

  auto store = std::make_shared<TRegistryFileStore>(o.Folder ? *o.Folder : DefaultRegistryFolder());
  SetSystemRegistry(store);
  TAppConfig config(store);

  if (o.Action == "list") {
    for (const auto& section : config.Sections())
      for (const auto& p : section->Properties()) {
        const std::string line =
            section->PublishedName() + "." + p.Name + " = " + ValueText({section.get(), &p});
        std::printf("%s\n", TerminalText(line).c_str());
      }
    return 0;
  }
  const auto setting = FindSetting(config, o.Name);
  if (!setting) {
    PrintError({}, "no setting named '" + o.Name + "'");
    return 1;
  }
  if (o.Action == "get") {
    std::printf("%s\n", TerminalText(ValueText(*setting)).c_str());
    return 0;
  }
  std::string problem;
  const auto expected = SetValue(*setting, o.Value, problem);
  if (!expected) {
    PrintError({}, "'" + o.Value + "' is not a value for " + setting->Property->Name + ": " + problem);
    return 2;
  }
  // The store swallows failed writes; reading back is how a person learns the value did not stick.
  if (ValueText(*setting) != *expected) {
    PrintError({}, std::string("could not write ") + setting->Property->Name + " to the store in " +
                       store->Folder());
    return 1;
  }
  return 0;
}

}  // namespace vandrel::cli
