#pragma once

#include <string>
#include <string_view>

namespace ncrewrite {

/// Replaces the last extension of the file name in `path` by `extension`
/// (which includes its dot), or appends it when the name has none. The
/// extension begins at the last '.' of the path that no '\', '/' or ':'
/// follows: a dot in a directory name is never taken for it, whichever of
/// the two separators the path uses (Windows takes both).
std::string ReplaceExtension(std::string_view path, std::string_view extension);

}  // namespace ncrewrite
