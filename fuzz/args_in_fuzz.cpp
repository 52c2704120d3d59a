// Fuzz target: MarshalArgsIn and ReleaseArgList over argument lists built from the input. VARIANTs of
// every VARTYPE and flag bit, by-reference chains (cycles included), and SAFEARRAY descriptors made by
// hand: 0 to 10 dimensions, any bounds, feature bits, lock counts and element sizes, null or short
// data, arrays of VARIANTs of mixed types. The descriptors only ever tell the truth about where a
// pointer lies; everything else may be wrong. After each input: the client's values are byte for byte
// as they were, every object reference and bridge block was given back, and nothing was leaked.
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "client_values.h"
#include "error/failure.h"
#include "marshal/marshal.h"
#include "platform/host/test_hooks.h"

namespace zul::fuzz {
namespace {

constexpr int kMaxDepth = 4;
constexpr uint64_t kMaxDataBytes = 4096;
constexpr std::size_t kHidden = 16;  // the bytes OLE Automation keeps before a descriptor

class ArgumentBuilder {
 public:
  explicit ArgumentBuilder(Input& in) : in_(in) {}
  ArgumentBuilder(const ArgumentBuilder&) = delete;
  ArgumentBuilder& operator=(const ArgumentBuilder&) = delete;
  ~ArgumentBuilder() {
    for (void* block : blocks_) std::free(block);
  }

  void Variant(VARIANT& v, int depth) {
    std::memset(&v, 0, sizeof v);
    if (--budget_ < 0) return;
    switch (in_.Below(depth >= kMaxDepth ? 3 : 9)) {
      case 8: {  // a number, by value or by reference, that others may hold exactly (arrays of VARIANTs)
        const VARTYPE vt = kNumericTypes[in_.Below(static_cast<uint32_t>(std::size(kNumericTypes)))];
        if (in_.OneIn(4)) {
          v.vt = VT_BYREF | vt;
          v.byref = Block(16);
          SmallNumber(in_, vt, v.byref);
        } else {
          v.vt = vt;
          SmallNumber(in_, vt, &v.llVal);
        }
        break;
      }
      case 0: {  // by value, any type with any flag bits but VT_ARRAY and VT_BYREF
        v.vt = in_.OneIn(8) ? static_cast<VARTYPE>(in_.Take<uint16_t>() & ~(VT_ARRAY | VT_BYREF))
                            : PickBaseType(in_);
        Fill(v.vt, &v.llVal);
        break;
      }
      case 1:
        v.vt = VT_BSTR;
        v.bstrVal = pool_.Text(in_);
        break;
      case 2:
        v.vt = in_.Flag() ? VT_DISPATCH : VT_UNKNOWN;
        v.punkVal = pool_.Object(in_);
        break;
      case 3: {  // a bare value behind a reference
        VARTYPE base = PickBaseType(in_);
        if (base == VT_VARIANT) base = VT_I4;
        v.vt = VT_BYREF | base;
        v.byref = in_.OneIn(8) ? nullptr : Storage(base);
        break;
      }
      case 4: {  // a reference to a VARIANT: null, itself, an earlier one, or a new one
        v.vt = VT_BYREF | VT_VARIANT;
        const uint32_t pick = in_.Below(8);
        if (pick == 0) {
          v.pvarVal = nullptr;
        } else if (pick == 1) {
          v.pvarVal = &v;
        } else if (pick == 2 && !made_.empty()) {
          v.pvarVal = made_[in_.Below(static_cast<uint32_t>(made_.size()))];
        } else {
          auto* target = static_cast<VARIANT*>(Block(sizeof(VARIANT)));
          Variant(*target, depth + 1);
          made_.push_back(target);
          v.pvarVal = target;
        }
        break;
      }
      default:
        Array(v, depth);
        break;
    }
  }

  // Everything the library may read, with its content before the call.
  void Snapshot() {
    copies_.clear();
    for (const auto& [block, size] : regions_) {
      const auto* bytes = static_cast<const uint8_t*>(block);
      copies_.emplace_back(bytes, bytes + size);
    }
  }
  bool Unchanged() const {
    for (std::size_t i = 0; i < copies_.size(); ++i) {
      if (regions_[i].second != 0 &&
          std::memcmp(regions_[i].first, copies_[i].data(), regions_[i].second) != 0) {
        return false;
      }
    }
    return true;
  }
  void Watch(const void* block, std::size_t size) { regions_.emplace_back(block, size); }

