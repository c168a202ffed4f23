#pragma once

// How a box reaches the user on each platform (message_box_<platform>.cpp).
// A twin shows the box modally and returns only when it is dismissed (a
// program that waits for the exit status must wait for the user), writes
// the box to standard error as well, caption first, when the process has
// one (with WriteBoxLines, so that it reads the same on every platform),
// and allocates nothing: boxes are also shown when memory has run out.

#include <cstddef>
#include <string_view>

namespace ncrewrite {

enum class BoxIcon { kNone, kError };

/// What a box's text is made of. The last-resort boxes carry fixed ASCII
/// from the program's own data, which a platform may show without
/// converting anything; every other box may carry any text.
enum class BoxText {
  kUnicode,  // UTF-8 (WTF-8 on Windows)
  kAscii,    // fixed ASCII text of the program
};

/// Shows `text` (lines broken by CR LF) under `caption` with one OK button
/// and returns when the user has dismissed it; when the box cannot be shown,
/// returns at once. Needs no memory, so it serves when memory has run out.
void PresentBox(std::string_view caption, std::string_view text, BoxIcon icon,
                BoxText text_kind) noexcept;

/// Writes a box as plain lines through `write`, piece by piece: the
/// caption, a LF, then the text with each line break (CR LF, CR or LF) as
/// LF, ended by a LF. Needs no memory, however long the text.
void WriteBoxLines(std::string_view caption, std::string_view text,
                   void (*write)(const char* data, std::size_t size) noexcept) noexcept;

}  // namespace ncrewrite
