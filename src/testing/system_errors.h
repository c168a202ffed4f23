#pragma once

// Test support: the platform's error codes for the file faults that tests
// make, so that a test can expect the system's own text for them
// (SystemErrorText) on every platform.

namespace ncrewrite::testing {

/// Opening a file that does not exist, in a directory that does.
extern const int kNoSuchFileError;

/// Creating a file in a directory that does not exist.
extern const int kNoSuchDirectoryError;

}  // namespace ncrewrite::testing
