// Inputs the fuzz targets found that the conversions mishandled; the sanitizer builds catch the old
// behaviour, every build checks the outcome.
#include <cstdlib>

#include "marshal_test_support.h"

namespace zul::testing {
namespace {

using ConversionFault = MarshalTest;

// An array of VARIANTs whose descriptor gives its elements fewer bytes than a VARIANT: refused
// without reading the first element's type out of a block too short to hold it.
TEST_F(ConversionFault, ArrayOfVariantsWithShortElementsIsRefusedUnread) {
  for (const ULONG elementBytes : {0u, 1u, 8u}) {
    SCOPED_TRACE(elementBytes);
    SAFEARRAY* psa = NewArray(VT_VARIANT, {1});
    void* own = psa->pvData;
    psa->pvData = std::malloc(elementBytes);
    psa->cbElements = elementBytes;
    EXPECT_FALSE(InOne(Holding(VT_ARRAY | VT_VARIANT, psa)).ok);
    EXPECT_EQ(Message(), kUntouched);
    std::free(psa->pvData);
    psa->pvData = own;
    psa->cbElements = sizeof(VARIANT);
    FreeArray(psa);
  }
}

// An empty array whose other dimensions multiply past 63 bits (not past 64): it goes over empty with
// its dimensions as they are, and the reordering walk never multiplies them.
TEST_F(ConversionFault, EmptyArrayBesideHugeDimensionsGoesOverEmpty) {
  for (const VARTYPE vt : {VARTYPE(VT_BSTR), VARTYPE(VT_R8)}) {  // an empty array of VARIANTs has no type
    SCOPED_TRACE(vt);
    SAFEARRAY* psa = NewArray(vt, {1, 1, 0});
    psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 0xFFFFFFFFu;  // creation refuses them first
    {
      ArgList in = InOne(Holding(VT_ARRAY | vt, psa));
      ASSERT_TRUE(in.ok) << Message();
      const BridgeArray& a = *in[0].value.array;
      EXPECT_TRUE(a.elementCount == 0 && a.totalBytes == 0 && a.dims[0] == 0xFFFFFFFFll && a.dims[2] == 0);
    }
    psa->rgsabound[0].cElements = psa->rgsabound[1].cElements = 1;
    FreeArray(psa);
  }
}

// An empty array from the bridge may come without data: it reaches the client as an empty SAFEARRAY,
// no bytes copied from the null block.
TEST_F(ConversionFault, EmptyBridgeArrayWithoutDataComesOutEmpty) {
  BridgeArray empty{};
  empty.elementSize = sizeof(double);
  empty.dimensionCount = 1;
  BridgeValue value{ZUL_TYP_DOUBLE, ValueFlag::Array | ValueFlag::BridgeMemory, {}, {}};
  value.value.array = &empty;
  VARIANT out = Var(VT_EMPTY);
  uint32_t flag = ArgFlag::WriteBack;
  ASSERT_TRUE(MarshalValueOut(context, kCaller, &value, &out, &flag)) << Message();
  EXPECT_TRUE(out.vt == (VT_ARRAY | VT_R8) && out.parray->rgsabound[0].cElements == 0u);
  EXPECT_EQ(VariantClear(&out), S_OK);
}

}  // namespace
}  // namespace zul::testing
