// The result list as a Qt item model: flat rows mirroring the result view's grouped row mapping, kept in
// step with row insert, remove and move signals so that selection and scrolling survive a streaming search.
#pragma once

#include <QAbstractItemModel>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "presentation/ResultFrameController.h"

namespace vandrel {

class TResultListModel : public QAbstractItemModel, public IResultListWidget {
  Q_OBJECT

 public:
  // Extra roles of the model's cells.
  enum TRole {
    GroupRowRole = Qt::UserRole + 1,  // bool: a group header row
    ProgressRole,                     // int: the progress-bar position, or no value
    ColumnKindRole,                   // int: TFrameColumnKind
  };

  explicit TResultListModel(QObject* parent = nullptr);
  // The result view the rows mirror and, when it belongs to a page, that page (its own columns' texts);
  // neither owned. Null detaches.
  void SetViewFrame(TResultViewFrame* frame, TResultFrameController* controller = nullptr);
  void SetController(TResultFrameController* controller) {
    SetViewFrame(controller ? &controller->View() : nullptr, controller);
  }

  // Called by the result view: the rows are brought in line once the current notification is done.
  void SetRowCount(size_t rows) override;
  void RedrawAll() override;
  void RedrawRow(size_t row) override;
  void ScrollIntoView(size_t row) override;
  void SetBusy(bool busy) override;
  std::function<void(size_t row)> OnScrollTo;
  std::function<void(bool busy)> OnBusy;

  // Brings the rows in line with the view now. Main thread only.
  void Sync();
  bool SyncPending() const { return Posted_; }
  // How often the model was reset: only when the columns change (another search), never while streaming.
  size_t Resets() const { return Resets_; }
  // A row's identity: a result's record key, which survives a reload of the list, or its group. 0: none.
  uint64_t RowKey(size_t row) const { return row < Keys_.size() ? Keys_[row] : 0; }
  static uint64_t ResultKey(const TStorageDataItem& item) {
    return kResultKeyBit | static_cast<uint32_t>(item.Index());
  }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void Post();
  static constexpr uint64_t kResultKeyBit = uint64_t{1} << 63;  // group keys are addresses, below it
  std::vector<uint64_t> CurrentKeys() const;
  std::vector<std::string> CurrentCaptions() const;
  void Insert(size_t at, const std::vector<uint64_t>& keys);
  void Remove(size_t first, size_t last);
  void Move(size_t from, size_t to);
  void Reorder(size_t begin, const std::vector<uint64_t>& target);
  const TResultRow& CachedRow(size_t row) const;

  TResultViewFrame* Frame_ = nullptr;
  TResultFrameController* Controller_ = nullptr;  // may be null: plain field texts
  std::vector<uint64_t> Keys_;                    // one per row; never turned back into a pointer
  std::vector<std::string> Captions_;             // the header as last shown
  bool Posted_ = false;
  bool AllChanged_ = false;
  std::vector<uint64_t> Changed_;  // rows to redraw, by identity
  size_t Resets_ = 0;
  mutable std::optional<std::pair<size_t, TResultRow>> Cache_;  // the last row read
  // The view's row count, kept like the row cache: a grouped view counts its groups on every call, and the
  // list asks for each role of each cell it paints.
  size_t ViewRows() const;
  mutable std::optional<size_t> ViewRows_;
};

}  // namespace vandrel
