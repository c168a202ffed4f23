#pragma once

namespace ncrewrite {

/// The whole working life of a run: loads the program file named by argument
/// 1, rewrites it and saves it over itself, or to the file of the same name
/// with the extension ".tap" when the settings file beside the executable
/// says test=1 in section [common]. Does nothing when argument 1 names no
/// existing file. Raises a failure when a step fails; whatever the run made
/// is released first, the settings reader before the line list.
void RunRewrite();

}  // namespace ncrewrite
