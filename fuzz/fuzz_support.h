#pragma once

// Support for the fuzz targets: a scratch directory for files, and a check
// that stops the run as a crash, so that libFuzzer keeps the input.

#include <stdlib.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace ncrewrite::fuzz {

/// Stops with a crash when `condition` does not hold.
inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

/// A directory for the files of one fuzzing process, in memory where the
/// machine has it (saving flushes to the disk, which a RAM disk skips).
std::string ScratchDirectory();

/// Writes `bytes` to a new file at `path`.
void WriteBytes(const std::string& path, std::string_view bytes);

/// The whole file at `path`.
std::string ReadBytes(const std::string& path);

}  // namespace ncrewrite::fuzz
