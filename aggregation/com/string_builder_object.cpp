// quaxagg.CStringBuilder: single-byte text with CSV splitting and parsing.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "com/dispatch_object.h"
#include "com/interfaces.h"
#include "com/server_classes.h"
#include "com/value_list.h"
#include "com/variant_values.h"
#include "record/string_builder.h"

namespace quax::com {
class StringBuilderObject;
}

// Answered only by this server's builders: CSVSplit recognises the builders
// it may reuse by it.
struct IStringBuilderIdentity : public IUnknown {};
__CRT_UUID_DECL(IStringBuilderIdentity, 0x45bfa4bf, 0x3e68, 0x4365, 0xbd, 0xce, 0xdf, 0xf0, 0x6d, 0xa1, 0xe5, 0x78)

namespace quax::com {
namespace {

// The builder behind an array element, when it is one of ours (with a
// reference the caller owns).
StringBuilderObject* OwnBuilder(const VARIANT& element) noexcept;

}  // namespace

class StringBuilderObject final
    : public DispatchObject<StringBuilderObject, _CStringBuilder, IStringBuilderIdentity> {
 public:
  static constexpr const char* kProgId = "quaxagg.CStringBuilder";
  static const CLSID& ClassId() noexcept { return CLSID_CStringBuilder; }

  agg::CStringBuilder& Builder() noexcept { return builder_; }

  HRESULT STDMETHODCALLTYPE get_HashValue(LONG* value) override {
    return Answer(value, [&] { *value = builder_.HashValue(); });
  }
  HRESULT STDMETHODCALLTYPE get_Length(LONG* value) override {
    return Answer(value, [&] { *value = builder_.Length(); });
  }
  HRESULT STDMETHODCALLTYPE put_Length(LONG newLength) override {
    return Run([&] { builder_.SetLength(newLength); });
  }
  HRESULT STDMETHODCALLTYPE get_Value(BSTR* value) override {
    return Answer(value, [&] { SetBstr(value, builder_.View()); });
  }
  HRESULT STDMETHODCALLTYPE put_Value(BSTR newValue) override {
    return Run([&] { builder_.SetValue(AnsiFromBstr(newValue)); });
  }
  HRESULT STDMETHODCALLTYPE Append(VARIANT* arg) override {
    if (arg == nullptr) return E_POINTER;
    return Run([&] { builder_.Append(ToText(*arg)); });
  }
  HRESULT STDMETHODCALLTYPE AppendString(BSTR arg) override {
    return Run([&] { builder_.AppendString(AnsiFromBstr(arg)); });
  }
  HRESULT STDMETHODCALLTYPE Clear() override {
    return Run([&] { builder_.Clear(); });
  }
  HRESULT STDMETHODCALLTYPE CSVSplit(VARIANT* fields) override {
    if (fields == nullptr) return E_POINTER;
    return Run([&] { Split(*fields); });
  }
  HRESULT STDMETHODCALLTYPE GetDate(DATE* result) override {
    return Answer(result, [&] { *result = builder_.GetDate(); });
  }
  HRESULT STDMETHODCALLTYPE GetDecimal(VARIANT* result) override {
    return Answer(result, [&] { SetDecimal(result, builder_.GetDecimal()); });
  }
  HRESULT STDMETHODCALLTYPE GetDouble(double* result) override {
    return Answer(result, [&] { *result = builder_.GetDouble(); });
  }
  HRESULT STDMETHODCALLTYPE GetLongFromRange(LONG startOffset, LONG length, LONG* result) override {
    return Answer(result, [&] { *result = builder_.GetLongFromRange(startOffset, length); });
  }
  HRESULT STDMETHODCALLTYPE GetLong(LONG* result) override {
    return Answer(result, [&] { *result = builder_.GetLong(); });
  }
  HRESULT STDMETHODCALLTYPE SetFromByteBuffer(VARIANT* buffer, LONG bufferOffset, LONG bufferLen) override {
    if (buffer == nullptr) return E_POINTER;
    return Run([&] { CopyFromBytes(*buffer, bufferOffset, bufferLen); });
  }
  HRESULT STDMETHODCALLTYPE SetBufferSize(LONG newSize, VARIANT_BOOL clearContents) override {
    return Run([&] { builder_.SetBufferSize(newSize, clearContents != VARIANT_FALSE); });
  }

 private:
  // The fields go into builders at indices 0 to count - 1 of a fresh array
  // that replaces the caller's; builders of ours already in the caller's
  // array at those indices are reused.
  void Split(VARIANT& fields) {
    builder_.CSVSplit(scratch_);
    VARIANT& target = const_cast<VARIANT&>(Dereferenced(fields));
    const ULONG count = static_cast<ULONG>(scratch_.size());
    unique_safearray array(SafeArrayCreateVector(VT_VARIANT, 0, count));
    if (!array) throw std::bad_alloc();
    {
      SAFEARRAY* old = ArrayOf(target);
      const ArrayShape oldShape = ShapeOf(old);
      const safearray_lock oldLock =
          oldShape.Dimensions == 1 && oldShape.ElementType == VT_VARIANT ? LockSafeArray(old) : safearray_lock();
      const safearray_lock lock = LockSafeArray(array.get());
      auto* elements = static_cast<VARIANT*>(array.get()->pvData);
      std::vector<StringBuilderObject*> reused;
      for (ULONG k = 0; k < count; ++k) {
        const LONG at = static_cast<LONG>(k) - oldShape.LowerBound[0];
        StringBuilderObject* builder = nullptr;
        if (oldLock && at >= 0 && at < oldShape.Count[0]) {
          builder = OwnBuilder(static_cast<const VARIANT*>(old->pvData)[at]);
        }
        if (builder != nullptr && std::find(reused.begin(), reused.end(), builder) != reused.end()) {
          builder->Release();  // the same builder twice: the second place gets a new one
          builder = nullptr;
        }
        if (builder == nullptr) builder = NewBuilder();
        reused.push_back(builder);
        builder->Builder() = scratch_[k];
        V_VT(&elements[k]) = VT_DISPATCH;
        V_DISPATCH(&elements[k]) = static_cast<_CStringBuilder*>(builder);
      }
    }
    VariantClear(&target);
    V_VT(&target) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&target) = array.release();
  }

