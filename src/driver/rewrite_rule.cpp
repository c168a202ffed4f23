#include "driver/rewrite_rule.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
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

/// The code of a line that ends at a line break (so that the four units from
/// `begin` can be read): the lines of the programs that stress the rule are
/// the bare codes, told by one load and compare; any other line that may
/// read a code is trimmed and compared by ReadCode.
template <typename Units>
class CodeReader {
 public:
  CodeReader()
      : m80_(Pack(kM80)), m81_(Pack(kM81)), m104_(Pack(kM104)), three_units_(ThreeUnitMask()) {}

  Code Read(const char* begin, const char* end) const {
    const auto size = static_cast<std::size_t>(end - begin);
    if (size == kM80.size() * Units::kSize) {
      const Word units = Load(begin) & three_units_;
      if (units == m80_) return Code::kM80Line;
      if (units == m81_) return Code::kM81Line;
    } else if (size == kM104.size() * Units::kSize && Load(begin) == m104_) {
      return Code::kM104Line;
    }
    if (size == 0) return Code::kOther;
    const char16_t first = Units::At(begin);
    if (first != u'M' && first > u' ') return Code::kOther;
    return ReadCode<Units>(LineSpan{begin, end, end});
  }

 private:
  // Four units, as many bytes as the longest code.
  using Word = std::conditional_t<Units::kSize == 1, std::uint32_t, std::uint64_t>;
  static_assert(sizeof(Word) == kM104.size() * Units::kSize);

  static Word Load(const char* p) {
    Word word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  static Word Pack(std::u16string_view code) {
    char bytes[sizeof(Word)] = {};
    for (std::size_t k = 0; k < code.size(); ++k) Units::Put(bytes + k * Units::kSize, code[k]);
    return Load(bytes);
  }
  static Word ThreeUnitMask() {
    char bytes[sizeof(Word)] = {};
    std::memset(bytes, 0xFF, kM80.size() * Units::kSize);
    return Load(bytes);
  }

  Word m80_;
  Word m81_;
  Word m104_;
  Word three_units_;
};

/// Numbers of lines, last in first out, in a bare array: the rule pass
/// pushes or pops on most lines of a file of codes.
class LineStack {
 public:
  bool empty() const { return top_ == 0; }
  std::uint64_t Pop() { return lines_[--top_]; }
  void Push(std::uint64_t line) {
    if (top_ == lines_.size()) lines_.resize(std::max<std::size_t>(64, lines_.size() * 2));
    lines_[top_++] = line;
  }

 private:
  std::vector<std::uint64_t> lines_;
  std::size_t top_ = 0;
};

/// The rule is run in one forward pass that needs no backward search
/// (quadratic on a file of "M80" lines): a stack holds the numbers of the
/// "M104" lines not yet taken, nearest last, and an "M80" line takes the top
/// one. Lines are named by their number in the stored text, which the line
/// list marks as dropped or replaced in any order.
///
/// Only lines with an "M" can be codes, and while no "M104" line waits only
/// an "M104" line matters: the text is walked in blocks, and a block in which
/// no line that ends there has such a unit is passed by counting its breaks.
template <typename Units>
class RewritePass {
 public:
  explicit RewritePass(LineList& lines) : lines_(lines) {}

