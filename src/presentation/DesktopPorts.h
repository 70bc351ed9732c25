// What the desktop fills in for the toolkit-free window controllers: timers and modal questions. Tests fill
// them with a manual clock and scripted answers (tests/presentation/FakeDesktopPorts.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vandrel {

// Timers for controllers that wait before acting; the desktop fills it from its event loop, tests with a
// manual clock. Main thread only.
class IScheduler {
 public:
  using TTimerId = uint64_t;
  virtual ~IScheduler() = default;
  // Runs `task` once after `delayMs`; the returned id cancels it.
  virtual TTimerId Schedule(int delayMs, std::function<void()> task) = 0;
  virtual void Cancel(TTimerId id) = 0;
};

enum class TPromptIcon { piInformation, piWarning, piError, piQuestion };
enum class TPromptButtons { pbOk, pbOkCancel, pbYesNo, pbYesNoCancel };
enum class TPromptAnswer { paOk, paCancel, paYes, paNo };

// One modal question box. `Text` and `Caption` are final: placeholders already replaced.
struct TPrompt {
  std::string Caption;
  std::string Text;
  TPromptIcon Icon = TPromptIcon::piInformation;
  TPromptButtons Buttons = TPromptButtons::pbOk;
  TPromptAnswer Default = TPromptAnswer::paOk;
  // Shows the check box "&Don't show me this again".
  bool OfferDontAskAgain = false;
};

struct TPromptReply {
  TPromptAnswer Answer = TPromptAnswer::paOk;
  bool DontAskAgain = false;
};

// Modal question boxes, always on top of the program's windows. Main thread only.
class IUserPrompts {
 public:
  virtual ~IUserPrompts() = default;
  virtual TPromptReply Ask(const TPrompt& prompt) = 0;
};

// The window of every feature this version does not offer.
inline constexpr char kNotAvailableCaption[] = "Feature not available";
inline constexpr char kNotAvailableText[] =
    "This feature is not available in the beta version of Vandrel Shopper.";

// A question asked under a configuration flag: shown only while `askFlag` is set, the check box's state
// stored inverted into it; while the flag is clear the answer is `answerWhenSilent`.
inline TPromptAnswer AskUnderFlag(IUserPrompts& prompts, bool& askFlag, TPrompt prompt,
                                  TPromptAnswer answerWhenSilent) {
  if (!askFlag) return answerWhenSilent;
  prompt.OfferDontAskAgain = true;
  TPromptReply reply = prompts.Ask(prompt);
  askFlag = !reply.DontAskAgain;
  return reply.Answer;
}

}  // namespace vandrel
