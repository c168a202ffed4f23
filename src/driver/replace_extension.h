#pragma once

#include <string>
#include <string_view>

namespace ncrewrite {

/// Which characters end the backward search for an extension besides '\'
/// and ':'.
enum class PathStyle {
  kWindows,  // '/' is an ordinary character
  kPosix,    // '/' ends the search too, so a dotted directory is no extension
};

/// The platform's own style.
PathStyle NativePathStyle();

/// Replaces the last extension of the file name in `path` by `extension`
/// (which includes its dot), or appends it when the name has none.
std::string ReplaceExtension(std::string_view path, std::string_view extension,
                             PathStyle style = NativePathStyle());

}  // namespace ncrewrite
