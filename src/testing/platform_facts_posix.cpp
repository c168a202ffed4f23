#include "testing/platform_facts.h"

namespace ncrewrite::testing {

const PlatformFacts& ThisPlatform() {
  static constexpr PlatformFacts kPosix{.temp_file_tells_completeness_by_permissions = true};
  return kPosix;
}

}  // namespace ncrewrite::testing
