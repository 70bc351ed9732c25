#include "presentation/FindContext.h"

#include "platform/TextUtils.h"
#include "storage/ResultStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {

TFindContext::~TFindContext() {
  if (View_) View_->RemoveObserver(this);
}

void TFindContext::Bind(TStorageDataListView* view) {
  if (View_ != view) {
    if (View_) View_->RemoveObserver(this);
    View_ = view;
    if (View_) View_->AddObserver(this);
  }
  Reset();
}

void TFindContext::Reset() {
  Text_.clear();
  Folded_.clear();
  Current_ = nullptr;
  MatchCase = false;
}

TStorageDataItem* TFindContext::Start(const std::string& text) {
  Text_ = text;
  Folded_ = AsciiLowerCase(text);
  Current_ = nullptr;
  return FindNext();
}

void TFindContext::RebuildFields() {
  Fields_.clear();
  if (!SearchType_) return;
  const TStorageFieldDefinitionLayoutList& layout = SearchType_->OutputFieldLayout;
  auto add = [this](const std::string& name, uint8_t flags) {
    if (flags & (lfGraphicalDisplay | lfHidden | lfInternal)) return;
    const int at = SearchType_->OutputFieldDefinitions.IndexOfName(name);
    if (at >= 0) Fields_.push_back(at);
  };
  if (layout.Count() > 0) {
    for (size_t i = 0; i < layout.Count(); ++i)
      add(layout.LayoutItem(i)->Name, layout.LayoutItem(i)->Layout.Flags);
    return;
  }
  // No layout yet: the one the result view would make from the definitions.
  for (size_t i = 0; i < SearchType_->OutputFieldDefinitions.Count(); ++i) {
    const auto* d = SearchType_->OutputFieldDefinitions.Output(i);
    add(d->Name, d->Layout.Flags);
  }
}

bool TFindContext::Matches(const TStorageDataItem& item) const {
  const auto* result = dynamic_cast<const TResultStorageItem*>(&item);
  if (!result || Text_.empty()) return false;
  const TResultStorageFieldList* fields = result->ResultFields();
  for (int i : Fields_) {
    if (i < 0 || static_cast<size_t>(i) >= fields->Count()) continue;
    const std::string& text = fields->ResultField(static_cast<size_t>(i))->DisplayValue();
    if (MatchCase ? text.find(Text_) != std::string::npos
                  : AsciiLowerCase(text).find(Folded_) != std::string::npos)
      return true;
  }
  return false;
}

TStorageDataItem* TFindContext::Walk() {
  if (!View_) return nullptr;
  if (!View_->Grouped()) {
    size_t start = 0;
    if (Current_) {
      const int at = View_->IndexOf(Current_);
      start = at < 0 ? 0 : static_cast<size_t>(at) + 1;
    }
    for (size_t i = start; i < View_->Count(); ++i)
      if (Matches(*View_->Item(i))) return View_->Item(i);
    return nullptr;
  }
  size_t group = 0, item = 0;
  if (Current_) {
    TStorageDataGroupItem* owner = View_->GroupOf(Current_);
    for (size_t g = 0; owner && g < View_->GroupCount(); ++g)
      if (View_->Group(g) == owner) {
        group = g;
        const int at = owner->IndexOfItem(Current_);
        item = static_cast<size_t>(at) + 1;
        if (OnePerGroup || item >= owner->Items.size()) {
          ++group;
          item = 0;
        }
        break;
      }
  }
  for (; group < View_->GroupCount(); ++group, item = 0) {
    const TStorageDataGroupItem* g = View_->Group(group);
    for (; item < g->Items.size(); ++item)
      if (Matches(*g->Items[item])) return g->Items[item];
  }
  return nullptr;
}

TStorageDataItem* TFindContext::FindNext() {
  RebuildFields();
  Folded_ = AsciiLowerCase(Text_);
  TStorageDataItem* hit = Walk();
  Current_ = hit;
  CurrentKey_ = hit ? hit->Index() : -1;
  if (hit) {
    if (OnFound) OnFound(*this, hit);
  } else if (OnFinished) {
    OnFinished(*this, Text_);
  }
  return hit;
}

void TFindContext::ItemChanged(TStorageNotifier* sender, TStorageDataItem* item) {
  // A reload replaces every result: the remembered one is gone unless the view still shows it.
  // Only a visible result may be read: the key tells a new result at a reused address from the old one.
  if (sender == View_ && !item && Current_ &&
      (!View_->IsVisible(Current_) || Current_->Index() != CurrentKey_))
    Current_ = nullptr;
}

void TFindContext::ItemDeleted(TStorageNotifier* sender, TStorageDataItem* item) {
  if (sender == View_ && item == Current_) Current_ = nullptr;
}

void TFindContext::ItemFilteredOut(TStorageDataListView* view, TStorageDataItem* item) {
  if (view == View_ && item == Current_) Current_ = nullptr;
}

void TFindContext::Refilled(TStorageDataListView* view) {
  if (view == View_ && Current_ && !View_->IsVisible(Current_)) Current_ = nullptr;
}

void TFindContext::GroupRemoved(TStorageDataListView* view, TStorageDataGroupItem* group) {
  if (view == View_ && Current_ && group->Contains(Current_) && !View_->IsVisible(Current_))
    Current_ = nullptr;
}

TFindDialogModel::TFindDialogModel(TFindContext& context) : Text(LastText()), Context_(context) {}

std::string& TFindDialogModel::LastText() {
  static std::string text;
  return text;
}

TStorageDataItem* TFindDialogModel::FindNext() {
  LastText() = Text;
  Searched_ = true;
  Context_.MatchCase = MatchCase;
  TStorageDataItem* hit = nullptr;
  if (Context_.CanFindNext() && Context_.Text() == Text && !StartFromTop)
    hit = Context_.FindNext();
  else
    hit = Context_.Start(Text);
  StartFromTop = false;
  return hit;
}

}  // namespace vandrel
