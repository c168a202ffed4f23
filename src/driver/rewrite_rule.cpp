#include "driver/rewrite_rule.h"

#include <vector>

namespace ncrewrite {
namespace {

constexpr std::u16string_view kM80 = u"M80";
constexpr std::u16string_view kM81 = u"M81";
constexpr std::u16string_view kM104 = u"M104";
constexpr std::u16string_view kM104M180 = u"M104 M180";
static_assert(kM80[0] == u'M' && kM81[0] == u'M' && kM104[0] == u'M');
static_assert(kM104[1] != kM80[1] && kM80[1] == kM81[1] && kM80[2] != kM81[2]);

enum class Code { kOther, kM80Line, kM81Line, kM104Line };

/// Which of the codes the line reads. Most lines of a program are moves:
/// they fail on their first unit. The codes differ in their second unit
/// ("M1" against "M8") and then in their third ("M80" against "M81"), so a
/// line is compared in full with one of them only.
template <typename Units>
Code ReadCode(const LineSpan& line) {
  const char* p = Units::SkipBlanks(line.begin, line.end);
  if (UnitCount<Units>(p, line.end) < kM80.size() || Units::At(p) != u'M') return Code::kOther;
  if (Units::At(p + Units::kSize) == kM104[1]) {
    return RestReads<Units>(p, line.end, kM104) ? Code::kM104Line : Code::kOther;
  }
  if (Units::At(p + 2 * Units::kSize) == kM81[2]) {
    return RestReads<Units>(p, line.end, kM81) ? Code::kM81Line : Code::kOther;
  }
  return RestReads<Units>(p, line.end, kM80) ? Code::kM80Line : Code::kOther;
}

/// The rule is run in one forward pass that needs no backward search
/// (quadratic on a file of "M80" lines): a stack holds the numbers of the
/// "M104" lines not yet taken, nearest last, and an "M80" line takes the top
/// one. Lines are named by their number in the stored text, which the line
/// list marks as dropped or replaced in any order.
template <typename Units>
class RewritePass {
 public:
  explicit RewritePass(LineList& lines) : lines_(lines) {}

  void Run() {
    lines_.SetReplacementText(kM104M180);
    LineReader<Units> reader(lines_.text_begin(), lines_.text_end());
    LineSpan line;
    std::uint64_t index = 0;
    for (; reader.Next(line); ++index) {
      Code code = ReadCode<Units>(line);
      if (code == Code::kM80Line && !pending_.empty()) {
        lines_.MarkLine(pending_.back(), LineList::LineMark::kReplaced);
        pending_.pop_back();
        lines_.MarkLine(index++, LineList::LineMark::kDropped);
        if (!reader.Next(line)) break;
        code = ReadCode<Units>(line);
        if (code == Code::kM81Line) {
          lines_.MarkLine(index++, LineList::LineMark::kDropped);
          if (!reader.Next(line)) break;
          code = ReadCode<Units>(line);
        }
        // The line that moved up into the removed line's place is kept
        // without being tested for "M80".
      }
      // The line at index 0 is never taken: the search stops above it.
      if (code == Code::kM104Line && index != 0) pending_.push_back(index);
    }
  }

 private:
  LineList& lines_;
  std::vector<std::uint64_t> pending_;
};

}  // namespace

void ApplyRewriteRule(LineList& lines) {
  lines.ApplyEdits();
  WithUnits(lines.stored_encoding().units, [&lines]<typename Units>(Units) {
    RewritePass<Units>(lines).Run();
  });
}

}  // namespace ncrewrite
