#include "driver/rewrite_rule.h"

#include <vector>

namespace ncrewrite {
namespace {

constexpr std::u16string_view kM80 = u"M80";
constexpr std::u16string_view kM81 = u"M81";
constexpr std::u16string_view kM104 = u"M104";
constexpr std::u16string_view kM104M180 = u"M104 M180";
static_assert(kM80[0] == u'M' && kM81[0] == u'M' && kM104[0] == u'M');
static_assert(kM80.size() == 3 && kM81.size() == 3 && kM104.size() == 4 && kM80[1] == kM81[1]);

enum class Code { kOther, kM80Line, kM81Line, kM104Line };

/// Which code [begin, end) is, a line that starts with "M" and has no blanks
/// at either end. Compared unit by unit: this runs for every line of a file
/// made of codes.
template <typename Units>
Code CodeOfUnits(const char* begin, const char* end) {
  const auto unit = [begin](std::size_t k) { return Units::At(begin + k * Units::kSize); };
  switch (UnitCount<Units>(begin, end)) {
    case kM80.size():
      if (unit(1) != kM80[1]) return Code::kOther;
      if (unit(2) == kM80[2]) return Code::kM80Line;
      return unit(2) == kM81[2] ? Code::kM81Line : Code::kOther;
    case kM104.size():
      return unit(1) == kM104[1] && unit(2) == kM104[2] && unit(3) == kM104[3] ? Code::kM104Line
                                                                               : Code::kOther;
    default:
      return Code::kOther;
  }
}

/// Which of the codes the line reads. Most lines of a program are moves,
/// which fail on their first unit; a line with blanks around it is first
/// trimmed, with blanks skipped in large steps.
template <typename Units>
Code ReadCode(const LineSpan& line) {
  if (line.begin == line.end) return Code::kOther;
  const char16_t first = Units::At(line.begin);
  if (first != u'M' && first > u' ') return Code::kOther;
  const char* begin = first == u'M' ? line.begin : Units::SkipBlanks(line.begin, line.end);
  if (UnitCount<Units>(begin, line.end) < kM80.size() || Units::At(begin) != u'M') {
    return Code::kOther;
  }
  // Past the units of the longest code only blanks may follow; the last few
  // blanks before them are trimmed one by one.
  const char* end = line.end;
  const char* code_end = begin + kM104.size() * Units::kSize;
  if (end > code_end) {
    if (Units::SkipBlanks(code_end, end) != end) return Code::kOther;
    end = code_end;
  }
  while (Units::At(end - Units::kSize) <= u' ') end -= Units::kSize;
  return CodeOfUnits<Units>(begin, end);
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
