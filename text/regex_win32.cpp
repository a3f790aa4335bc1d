// RegexEngine over the scripting class "VBScript.RegExp", reached through COM
// automation: every member is looked up by name at the time of the call, so a
// member the object lacks fails like any other call, quietly.
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <limits>
#include <utility>

#include "text/regex.h"

namespace taviro {
namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "automation strings are UTF-16");

// One counted reference to a COM object.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {}  // takes over a reference
  ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = std::exchange(other.p_, nullptr);
    }
    return *this;
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { Reset(); }

  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T* operator->() const { return p_; }

 private:
  T* p_ = nullptr;
};
using Dispatch = ComRef<IDispatch>;

class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  static Variant Bool(bool b) {
    Variant v;
    V_VT(&v.v_) = VT_BOOL;
    V_BOOL(&v.v_) = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  static Variant Real(double d) {
    Variant v;
    V_VT(&v.v_) = VT_R8;
    V_R8(&v.v_) = d;
    return v;
  }
  static Variant Int(LONG i) {
    Variant v;
    V_VT(&v.v_) = VT_I4;
    V_I4(&v.v_) = i;
    return v;
  }
  // An empty BSTR when memory runs out; the call then sees an empty text.
  static Variant String(const std::u16string& s) {
    Variant v;
    V_VT(&v.v_) = VT_BSTR;
    V_BSTR(&v.v_) = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()),
                                      static_cast<UINT>(s.size()));
    return v;
  }
  Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

  VARIANT* get() { return &v_; }

  // The value as an object; none for anything else.
  Dispatch AsObject() const {
    if ((V_VT(&v_) != VT_DISPATCH && V_VT(&v_) != VT_UNKNOWN) || V_UNKNOWN(&v_) == nullptr)
      return Dispatch();
    IDispatch* d = nullptr;
    if (FAILED(V_UNKNOWN(&v_)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d))))
      return Dispatch();
    return Dispatch(d);
  }
  // The value converted to text; an empty value (a group that took no part)
  // and anything that does not convert give the empty text.
  std::u16string AsString() const {
    VARIANT converted;
    VariantInit(&converted);
    std::u16string s;
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_BSTR)) &&
        V_BSTR(&converted) != nullptr)
      s.assign(reinterpret_cast<const char16_t*>(V_BSTR(&converted)),
               SysStringLen(V_BSTR(&converted)));
    VariantClear(&converted);
    return s;
  }
  // Numbers arrive as reals and are truncated.
  int32_t AsInt() const {
    VARIANT converted;
    VariantInit(&converted);
    int32_t n = 0;
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_R8))) {
      const double d = V_R8(&converted);
      if (d >= std::numeric_limits<int32_t>::min() && d <= std::numeric_limits<int32_t>::max())
        n = static_cast<int32_t>(d);
    }
    VariantClear(&converted);
    return n;
  }
  bool AsBool() const {
    VARIANT converted;
    VariantInit(&converted);
    bool b = false;
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&v_), 0, VT_BOOL)))
      b = V_BOOL(&converted) != VARIANT_FALSE;
    VariantClear(&converted);
    return b;
  }

 private:
  VARIANT v_;
};

// Calls member name of object with up to two arguments (in their natural
// order) by name.
HRESULT Invoke(IDispatch* object, const wchar_t* name, WORD kind, Variant* args, UINT argCount,
               Variant* result) {
  if (object == nullptr) return E_POINTER;
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  VARIANT reversed[2];  // automation takes the arguments last first
  for (UINT i = 0; i < argCount; ++i) reversed[i] = *args[argCount - 1 - i].get();
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS params = {argCount ? reversed : nullptr, nullptr, argCount, 0};
  if (kind == DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &putId;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception = {};
  UINT argError = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                      result ? result->get() : nullptr, &exception, &argError);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

bool Put(IDispatch* object, const wchar_t* name, Variant value) {
  return SUCCEEDED(Invoke(object, name, DISPATCH_PROPERTYPUT, &value, 1, nullptr));
}

bool Get(IDispatch* object, const wchar_t* name, Variant& result) {
  return SUCCEEDED(Invoke(object, name, DISPATCH_PROPERTYGET, nullptr, 0, &result));
}

// Item(index) of a collection, a property with an argument.
bool Item(IDispatch* collection, Variant index, Variant& result) {
  return SUCCEEDED(
      Invoke(collection, L"Item", DISPATCH_PROPERTYGET | DISPATCH_METHOD, &index, 1, &result));
}

Dispatch ItemObject(IDispatch* collection, Variant index) {
  Variant result;
  return Item(collection, std::move(index), result) ? result.AsObject() : Dispatch();
}

Dispatch CreateRegExp() {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"VBScript.RegExp", &clsid))) return Dispatch();
  IUnknown* unknown = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(&unknown));
  if (hr == E_INVALIDARG)
    hr = CoCreateInstance(clsid, nullptr,
                          CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                          IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(hr) || unknown == nullptr) return Dispatch();
  ComRef<IUnknown> object(unknown);
  if (FAILED(OleRun(object.get()))) return Dispatch();
  IDispatch* dispatch = nullptr;
  if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    return Dispatch();
  return Dispatch(dispatch);
}

