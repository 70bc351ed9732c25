#include "ui/ResultListModel.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QFont>
#include <QIcon>
#include <QStyle>
#include <algorithm>
#include <unordered_map>

namespace vandrel {

namespace {

// More rows out of place than this are put in order with one layout change instead of row moves.
constexpr size_t kMaxRowMoves = 64;

QString ToQString(const std::string& text) {
  // Stored texts are UTF-8; bytes that are not fall back to Windows-1252 as far as Latin-1 reaches.
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  if (s.contains(QChar::ReplacementCharacter))
    s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  return s;
}

}  // namespace

TResultListModel::TResultListModel(QObject* parent) : QAbstractItemModel(parent) {}

void TResultListModel::SetViewFrame(TResultViewFrame* frame, TResultFrameController* controller) {
  beginResetModel();
  ++Resets_;
  Frame_ = frame;
  Controller_ = controller;
  Keys_ = CurrentKeys();
  Captions_ = CurrentCaptions();
  Cache_.reset();
  ViewRows_.reset();
  endResetModel();
}

void TResultListModel::Post() {
  Cache_.reset();
  ViewRows_.reset();
  if (Posted_) return;
  Posted_ = true;
  QMetaObject::invokeMethod(
      this, [this] { Sync(); }, Qt::QueuedConnection);
}

void TResultListModel::SetRowCount(size_t) {
  Post();
}

void TResultListModel::RedrawAll() {
  AllChanged_ = true;
  Post();
}

void TResultListModel::RedrawRow(size_t row) {
  TResultStorageListView* view = Frame_ ? Frame_->View() : nullptr;
  if (view && row < view->RowCount()) {
    const TStorageDataItem* item = view->RowItem(row);
    Changed_.push_back(item ? ResultKey(*item) : reinterpret_cast<uintptr_t>(view->RowGroup(row)));
  }
  Post();
}

void TResultListModel::ScrollIntoView(size_t row) {
  if (OnScrollTo) OnScrollTo(row);
}

void TResultListModel::SetBusy(bool busy) {
  if (OnBusy) OnBusy(busy);
}

std::vector<uint64_t> TResultListModel::CurrentKeys() const {
  std::vector<uint64_t> keys;
  TResultStorageListView* view = Frame_ ? Frame_->View() : nullptr;
  if (!view) return keys;
  if (!view->Grouped()) {
    keys.reserve(view->Count());
    for (size_t i = 0; i < view->Count(); ++i) keys.push_back(ResultKey(*view->Item(i)));
    return keys;
  }
  // Walked group by group: asking the view row by row would cost a pass over the groups per row.
  for (size_t g = 0; g < view->GroupCount(); ++g) {
    const TStorageDataGroupItem* group = view->Group(g);
    keys.push_back(reinterpret_cast<uintptr_t>(group));
    if (group->Expanded())
      for (const TStorageDataItem* item : group->Items) keys.push_back(ResultKey(*item));
  }
  return keys;
}

std::vector<std::string> TResultListModel::CurrentCaptions() const {
  std::vector<std::string> captions;
  if (!Frame_) return captions;
  for (const TResultColumn& c : Frame_->Columns())
    captions.push_back(c.Caption + (c.Sorted ? (c.Descending ? "\x01v" : "\x01^") : ""));
  return captions;
}

void TResultListModel::Insert(size_t at, const std::vector<uint64_t>& keys) {
  if (keys.empty()) return;
  beginInsertRows({}, static_cast<int>(at), static_cast<int>(at + keys.size() - 1));
  Keys_.insert(Keys_.begin() + static_cast<std::ptrdiff_t>(at), keys.begin(), keys.end());
  endInsertRows();
}

void TResultListModel::Remove(size_t first, size_t last) {
  beginRemoveRows({}, static_cast<int>(first), static_cast<int>(last));
  Keys_.erase(Keys_.begin() + static_cast<std::ptrdiff_t>(first),
              Keys_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  endRemoveRows();
}

// Moves row `from` so that it stands before the row now at `to` (to may be one past the end).
void TResultListModel::Move(size_t from, size_t to) {
  if (to == from || to == from + 1) return;
  beginMoveRows({}, static_cast<int>(from), static_cast<int>(from), {}, static_cast<int>(to));
  uint64_t key = Keys_[from];
  Keys_.erase(Keys_.begin() + static_cast<std::ptrdiff_t>(from));
  Keys_.insert(Keys_.begin() + static_cast<std::ptrdiff_t>(to > from ? to - 1 : to), key);
  endMoveRows();
}

// Puts rows begin.. (holding exactly the keys of `target`) in target's order with one layout change; the
// persistent indexes (selection, current row) follow their rows.
void TResultListModel::Reorder(size_t begin, const std::vector<uint64_t>& target) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::unordered_map<uint64_t, size_t> row;
  row.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) row[target[i]] = begin + i;
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    const size_t old = static_cast<size_t>(index.row());
    auto it = old < Keys_.size() ? row.find(Keys_[old]) : row.end();
    to.append(it == row.end() ? index : createIndex(static_cast<int>(it->second), index.column()));
  }
  std::copy(target.begin(), target.end(), Keys_.begin() + static_cast<std::ptrdiff_t>(begin));
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TResultListModel::Sync() {
  Posted_ = false;
  Cache_.reset();
  ViewRows_.reset();
  const std::vector<std::string> captions = CurrentCaptions();
  if (captions.size() != Captions_.size()) {
    // Other columns mean another search or layout: nothing of the old rows carries over.
    beginResetModel();
    ++Resets_;
    Keys_ = CurrentKeys();
    Captions_ = captions;
    Changed_.clear();
    AllChanged_ = false;
    endResetModel();
    return;
  }
  if (captions != Captions_) {
    Captions_ = captions;
    emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(Captions_.size()) - 1);
  }

  const std::vector<uint64_t> target = CurrentKeys();
  // The unchanged ends are left alone.
  size_t p = 0;
  while (p < Keys_.size() && p < target.size() && Keys_[p] == target[p]) ++p;
  size_t s = 0;
  while (s < Keys_.size() - p && s < target.size() - p &&
         Keys_[Keys_.size() - 1 - s] == target[target.size() - 1 - s])
    ++s;
  const size_t targetEnd = target.size() - s;  // the middle of target is [p, targetEnd)

  if (p + s < Keys_.size() || p < targetEnd) {
    std::unordered_map<uint64_t, size_t> wanted;  // key -> position in target
    wanted.reserve(targetEnd - p);
    for (size_t i = p; i < targetEnd; ++i) wanted[target[i]] = i;

    // Rows that went: removed in runs, from the end.
    for (size_t i = Keys_.size() - s; i-- > p;) {
      if (wanted.count(Keys_[i])) continue;
      size_t first = i;
      while (first > p && !wanted.count(Keys_[first - 1])) --first;
      Remove(first, i);
      i = first;
    }

    // The rows that stay in place: a longest run of kept rows already in target order.
    size_t middleEnd = Keys_.size() - s;
    std::vector<size_t> order;  // target positions of the kept rows, in row order
    for (size_t i = p; i < middleEnd; ++i) order.push_back(wanted[Keys_[i]]);
    std::vector<size_t> tails, tailAt, previous(order.size(), SIZE_MAX);
    for (size_t i = 0; i < order.size(); ++i) {
      const size_t k =
          static_cast<size_t>(std::lower_bound(tails.begin(), tails.end(), order[i]) - tails.begin());
      if (k == tails.size()) {
        tails.push_back(order[i]);
        tailAt.push_back(i);
      } else {
        tails[k] = order[i];
        tailAt[k] = i;
      }
      if (k > 0) previous[i] = tailAt[k - 1];
    }
    std::vector<char> stable(Keys_.size(), 0);
    for (size_t i = tailAt.empty() ? SIZE_MAX : tailAt.back(); i != SIZE_MAX; i = previous[i])
      stable[p + i] = 1;
    const size_t moves = order.size() - tails.size();

    if (moves > kMaxRowMoves) {
      // New rows go to the end of the middle first, then one layout change puts everything in order.
      std::vector<uint64_t> fresh;
      std::unordered_map<uint64_t, char> present;
      for (size_t i = p; i < middleEnd; ++i) present[Keys_[i]] = 1;
      for (size_t i = p; i < targetEnd; ++i)
        if (!present.count(target[i])) fresh.push_back(target[i]);
      Insert(middleEnd, fresh);
      Reorder(p, std::vector<uint64_t>(target.begin() + static_cast<std::ptrdiff_t>(p),
                                       target.begin() + static_cast<std::ptrdiff_t>(targetEnd)));
    } else {
      std::unordered_map<uint64_t, char> present;
      for (size_t i = p; i < middleEnd; ++i) present[Keys_[i]] = 1;
      for (size_t i = p; i < targetEnd;) {
        middleEnd = Keys_.size() - s;
        if (i < middleEnd && Keys_[i] == target[i]) {
          ++i;
          continue;
        }
        if (i < middleEnd && !stable[i]) {
          // A row out of place goes before the first settled row that belongs after it.
          const size_t want = wanted[Keys_[i]];
          size_t q = i + 1;
          while (q < middleEnd && !(stable[q] && wanted[Keys_[q]] > want)) ++q;
          Move(i, q);
          const size_t landed = q - 1;
          stable.erase(stable.begin() + static_cast<std::ptrdiff_t>(i));
          stable.insert(stable.begin() + static_cast<std::ptrdiff_t>(landed), 1);
          continue;
        }
        if (!present.count(target[i])) {
          size_t end = i + 1;
          while (end < targetEnd && !present.count(target[end])) ++end;
          Insert(i, std::vector<uint64_t>(target.begin() + static_cast<std::ptrdiff_t>(i),
                                          target.begin() + static_cast<std::ptrdiff_t>(end)));
          stable.insert(stable.begin() + static_cast<std::ptrdiff_t>(i), end - i, 1);
          i = end;
          continue;
        }
        size_t j = i + 1;
        while (j < middleEnd && Keys_[j] != target[i]) ++j;
        if (j >= middleEnd) break;  // cannot happen: every kept key is in the middle
        Move(j, i);
        stable.erase(stable.begin() + static_cast<std::ptrdiff_t>(j));
        stable.insert(stable.begin() + static_cast<std::ptrdiff_t>(i), 1);
        ++i;
      }
    }
  }

  const int columns = columnCount();
  if (!Keys_.empty() && columns > 0) {
    if (AllChanged_) {
      emit dataChanged(index(0, 0), index(static_cast<int>(Keys_.size()) - 1, columns - 1));
    } else {
      for (uint64_t key : Changed_) {
        auto it = std::find(Keys_.begin(), Keys_.end(), key);
        if (it == Keys_.end()) continue;
        const int row = static_cast<int>(it - Keys_.begin());
        emit dataChanged(index(row, 0), index(row, columns - 1));
      }
    }
  }
  AllChanged_ = false;
  Changed_.clear();
}

