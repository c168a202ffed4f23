#pragma once

// What the end-to-end tests that only POSIX systems run share: running a
// command as another user than the one running the tests.

#include <sys/types.h>

#include <string>
#include <vector>

namespace ncrewrite::e2e {

// The other user: the one whom permissions bind when the tests run as root.
inline constexpr uid_t kNobody = 65534;

/// The arguments of setpriv (/usr/bin/setpriv, which needs root) that run
/// `command` as the user nobody, of the group nogroup and no other.
inline std::vector<std::string> AsNobody(const std::vector<std::string>& command) {
  std::vector<std::string> arguments = {"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
  arguments.insert(arguments.end(), command.begin(), command.end());
  return arguments;
}

}  // namespace ncrewrite::e2e