  static StringBuilderObject* NewBuilder() {
    void* created = nullptr;
    const HRESULT hr = Create(__uuidof(::IStringBuilderIdentity), &created);
    if (FAILED(hr)) throw ComError(hr, "Unable to create a string builder.");
    return static_cast<StringBuilderObject*>(static_cast<IStringBuilderIdentity*>(created));
  }

  void CopyFromBytes(const VARIANT& buffer, LONG offset, LONG length) {
    const ValueList bytes = ValueList::Of(buffer, "buffer");
    if (bytes.ElementType() != VT_UI1) ThrowTypeMismatch("Type mismatch: the buffer is not an array of bytes.");
    // An offset below the array's first index (or beyond any) is refused by
    // the builder as out of range.
    const std::int64_t position = std::int64_t {offset} - bytes.LowerBound();
    builder_.SetFromByteBuffer(static_cast<const char*>(bytes.Data()), bytes.Count(),
                               static_cast<std::int32_t>(std::clamp<std::int64_t>(position, -1, INT32_MAX)),
                               length);
  }

  agg::CStringBuilder builder_;
  std::vector<agg::CStringBuilder> scratch_;
};

namespace {

StringBuilderObject* OwnBuilder(const VARIANT& element) noexcept {
  const VARIANT& v = Dereferenced(element);
  if (V_VT(&v) != VT_DISPATCH && V_VT(&v) != VT_UNKNOWN) return nullptr;
  IUnknown* unknown = V_UNKNOWN(&v);
  if (unknown == nullptr) return nullptr;
  IStringBuilderIdentity* identity = nullptr;
  if (FAILED(unknown->QueryInterface(__uuidof(::IStringBuilderIdentity), reinterpret_cast<void**>(&identity)))) {
    return nullptr;
  }
  return static_cast<StringBuilderObject*>(identity);
}

}  // namespace

const ServerClass kStringBuilderClass {CLSID_CStringBuilder, StringBuilderObject::kProgId,
                                       "QUAX string builder", &StringBuilderObject::Create};

}  // namespace quax::com
