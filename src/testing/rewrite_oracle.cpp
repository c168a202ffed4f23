#include "testing/rewrite_oracle.h"

#include <cstddef>
#include <string_view>

namespace ncrewrite::testing {
namespace {

bool ReadsCode(std::u16string_view line, std::u16string_view code) {
  while (!line.empty() && line.front() <= u' ') line.remove_prefix(1);
  while (!line.empty() && line.back() <= u' ') line.remove_suffix(1);
  return line == code;
}

}  // namespace

std::vector<std::u16string> RewriteSlowly(std::vector<std::u16string> lines) {
  for (std::ptrdiff_t i = 0; i < std::ssize(lines); ++i) {
    if (!ReadsCode(lines[static_cast<std::size_t>(i)], u"M80")) continue;
    std::ptrdiff_t j = i - 1;
    while (j >= 1 && !ReadsCode(lines[static_cast<std::size_t>(j)], u"M104")) --j;
    if (j < 1) continue;
    lines[static_cast<std::size_t>(j)] = u"M104 M180";
    lines.erase(lines.begin() + i);
    if (i < std::ssize(lines) && ReadsCode(lines[static_cast<std::size_t>(i)], u"M81")) {
      lines.erase(lines.begin() + i);
    }
  }
  return lines;
}

}  // namespace ncrewrite::testing
