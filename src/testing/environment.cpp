#include "testing/environment.h"

#include <algorithm>

namespace ncrewrite::testing {

EnvironmentOverride::~EnvironmentOverride() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) ChangeEnvironment(it->first, it->second);
}

void EnvironmentOverride::Set(const std::string& name, const std::string& value) {
  Save(name);
  ChangeEnvironment(name, value);
}

void EnvironmentOverride::Remove(const std::string& name) {
  Save(name);
  ChangeEnvironment(name, std::nullopt);
}

void EnvironmentOverride::Save(const std::string& name) {
  const bool saved = std::any_of(saved_.begin(), saved_.end(),
                                 [&](const auto& entry) { return entry.first == name; });
  if (saved) return;  // the value from before the first change is the one to give back
  saved_.emplace_back(name, EnvironmentValue(name));
}

}  // namespace ncrewrite::testing
