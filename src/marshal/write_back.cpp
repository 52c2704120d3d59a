// Write-back of by-reference arguments: what the bridge was sent of each, to tell afterwards whether it
// changed it, and an order in which no argument is written through memory that another one freed.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "marshal/marshal.h"
#include "marshal/record.h"

namespace zul {

namespace {

// Bytes of a scalar's value field by type code; the whole field for codes without a width of their own.
constexpr uint8_t kScalarBytes[] = {16, 1, 2, 4, 4, 8, 16, 16, 16, 16, 16, 4, 2, 4, 8, 8};

class Recorder {
 public:
  explicit Recorder(std::string& bytes) : bytes_(bytes) {}
  void Add(const void* data, std::size_t size) { bytes_.append(static_cast<const char*>(data), size); }
  bool Same() const { return true; }

 private:
  std::string& bytes_;
};

class Comparer {
 public:
  explicit Comparer(const std::string& bytes) : at_(bytes.data()), end_(bytes.data() + bytes.size()) {}
  void Add(const void* data, std::size_t size) {
    same_ = same_ && size <= static_cast<std::size_t>(end_ - at_) && std::memcmp(at_, data, size) == 0;
    if (same_) at_ += size;
  }
  bool Same() const { return same_; }
  bool AtEnd() const { return same_ && at_ == end_; }

