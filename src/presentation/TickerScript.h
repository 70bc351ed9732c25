// Where the ticker's content comes from: the data script "ticker.ccs", whose text is a comma list of the
// lines of a component description, and the reader of that description.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "presentation/TickerModel.h"

namespace vandrel {

inline constexpr char kTickerScriptName[] = "ticker.ccs";

// Items separated by commas, or by blanks and control characters, outside double quotes; inside a quoted
// item two double quotes stand for one.
std::vector<std::string> SplitCommaText(std::string_view text);

// The ticker's properties as a description sets them.
struct TTickerDescription {
  bool Beveled = false;
  std::vector<TTickerElement> Elements;
  std::string Hint;
};

// Reads the text form of a component description ("object NAME: TScrollingTicker", one "Name = value" per
// property, "end"). False, with the reason, on anything it cannot read; `into` is then unchanged.
bool ReadTickerDescription(std::string_view text, TTickerDescription& into, std::string* error = nullptr);

// Compiles the ticker script `file`, runs its "Register" and reads its TickerData into a description for
// the ticker named `name`. False, with the reason, when any step fails.
bool LoadTickerScript(const std::string& file, const std::string& name, TTickerDescription& into,
                      std::string* error = nullptr);

}  // namespace vandrel
