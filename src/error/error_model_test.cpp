#include "error/error_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <stdexcept>

#include "bstr_util.h"
#include "bridge_double_client.h"
#include "error/failure.h"
#include "error/strings.h"
#include "loader/binding.h"

namespace zul {
namespace {

using testing::Ascii;
using testing::MessageOf;

constexpr const char* kUntouched = "before";

struct MapCase {
  int32_t bridgeCode;
  HRESULT expected;
  int32_t contextCode;  // the context's code afterwards
  const char* contextMessage;
};

constexpr MapCase kMapCases[] = {
    {-4001, E_ABORT, 7, kUntouched},
    {-2004, E_FAIL, -2004, "There is no ZUL activity to abort."},
    {-2003, E_ACCESSDENIED, 7, kUntouched},
    {-2002, E_ABORT, 7, kUntouched},
    {-2001, E_ACCESSDENIED, -2001, "The object's associated ZUL process is currently busy."},
    {-1, E_FAIL, 7, kUntouched},
    {0, E_FAIL, 7, kUntouched},
    {1, E_FAIL, 7, kUntouched},
    {-2000, E_FAIL, 7, kUntouched},
    {-2005, E_FAIL, 7, kUntouched},
    {-4000, E_FAIL, 7, kUntouched},
    {-4002, E_FAIL, 7, kUntouched},
    {INT32_MIN, E_FAIL, 7, kUntouched},
};

TEST(MapBridgeError, MapsEveryKnownCodeAndNothingElse) {
  for (const MapCase& c : kMapCases) {
    SCOPED_TRACE(c.bridgeCode);
    ErrorState context;
    context.SetCode(7);
    context.SetMessage(kUntouched);

    EXPECT_EQ(MapBridgeError(context, c.bridgeCode), c.expected);
    EXPECT_EQ(context.Code(), c.contextCode);
    EXPECT_EQ(MessageOf(context), c.contextMessage);
  }
}

TEST(SetContextError, StoresCodeMinusOneAndTheText) {
  ErrorState context;
  context.SetCode(-2001);
  SetContextError(context, "Invalid cookie.  Object has not been created.");
  EXPECT_EQ(context.Code(), -1);
  EXPECT_EQ(MessageOf(context), "Invalid cookie.  Object has not been created.");
}

// ---- the three handlers -------------------------------------------------------------------------

enum class Raise { kHResult, kBstr, kBstrWithHr, kConversion, kBadAlloc, kStdException, kInt };

void RaiseKind(Raise kind, HRESULT hr) {
  switch (kind) {
    case Raise::kHResult:
      throw HResultFailure{hr};
    case Raise::kBstr:
      throw BstrFailure{};
    case Raise::kBstrWithHr:
      throw BstrFailure{hr};
    case Raise::kConversion:
      throw ConversionFailure{};
    case Raise::kBadAlloc:
      throw std::bad_alloc();
    case Raise::kStdException:
      throw std::runtime_error("x");
    case Raise::kInt:
      throw 42;
  }
}

struct HandlerCase {
  const char* name;
  Raise raise;
  HRESULT carried;
  const char* messageBefore;  // null: none; "" an empty, non-null message
  HRESULT expected;
  const char* messageAfter;
};

constexpr const char* kUnexpected = "Unexpected error.";
constexpr const char* kOutOfMemory = "Could not allocate memory for argument processing.";

constexpr HandlerCase kHandlerCases[] = {
    {"bridge failure, no text", Raise::kHResult, E_ACCESSDENIED, nullptr, E_ACCESSDENIED, kUnexpected},
    {"bridge failure, empty text", Raise::kHResult, E_ABORT, "", E_ABORT, kUnexpected},
    {"bridge failure keeps its text", Raise::kHResult, E_FAIL, "bridge text", E_FAIL, "bridge text"},
    {"thrown E_OUTOFMEMORY replaces text", Raise::kHResult, E_OUTOFMEMORY, "bridge text", E_OUTOFMEMORY,
     kOutOfMemory},
    {"BSTR failure", Raise::kBstr, S_OK, "bridge text", E_OUTOFMEMORY, kOutOfMemory},
    {"BSTR failure carrying another hr", Raise::kBstrWithHr, DISP_E_OVERFLOW, nullptr, DISP_E_OVERFLOW,
     kUnexpected},
    {"conversion failure, no text", Raise::kConversion, S_OK, nullptr, E_FAIL, kUnexpected},
    {"conversion failure keeps its text", Raise::kConversion, S_OK, "Safearray lLbound MUST be zero.", E_FAIL,
     "Safearray lLbound MUST be zero."},
    {"plain allocation failure", Raise::kBadAlloc, S_OK, "bridge text", E_UNEXPECTED, kUnexpected},
    {"other exception", Raise::kStdException, S_OK, nullptr, E_UNEXPECTED, kUnexpected},
    {"non-class exception", Raise::kInt, S_OK, "text", E_UNEXPECTED, kUnexpected},
};

TEST(RunGuarded, EachFailureKindGivesItsResultAndMessage) {
  for (const HandlerCase& c : kHandlerCases) {
    SCOPED_TRACE(c.name);
    ErrorState wrapper;
    wrapper.SetCode(-1234);
    wrapper.SetMessage(c.messageBefore);

    const HRESULT hr = RunGuarded(wrapper, [&]() -> HRESULT {
      RaiseKind(c.raise, c.carried);
      return S_OK;
    });

    EXPECT_EQ(hr, c.expected);
    EXPECT_EQ(MessageOf(wrapper), c.messageAfter);
    EXPECT_EQ(wrapper.Code(), -1234) << "the handlers never change the code";
  }
}

TEST(RunGuarded, WorkThatSucceedsReturnsItsOwnResultAndLeavesTheStateAlone) {
  ErrorState wrapper;
  EXPECT_EQ(RunGuarded(wrapper, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(wrapper.CopyMessage().Get(), nullptr);
}

// ---- the bridge's last error --------------------------------------------------------------------

class CaptureBridgeErrorTest : public ::testing::Test {
 protected:
  void SetUp() override { bridge_ = &testing::BoundBridgeDouble(); }
  testing::BridgeDouble* bridge_ = nullptr;
};

TEST_F(CaptureBridgeErrorTest, CopiesCodeAndTextAndMapsTheCode) {
  ErrorState context;
  ErrorState wrapper;
  wrapper.SetMessage("old");
  bridge_->SetLastError(-2001, "process 3 is running a script");

  EXPECT_EQ(CaptureBridgeError(wrapper, context), E_ACCESSDENIED);

  EXPECT_EQ(wrapper.Code(), -2001);
  EXPECT_EQ(MessageOf(wrapper), "process 3 is running a script");
  EXPECT_EQ(context.Code(), -2001);
  EXPECT_EQ(MessageOf(context), "The object's associated ZUL process is currently busy.");
  const auto calls = bridge_->CallsTo(BridgeEntry::kGetLastError);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0]->args[0], 1) << "asked with a place for the code";
}

TEST_F(CaptureBridgeErrorTest, ANullTextLeavesNoMessage) {
  ErrorState context;
  ErrorState wrapper;
  wrapper.SetMessage("old");
  bridge_->SetLastError(-17, nullptr);

  EXPECT_EQ(CaptureBridgeError(wrapper, context), E_FAIL);
  EXPECT_EQ(wrapper.Code(), -17);
  EXPECT_EQ(wrapper.CopyMessage().Get(), nullptr);
  EXPECT_EQ(context.CopyMessage().Get(), nullptr);
}

}  // namespace
}  // namespace zul
