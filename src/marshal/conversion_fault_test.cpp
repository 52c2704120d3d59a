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
    void* shortBlock = std::malloc(elementBytes);
    psa->pvData = shortBlock;
    psa->cbElements = elementBytes;
    VARIANT arg = Var(VT_ARRAY | VT_VARIANT);
    arg.parray = psa;
    {
      ArgList in = InOne(arg);
      EXPECT_FALSE(in.ok);
      EXPECT_EQ(Message(), kUntouched);
    }
    psa->pvData = own;
    psa->cbElements = sizeof(VARIANT);
    std::free(shortBlock);
    FreeArray(psa);
  }
}

}  // namespace
}  // namespace zul::testing
