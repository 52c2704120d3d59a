// Fuzz target: MarshalValueOut, MarshalArrayOut and WriteBackArgs. Bridge values and arrays come from
// the input with any type code, flag bits, dimensions and sizes (consistent or not); the client's
// VARIANTs are well formed (made through OLE Automation) but of any shape: empty, scalars, texts,
// objects, references to bare values and to VARIANTs, and arrays that may be fixed, static or locked.
// After each input every client VARIANT still clears, the locks are as they were, every object
// reference was given back, and no BSTR or SAFEARRAY was leaked.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "client_values.h"
#include "error/failure.h"
#include "marshal/marshal.h"
#include "platform/host/test_hooks.h"

namespace zul::fuzz {
namespace {

constexpr int kMaxDepth = 3;
constexpr int64_t kMaxDataBytes = 4096;

// VARIANT types a client may hold by value.
constexpr VARTYPE kScalarTypes[] = {VT_NULL, VT_I2,    VT_I4,   VT_R4,  VT_R8,   VT_CY,
                                    VT_DATE, VT_ERROR, VT_BOOL, VT_I1,  VT_UI1,  VT_UI2,
                                    VT_UI4,  VT_I8,    VT_UI8,  VT_INT, VT_UINT, VT_DECIMAL};
// Element types of a client's SAFEARRAY.
constexpr VARTYPE kArrayTypes[] = {VT_I2,       VT_I4,    VT_R4,   VT_R8,      VT_CY,      VT_DATE, VT_BSTR,
                                   VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_I1,   VT_UI1,
                                   VT_UI2,      VT_UI4,   VT_I8,   VT_UI8,     VT_INT,     VT_UINT};

template <class T, std::size_t N>
T Pick(Input& in, const T (&table)[N]) {
  return table[in.Below(static_cast<uint32_t>(N))];
}

// Bytes of one bridge element of type code, as the record layout has it; 0 for others.
int64_t BridgeSize(uint8_t code) {
  switch (code) {
    case ZUL_TYP_BYTE:
      return 1;
    case ZUL_TYP_INT:
    case ZUL_TYP_UINT:
      return 2;
    case ZUL_TYP_LONG:
    case ZUL_TYP_ULONG:
    case ZUL_TYP_FLOAT:
      return 4;
    case ZUL_TYP_DOUBLE:
    case ZUL_TYP_LONG64:
    case ZUL_TYP_ULONG64:
      return 8;
    case ZUL_TYP_STRING:
      return sizeof(BridgeString);
    default:
      return 0;
  }
}

// The bridge's side: values, arrays and texts owned by the harness.
class BridgeSide {
 public:
  explicit BridgeSide(Input& in) : in_(in) {}

  // array: MarshalArrayOut takes nothing else.
  void Value(BridgeValue& value, bool array) {
    value = BridgeValue{};
    value.type = in_.OneIn(8) ? in_.Take<uint8_t>() : static_cast<uint8_t>(in_.Below(16));
    value.flags = in_.OneIn(8) ? in_.Take<uint8_t>() : (in_.Below(3) == 0 ? ValueFlag::Array : 0);
    value.flags |= ValueFlag::BridgeMemory | (array ? ValueFlag::Array : 0);
    if ((value.flags & ValueFlag::Array) != 0) {
      value.value.array = in_.OneIn(16) ? nullptr : Array(value.type);
    } else if (value.type == ZUL_TYP_STRING && !in_.OneIn(8)) {
      value.value.str = Text();
    } else {
      const uint64_t bits[2] = {in_.Take<uint64_t>(), in_.Take<uint64_t>()};
      std::memcpy(&value.value, bits, sizeof bits);
      if (value.type == ZUL_TYP_STRING) value.value.str.chars = nullptr;
      // Small numbers fit the client's types more often.
      const int64_t small = in_.Take<int8_t>();
      if (in_.Flag() && value.type == ZUL_TYP_FLOAT)
        value.value.floatVal = static_cast<float>(small);
      else if (value.type == ZUL_TYP_DOUBLE)
        value.value.doubleVal = static_cast<double>(small);
      else if (value.type != ZUL_TYP_STRING)
        std::memcpy(&value.value, &small, sizeof small);
    }
  }

