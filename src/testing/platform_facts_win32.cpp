#include "testing/platform_facts.h"

namespace ncrewrite::testing {

const PlatformFacts& ThisPlatform() {
  static constexpr PlatformFacts kWindows{.temp_file_tells_completeness_by_permissions = false};
  return kWindows;
}

}  // namespace ncrewrite::testing
