#include "driver/command_line.h"

namespace ncrewrite {
namespace {

constexpr char16_t kQuote = u'"';

class CommandLineReader {
 public:
  explicit CommandLineReader(std::u16string_view line) : line_(line) {}

  /// Takes the next argument; appends its characters to `out` when it is
  /// not null. Gives the number of characters it has.
  std::size_t TakeArgument(std::u16string* out) {
    SkipToArgument();
    std::size_t count = 0;
    bool quoted = false;
    for (; !AtEnd(); ++at_) {
      const char16_t c = line_[at_];
      if (c == kQuote) {
        quoted = !quoted;
        continue;
      }
      if (!quoted && IsSeparator(c)) break;
      if (out != nullptr) out->push_back(c);
      ++count;
    }
    return count;
  }

 private:
  static bool IsSeparator(char16_t c) { return c >= 1 && c <= 32; }

  bool AtEnd() const { return at_ >= line_.size() || line_[at_] == u'\0'; }

  void SkipToArgument() {
    for (;;) {
      if (!AtEnd() && IsSeparator(line_[at_])) {
        ++at_;
      } else if (!AtEnd() && line_[at_] == kQuote && at_ + 1 < line_.size() &&
                 line_[at_ + 1] == kQuote) {
        at_ += 2;
      } else {
        return;
      }
    }
  }

  std::u16string_view line_;
  std::size_t at_ = 0;
};

}  // namespace

std::u16string CommandLineArgument(std::u16string_view command_line, std::int32_t index) {
  if (index < 0) return {};
  CommandLineReader reader(command_line);
  for (std::int32_t skipped = 0; skipped < index; ++skipped) {
    if (reader.TakeArgument(nullptr) == 0) return {};
  }
  std::u16string argument;
  reader.TakeArgument(&argument);
  return argument;
}

}  // namespace ncrewrite