 private:
  BridgeString Text() {
    const std::vector<uint8_t> bytes = in_.Bytes(48);
    std::string& text = texts_.emplace_back(bytes.begin(), bytes.end());
    text = text.c_str();  // up to its first NUL
    BridgeString s{};
    s.length = in_.OneIn(8) ? in_.Take<int32_t>() : static_cast<int32_t>(text.size());
    s.kind = 1;
    s.chars = in_.OneIn(16) ? nullptr : text.data();
    return s;
  }

  BridgeArray* Array(uint8_t code) {
    BridgeArray& a = arrays_.emplace_back();
    a = BridgeArray{};
    const int m = in_.OneIn(8) ? static_cast<int>(in_.Below(11)) : 1 + static_cast<int>(in_.Below(3));
    a.dimensionCount = static_cast<uint8_t>(m);
    int64_t count = 1;
    bool huge = false;
    for (int k = 0; k < m && k < 8; ++k) {
      a.dims[k] = in_.OneIn(16) ? in_.Take<int64_t>() : in_.Below(5);
      if (a.dims[k] < 0 || a.dims[k] > kMaxDataBytes) huge = true;
      count = huge ? 0 : count * a.dims[k];
    }
    a.elementSize = in_.OneIn(16) ? in_.Take<int8_t>() : BridgeSize(code);
    if (huge) count = 0;
    a.elementCount = count;
    a.totalBytes = count * a.elementSize;
    const int64_t bytes = count * BridgeSize(code);
    if (!huge && bytes >= 0 && bytes <= kMaxDataBytes) {
      auto& data = data_.emplace_back(new uint8_t[bytes != 0 ? bytes : 1]);
      a.data = data.get();
      if (code == ZUL_TYP_STRING) {
        auto* elements = static_cast<BridgeString*>(a.data);
        for (int64_t i = 0; i < count; ++i) elements[i] = Text();
      } else {
        for (int64_t i = 0; i < bytes; ++i) data[i] = in_.Take<uint8_t>();
      }
    }
    // One field that disagrees with the others, sometimes.
    switch (in_.Below(12)) {
      case 0:
        a.elementCount += in_.Flag() ? 1 : -1;
        break;
      case 1:
        a.totalBytes = in_.Take<int64_t>();
        break;
      case 2:
        a.dims[in_.Below(8)] = in_.Take<int32_t>();
        break;
      case 3:
        a.dimensionCount = in_.Take<uint8_t>();
        break;
      case 4:
        a.data = nullptr;
        break;
      default:
        break;
    }
    return &a;
  }

  Input& in_;
  std::deque<std::string> texts_;
  std::deque<BridgeArray> arrays_;
  std::vector<std::unique_ptr<uint8_t[]>> data_;
};

// The client's side: well-formed VARIANTs, with the boxes behind references owned here.
class ClientSide {
 public:
  explicit ClientSide(Input& in) : in_(in) {}
  ClientSide(const ClientSide&) = delete;
  ClientSide& operator=(const ClientSide&) = delete;

  void Variant(VARIANT& v, int depth, bool topLevel) {
    VariantInit(&v);
    switch (in_.Below(depth >= kMaxDepth ? 4 : 8)) {
      case 0:
        break;
      case 1:
        v.vt = Pick(in_, kScalarTypes);
        if (v.vt == VT_NULL || v.vt == VT_DECIMAL)
          v.llVal = in_.Take<int64_t>();
        else
          SmallNumber(in_, v.vt, &v.llVal);
        break;
      case 2:
        v.vt = VT_BSTR;
        v.bstrVal = pool_.Text(in_, false);
        break;
      case 3:
        v.vt = in_.Flag() ? VT_DISPATCH : VT_UNKNOWN;
        v.punkVal = Object();
        break;
      case 4: {  // a bare value behind a reference
        VARTYPE base = in_.Flag() ? VARTYPE(VT_BSTR) : Pick(in_, kScalarTypes);
        if (base == VT_NULL) base = VT_I4;  // VT_NULL only by value
        v.vt = VT_BYREF | base;
        auto& box = valueBoxes_.emplace_back();
        box.type = base;
        if (base == VT_BSTR) {
          BSTR text = pool_.Text(in_, false);
          std::memcpy(box.bytes, &text, sizeof text);
        } else {
          std::memset(box.bytes, 0, sizeof box.bytes);
          SmallNumber(in_, base, box.bytes);
        }
        v.byref = in_.OneIn(16) ? nullptr : box.bytes;
        break;
      }
      case 5: {  // a reference to a VARIANT, or to itself
        v.vt = VT_BYREF | VT_VARIANT;
        if (in_.OneIn(8)) {
          v.pvarVal = &v;
        } else {
          VARIANT& box = variantBoxes_.emplace_back();
          Variant(box, depth + 1, true);
          v.pvarVal = &box;
        }
        break;
      }
      case 6: {
        VARTYPE vt = VT_EMPTY;
        v.parray = Array(depth, vt);
        v.vt = VT_ARRAY | vt;
        if (topLevel) Pin(v.parray, &v, nullptr);
        break;
      }
      default: {
        SAFEARRAY*& slot = arraySlots_.emplace_back(nullptr);
        VARTYPE vt = Pick(in_, kArrayTypes);
        if (!in_.OneIn(8)) slot = Array(depth, vt);
        v.vt = VT_BYREF | VT_ARRAY | vt;
        v.pparray = &slot;
        if (topLevel && slot != nullptr) Pin(slot, nullptr, &slot);
        break;
      }
    }
  }

