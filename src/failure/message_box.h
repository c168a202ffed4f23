#pragma once

// How a box reaches the user on each platform (message_box_<platform>.cpp).
// A twin shows the box modally and returns only when it is dismissed (a
// program that waits for the exit status must wait for the user), writes
// the box to standard error as well, caption first, when the process has
// one, and allocates nothing: boxes are also shown when memory has run out.

#include <string_view>

namespace ncrewrite {

enum class BoxIcon { kNone, kError };

/// Shows `text` (lines broken by CR LF) under `caption` with one OK button
/// and returns when the user has dismissed it; when the box cannot be shown,
/// returns at once. Needs no memory, so it serves when memory has run out.
void PresentBox(std::string_view caption, std::string_view text, BoxIcon icon) noexcept;

}  // namespace ncrewrite
