// quaxagg.CWinEventLog and quaxagg.CQuaxEventLog: the application event
// log for scripts, with the ReadProgress event through a connection point.
#include "com/connection_point.h"
#include "com/dispatch_object.h"
#include "com/event_records.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/variant_values.h"
#include "win32/win_event_log.h"

namespace quax::com {
namespace {

// The out-parameters of the read members: the list and its count.
void SetReadResults(VARIANT* listRet, VARIANT* listCntRet, const std::vector<WinEventLogRecord>& list,
                    std::int32_t count) {
  SetEventRecordList(const_cast<VARIANT*>(&Dereferenced(*listRet)), list);
  SetLong(const_cast<VARIANT*>(&Dereferenced(*listCntRet)), count);
}

// What both classes share: their log's message, machine name and pending
// strings, and the connection point of their ReadProgress event, which the
// log reports to.
template <class Derived, class Interface, class Log>
class EventLogObject : public DispatchObject<Derived, Interface, IConnectionPointContainer>,
                       protected ReadProgress {
 public:
  explicit EventLogObject(REFIID events) noexcept
      : point_(static_cast<IConnectionPointContainer&>(*this), events) {
    log_.SetReadProgressListener(this);
  }

  HRESULT STDMETHODCALLTYPE get_LastErrorMessage(BSTR* value) override {
    return this->Answer(value, [&] { SetBstr(value, log_.LastErrorMessage()); });
  }
  HRESULT STDMETHODCALLTYPE get_MachineName(BSTR* value) override {
    return this->Answer(value, [&] { SetBstr(value, log_.MachineName()); });
  }
  HRESULT STDMETHODCALLTYPE put_MachineName(BSTR value) override {
    return this->Run([&] { log_.SetMachineName(AnsiFromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE AddString(BSTR value) override {
    return this->Run([&] { log_.AddString(AnsiFromBstr(value)); });
  }

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return point_.Enumerate(out);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return point_.Find(iid, out);
  }

 protected:
  void OnReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched, std::int32_t totalRecordsToRead,
                      bool& cancelFlag) override {
    point_.FireReadProgress(recordsRead, recordsMatched, totalRecordsToRead, cancelFlag);
  }

  template <class Read>
  HRESULT ReadInto(VARIANT* listRet, VARIANT* listCntRet, VARIANT_BOOL* result, Read read) noexcept {
    if (listRet == nullptr || listCntRet == nullptr) return E_POINTER;
    return this->Answer(result, [&] {
      std::vector<WinEventLogRecord> list;
      std::int32_t count = 0;
      const bool succeeded = read(list, count);
      SetReadResults(listRet, listCntRet, list, count);
      *result = ToVariantBool(succeeded);
    });
  }

  Log log_;

 private:
  EventConnectionPoint point_;
};

class WinEventLogObject final : public EventLogObject<WinEventLogObject, _CWinEventLog, CWinEventLog> {
 public:
  static constexpr const char* kProgId = "quaxagg.CWinEventLog";
  static const CLSID& ClassId() noexcept { return CLSID_CWinEventLog; }

  WinEventLogObject() noexcept : EventLogObject(DIID___CWinEventLog) {}

  HRESULT STDMETHODCALLTYPE get_ApplicationName(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, log_.ApplicationName()); });
  }
  HRESULT STDMETHODCALLTYPE put_ApplicationName(BSTR value) override {
    return Run([&] { log_.SetApplicationName(AnsiFromBstr(value)); });
  }
  HRESULT STDMETHODCALLTYPE get_EventMessageFile(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, log_.EventMessageFile()); });
  }
  HRESULT STDMETHODCALLTYPE ClearStrings() override {
    return Run([&] { log_.ClearStrings(); });
  }
  HRESULT STDMETHODCALLTYPE LogStrings(LONG eventCategory, ::WinEventLogTypes eventType, LONG eventID,
                                       VARIANT_BOOL* result) override {
    return Answer(result, [&] {
      *result = ToVariantBool(log_.LogStrings(eventCategory, static_cast<quax::WinEventLogTypes>(eventType), eventID));
    });
  }
  HRESULT STDMETHODCALLTYPE LogEvent(BSTR msg, LONG eventCategory, ::WinEventLogTypes eventType, LONG eventID,
                                     VARIANT_BOOL* result) override {
    return Answer(result, [&] {
      *result = ToVariantBool(
          log_.LogEvent(AnsiFromBstr(msg), eventCategory, static_cast<quax::WinEventLogTypes>(eventType), eventID));
    });
  }
  HRESULT STDMETHODCALLTYPE ReadEvents(LONG category, LONG eventType, LONG eventID, VARIANT_BOOL reverseOrder,
                                       DATE oldestDate, VARIANT* listRet, VARIANT* listCntRet,
                                       VARIANT_BOOL* result) override {
    return ReadInto(listRet, listCntRet, result, [&](std::vector<WinEventLogRecord>& list, std::int32_t& count) {
      return log_.ReadEvents(category, eventType, eventID, reverseOrder != VARIANT_FALSE, oldestDate, list, count);
    });
  }
  HRESULT STDMETHODCALLTYPE RegisterCategoryMessageFile(BSTR categoryFile, LONG categoryCnt, VARIANT* result) override {
    return Answer(result, [&] { SetBool(result, log_.RegisterCategoryMessageFile(AnsiFromBstr(categoryFile), categoryCnt)); });
  }
  HRESULT STDMETHODCALLTYPE RegisterEventMessageFile(BSTR eventMessageFile, LONG typesSupported,
                                                     VARIANT* result) override {
    return Answer(result, [&] {
      SetBool(result, log_.RegisterEventMessageFile(AnsiFromBstr(eventMessageFile), typesSupported));
    });
  }
};

