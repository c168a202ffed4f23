#pragma once

// Test support: the rewrite rule transcribed as directly as possible, as the
// oracle that the fast rule is checked against by tests and fuzzing.

#include <string>
#include <vector>

namespace ncrewrite::testing {

/// The rule's steps with the backward search and the removals from the
/// middle of a vector: slow, but easy to check against the description.
std::vector<std::u16string> RewriteSlowly(std::vector<std::u16string> lines);

}  // namespace ncrewrite::testing
