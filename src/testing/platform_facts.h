#pragma once

// Test support: what the tests that every platform runs must know about the
// platform, as data, so that each platform runs the same tables. Each
// platform states its facts in platform_facts_<platform>.cpp.

namespace ncrewrite::testing {

struct PlatformFacts {
  /// A temp file of the save is readable by its owner only until its
  /// content is complete, so a leftover of a killed run tells by its
  /// permissions whether it holds the whole new content. Without
  /// permission bits (Windows), a leftover may hold any part of it.
  bool temp_file_tells_completeness_by_permissions;
};

const PlatformFacts& ThisPlatform();

}  // namespace ncrewrite::testing
