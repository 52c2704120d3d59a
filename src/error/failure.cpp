#include "error/failure.h"

#include <new>

namespace zul {

CaughtFailure ClassifyCurrentException() noexcept {
  try {
    throw;
  } catch (const HResultFailure& failure) {
    return {FailureKind::kHResult, failure.hr};
  } catch (const BstrFailure& failure) {
    return {FailureKind::kHResult, failure.hr};
  } catch (const ConversionFailure&) {
    return {FailureKind::kConversion, E_FAIL};
  } catch (const std::bad_alloc&) {
    return {FailureKind::kOther, E_OUTOFMEMORY};
  } catch (...) {
    return {FailureKind::kOther, E_UNEXPECTED};
  }
}

}  // namespace zul
