#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

struct Entry {
  std::uint32_t number;
  std::string_view text;
};

// UTF-8, as every text the reports show.
constexpr Entry kTexts[] = {
#define NCREWRITE_STORED_TEXT(name, number, text) {stored_text::name, text},
#include "failure/stored_texts.inc"
#undef NCREWRITE_STORED_TEXT
};

}  // namespace

std::string_view BuiltInStoredText(std::uint32_t number) noexcept {
  for (const Entry& entry : kTexts) {
    if (entry.number == number) return entry.text;
  }
  return {};
}

}  // namespace ncrewrite
