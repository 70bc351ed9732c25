// Test stand-ins for the desktop ports: a clock that moves only when the test says so, and question boxes
// answered from a script while recording what was asked.
#pragma once

#include <algorithm>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "presentation/DesktopPorts.h"

namespace vandrel::test {

class TManualScheduler : public IScheduler {
 public:
  TTimerId Schedule(int delayMs, std::function<void()> task) override {
    Timers_[++Next_] = {Now_ + delayMs, std::move(task)};
    return Next_;
  }
  void Cancel(TTimerId id) override { Timers_.erase(id); }
  // Runs, in order of their due time, the timers due by the new time (also those scheduled meanwhile).
  void Advance(int ms) {
    const int64_t until = Now_ + ms;
    for (;;) {
      auto due = Timers_.end();
      for (auto it = Timers_.begin(); it != Timers_.end(); ++it)
        if (it->second.first <= until && (due == Timers_.end() || it->second.first < due->second.first))
          due = it;
      if (due == Timers_.end()) break;
      Now_ = std::max(Now_, due->second.first);
      auto task = std::move(due->second.second);
      Timers_.erase(due);
      task();
    }
    Now_ = until;
  }
  size_t Pending() const { return Timers_.size(); }
  int64_t Now() const { return Now_; }

 private:
  std::map<TTimerId, std::pair<int64_t, std::function<void()>>> Timers_;
  int64_t Now_ = 0;
  TTimerId Next_ = 0;
};

// Answers questions in the order queued; with none queued, the prompt's default. Keeps every prompt asked.
class TScriptedPrompts : public IUserPrompts {
 public:
  TPromptReply Ask(const TPrompt& prompt) override {
    Asked.push_back(prompt);
    if (Replies.empty()) return {prompt.Default, false};
    TPromptReply reply = Replies.front();
    Replies.pop_front();
    return reply;
  }
  void Queue(TPromptAnswer answer, bool dontAskAgain = false) { Replies.push_back({answer, dontAskAgain}); }

  std::deque<TPromptReply> Replies;
  std::vector<TPrompt> Asked;
};

}  // namespace vandrel::test
