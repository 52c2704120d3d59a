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

using testing::MessageOf;

constexpr const char* kUntouched = "before";

// Only the codes of the table are known; the two with a text of their own also set the context.
TEST(MapBridgeError, MapsEveryKnownCodeAndNothingElse) {
  const struct {
    int32_t bridgeCode;
    HRESULT expected;
    const char* contextMessage;  // null: the context keeps its code and message
  } cases[] = {{-4001, E_ABORT, nullptr},
               {-2004, E_FAIL, "There is no ZUL activity to abort."},
               {-2003, E_ACCESSDENIED, nullptr},
               {-2002, E_ABORT, nullptr},
               {-2001, E_ACCESSDENIED, "The object's associated ZUL process is currently busy."},
               {-1, E_FAIL, nullptr},
               {0, E_FAIL, nullptr},
               {1, E_FAIL, nullptr},
               {-2000, E_FAIL, nullptr},
               {-2005, E_FAIL, nullptr},
               {-4000, E_FAIL, nullptr},
               {-4002, E_FAIL, nullptr},
               {INT32_MIN, E_FAIL, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bridgeCode);
    ErrorState context;
    context.SetCode(7);
    context.SetMessage(kUntouched);
    EXPECT_EQ(MapBridgeError(context, c.bridgeCode), c.expected);
    EXPECT_EQ(context.Code(), c.contextMessage != nullptr ? c.bridgeCode : 7);
    EXPECT_EQ(MessageOf(context), c.contextMessage != nullptr ? c.contextMessage : kUntouched);
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
  const char* recorded;  // by the work before it raises; null: nothing; "" an empty, non-null message
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
    wrapper.SetMessage("an earlier call's text");  // never shown for this failure
    const HRESULT hr = RunGuarded(wrapper, [&]() -> HRESULT {
      if (c.recorded != nullptr) wrapper.SetMessage(c.recorded);
      RaiseKind(c.raise, c.carried);
      return S_OK;
    });
    EXPECT_EQ(hr, c.expected);
    EXPECT_EQ(MessageOf(wrapper), c.messageAfter);
    EXPECT_EQ(wrapper.Code(), -1234) << "the handlers never change the code";
  }
  ErrorState untouched;  // work that succeeds keeps its own result
  EXPECT_EQ(RunGuarded(untouched, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(untouched.CopyMessage().Get(), nullptr);
}

// The bridge's code and text go to the wrapper; the context gets the mapped code's own text, if any.
TEST(CaptureBridgeError, CopiesCodeAndTextAndMapsTheCode) {
  testing::BridgeDouble& bridge = testing::BoundBridgeDouble();
  const struct {
    int32_t code;
    const char* text;
    HRESULT expected;
    const char* contextMessage;
  } cases[] = {{-2001, "process 3 is running a script", E_ACCESSDENIED,
                "The object's associated ZUL process is currently busy."},
               {-17, nullptr, E_FAIL, "<null>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ErrorState context, wrapper;
    wrapper.SetMessage("old");
    bridge.Reset();
    bridge.SetLastError(c.code, c.text);
    EXPECT_EQ(CaptureBridgeError(wrapper, context), c.expected);
    EXPECT_EQ(wrapper.Code(), c.code);
    EXPECT_EQ(MessageOf(wrapper), c.text != nullptr ? c.text : "<null>");
    EXPECT_EQ(MessageOf(context), c.contextMessage);
    const auto calls = bridge.CallsTo(BridgeEntry::kGetLastError);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]->args[0], 1) << "asked with a place for the code";
  }
}

}  // namespace
}  // namespace zul