  ClientPool& Pool() { return pool_; }

 private:
  void* Block(std::size_t size) {
    void* block = std::calloc(1, size != 0 ? size : 1);
    ZUL_FUZZ_CHECK(block != nullptr);
    blocks_.push_back(block);
    Watch(block, size);
    return block;
  }

  // The value of type vt at storage, which has room for 16 bytes: a pointer only where one is read.
  void Fill(VARTYPE vt, void* storage) {
    if (vt == VT_BSTR) {
      BSTR text = pool_.Text(in_);
      std::memcpy(storage, &text, sizeof text);
    } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN) {
      IUnknown* object = pool_.Object(in_);
      std::memcpy(storage, &object, sizeof object);
    } else if (vt != VT_VARIANT) {
      const uint64_t bits[2] = {in_.Take<uint64_t>(), in_.Take<uint64_t>()};
      std::memcpy(storage, bits, sizeof bits);
    }
  }

  // The bare storage of a value of base, exactly as large as its type.
  void* Storage(VARTYPE base) {
    const uint32_t size = NaturalSize(base);
    void* storage = Block(size);
    if (base == VT_BSTR || base == VT_DISPATCH || base == VT_UNKNOWN) {
      Fill(base, storage);
    } else {
      for (uint32_t i = 0; i < size; ++i) static_cast<uint8_t*>(storage)[i] = in_.Take<uint8_t>();
    }
    return storage;
  }

  void Array(VARIANT& v, int depth) {
    // What the elements really are; the VARIANT and the descriptor may say otherwise where no pointer
    // is involved.
    const VARTYPE truth = PickBaseType(in_);
    VARTYPE claimed = truth;
    if (!HoldsPointer(truth) && in_.OneIn(4)) {
      do claimed = PickBaseType(in_);
      while (claimed == VT_BSTR || claimed == VT_VARIANT);
    }
    v.vt = VT_ARRAY | claimed;
    SAFEARRAY* psa = in_.OneIn(16) ? nullptr : Descriptor(truth, depth);
    if (in_.OneIn(4)) {
      v.vt |= VT_BYREF;
      if (in_.OneIn(16)) {
        v.pparray = nullptr;
      } else {
        v.pparray = static_cast<SAFEARRAY**>(Block(sizeof(SAFEARRAY*)));
        *v.pparray = psa;
      }
    } else {
      v.parray = psa;
    }
  }

  SAFEARRAY* Descriptor(VARTYPE truth, int depth) {
    const UINT dims = in_.Below(11);
    const std::size_t bytes =
        kHidden + sizeof(SAFEARRAY) + (dims > 1 ? dims - 1 : 0) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<uint8_t*>(std::calloc(1, bytes));
    ZUL_FUZZ_CHECK(block != nullptr);
    blocks_.push_back(block);
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHidden);

    // The hidden element type: anything for elements without pointers, the truth for texts.
    DWORD hidden = truth;
    if (truth != VT_BSTR && in_.OneIn(4)) {
      do hidden = in_.OneIn(4) ? in_.Take<uint16_t>() : PickBaseType(in_);
      while (hidden == VT_BSTR);
    }
    std::memcpy(block + 12, &hidden, sizeof hidden);
    psa->cDims = static_cast<USHORT>(dims);
    if (in_.Flag()) {
      psa->fFeatures = in_.Take<uint16_t>();
    } else {
      psa->fFeatures =
          FADF_HAVEVARTYPE | (truth == VT_BSTR ? FADF_BSTR : 0) | (truth == VT_VARIANT ? FADF_VARIANT : 0);
    }
    const uint32_t natural = NaturalSize(truth);
    psa->cbElements = in_.OneIn(4) ? in_.Below(33) : natural;
    psa->cLocks = in_.OneIn(4) ? in_.Take<uint32_t>() : 0;

