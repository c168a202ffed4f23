#include <stdlib.h>

#include <stdexcept>

#include "testing/environment.h"

namespace ncrewrite::testing {

void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value) {
  const int result =
      value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
  if (result != 0) throw std::runtime_error("cannot change the environment variable " + name);
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* const value = ::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace ncrewrite::testing
