#include "failure/message_box.h"

namespace ncrewrite {

void WriteBoxLines(std::string_view caption, std::string_view text,
                   void (*write)(const char* data, std::size_t size) noexcept) noexcept {
  write(caption.data(), caption.size());
  write("\n", 1);
  // In pieces, so that a text of any length goes out without memory.
  char piece[512];
  std::size_t length = 0;
  char last = '\n';
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      c = '\n';
    }
    if (length == sizeof piece) {
      write(piece, length);
      length = 0;
    }
    piece[length++] = c;
    last = c;
  }
  write(piece, length);
  if (last != '\n' || text.empty()) write("\n", 1);
}

}  // namespace ncrewrite
