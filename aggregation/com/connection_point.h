// The one outgoing (event) interface of an event-source class. It lives
// inside its object and shares its reference count; sinks that Advise
// receive the events through IDispatch::Invoke.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "unique_com.h"

namespace quax::com {

class EventConnectionPoint final : public IConnectionPoint {
 public:
  EventConnectionPoint(IConnectionPointContainer& container, REFIID events) noexcept
      : container_(container), events_(events) {}

  // IUnknown: the container's count keeps the point alive.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return container_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return container_.Release(); }

  // IConnectionPoint
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** out) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override;

  // FindConnectionPoint of the container.
  HRESULT Find(REFIID iid, IConnectionPoint** out) noexcept;
  // EnumConnectionPoints of the container: an enumerator of this one point.
  HRESULT Enumerate(IEnumConnectionPoints** out) noexcept;

  // Raises ReadProgress(RecordsRead, RecordsMatched, TotalRecordsToRead,
  // CancelFlag) in every sink; a sink sets *cancel through the flag.
  void FireReadProgress(std::int32_t recordsRead, std::int32_t recordsMatched,
                        std::int32_t totalRecordsToRead, bool& cancel) noexcept;

 private:
  IConnectionPointContainer& container_;
  IID events_;
  DWORD nextCookie_ = 1;
  std::vector<std::pair<DWORD, unique_com<IDispatch>>> sinks_;
};

}  // namespace quax::com
