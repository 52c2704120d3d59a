// Sets an environment variable of the running process for one scope and restores it afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ole.h"

namespace zul::testing {

class ScopedEnvironment {
 public:
  // A null value removes the variable for the scope.
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed > 0) {
      std::vector<char> old(needed + 1);
      GetEnvironmentVariableA(name, old.data(), static_cast<DWORD>(old.size()));
      old_ = std::string(old.data());
    }
    SetEnvironmentVariableA(name, value);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() { SetEnvironmentVariableA(name_.c_str(), old_ ? old_->c_str() : nullptr); }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The current directory of the process.
inline std::string CurrentDirectory() {
  char directory[4096] = {};
  GetCurrentDirectoryA(sizeof directory, directory);
  return directory;
}

}  // namespace zul::testing
