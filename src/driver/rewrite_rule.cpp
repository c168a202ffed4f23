#include "driver/rewrite_rule.h"

#include <deque>

namespace ncrewrite {
namespace {

constexpr std::u16string_view kM80 = u"M80";
constexpr std::u16string_view kM81 = u"M81";
constexpr std::u16string_view kM104 = u"M104";
constexpr std::u16string_view kM104M180 = u"M104 M180";

/// The rule is run in two forward passes so that it needs neither a backward
/// search (quadratic on a file of "M80" lines) nor a list of the rewritten
/// lines in the order they are found (which is not file order).
///
/// The first pass decides which lines are removed and keeps a stack of the
/// "M104" lines not yet taken, nearest last: an "M80" line takes the top one.
/// What is left on the stack at the end are exactly the "M104" lines that are
/// never taken, in file order; the second pass rewrites all others.
template <typename Units>
class RewritePass {
 public:
  explicit RewritePass(LineList& lines) : lines_(lines) {}

  void Run() {
    const char* last_removal = FindRemovals();
    if (last_removal != nullptr) RewriteTakenLines(last_removal);
  }

 private:
  /// Returns where the last removed line begins, or null when none is.
  const char* FindRemovals() {
    LineReader<Units> reader(lines_.text_begin(), lines_.text_end());
    LineSpan line;
    const char* last_removal = nullptr;
    bool first_line = true;
    while (reader.Next(line)) {
      if (!pending_.empty() && LineReads<Units>(line, kM80)) {
        pending_.pop_back();
        lines_.DropLine(line.begin);
        last_removal = line.begin;
        if (!reader.Next(line)) break;
        if (LineReads<Units>(line, kM81)) {
          lines_.DropLine(line.begin);
          last_removal = line.begin;
          if (!reader.Next(line)) break;
        }
        // The line that moved up into the removed line's place is kept
        // without being tested for "M80".
      }
      if (!first_line && LineReads<Units>(line, kM104)) pending_.push_back(line.begin);
      first_line = false;
    }
    return last_removal;
  }

  /// Rewrites every "M104" line below the first line and above the last
  /// removal that the first pass left on the stack untaken.
  void RewriteTakenLines(const char* last_removal) {
    const std::uint8_t replacement = lines_.AddReplacementText(kM104M180);
    LineReader<Units> reader(lines_.text_begin(), last_removal);
    LineSpan line;
    reader.Next(line);  // the first line is never rewritten
    while (reader.Next(line)) {
      if (!LineReads<Units>(line, kM104)) continue;
      if (!pending_.empty() && pending_.front() == line.begin) {
        pending_.pop_front();
      } else {
        lines_.ReplaceLine(line.begin, replacement);
      }
    }
  }

  LineList& lines_;
  std::deque<const char*> pending_;
};

}  // namespace

void ApplyRewriteRule(LineList& lines) {
  lines.ApplyEdits();
  WithUnits(lines.stored_encoding().units, [&lines]<typename Units>(Units) {
    RewritePass<Units>(lines).Run();
  });
}

}  // namespace ncrewrite
