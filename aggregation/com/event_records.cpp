#include "com/event_records.h"

#include <new>

#include "com/variant_values.h"
#include "unique_com.h"

namespace quax::com {
namespace {

unique_safearray NewVector(VARTYPE type, LONG lowerBound, std::size_t count) {
  unique_safearray array(SafeArrayCreateVector(type, lowerBound, static_cast<ULONG>(count)));
  if (!array) throw std::bad_alloc();
  return array;
}

void SetShort(VARIANT* out, std::int16_t value) noexcept {
  V_VT(out) = VT_I2;
  V_I2(out) = value;
}

void SetArray(VARIANT* out, VARTYPE elementType, unique_safearray array) noexcept {
  V_VT(out) = static_cast<VARTYPE>(VT_ARRAY | elementType);
  V_ARRAY(out) = array.release();
}

void FillRecord(VARIANT* fields, const WinEventLogRecord& record) {
  SetLong(&fields[0], record.RecordNumber);
  SetDate(&fields[1], record.TimeGenerated);
  SetDate(&fields[2], record.TimeWritten);
  SetLong(&fields[3], record.EventID);
  SetShort(&fields[4], record.EventType);
  SetShort(&fields[5], record.NumStrings);
  SetShort(&fields[6], record.EventCategory);
  unique_safearray strings = NewVector(VT_BSTR, 1, record.StringList.size());
  {
    const safearray_lock lock = LockSafeArray(strings.get());
    auto* texts = static_cast<BSTR*>(strings.get()->pvData);
    for (std::size_t k = 0; k < record.StringList.size(); ++k) {
      texts[k] = BstrFromAnsi(record.StringList[k]).release();
    }
  }
  SetArray(&fields[7], VT_BSTR, std::move(strings));
}

}  // namespace

void SetEventRecordList(VARIANT* out, const std::vector<WinEventLogRecord>& records) {
  unique_safearray list = NewVector(VT_VARIANT, 1, records.size());
  {
    const safearray_lock lock = LockSafeArray(list.get());
    auto* elements = static_cast<VARIANT*>(list.get()->pvData);
    for (std::size_t k = 0; k < records.size(); ++k) {
      unique_safearray fields = NewVector(VT_VARIANT, 0, kEventRecordFieldCount);
      {
        const safearray_lock fieldsLock = LockSafeArray(fields.get());
        FillRecord(static_cast<VARIANT*>(fields.get()->pvData), records[k]);
      }
      SetArray(&elements[k], VT_VARIANT, std::move(fields));
    }
  }
  VariantClear(out);
  SetArray(out, VT_VARIANT, std::move(list));
}

}  // namespace quax::com
