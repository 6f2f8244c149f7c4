#include "com/connection_point.h"

#include <olectl.h>

#include <new>

namespace quax::com {
namespace {

constexpr DISPID kReadProgressId = 1;

// Enumerates the one connection point of a container; holds a reference to
// it (and so to its container) while it lives.
class OnePointEnumerator final : public IEnumConnectionPoints {
 public:
  OnePointEnumerator(IConnectionPoint& point, ULONG position) noexcept : point_(&point), position_(position) {
    point.AddRef();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IEnumConnectionPoints)) return E_NOINTERFACE;
    *out = static_cast<IEnumConnectionPoints*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
    if (points == nullptr || (count != 1 && fetched == nullptr)) return E_POINTER;
    ULONG given = 0;
    if (count > 0 && position_ == 0) {
      point_.get()->AddRef();
      points[0] = point_.get();
      position_ = 1;
      given = 1;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    if (count == 0) return S_OK;
    const bool skipped = position_ == 0 && count == 1;
    position_ = 1;
    return skipped ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) OnePointEnumerator(*point_.get(), position_);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  unique_com<IConnectionPoint> point_;
  ULONG position_;
  ULONG references_ = 1;
};

}  // namespace

HRESULT EventConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint)) return E_NOINTERFACE;
  *out = static_cast<IConnectionPoint*>(this);
  AddRef();
  return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionInterface(IID* iid) {
  if (iid == nullptr) return E_POINTER;
  *iid = events_;
  return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (out == nullptr) return E_POINTER;
  container_.AddRef();
  *out = &container_;
  return S_OK;
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  if (sink == nullptr || cookie == nullptr) return E_POINTER;
  *cookie = 0;
  unique_com<IDispatch> events;
  if (FAILED(sink->QueryInterface(events_, reinterpret_cast<void**>(events.put()))) &&
      FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(events.put())))) {
    return CONNECT_E_CANNOTCONNECT;
  }
  try {
    sinks_.emplace_back(nextCookie_, std::move(events));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  *cookie = nextCookie_++;
  return S_OK;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) {
  for (auto it = sinks_.begin(); it != sinks_.end(); ++it) {
    if (it->first != cookie) continue;
    sinks_.erase(it);
    return S_OK;
  }
  return CONNECT_E_NOCONNECTION;
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** out) {
  if (out != nullptr) *out = nullptr;
  return E_NOTIMPL;
}

HRESULT EventConnectionPoint::Find(REFIID iid, IConnectionPoint** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualIID(iid, events_)) return CONNECT_E_NOCONNECTION;
  AddRef();
  *out = this;
  return S_OK;
}

HRESULT EventConnectionPoint::Enumerate(IEnumConnectionPoints** out) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = new (std::nothrow) OnePointEnumerator(*this, 0);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

void EventConnectionPoint::FireReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched,
                                            std::int32_t totalRecordsToRead, bool& cancel) noexcept {
  // A sink may unadvise while it handles the event: the calls go to the
  // sinks as they were when the event began.
  std::vector<IDispatch*> targets;
  try {
    targets.reserve(sinks_.size());
  } catch (...) {
    return;
  }
  for (const auto& sink : sinks_) {
    sink.second.get()->AddRef();
    targets.push_back(sink.second.get());
  }
  VARIANT_BOOL cancelFlag = cancel ? VARIANT_TRUE : VARIANT_FALSE;
  for (IDispatch* target : targets) {
    unique_com<IDispatch> owned(target);
    // Arguments go last first.
    VARIANT arguments[4];
    for (VARIANT& argument : arguments) VariantInit(&argument);
    V_VT(&arguments[0]) = VT_BYREF | VT_BOOL;
    V_BOOLREF(&arguments[0]) = &cancelFlag;
    V_VT(&arguments[1]) = VT_I4;
    V_I4(&arguments[1]) = totalRecordsToRead;
    V_VT(&arguments[2]) = VT_I4;
    V_I4(&arguments[2]) = recordsMatched;
    V_VT(&arguments[3]) = VT_I4;
    V_I4(&arguments[3]) = recordsRead;
    DISPPARAMS parameters {arguments, nullptr, 4, 0};
    owned.get()->Invoke(kReadProgressId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                        nullptr, nullptr, nullptr);
  }
  cancel = cancelFlag != VARIANT_FALSE;
}

}  // namespace quax::com