 private:
  const char* at_;
  const char* end_;
  bool same_ = true;
};

// A text as the write-back reads it: its length, then its characters up to the NUL.
template <class Sink>
void DescribeText(const BridgeString& text, Sink& sink) {
  sink.Add(&text.length, sizeof text.length);
  const char* chars = text.chars != nullptr ? text.chars : "";
  sink.Add(chars, std::strlen(chars) + 1);
}

// Everything of a value that its write-back depends on, never its blocks' addresses: a bridge may
// replace a block by an equal one, or change one in place. A comparison stops at the first
// difference, before it reads what a changed descriptor would describe.
template <class Sink>
void Describe(const BridgeValue& value, Sink& sink) {
  const uint8_t head[] = {value.type, static_cast<uint8_t>(value.flags & ~ValueFlag::BridgeMemory)};
  sink.Add(head, sizeof head);
  if (!sink.Same()) return;
  if ((value.flags & ValueFlag::Array) == 0 || (value.flags & ValueFlag::ScalarOut) != 0) {
    if (value.type == ZUL_TYP_STRING) return DescribeText(value.value.str, sink);
    return sink.Add(&value.value, value.type < std::size(kScalarBytes) ? kScalarBytes[value.type] : 16);
  }
  const BridgeArray* a = value.value.array;
  const uint8_t shape[] = {a != nullptr, a != nullptr ? a->dimensionCount : uint8_t{0}};
  sink.Add(shape, sizeof shape);
  if (a == nullptr || !sink.Same() || a->dimensionCount > std::size(a->dims)) return;
  sink.Add(a->dims, a->dimensionCount * sizeof a->dims[0]);
  for (const int64_t* field : {&a->elementSize, &a->elementCount, &a->totalBytes})
    sink.Add(field, sizeof *field);
  if (!sink.Same() || a->dimensionCount == 0 || !Consistent(*a, value.type) || a->elementCount == 0) return;
  if (value.type != ZUL_TYP_STRING) return sink.Add(a->data, static_cast<std::size_t>(a->totalBytes));
  const auto* elements = static_cast<const BridgeString*>(a->data);
  for (int64_t k = 0; k < a->elementCount && sink.Same(); ++k) DescribeText(elements[k], sink);
}

bool ChangedSinceSent(const BridgeArgList& list, int32_t i) {
  if (!list.sent || list.sent[i].empty()) return true;  // not recorded: written back whatever it holds
  if (list.pointers[i] == nullptr) return true;
  Comparer comparer(list.sent[i]);
  Describe(*list.pointers[i], comparer);
  return !comparer.AtEnd();
}

// The VARIANT where an argument's write-back lands, following references as MarshalValueOut does.
const VARIANT* Target(const VARIANT* arg) {
  for (int depth = 0; arg != nullptr && arg->vt == (VT_BYREF | VT_VARIANT) && depth <= kMaxReferenceDepth;
       ++depth)
    arg = arg->pvarVal;
  return arg;
}

// The array that an argument's write-back may replace or clear.
const SAFEARRAY* HeldArray(const VARIANT* arg) {
  const VARIANT* target = Target(arg);
  if (target == nullptr || (target->vt & VT_ARRAY) == 0) return nullptr;
  if ((target->vt & VT_BYREF) == 0) return target->parray;
  return target->pparray != nullptr ? *target->pparray : nullptr;
}

// The memory an argument's write-back goes through: each VARIANT of its reference chain and the bare
// storage at its end.
std::vector<const void*> Path(const VARIANT* arg) {
  std::vector<const void*> path;
  for (int depth = 0; arg != nullptr && depth <= kMaxReferenceDepth + 1; ++depth) {
    path.push_back(arg);
    if (arg->vt != (VT_BYREF | VT_VARIANT)) {
      if ((arg->vt & VT_BYREF) != 0) path.push_back(arg->byref);
      break;
    }
    arg = arg->pvarVal;
  }
  return path;
}

// Whether any of the points lies in the data of psa. Arrays nested in VARIANTs never travel in, so
// an argument's array holds none.
bool HoldsAny(const SAFEARRAY* psa, const std::vector<const void*>& points) {
  if (psa == nullptr || psa->pvData == nullptr) return false;
  uint64_t bytes = psa->cbElements;
  for (USHORT k = 0; k < psa->cDims; ++k) bytes *= psa->rgsabound[k].cElements;
  const auto* begin = static_cast<const unsigned char*>(psa->pvData);
  return std::any_of(points.begin(), points.end(), [&](const void* point) {
    const auto* p = static_cast<const unsigned char*>(point);
    return p >= begin && static_cast<uint64_t>(p - begin) < bytes;
  });
}

// Arguments that go through another one's array are written before it: an argument inside k arrays of
// others comes before one inside fewer. Stable, so unrelated arguments keep their order.
void InnerFirst(const VARIANT* args, std::vector<int32_t>& order) {
  std::vector<std::pair<int, int32_t>> ranked;  // (arrays of others it goes through, argument)
  for (const int32_t j : order) {
    const std::vector<const void*> path = Path(&args[j]);
    ranked.emplace_back(0, j);
    for (const int32_t i : order) ranked.back().first += i != j && HoldsAny(HeldArray(&args[i]), path);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t k = 0; k < ranked.size(); ++k) order[k] = ranked[k].second;
}

}  // namespace

void RecordSent(BridgeArgList& list, int32_t i, int32_t count) {
  if (list.pointers[i] == nullptr) return;
  if (!list.sent) list.sent.reset(new std::string[static_cast<std::size_t>(count)]);
  Recorder recorder(list.sent[i]);
  Describe(*list.pointers[i], recorder);
}

bool WriteBackArgs(PalContext& context, int32_t cookie, int32_t count, const BridgeArgList& list,
                   VARIANT* args, uint32_t* argFlags) {
  const auto writeBack = [&](int32_t i) {
    const ArgumentScope scope(i + 1);
    return MarshalValueOut(context, cookie, list.pointers[i], &args[i], &argFlags[i]);
  };
  // Without an array among them, arguments are written in their order, allocating nothing for it.
  bool arrays = false;
  for (int32_t i = 0; i < count; ++i)
    arrays = arrays || ((argFlags[i] & ArgFlag::WriteBack) != 0 && HeldArray(&args[i]) != nullptr);
  std::vector<int32_t> order;
  for (int32_t i = 0; i < count; ++i) {
    if ((argFlags[i] & ArgFlag::WriteBack) == 0) continue;
    if ((argFlags[i] & ArgFlag::WriteBackChanged) != 0 && !ChangedSinceSent(list, i)) {
      argFlags[i] &= ~ArgFlag::WriteBack;  // tells the caller that its VARIANT was left alone
      continue;
    }
    if (arrays) {
      order.push_back(i);
    } else if (!writeBack(i)) {
      return false;
    }
  }
  if (order.size() > 1) InnerFirst(args, order);
  for (const int32_t i : order) {
    if (!writeBack(i)) return false;
  }
  return true;
}

}  // namespace zul
