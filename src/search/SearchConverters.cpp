#include "search/SearchConverters.h"

#include <exception>

#include "currency/CurrencyConverters.h"
#include "engines/SearchResults.h"
#include "engines/SearchType.h"
#include "engines/SearchTypeCompiler.h"
#include "engines/SearchTypeInstance.h"
#include "platform/Format.h"
#include "platform/TextUtils.h"
#include "search/ResultManager.h"
#include "storage/ResultStorage.h"
#include "storage/SearchStorage.h"
#include "storage/SearchTypeStorage.h"

namespace vandrel {
namespace {

// Runs `body`, giving any failure the converter's message.
template <class F>
void Guarded(const char* message, F&& body) {
  try {
    body();
  } catch (const ESearchConvertError&) {
    throw;
  } catch (const std::exception& e) {
    throw ESearchConvertError(Format(message, {std::string(e.what())}));
  }
}

TStorageFieldType FieldTypeOf(uint8_t dataType) {
  switch (dataType) {
    case dtBoolean:
      return TStorageFieldType::ftBoolean;
    case dtFloat:
      return TStorageFieldType::ftDouble;
    case dtInteger:
    case dtSmallInteger:
    case dtByte:
      return TStorageFieldType::ftInteger;
    case dtMoney:
      return TStorageFieldType::ftMoney;
    default:
      return TStorageFieldType::ftString;
  }
}

TAlignment AlignmentOf(uint8_t alignment) {
  switch (alignment) {
    case FA_RIGHT:
      return TAlignment::taRightJustify;
    case FA_CENTER:
      return TAlignment::taCenter;
    default:
      return TAlignment::taLeftJustify;
  }
}

void SetStoredField(TResultStorageFieldList& fields, const std::string& name, const TDynamicValue& value,
                    const std::string& displayValue) {
  TResultStorageFieldItem* field = fields.FindResultField(name);
  if (!field) {
    fields.AddResultField(name, value, displayValue);
    return;
  }
  field->SetValue(value);
  field->SetDisplayValue(displayValue);
}

}  // namespace

TDynamicValue StoredValueOf(const TBaseEvalItem& value, const std::string& defaultMoneyCode) {
  switch (value.DataType) {
    case dtBoolean:
      return TDynamicValue(value.AsBoolean());
    case dtInteger:
    case dtSmallInteger:
    case dtByte:
      return TDynamicValue(value.AsInteger());
    case dtFloat:
      return TDynamicValue(value.AsFloat());
    case dtMoney: {
      const std::string& code = !value.MoneyCode.empty()    ? value.MoneyCode
                                : !defaultMoneyCode.empty() ? defaultMoneyCode
                                                            : CurrencyConverter().AxisCode;
      return TDynamicValue(MoneyStringOfValue(value.Number, code, CurrencyConverter().AxisCode));
    }
    case dtUnknown:
      return value.Text.empty() ? TDynamicValue() : TDynamicValue(value.Text);
    default:
      return TDynamicValue(value.Text);
  }
}

void AssignStoredValue(TBaseEvalItem& dest, const TDynamicValue& value) {
  switch (dest.DataType) {
    case dtBoolean:
      dest.SetBoolean(value.AsBoolean());
      break;
    case dtInteger:
    case dtSmallInteger:
    case dtByte:
      dest.SetInteger(value.AsInteger());
      break;
    case dtFloat:
      dest.SetFloat(value.AsDouble());
      break;
    case dtMoney: {
      TCurrencyMap map;
      map.Parse(value.AsString(), CurrencyConverter().AxisCode);
      dest.SetMoneyCode(map.FromAmount.Code);
      dest.SetMoneyValue(map.FromAmount.Value);
      break;
    }
    default:
      dest.SetString(value.AsString());
      break;
  }
}

void Convert(TSearchTypeInstance& dest, const TSearchStorageItem& source) {
  Guarded("SearchStorageToSearchType error: %s", [&] {
    const TStorageFieldList& fields = *source.GetFields();
    for (size_t i = 0; i < fields.Count(); ++i) {
      const TStorageFieldItem* field = fields.Field(i);
      if (TSearchInputField* input = dest.InputFields.Find(field->Name))
        AssignStoredValue(*input, field->Value());
    }
    TSearchTypeReader* type = dest.SearchType();
    if (type && !source.View.empty() && type->FindView(source.View)) type->SelectView(source.View);
  });
}

void Convert(TSearchTypeStorageItem& dest, TSearchTypeInstance& source) {
  Guarded("SearchTypeToSearchTypeStorage error: %s", [&] {
    TSearchTypeReader* type = source.SearchType();
    if (!type) throw std::runtime_error("no search type");
    dest.DisplayName = source.LocalText(*type->DisplayNames);
    dest.SearchFrame = AsciiLowerCase(type->SearchFrame);
    dest.UniqueKey = type->CurrentView ? type->CurrentView->UniqueKey : std::string();
    dest.SortKeys.Clear();
    if (type->CurrentView)
      for (size_t i = 0; i < type->CurrentView->SortKeys->Count(); ++i) {
        const TSortKey& key = type->CurrentView->SortKeys->At(i);
        dest.SortKeys.AddKey(key.FieldName, key.Ascending ? TSortKeySortDirection::ksdAscending
                                                          : TSortKeySortDirection::ksdDescending);
      }
    dest.InputFieldDefinitions.Clear();
    for (size_t i = 0; i < type->InputFields->Count(); ++i) {
      const TBaseSearchInputField& field = type->InputFields->At(i);
      auto* def = dest.InputFieldDefinitions.AddInput(field.FieldName, FieldTypeOf(field.DataType));
      def->DisplayName = field.DisplayName();
      def->IsFormula = !field.Formula.empty();
      def->HighlightSource = field.HighlightSource;
    }
    dest.OutputFieldDefinitions.Clear();
    for (size_t i = 0; i < type->OutputFields->Count(); ++i) {
      const TBaseSearchOutputField& field = type->OutputFields->At(i);
      if (field.Temporary) continue;
      auto* def = dest.OutputFieldDefinitions.AddOutput(field.FieldName, FieldTypeOf(field.DataType));
      def->DisplayName = field.DisplayName();
      def->BoldIfNew = field.BoldIfNew;
      def->HighlightTarget = field.HighlightTarget;
      def->IsUrl = field.IsUrl;
      def->IsDomain = field.IsDomain;
      def->Layout.Alignment = AlignmentOf(field.Alignment);
      def->Layout.Width = field.Width;
      def->Layout.Sort = field.DefaultSortColumn;
      def->Layout.SortDirection = field.SortDescending ? TStorageLayoutSortDirection::sdDescending
                                                       : TStorageLayoutSortDirection::sdAscending;
      uint8_t flags = 0;
      if (field.DefaultGraphicalDisplay) flags |= lfGraphicalDisplay;
      if (field.Summary) flags |= lfSummary;
      if (field.Hidden) flags |= lfHidden;
      if (field.Internal) flags |= lfInternal;
      def->Layout.Flags = flags;
    }
  });
}

void Convert(TResultRecord& dest, const TResultStorageItem& source) {
  Guarded("ResultStorageToResultRecord error: %s", [&] {
    const TStorageFieldList& fields = *source.GetFields();
    for (size_t i = 0; i < fields.Count(); ++i) {
      const TStorageFieldItem* field = fields.Field(i);
      if (TResultField* target = dest.FindField(field->Name)) {
        AssignStoredValue(*target, field->Value());
        target->Invalidate();
      }
    }
  });
}

void Convert(TResultStorageItem& dest, TResultRecord& source) {
  Guarded("ResultRecordToResultStorage error: %s", [&] {
    TResultStorageFieldList& fields = *dest.ResultFields();
    for (size_t i = 0; i < source.FieldCount(); ++i) {
      TResultField& field = source.Field(i);
      auto* output = dynamic_cast<TBaseSearchOutputField*>(field.Definition.get());
      if (output && output->Temporary) continue;
      SetStoredField(fields, field.Name, StoredValueOf(field, source.MoneyCode), field.DisplayText());
    }
  });
}

void Convert(TResultStorageItem& dest, TMasterResult& source, const TEngineResultList& engines) {
  Guarded("MasterResultToResultStorage error: %s", [&] {
    if (!source.Representative) throw std::runtime_error("master without a record");
    Convert(dest, *source.Representative);
    dest.Occurences = static_cast<int32_t>(source.Occurrences());
    dest.FoundBy.Lines = source.FoundBy(engines);
  });
}

}  // namespace vandrel
