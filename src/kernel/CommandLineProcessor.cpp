#include "kernel/CommandLineProcessor.h"
#include "platform/TextUtils.h"

namespace vandrel {
namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

TCommandLineProcessor& TCommandLineProcessor::Instance() {
  static TCommandLineProcessor instance;
  return instance;
}

void TCommandLineProcessor::Register(std::string_view name, TCommandHandler handler) {
  std::string key = Lower(Trim(name, kAsciiControlsAndSpace));
  for (auto& item : items_) {
    if (item.Name == key) {
      item.Handler = std::move(handler);
      return;
    }
  }
  items_.push_back(TCommandLineItem{std::move(key), std::move(handler)});
}

void TCommandLineProcessor::Clear() {
  items_.clear();
}

bool TCommandLineProcessor::Execute(std::string_view line) {
  if (executing_) return false;
  line = Trim(line, kAsciiControlsAndSpace);
  size_t blank = 0;
  while (blank < line.size() && !IsBlank(line[blank])) ++blank;
  std::string command = Lower(line.substr(0, blank));
  std::string argument(Trim(line.substr(blank), kAsciiControlsAndSpace));
  // "shop:prices" as the browser hands a shop address over is the same command as "prices".
  if (size_t colon = command.find(':'); colon != std::string::npos) command.erase(0, colon + 1);

  const TCommandLineItem* found = nullptr;
  for (const auto& item : items_)
    if (item.Name == command) found = &item;
  if (!found || !found->Handler) return false;

  // Copied, so a handler that registers or clears commands does not pull its own code from under it.
  TCommandHandler handler = found->Handler;
  struct Guard {
    bool& flag;
    ~Guard() { flag = false; }
  } guard{executing_};
  executing_ = true;
  if (observer_) observer_(command, argument);
  handler(argument);
  return true;
}

}  // namespace vandrel
