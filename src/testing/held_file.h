#pragma once

// Test support: a file that this process holds the way another program
// holds a file it is working on, so that a program started meanwhile meets
// it as a busy file.

#include <string>

namespace ncrewrite::testing {

/// Holds the existing file at `path` until the object goes. Each platform
/// implements it in held_file_<platform>.cpp and must guarantee that while
/// it is held, ncrewrite can neither load the file nor save over it, as
/// when another instance of it works on the file: on Windows the file is
/// open with share mode 0; on POSIX systems, which know no share modes, it
/// is open with the exclusive lock that ncrewrite's instances respect.
class HeldFile {
 public:
  explicit HeldFile(const std::string& path);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  long long handle_;
};

}  // namespace ncrewrite::testing
