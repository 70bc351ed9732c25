// The "config" subcommand: shows and changes the settings kept in the store.
#include <charconv>
#include <cstdio>
#include <memory>
#include <optional>

#include "cli/Commands.h"
#include "kernel/AppConfig.h"
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

// Stores `text` and answers how the setting should read afterwards; nothing when `text` is no value of the
// setting's type.
std::optional<std::string> SetValue(const TSetting& s, const std::string& text) {
  const int index = s.Property->Index;
  const char* end = text.data() + text.size();
  switch (s.Property->Type) {
    case TConfigType::ctBoolean: {
      const bool on = SameText(text, "true") || SameText(text, "yes") || text == "1";
      if (!on && !SameText(text, "false") && !SameText(text, "no") && text != "0") return std::nullopt;
      s.Section->SetBoolean(index, on);
      return on ? "true" : "false";
    }
    case TConfigType::ctInteger: {
      int32_t value = 0;
      const auto [ptr, ec] = std::from_chars(text.data(), end, value);
      if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
      s.Section->SetInteger(index, value);
      return std::to_string(value);
    }
    case TConfigType::ctDateTime: {
      double value = 0;
      const auto [ptr, ec] = std::from_chars(text.data(), end, value);
      if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
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

int Usage() {
  std::fprintf(stderr,
               "usage: vandrel-shopper-cli config [--config-dir DIR] get NAME\n"
               "       vandrel-shopper-cli config [--config-dir DIR] set NAME VALUE\n"
               "       vandrel-shopper-cli config [--config-dir DIR] list\n"
               "NAME is a setting such as MaxTransfers or Preferences.MaxTransfers.\n");
  return 2;
}

}  // namespace

int RunConfig(const Args& args) {
  std::optional<std::string> folder;
  Args words;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config-dir") {
      if (i + 1 >= args.size()) return Usage();
      folder = args[++i];
    } else if (args[i].starts_with("--config-dir=")) {
      folder = args[i].substr(13);
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.empty()) return Usage();

  auto store = std::make_shared<TRegistryFileStore>(folder ? *folder : DefaultRegistryFolder());
  SetSystemRegistry(store);
  TAppConfig config(store);

  if (words[0] == "list" && words.size() == 1) {
    for (const auto& section : config.Sections())
      for (const auto& p : section->Properties()) {
        const std::string line =
            section->PublishedName() + "." + p.Name + " = " + ToDisplayText(ValueText({section.get(), &p}));
        std::printf("%s\n", line.c_str());
      }
    return 0;
  }
  if (words.size() < 2) return Usage();
  const auto setting = FindSetting(config, words[1]);
  if (!setting) {
    std::fprintf(stderr, "vandrel-shopper-cli: no setting named '%s'\n", words[1].c_str());
    return 1;
  }
  if (words[0] == "get" && words.size() == 2) {
    std::printf("%s\n", ToDisplayText(ValueText(*setting)).c_str());
    return 0;
  }
  if (words[0] == "set" && words.size() == 3) {
    const auto expected = SetValue(*setting, words[2]);
    if (!expected) {
      std::fprintf(stderr, "vandrel-shopper-cli: '%s' is not a value for %s\n", words[2].c_str(),
                   setting->Property->Name);
      return 2;
    }
    // The store swallows failed writes; reading back is how a person learns the value did not stick.
    if (ValueText(*setting) != *expected) {
      std::fprintf(stderr, "vandrel-shopper-cli: could not write %s to the store in %s\n",
                   setting->Property->Name, store->Folder().c_str());
      return 1;
    }
    return 0;
  }
  return Usage();
}

}  // namespace vandrel::cli