QModelIndex TResultListModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || column < 0 || static_cast<size_t>(row) >= Keys_.size() ||
      column >= columnCount())
    return {};
  return createIndex(row, column);
}

QModelIndex TResultListModel::parent(const QModelIndex&) const {
  return {};
}

int TResultListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Keys_.size());
}

int TResultListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(Captions_.size());
}

size_t TResultListModel::ViewRows() const {
  if (!ViewRows_) ViewRows_ = Frame_ ? Frame_->RowCount() : 0;
  return *ViewRows_;
}

const TResultRow& TResultListModel::CachedRow(size_t row) const {
  if (!Cache_ || Cache_->first != row) Cache_.emplace(row, Frame_->Row(row));
  return Cache_->second;
}

QVariant TResultListModel::data(const QModelIndex& index, int role) const {
  if (!Frame_ || !index.isValid()) return {};
  const size_t row = static_cast<size_t>(index.row());
  const size_t column = static_cast<size_t>(index.column());
  const auto& columns = Frame_->Columns();
  // Rows are read from the view as it is now; until a pending sync runs they may lag by a notification.
  if (row >= ViewRows() || column >= columns.size()) return {};
  const TResultRow& r = CachedRow(row);
  const TFrameColumnKind kind = TResultFrameController::ColumnKind(columns[column].FieldName);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      if (r.IsGroup)
        return column == 0 ? ToQString(r.Texts.empty() ? std::string() : r.Texts[0]) : QVariant();
      if (kind == TFrameColumnKind::fckCheck) return {};
      if (columns[column].ProgressBar && role == Qt::DisplayRole) return {};
      return ToQString(Controller_ ? Controller_->CellText(r, column)
                                   : (column < r.Texts.size() ? r.Texts[column] : std::string()));
    case Qt::CheckStateRole:
      if (r.IsGroup || kind != TFrameColumnKind::fckCheck) return {};
      return r.Result && r.Result->Checked ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole:
      if (r.IsGroup) return {};
      if (kind == TFrameColumnKind::fckReviewButton)
        return QApplication::style()->standardIcon(QStyle::SP_FileDialogContentsView);
      if (kind == TFrameColumnKind::fckCompareButton)
        return QApplication::style()->standardIcon(QStyle::SP_FileDialogDetailedView);
      return {};
    case Qt::FontRole: {
      const TCellStyle style = Frame_->CellStyle(row, column);
      if (!style.Bold && !r.IsGroup) return {};
      QFont font;
      font.setBold(style.Bold || r.IsGroup);
      return font;
    }
    case Qt::ForegroundRole: {
      if (r.IsGroup) return {};
      const TCellStyle style = Frame_->CellStyle(row, column);
      if (style.Color.WindowText) return {};
      return QBrush(QColor(style.Color.Red, style.Color.Green, style.Color.Blue));
    }
    case Qt::TextAlignmentRole:
      switch (columns[column].Alignment) {
        case TAlignment::taRightJustify:
          return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
        case TAlignment::taCenter:
          return static_cast<int>(Qt::AlignCenter);
        default:
          return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
      }
    case GroupRowRole:
      return r.IsGroup;
    case ProgressRole:
      if (r.IsGroup || !columns[column].ProgressBar || column >= r.Positions.size()) return {};
      return static_cast<int>(r.Positions[column]);
    case ColumnKindRole:
      return static_cast<int>(kind);
    default:
      return {};
  }
}

QVariant TResultListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || !Frame_ || section < 0) return {};
  const auto& columns = Frame_->Columns();
  if (static_cast<size_t>(section) >= columns.size()) return {};
  if (role == Qt::DisplayRole) return ToQString(columns[static_cast<size_t>(section)].Caption);
  return {};
}

Qt::ItemFlags TResultListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace vandrel
