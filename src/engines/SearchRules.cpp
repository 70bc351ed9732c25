#include "engines/SearchRules.h"

#include "script/EvalTypes.h"

namespace vandrel {

void TTranslateList::Add(const std::string& from, const std::string& to) {
  for (auto& p : pairs_)
    if (p.first == from) {
      p.second = to;
      return;
    }
  pairs_.emplace_back(from, to);
}

TSearchRule::TSearchRule(std::string name, TBaseEvaluator* owner) : Owner(owner), Name(std::move(name)) {
  Translations.Add("\t", "");
  Translations.Add("\n", "");
  Translations.Add("\r", "");
}

void TSearchRule::SetFormula(const std::string& text) {
  if (!Formula) Formula = Owner ? Owner->NewSlot() : std::make_shared<TEvalItem>();
  Formula->SetExpression(text);
  Code = RC_FORMULA;
}

void TSearchRule::SetKey(bool key) {
  if (key)
    Code = RC_LINKADDRESS;
  else if (Code == RC_LINKADDRESS)
    Code = RC_CUSTOM;
}

std::string TSearchRule::Translate(const std::string& text) const {
  std::string out = text;
  for (size_t i = 0; i < Translations.Count(); ++i)
    out = ReplaceText(out, Translations.At(i).first, Translations.At(i).second);
  return out;
}

TSearchRule* TSearchRuleList::Find(std::string_view name) const {
  for (const auto& r : items_)
    if (SameText(r->Name, name)) return r.get();
  return nullptr;
}

TSearchRulePtr TSearchRuleList::FindOrAdd(const std::string& name) {
  for (const auto& r : items_)
    if (SameText(r->Name, name)) return r;
  items_.push_back(std::make_shared<TSearchRule>(name, Owner));
  return items_.back();
}

std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty() || text.size() < from.size()) return text;
  std::string lowText = LowerAscii(text), lowFrom = LowerAscii(from);
  std::string out;
  size_t pos = 0;
  for (;;) {
    size_t at = lowText.find(lowFrom, pos);
    if (at == std::string::npos) break;
    out.append(text, pos, at - pos);
    out += to;
    pos = at + from.size();
  }
  if (pos == 0) return text;
  out.append(text, pos, std::string::npos);
  return out;
}

bool ContainsAny(const std::vector<std::string>& list, std::string_view text) {
  if (list.empty()) return false;
  std::string low = LowerAscii(text);
  for (const auto& e : list)
    if (low.find(LowerAscii(e)) != std::string::npos) return true;
  return false;
}

bool StartsWithAny(const std::vector<std::string>& list, std::string_view text) {
  if (list.empty()) return true;
  for (const auto& e : list)
    if (text.size() >= e.size() && SameText(text.substr(0, e.size()), e)) return true;
  return false;
}

}  // namespace vandrel