class ComEngine final : public RegexEngine {
 public:
  ComEngine() : comInitialised_(SUCCEEDED(CoInitialize(nullptr))) {}
  ~ComEngine() override {
    matches_.Reset();
    instance_.Reset();
    // Only a successful CoInitialize is paired, so a thread whose apartment
    // was already of another kind is left as it was.
    if (comInitialised_) CoUninitialize();
  }
  ComEngine(const ComEngine&) = delete;
  ComEngine& operator=(const ComEngine&) = delete;

  bool Run(const std::u16string& pattern, std::u16string text, bool ignoreCase, bool multiline,
           bool global) override {
    matches_.Reset();
    instance_.Reset();
    instance_ = CreateRegExp();
    IDispatch* regexp = instance_.get();  // calls on a missing instance fail below
    Put(regexp, L"IgnoreCase", Variant::Bool(ignoreCase));
    Put(regexp, L"Multiline", Variant::Bool(multiline));
    Put(regexp, L"Singleline", Variant::Bool(true));  // no such member: fails, by design
    Put(regexp, L"Global", Variant::Bool(global));
    Put(regexp, L"Pattern", Variant::String(pattern));
    Variant subject = Variant::String(text);
    Variant result;
    if (SUCCEEDED(Invoke(regexp, L"Execute", DISPATCH_METHOD, &subject, 1, &result)))
      matches_ = result.AsObject();
    return static_cast<bool>(matches_);
  }

  bool Pattern(std::u16string& pattern) const override {
    Variant value;
    if (!Get(instance_.get(), L"Pattern", value)) return false;
    pattern = value.AsString();
    return true;
  }

  bool IgnoreCase() const override {
    Variant value;
    return Get(instance_.get(), L"IgnoreCase", value) && value.AsBool();
  }

  bool Replace(const std::u16string& text, const std::u16string& replacement,
               std::u16string& result) const override {
    Variant args[2] = {Variant::String(text), Variant::String(replacement)};
    Variant value;
    if (FAILED(Invoke(instance_.get(), L"Replace", DISPATCH_METHOD, args, 2, &value)))
      return false;
    result = value.AsString();
    return true;
  }

  int32_t MatchCount() const override {
    Variant count;
    return Get(matches_.get(), L"Count", count) ? count.AsInt() : 0;
  }

  bool Match(int32_t index, std::u16string& value, int32_t* firstIndex) const override {
    Dispatch match = ItemObject(matches_.get(), Variant::Real(index));
    Variant v;
    if (!Get(match.get(), L"Value", v)) return false;
    value = v.AsString();
    if (firstIndex) *firstIndex = FirstIndex(match.get());
    return true;
  }

  bool Submatch(int32_t index, int32_t group, std::u16string& value,
                int32_t* firstIndex) const override {
    Dispatch match = ItemObject(matches_.get(), Variant::Real(index));
    Variant groups;
    if (!Get(match.get(), L"SubMatches", groups)) return false;
    Variant v;
    if (!Item(groups.AsObject().get(), Variant::Real(group), v)) return false;
    value = v.AsString();
    if (firstIndex) *firstIndex = FirstIndex(match.get());
    return true;
  }

  int32_t SubmatchCount() const override {
    Dispatch match = ItemObject(matches_.get(), Variant::Int(0));
    Variant groups;
    if (!Get(match.get(), L"SubMatches", groups)) return 0;
    Variant count;
    return Get(groups.AsObject().get(), L"Count", count) ? count.AsInt() : 0;
  }

 private:
  static int32_t FirstIndex(IDispatch* match) {
    Variant v;
    return Get(match, L"FirstIndex", v) ? v.AsInt() : 0;
  }

  bool comInitialised_;
  Dispatch instance_;
  Dispatch matches_;
};

}  // namespace

std::unique_ptr<RegexEngine> OpenRegexEngine() { return std::make_unique<ComEngine>(); }

}  // namespace taviro