  // Undoes what made arrays fixed, static or locked (after checking the locks are as they were), then
  // clears every VARIANT, frees every box and checks that each object got its references back.
  void CleanUp(std::vector<VARIANT>& args) {
    for (const Pinned& pinned : pinned_) {
      SAFEARRAY* psa = pinned.psa;
      ZUL_FUZZ_CHECK(psa->cLocks == pinned.locks);
      psa->fFeatures &= ~(FADF_STATIC | FADF_FIXEDSIZE);
      while (psa->cLocks != 0) ::SafeArrayUnlock(psa);
      // A VARIANT that took a scalar instead lets go of its locked array, as VariantClear does.
      const bool home = pinned.slot != nullptr ? *pinned.slot == psa
                                               : (pinned.variant->vt & (VT_ARRAY | VT_BYREF)) == VT_ARRAY &&
                                                     pinned.variant->parray == psa;
      if (!home) ZUL_FUZZ_CHECK(SUCCEEDED(SafeArrayDestroy(psa)));
    }
    for (VARIANT& v : args) ZUL_FUZZ_CHECK(SUCCEEDED(VariantClear(&v)));
    for (VARIANT& box : variantBoxes_) ZUL_FUZZ_CHECK(SUCCEEDED(VariantClear(&box)));
    for (SAFEARRAY* slot : arraySlots_) ZUL_FUZZ_CHECK(SUCCEEDED(SafeArrayDestroy(slot)));
    for (ValueBox& box : valueBoxes_) {
      if (box.type != VT_BSTR) continue;
      BSTR text;
      std::memcpy(&text, box.bytes, sizeof text);
      SysFreeString(text);
    }
  }

  ClientPool& Pool() { return pool_; }

 private:
  struct ValueBox {
    VARTYPE type;
    alignas(8) uint8_t bytes[16];
  };
  // A locked array (also fixed or static, sometimes): never freed by anyone but its owner.
  struct Pinned {
    SAFEARRAY* psa;
    ULONG locks;
    VARIANT* variant;  // where it lives: a VARIANT, or a slot behind a reference
    SAFEARRAY** slot;
  };

  void Pin(SAFEARRAY* psa, VARIANT* variant, SAFEARRAY** slot) {
    if (psa == nullptr || !in_.OneIn(3)) return;
    const uint32_t how = in_.Below(4);
    if ((how & 1) != 0) psa->fFeatures |= FADF_FIXEDSIZE;
    if ((how & 2) != 0) psa->fFeatures |= FADF_STATIC;
    for (uint32_t i = 1 + in_.Below(2); i > 0; --i) ::SafeArrayLock(psa);
    pinned_.push_back({psa, psa->cLocks, variant, slot});
  }

  IUnknown* Object() {
    IUnknown* object = pool_.Object(in_);
    if (object != nullptr) object->AddRef();  // the VARIANT's own reference
    return object;
  }

