#pragma once

// Test support: changes to this process's environment that last as long as
// a test.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ncrewrite::testing {

/// Sets `name` to `value`, or removes it when there is no `value`, for this
/// process and the programs it starts.
void ChangeEnvironment(const std::string& name, const std::optional<std::string>& value);

/// The value of `name` in this process's environment, or nothing when it is
/// not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

/// Sets and removes environment variables, and gives each one back the value
/// it had before (or removes it again) when the object goes.
class EnvironmentOverride {
 public:
  EnvironmentOverride() = default;
  ~EnvironmentOverride();
  EnvironmentOverride(const EnvironmentOverride&) = delete;
  EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

  void Set(const std::string& name, const std::string& value);
  void Remove(const std::string& name);

 private:
  void Save(const std::string& name);

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace ncrewrite::testing
