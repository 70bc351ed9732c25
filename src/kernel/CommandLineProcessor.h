// Runs command lines ("prices", "shop:newprices harry potter") through a table of named handlers.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// Takes the rest of the line after the command word.
using TCommandHandler = std::function<void(const std::string& argument)>;

struct TCommandLineItem {
  std::string Name;  // lower case
  TCommandHandler Handler;
};

class TCommandLineProcessor {
 public:
  // Called before a command's handler runs; lets a test or a trace see what was executed.
  using TExecuteObserver = std::function<void(const std::string& command, const std::string& argument)>;

  // The program's one processor; the main window registers its commands here.
  static TCommandLineProcessor& Instance();

  // Adds `name` (matched without regard to case); a name already present gets the new handler.
  void Register(std::string_view name, TCommandHandler handler);
  void Clear();
  // Runs the line's command with the rest of the line. Returns false when the command is unknown or when
  // another command is still running: a line that arrives meanwhile (a handler showing a modal window
  // pumps messages) is dropped. Main thread only.
  bool Execute(std::string_view line);
  void SetExecuteObserver(TExecuteObserver observer) { observer_ = std::move(observer); }

 private:
  std::vector<TCommandLineItem> items_;  // registration order
  TExecuteObserver observer_;
  bool executing_ = false;  // a handler is running
};

}  // namespace vandrel
