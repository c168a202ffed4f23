#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

struct Entry {
  std::uint32_t number;
  std::string_view text;
};

// UTF-8, as every text the reports show.
constexpr Entry kTexts[] = {
    {stored_text::kFailureReportFormat, "Exception %s in Modul %s bei %p.\r\n%s%s\r\n"},
    {stored_text::kFailureReportCaption, "Anwendungsfehler"},
    {stored_text::kOutOfMemoryMessage, "Zu wenig Arbeitsspeicher"},
};

}  // namespace

std::string_view StoredText(std::uint32_t number) noexcept {
  for (const Entry& entry : kTexts) {
    if (entry.number == number) return entry.text;
  }
  return {};
}

}  // namespace ncrewrite