  // A SAFEARRAY of 1 to 10 dimensions and 0 to 3 elements each; vt receives its element type.
  SAFEARRAY* Array(int depth, VARTYPE& vt) {
    vt = Pick(in_, kArrayTypes);
    if (depth >= kMaxDepth && vt == VT_VARIANT) vt = VT_I4;
    const UINT m = 1 + (in_.OneIn(8) ? in_.Below(10) : in_.Below(3));
    SAFEARRAYBOUND bounds[10];
    for (UINT k = 0; k < m; ++k) bounds[k] = {in_.Below(4), in_.OneIn(16) ? in_.Take<LONG>() : 0};
    SAFEARRAY* psa = SafeArrayCreate(vt, m, bounds);
    if (psa == nullptr) return nullptr;
    uint64_t cells = 1;
    for (UINT k = 0; k < m; ++k) cells *= bounds[k].cElements;
    auto* data = static_cast<uint8_t*>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i) {
      uint8_t* element = data + i * psa->cbElements;
      if (vt == VT_BSTR) {
        BSTR text = pool_.Text(in_, false);
        std::memcpy(element, &text, sizeof text);
      } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
        IUnknown* object = Object();
        std::memcpy(element, &object, sizeof object);
      } else if (vt == VT_VARIANT) {
        Variant(*reinterpret_cast<VARIANT*>(element), depth + 1, false);
      } else {
        for (ULONG b = 0; b < psa->cbElements; ++b) element[b] = in_.Take<uint8_t>();
      }
    }
    return psa;
  }

  Input& in_;
  ClientPool pool_;  // declared first among the owners: objects outlive the VARIANTs that hold them
  std::deque<VARIANT> variantBoxes_;
  std::deque<ValueBox> valueBoxes_;
  std::deque<SAFEARRAY*> arraySlots_;
  std::vector<Pinned> pinned_;
};

}  // namespace
}  // namespace zul::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace zul;
  using namespace zul::fuzz;
  FreshBridge();
  PalContext& context = FuzzContext();
  Input in(data, size);

  const uint32_t mode = in.Below(3);  // MarshalValueOut, MarshalArrayOut, WriteBackArgs
  const int32_t count = mode == 2 ? static_cast<int32_t>(in.Below(6)) : 1;
  const int64_t failBstr = in.OneIn(8) ? 1 + in.Below(4) : 0;
  const int64_t failArray = in.OneIn(8) ? 1 + in.Below(2) : 0;
  const bool withFlags = !in.OneIn(16);

  WrapperInfo& wrapper = *context.FindWrapper(kCaller);
  wrapper.error.ClearMessage();
  context.lastError.ClearMessage();
  const Balance before = TakeBalance();
  {
    ClientSide client(in);
    BridgeSide bridgeSide(in);
    std::vector<VARIANT> args(count > 0 ? count : 1);
    std::vector<BridgeValue> values(args.size());
    std::vector<BridgeValue*> pointers(args.size());
    std::vector<uint32_t> flags(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
      flags[i] = in.Take<uint32_t>();
      client.Variant(args[i], 0, true);
      bridgeSide.Value(values[i], mode == 1);
      pointers[i] = in.OneIn(32) ? nullptr : &values[i];
    }

    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_BSTR, failBstr);
    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_SAFEARRAY, failArray);
    try {
      uint32_t* flag = withFlags ? &flags[0] : nullptr;
      if (mode == 0) {
        MarshalValueOut(context, kCaller, pointers[0], &args[0], flag);
      } else if (mode == 1) {
        MarshalArrayOut(context, kCaller, pointers[0], &args[0], flag);
      } else {
        // Some arguments as the bridge got them, the others changed since (or never recorded).
        BridgeArgList list;
        list.pointers.reset(new BridgeValue*[args.size()]);
        std::copy(pointers.begin(), pointers.end(), list.pointers.get());
        for (std::size_t i = 0; i < args.size(); ++i)
          if (in.OneIn(2)) RecordSent(list, static_cast<int32_t>(i), static_cast<int32_t>(args.size()));
        // The call frame writes back only what flags ask for.
        if (withFlags) WriteBackArgs(context, kCaller, count, list, args.data(), flags.data());
      }
    } catch (const BstrFailure&) {
    } catch (const std::bad_alloc&) {
    }
    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_BSTR, 0);
    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_SAFEARRAY, 0);
    client.CleanUp(args);
    client.Pool().CheckReferences();
  }
  wrapper.error.ClearMessage();
  context.lastError.ClearMessage();
  CheckBalanced(before);
  return 0;
}