    uint64_t cells = 1;
    bool huge = false;
    for (UINT k = 0; k < dims; ++k) {
      SAFEARRAYBOUND& bound = psa->rgsabound[k];
      bound.lLbound = in_.OneIn(8) ? in_.Take<LONG>() : 0;
      bound.cElements = in_.OneIn(8) ? in_.Take<ULONG>() : in_.Below(5);
      cells = bound.cElements == 0 ? 0 : cells;
      if (cells != 0 && bound.cElements > kMaxDataBytes) huge = true;
      if (cells != 0 && !huge) cells *= bound.cElements;
    }
    if (dims == 0) cells = 0;
    uint64_t dataBytes = cells * psa->cbElements;
    const bool plain = psa->cbElements == natural && natural != 0 && !HoldsPointer(truth);
    if (huge || dataBytes > kMaxDataBytes) {
      // More than we would make: either no data at all, an empty dimension somewhere, or, rarely (each
      // takes milliseconds), numbers in a shape past the size from which the reordering walk streams its
      // stores (8 MiB), their data a pattern.
      const uint32_t pick = in_.Below(8192);
      if ((pick & 1) != 0 || dims == 0) {
        Watch(psa, bytes - kHidden);
        psa->pvData = nullptr;
        return psa;
      }
      if (pick == 2 && plain && dims > 1) return Large(block, bytes);
      psa->rgsabound[in_.Below(dims)].cElements = 0;
      cells = 0;
      dataBytes = 0;
    }
    Watch(block, bytes);            // the hidden bytes and the descriptor, as they are now
    if (in_.OneIn(16)) return psa;  // no data
    // Exactly as long as the descriptor says (zero bytes too): reading past it is a fault of the library.
    auto* data = static_cast<uint8_t*>(std::malloc(dataBytes));
    ZUL_FUZZ_CHECK(data != nullptr);
    blocks_.push_back(data);
    psa->pvData = data;
    const bool laidOut = psa->cbElements == natural && natural != 0;
    // Arrays of VARIANTs holding numbers, mostly of the first one's type.
    const bool numbers = in_.Flag();
    const VARTYPE first = kNumericTypes[in_.Below(static_cast<uint32_t>(std::size(kNumericTypes)))];
    for (uint64_t i = 0; i < cells; ++i) {
      uint8_t* element = data + i * psa->cbElements;
      if (laidOut && truth == VT_VARIANT && numbers) {
        auto& v = *reinterpret_cast<VARIANT*>(element);
        std::memset(&v, 0, sizeof v);
        v.vt =
            in_.OneIn(4) ? kNumericTypes[in_.Below(static_cast<uint32_t>(std::size(kNumericTypes)))] : first;
        SmallNumber(in_, v.vt, &v.llVal);
      } else if (laidOut && truth == VT_VARIANT) {
        Variant(*reinterpret_cast<VARIANT*>(element), depth + 1);
      } else if (laidOut && HoldsPointer(truth)) {
        Fill(truth, element);
      } else {
        for (uint32_t b = 0; b < psa->cbElements; ++b) element[b] = in_.Take<uint8_t>();
      }
    }
    Watch(data, dataBytes);
    return psa;
  }

  // Extents of 1 to 64 but one, which brings the data to 8 MiB and at most 1 MiB more.
  SAFEARRAY* Large(uint8_t* block, std::size_t bytes) {
    constexpr uint64_t kStreamed = 8 << 20;
    auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHidden);
    const UINT rest = in_.Below(psa->cDims);
    uint64_t dataBytes = psa->cbElements;
    for (UINT k = 0; k < psa->cDims; ++k) {
      const ULONG extent = 1 + in_.Below(64);
      psa->rgsabound[k].cElements = k != rest && dataBytes * extent <= kStreamed / 8 ? extent : 1;
      dataBytes *= psa->rgsabound[k].cElements;
    }
    psa->rgsabound[rest].cElements = static_cast<ULONG>((kStreamed + dataBytes - 1) / dataBytes);
    dataBytes *= psa->rgsabound[rest].cElements;
    Watch(block, bytes);
    psa->pvData = std::malloc(dataBytes);
    ZUL_FUZZ_CHECK(psa->pvData != nullptr);
    blocks_.push_back(psa->pvData);
    std::memset(psa->pvData, 0xA5, dataBytes);
    Watch(psa->pvData, dataBytes);
    return psa;
  }

  Input& in_;
  ClientPool pool_;
  int budget_ = 256;
  std::vector<void*> blocks_;
  std::vector<VARIANT*> made_;
  std::vector<std::pair<const void*, std::size_t>> regions_;
  std::vector<std::vector<uint8_t>> copies_;
};

// A text holds its whole UTF-8 form: at most three bytes for each UTF-16 unit its length counts.
bool WholeText(const BridgeString& text) {
  return std::strlen(text.chars) <= 3 * static_cast<std::size_t>(text.length);
}

