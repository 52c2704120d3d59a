// Error codes of the reference bridge and the exception that carries one to the entry point.
#ifndef ZUL_BRIDGE_ERRORS_H
#define ZUL_BRIDGE_ERRORS_H

#include <cstdint>
#include <stdexcept>
#include <string>

#include "zul/qel.h"

namespace zul::bridge {

inline constexpr int32_t kInternal = -1000;
inline constexpr int32_t kNotInitialized = -1001;
inline constexpr int32_t kInvalidArgument = -1002;
inline constexpr int32_t kInvalidCookie = -1003;
inline constexpr int32_t kUnknownClass = -1004;
inline constexpr int32_t kProcessError = -1005;
inline constexpr int32_t kOutOfMemory = -1006;
inline constexpr int32_t kNoTransaction = -1007;
inline constexpr int32_t kBadBlock = -1008;
inline constexpr int32_t kObjectState = -1010;
inline constexpr int32_t kUnknownMethod = -1011;
inline constexpr int32_t kPropertyError = -1012;
inline constexpr int32_t kBadArgument = -1013;
inline constexpr int32_t kArgumentCount = -1014;
inline constexpr int32_t kVariableError = -1015;
inline constexpr int32_t kNoEvents = -1016;
inline constexpr int32_t kSyntaxError = -1021;
inline constexpr int32_t kUndefinedVariable = -1022;
inline constexpr int32_t kEvaluationError = -1023;
inline constexpr int32_t kBusy = ZUL_QEL_ERROR_BUSY;
inline constexpr int32_t kAborted = ZUL_QEL_ERROR_ABORTED;
inline constexpr int32_t kOtherProcess = ZUL_QEL_ERROR_OTHER_PROCESS;
inline constexpr int32_t kNothingToAbort = ZUL_QEL_ERROR_NOTHING_TO_ABORT;

class BridgeError : public std::runtime_error {
 public:
  BridgeError(int32_t code, const std::string& text) : std::runtime_error(text), code_(code) {}
  int32_t Code() const { return code_; }

 private:
  int32_t code_;
};

[[noreturn]] inline void Fail(int32_t code, const std::string& text) {
  throw BridgeError(code, text);
}

}  // namespace zul::bridge

#endif
