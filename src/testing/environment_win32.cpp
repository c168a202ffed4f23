// PLACEHOLDER of the Windows skeleton: replaced before the Windows build lands.
#include <stdexcept>

#include "testing/environment.h"

namespace ncrewrite::testing {

void ChangeEnvironment(const std::string& name, const std::optional<std::string>&) {
  throw std::runtime_error("cannot change the environment variable " + name + " yet");
}

}  // namespace ncrewrite::testing