  void Run() {
    lines_.SetReplacementText(kM104M180);
    const char* const end = lines_.text_end();
    const char* line_begin = lines_.text_begin();
    // The position in the rule is kept in locals: the marks written on the
    // way could otherwise alias them.
    std::uint64_t index = 0;  // of the next line
    State state = State::kNormal;
    // Whether the line that runs on past the last block has a unit that
    // makes it worth reading.
    bool open_line_counts = false;
    TextBlocks<Units> blocks(line_begin, end);
    TextBlock<Units> block;
    while (blocks.Next(block)) {
      const char* const base = block.base;
      const std::uint64_t all_breaks = block.breaks;
      const std::uint64_t crlf = block.crlf;
      const std::uint64_t m = blocks.Find(u'M');
      const std::uint64_t counting =
          OnlyM104Counts(state) && m != 0 ? m & FollowedByOne(blocks) : m;
      if (counting != 0 || open_line_counts) {
        // No more lines than units end in a block.
        std::uint64_t* const marks = lines_.MarksUpTo(index + TextBlocks<Units>::kBytes);
        for (std::uint64_t breaks = all_breaks; breaks != 0; breaks &= breaks - 1) {
          const unsigned offset = LowestBit(breaks);
          Take(reader_.Read(line_begin, base + offset), index++, state, marks);
          line_begin = base + offset + kStep + (crlf >> offset & 1) * kStep;
        }
        // The units that count may differ now that the stack changed.
        const std::uint64_t open = OnlyM104Counts(state) ? counting : m;
        open_line_counts = all_breaks == 0 ? open != 0 || open_line_counts
                                           : AfterLastBreak(open, all_breaks) != 0;
      } else if (all_breaks != 0) {
        // Every line that ends here reads no code, or, while the stack is
        // empty, none that has an effect.
        index += CountBits(all_breaks);
        line_begin = block.AfterBreak(HighestBit(all_breaks));
        state = State::kNormal;
      }
    }
    if (line_begin < end) {
      const Code code = ReadCode<Units>(LineSpan{line_begin, end, end});
      if (code != Code::kOther) Take(code, index, state, lines_.MarksUpTo(index));
    }
  }

 private:
  static constexpr unsigned kStep = Units::kSize;

  /// Where the line before is in the rule: after a taking "M80" line, and
  /// after the "M81" line that followed it. The line after either is only
  /// tested for "M104".
  enum class State { kNormal, kAfterM80, kAfterM81 };

  bool OnlyM104Counts(State state) const { return pending_.empty() && state == State::kNormal; }

  /// The "M" units of a block that are followed by a "1".
  static std::uint64_t FollowedByOne(const TextBlocks<Units>& blocks) {
    const std::uint64_t ones = blocks.Find(u'1');
    return (ones >> TextBlocks<Units>::kStep) |
           (blocks.FollowedBy(u'1') ? TextBlocks<Units>::kLastUnit : 0);
  }

  /// The bits of `mask` above the highest bit of `breaks`, which is not 0.
  static std::uint64_t AfterLastBreak(std::uint64_t mask, std::uint64_t breaks) {
    const unsigned last = HighestBit(breaks);
    return last == 63 ? 0 : mask >> (last + 1);
  }

  /// Applies the rule to line `index`, which reads `code` and comes after a
  /// line that left the rule in `state`; `marks` reach the line.
  void Take(Code code, std::uint64_t index, State& state, std::uint64_t* marks) {
    switch (state) {
      case State::kNormal:
        if (code == Code::kM80Line && !pending_.empty()) {
          LineList::MarkKeptLine(marks, pending_.Pop(), LineList::LineMark::kReplaced);
          LineList::MarkKeptLine(marks, index, LineList::LineMark::kDropped);
          state = State::kAfterM80;
          return;
        }
        break;
      case State::kAfterM80:
        if (code == Code::kM81Line) {
          LineList::MarkKeptLine(marks, index, LineList::LineMark::kDropped);
          state = State::kAfterM81;
          return;
        }
        state = State::kNormal;
        break;
      case State::kAfterM81:
        state = State::kNormal;
        break;
    }
    // The line at index 0 is never taken: the search stops above it.
    if (code == Code::kM104Line && index != 0) pending_.Push(index);
  }

  LineList& lines_;
  const CodeReader<Units> reader_;
  LineStack pending_;
};

}  // namespace

void ApplyRewriteRule(LineList& lines) {
  lines.ApplyEdits();
  WithUnits(lines.stored_encoding().units, [&lines]<typename Units>(Units) {
    RewritePass<Units>(lines).Run();
  });
}

}  // namespace ncrewrite
