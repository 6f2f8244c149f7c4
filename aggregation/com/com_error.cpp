#include "com/com_error.h"

#include <new>

#include "com/variant_values.h"
#include "unique_com.h"

namespace quax::com {

void ThrowTypeMismatch(const std::string& message) { throw ComError(DISP_E_TYPEMISMATCH, message); }

HRESULT ReportError(HRESULT result, std::string_view progId, REFIID iid,
                    std::string_view description) noexcept {
  try {
    unique_com<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.put()))) return result;
    create.get()->SetGUID(iid);
    create.get()->SetSource(BstrFromAnsi(progId).get());
    create.get()->SetDescription(BstrFromAnsi(description).get());
    unique_com<IErrorInfo> info;
    if (SUCCEEDED(create.get()->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.put())))) {
      SetErrorInfo(0, info.get());
    }
  } catch (...) {
    // Out of memory for the texts: the HRESULT alone reaches the caller.
  }
  return result;
}

HRESULT ReportCurrentException(std::string_view progId, REFIID iid) noexcept {
  try {
    throw;
  } catch (const ComError& error) {
    return ReportError(error.Result(), progId, iid, error.what());
  } catch (const agg::DecimalTypeMismatch& error) {
    return ReportError(DISP_E_TYPEMISMATCH, progId, iid, error.what());
  } catch (const agg::DecimalOverflow& error) {
    return ReportError(DISP_E_OVERFLOW, progId, iid, error.what());
  } catch (const agg::DecimalDivideByZero& error) {
    return ReportError(DISP_E_DIVBYZERO, progId, iid, error.what());
  } catch (const std::bad_alloc&) {
    return ReportError(E_OUTOFMEMORY, progId, iid, "Out of memory");
  } catch (const std::exception& error) {
    return ReportError(E_FAIL, progId, iid, error.what());
  } catch (...) {
    return ReportError(E_UNEXPECTED, progId, iid, "Unexpected error");
  }
}

}  // namespace quax::com
