#include "failure/stored_texts.h"

namespace ncrewrite {

// POSIX executables carry no string table: the texts are the program's own.
std::string_view StoredText(std::uint32_t number) noexcept { return BuiltInStoredText(number); }

}  // namespace ncrewrite
