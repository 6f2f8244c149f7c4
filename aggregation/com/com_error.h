// Errors across the COM boundary. Inside the server, errors that reach the
// caller are thrown (agg::Error and its kinds, ComError for the COM layer's
// own); every COM method runs its body through Guarded, which turns the
// exception into a failure HRESULT and the thread's error object (source =
// the class's ProgID, description = the message). No exception leaves a COM
// method.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

#include "record/agg_error.h"

namespace quax::com {

class ComError : public agg::Error {
 public:
  ComError(HRESULT result, const std::string& message) : agg::Error(message), result_(result) {}
  HRESULT Result() const noexcept { return result_; }

 private:
  HRESULT result_;
};

// A value that cannot be converted to the type a member needs.
[[noreturn]] void ThrowTypeMismatch(const std::string& message);

// Sets the thread's error object and returns `result`.
HRESULT ReportError(HRESULT result, std::string_view progId, REFIID iid,
                    std::string_view description) noexcept;

// The HRESULT and error object of the exception being handled.
HRESULT ReportCurrentException(std::string_view progId, REFIID iid) noexcept;

template <class Body>
HRESULT Guarded(std::string_view progId, REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (...) {
    return ReportCurrentException(progId, iid);
  }
}

}  // namespace quax::com
