#include "actions/QuorinOperations.h"

#include "storage/PropertyStream.h"

namespace vandrel {

const TClassInfo& TStreamableIntegerList::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TStreamableIntegerList>("TStreamableIntegerList", TPersistent::StaticClass()).Build();
  return info;
}

void TStreamableIntegerList::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Items",
      [this](TPropertyReader& reader) {
        Items.clear();
        reader.ReadListBegin();
        while (!reader.EndOfList()) Items.push_back(static_cast<int32_t>(reader.ReadInteger()));
        reader.ReadListEnd();
      },
      [this](TPropertyWriter& writer) {
        writer.WriteListBegin();
        for (int32_t item : Items) writer.WriteInteger(item);
        writer.WriteListEnd();
      },
      !Items.empty());
}

const TClassInfo& TQuorinOperation::StaticClass() {
  static const TClassInfo info =
      TClassBuilder<TQuorinOperation>("TQuorinOperation", TPersistentEx::StaticClass())
          .String("Folder", &TQuorinOperation::Folder)
          .Integer("SrhNum", &TQuorinOperation::SrhNum, -1)
          .Object("ResNums", &TQuorinOperation::ResNums)
          .Build();
  return info;
}

void TQuorinOperationQueue::Push(std::unique_ptr<TQuorinOperation> operation) {
  if (operation) items_.push_back(std::move(operation));
}

std::unique_ptr<TQuorinOperation> TQuorinOperationQueue::Pop() {
  if (items_.empty()) return nullptr;
  auto first = std::move(items_.front());
  items_.pop_front();
  return first;
}

}  // namespace vandrel
