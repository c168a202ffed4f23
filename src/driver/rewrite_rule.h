#pragma once

#include "textfile/line_list.h"

namespace ncrewrite {

/// Rewrites `lines` in place in one forward pass: a line that reads "M80"
/// turns the nearest earlier line (above index 0) that reads "M104" into
/// "M104 M180" and is removed, together with a line that reads "M81" right
/// after it. A line reads a code when it equals it after trimming every
/// character up to U+0020 from both ends. The line that moves up into the
/// place of a removed line is not tested for "M80" in this pass.
///
/// Time is linear in the length of the text on every input.
void ApplyRewriteRule(LineList& lines);

}  // namespace ncrewrite