class QuaxEventLogObject final : public EventLogObject<QuaxEventLogObject, _CQuaxEventLog, CQuaxEventLog> {
 public:
  static constexpr const char* kProgId = "quaxagg.CQuaxEventLog";
  static const CLSID& ClassId() noexcept { return CLSID_CQuaxEventLog; }

  QuaxEventLogObject() noexcept : EventLogObject(DIID___CQuaxEventLog) {}

  HRESULT STDMETHODCALLTYPE get_MessageFilePath(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, log_.MessageFilePath()); });
  }
  HRESULT STDMETHODCALLTYPE Clear() override {
    return Run([&] { log_.Clear(); });
  }
  HRESULT STDMETHODCALLTYPE WriteInformationEvent(LONG eventCategory, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(log_.WriteInformationEvent(eventCategory)); });
  }
  HRESULT STDMETHODCALLTYPE WriteWarningEvent(LONG eventCategory, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(log_.WriteWarningEvent(eventCategory)); });
  }
  HRESULT STDMETHODCALLTYPE WriteErrorEvent(LONG eventCategory, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(log_.WriteErrorEvent(eventCategory)); });
  }
  HRESULT STDMETHODCALLTYPE ReadInformationEvents(LONG category, VARIANT_BOOL reverseOrder, DATE oldestDate,
                                                  VARIANT* listRet, VARIANT* listCntRet, VARIANT_BOOL* result) override {
    return Read(&CQuaxEventLog::ReadInformationEvents, category, reverseOrder, oldestDate, listRet, listCntRet, result);
  }
  HRESULT STDMETHODCALLTYPE ReadWarningEvents(LONG category, VARIANT_BOOL reverseOrder, DATE oldestDate,
                                              VARIANT* listRet, VARIANT* listCntRet, VARIANT_BOOL* result) override {
    return Read(&CQuaxEventLog::ReadWarningEvents, category, reverseOrder, oldestDate, listRet, listCntRet, result);
  }
  HRESULT STDMETHODCALLTYPE ReadErrorEvents(LONG category, VARIANT_BOOL reverseOrder, DATE oldestDate,
                                            VARIANT* listRet, VARIANT* listCntRet, VARIANT_BOOL* result) override {
    return Read(&CQuaxEventLog::ReadErrorEvents, category, reverseOrder, oldestDate, listRet, listCntRet, result);
  }
  HRESULT STDMETHODCALLTYPE ReadAllEvents(LONG category, VARIANT_BOOL reverseOrder, DATE oldestDate,
                                          VARIANT* listRet, VARIANT* listCntRet, VARIANT_BOOL* result) override {
    return Read(&CQuaxEventLog::ReadAllEvents, category, reverseOrder, oldestDate, listRet, listCntRet, result);
  }
  HRESULT STDMETHODCALLTYPE RegisterMessageFiles(BSTR msgFilePath, VARIANT_BOOL* result) override {
    return Answer(result, [&] { *result = ToVariantBool(log_.RegisterMessageFiles(AnsiFromBstr(msgFilePath))); });
  }

 private:
  using ReadMember = bool (CQuaxEventLog::*)(std::int32_t, bool, double, std::vector<WinEventLogRecord>&,
                                             std::int32_t&);
  HRESULT Read(ReadMember member, LONG category, VARIANT_BOOL reverseOrder, DATE oldestDate, VARIANT* listRet,
               VARIANT* listCntRet, VARIANT_BOOL* result) noexcept {
    return ReadInto(listRet, listCntRet, result, [&](std::vector<WinEventLogRecord>& list, std::int32_t& count) {
      return (log_.*member)(category, reverseOrder != VARIANT_FALSE, oldestDate, list, count);
    });
  }
};

}  // namespace

const ServerClass kWinEventLogClass {CLSID_CWinEventLog, WinEventLogObject::kProgId, "QUAX event log access",
                                     &WinEventLogObject::Create};
const ServerClass kQuaxEventLogClass {CLSID_CQuaxEventLog, QuaxEventLogObject::kProgId,
                                      "QUAX events of the QUAX source", &QuaxEventLogObject::Create};

}  // namespace quax::com