// What the bridge receives is what the record layout promises.
void CheckReceived(const BridgeValue& value) {
  if ((value.flags & ValueFlag::BridgeMemory) == 0) return;
  if ((value.flags & ValueFlag::Array) != 0) {
    const BridgeArray* array = value.value.array;
    ZUL_FUZZ_CHECK(array != nullptr);
    ZUL_FUZZ_CHECK(array->dimensionCount >= 1 && array->dimensionCount <= 8);
    uint64_t product = 1;  // wraps where dimensions beside an empty one are large
    for (int k = 0; k < array->dimensionCount; ++k) product *= static_cast<uint64_t>(array->dims[k]);
    const auto count = static_cast<int64_t>(product);
    ZUL_FUZZ_CHECK(count == array->elementCount);
    ZUL_FUZZ_CHECK(array->totalBytes == array->elementCount * array->elementSize);
    ZUL_FUZZ_CHECK(count == 0 || array->data != nullptr);
    if (value.type == ZUL_TYP_STRING) {
      const auto* texts = static_cast<const BridgeString*>(array->data);
      for (int64_t i = 0; i < count; ++i) {
        ZUL_FUZZ_CHECK(texts[i].chars != nullptr);
        ZUL_FUZZ_CHECK(WholeText(texts[i]));
      }
    }
  } else if (value.type == ZUL_TYP_STRING) {
    ZUL_FUZZ_CHECK(value.value.str.chars != nullptr && value.value.str.length >= 1);
    ZUL_FUZZ_CHECK(WholeText(value.value.str));
  }
}

}  // namespace
}  // namespace zul::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace zul;
  using namespace zul::fuzz;
  testing::FaultBridge& bridge = FreshBridge();
  PalContext& context = FuzzContext();
  Input in(data, size);

  // The bridge's answers and the allocations that fail.
  if (in.OneIn(8)) bridge.Force(BridgeEntry::kObjRefCookie2Hvid, in.Take<int32_t>());
  const int64_t failBlock = in.OneIn(4) ? 1 + in.Below(8) : 0;
  const int64_t failBstr = in.OneIn(8) ? 1 + in.Below(4) : 0;
  const int32_t cookie = in.OneIn(32) ? kCaller + 1 : kCaller;
  const auto count = static_cast<int32_t>(in.Below(9));  // the call frame refuses negative counts
  const bool withFlags = !in.OneIn(8);

  WrapperInfo& wrapper = *context.FindWrapper(kCaller);
  wrapper.error.ClearMessage();
  context.lastError.ClearMessage();
  const Balance before = TakeBalance();
  {
    ArgumentBuilder builder(in);
    std::vector<VARIANT> args(count > 0 ? count : 1);
    std::vector<uint32_t> flags(args.size());
    for (int32_t i = 0; i < count; ++i) {
      flags[i] = in.Take<uint32_t>();
      builder.Variant(args[i], 0);
    }
    builder.Watch(args.data(), args.size() * sizeof(VARIANT));
    builder.Snapshot();
    const std::vector<uint32_t> flagsBefore = flags;

    bridge.FailAllocationAt(failBlock);
    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_BSTR, failBstr);
    BridgeArgList list;
    bool converted = false;
    try {
      converted =
          MarshalArgsIn(context, cookie, count, args.data(), withFlags ? flags.data() : nullptr, list);
    } catch (const BstrFailure&) {
    } catch (const std::bad_alloc&) {
    }
    ZulHostTest_FailAllocationAt(ZUL_HOST_TEST_BSTR, 0);
    bridge.FailAllocationAt(0);

    if (converted && count > 0) {
      for (int32_t i = 0; i < count; ++i) {
        CheckReceived(list.values[i]);
        ZUL_FUZZ_CHECK(list.pointers[i] == &list.values[i]);
        ZUL_FUZZ_CHECK(list.flags[i] == (withFlags ? flagsBefore[i] & 0xFFFFu : 0));
      }
    }
    // Only an array of objects changes its word, and only to in-only.
    for (int32_t i = 0; i < count; ++i) {
      const uint32_t inOnly = (flagsBefore[i] & ~ArgFlag::WriteBack) | ArgFlag::InOnly;
      ZUL_FUZZ_CHECK(flags[i] == flagsBefore[i] || flags[i] == inOnly);
    }
    if (list.pointers) ReleaseArgList(context, cookie, count, list.pointers.get());
    ZUL_FUZZ_CHECK(builder.Unchanged());
    builder.Pool().CheckReferences();
  }
  wrapper.error.ClearMessage();
  context.lastError.ClearMessage();
  CheckBalanced(before);
  return 0;
}
