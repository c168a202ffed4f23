#include <windows.h>

#include <stdexcept>

#include "failure/platform_text.h"
#include "testing/held_file.h"

namespace ncrewrite::testing {

namespace {

HANDLE Handle(long long value) { return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(value)); }

}  // namespace

HeldFile::HeldFile(const std::string& path) {
  const std::u16string units = Utf16FromWtf8(path);
  const std::wstring wide(units.begin(), units.end());
  // Not inherited: the program under test must meet another process's hold.
  const HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  handle_ = static_cast<long long>(reinterpret_cast<INT_PTR>(file));
}

HeldFile::~HeldFile() { ::CloseHandle(Handle(handle_)); }

}  // namespace ncrewrite::testing
