#include "error/error_model.h"

#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <stdexcept>

#include "bstr_util.h"
#include "error/failure.h"
#include "zul/qel.h"

namespace zul {
namespace {

using testing::MessageOf;

// Only the named codes are known; the two with a text of their own also set the context.
TEST(MapBridgeError, MapsEveryNamedCodeAndNothingElse) {
  const struct {
    int32_t code;
    HRESULT hr;
    const char* contextText;  // null: the context keeps its code and text
  } cases[] = {
      {ZUL_QEL_ERROR_ABORT_REQUESTED, E_ABORT, nullptr},
      {ZUL_QEL_ERROR_OTHER_PROCESS, E_ACCESSDENIED, nullptr},
      {ZUL_QEL_ERROR_ABORTED, E_ABORT, nullptr},
      {-1, E_FAIL, nullptr},
      {0, E_FAIL, nullptr},
      {-2005, E_FAIL, nullptr},
      {INT32_MIN, E_FAIL, nullptr},
      {ZUL_QEL_ERROR_NOTHING_TO_ABORT, E_FAIL, "There is no ZUL activity to abort."},
      {ZUL_QEL_ERROR_BUSY, E_ACCESSDENIED, "The object's associated ZUL process is currently busy."}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    ErrorState context;
    context.Set(7, "before");
    EXPECT_EQ(MapBridgeError(context, c.code), c.hr);
    EXPECT_EQ(context.Code(), c.contextText ? c.code : 7);
    EXPECT_EQ(MessageOf(context), c.contextText ? c.contextText : "before");
  }
}

enum class Raise { kHResult, kBstr, kConversion, kBadAlloc, kOther };

// Each failure kind raised by the work, after it recorded a text of its own or not, gives its result and
// the text the client reads; the code is never touched.
TEST(RunGuarded, EachFailureKindGivesItsResultAndText) {
  constexpr const char* kUnexpected = "Unexpected error.";
  constexpr const char* kOutOfMemory = "Could not allocate memory for argument processing.";
  const struct {
    Raise raise;
    HRESULT carried;
    const char* recorded;  // by the work before it raises; "" an empty, non-null text
    HRESULT hr;
    const char* text;
  } cases[] = {
      {Raise::kHResult, E_ACCESSDENIED, nullptr, E_ACCESSDENIED, kUnexpected},
      {Raise::kHResult, E_ABORT, "", E_ABORT, kUnexpected},
      {Raise::kHResult, E_FAIL, "own text", E_FAIL, "own text"},
      {Raise::kHResult, E_OUTOFMEMORY, "own text", E_OUTOFMEMORY, kOutOfMemory},
      {Raise::kBstr, E_OUTOFMEMORY, "own text", E_OUTOFMEMORY, kOutOfMemory},
      {Raise::kBstr, DISP_E_OVERFLOW, nullptr, DISP_E_OVERFLOW, kUnexpected},
      {Raise::kConversion, S_OK, nullptr, E_FAIL, kUnexpected},
      {Raise::kConversion, S_OK, "own text", E_FAIL, "own text"},
      {Raise::kBadAlloc, S_OK, "own text", E_UNEXPECTED, kUnexpected},
      {Raise::kOther, S_OK, nullptr, E_UNEXPECTED, kUnexpected},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    ErrorState wrapper;
    wrapper.Set(-1234, "an earlier call's text");  // never shown for this failure
    const HRESULT hr = RunGuarded(wrapper, [&]() -> HRESULT {
      if (c.recorded != nullptr) wrapper.SetMessage(c.recorded);
      if (c.raise == Raise::kHResult) throw HResultFailure{c.carried};
      if (c.raise == Raise::kBstr) throw BstrFailure{c.carried};
      if (c.raise == Raise::kConversion) throw ConversionFailure{};
      if (c.raise == Raise::kBadAlloc) throw std::bad_alloc();
      throw 42;
    });
    EXPECT_EQ(hr, c.hr);
    EXPECT_EQ(MessageOf(wrapper), c.text);
    EXPECT_EQ(wrapper.Code(), -1234);
  }
  ErrorState untouched;
  EXPECT_EQ(RunGuarded(untouched, [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(untouched.CopyMessage().Get(), nullptr);
}

}  // namespace
}  // namespace zul
