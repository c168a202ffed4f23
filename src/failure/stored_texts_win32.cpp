#include <windows.h>

#include <string_view>

#include "failure/platform_text.h"
#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

// The format and the out-of-memory message are read into 256 characters,
// the caption into 64 (so at most 63 of it are shown).
constexpr int kTextRoom = 256;
constexpr int kCaptionRoom = 64;

/// Where one stored text is read to and kept. Each text has its own, so
/// that a view given out stays valid while another text is read; all of it
/// is static, since texts are read when memory has run out.
struct Slot {
  std::uint32_t number;
  int room;  // characters, the terminating NUL included
  char16_t units[kTextRoom];
  char utf8[3 * kTextRoom];  // the most that 255 code units take in UTF-8
};

constexpr int RoomFor(std::uint32_t number) {
  return number == stored_text::kFailureReportCaption ? kCaptionRoom : kTextRoom;
}

Slot slots[] = {
#define NCREWRITE_STORED_TEXT(name, number, text) {stored_text::name, RoomFor(stored_text::name), {}, {}},
#include "failure/stored_texts.inc"
#undef NCREWRITE_STORED_TEXT
};

}  // namespace

// From the executable's string table, read afresh on each call.
std::string_view StoredText(std::uint32_t number) noexcept {
  for (Slot& slot : slots) {
    if (slot.number != number) continue;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), number,
                                     reinterpret_cast<LPWSTR>(slot.units), slot.room);
    if (length <= 0) return {};
    const std::u16string_view units(slot.units, static_cast<std::size_t>(length));
    return {slot.utf8, Wtf8FromUtf16(units, slot.utf8)};
  }
  return {};
}

}  // namespace ncrewrite
