#include "driver/rewrite_rule.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

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
/// read a code is trimmed and compared by ReadCode. Inlined: it runs for
/// every line of such a program.
template <typename Units>
__attribute__((always_inline)) inline Code ReadCodeBeforeBreak(const char* begin, const char* end) {
  // Four units, as many bytes as the longest code.
  using Word = std::conditional_t<Units::kSize == 1, std::uint32_t, std::uint64_t>;
  static_assert(sizeof(Word) == kM104.size() * Units::kSize);
  constexpr unsigned kUnitBits = 8 * Units::kSize;
  // `units` as they are when their stored bytes are loaded as a Word.
  constexpr auto pack = [](std::u16string_view units) {
    Word word = 0;
    for (std::size_t k = 0; k < units.size(); ++k) {
      const char16_t unit = units[k];
      const bool swapped = Units::kSize == 2 &&
                           Units::kLowByteFirst != (std::endian::native == std::endian::little);
      const Word lane = swapped ? static_cast<Word>((unit & 0xFF) << 8 | unit >> 8) : unit;
      const std::size_t position =
          std::endian::native == std::endian::little ? k : kM104.size() - 1 - k;
      word |= lane << (kUnitBits * position);
    }
    return word;
  };
  constexpr Word kM80Units = pack(kM80);
  constexpr Word kM81Units = pack(kM81);
  constexpr Word kM104Units = pack(kM104);
  constexpr char16_t kAllOnes = Units::kSize == 1 ? 0xFF : 0xFFFF;
  constexpr char16_t kThreeOnes[] = {kAllOnes, kAllOnes, kAllOnes};
  constexpr Word kThreeUnits = pack(std::u16string_view(kThreeOnes, 3));
  const auto load = [begin] {
    Word word;
    std::memcpy(&word, begin, sizeof word);
    return word;
  };

  const auto size = static_cast<std::size_t>(end - begin);
  if (size == kM80.size() * Units::kSize) {
    const Word units = load() & kThreeUnits;
    if (units == kM80Units) return Code::kM80Line;
    if (units == kM81Units) return Code::kM81Line;
  } else if (size == kM104.size() * Units::kSize && load() == kM104Units) {
    return Code::kM104Line;
  }
  if (size == 0) return Code::kOther;
  const char16_t first = Units::At(begin);
  if (first != u'M' && first > u' ') return Code::kOther;
  return ReadCode<Units>(LineSpan{begin, end, end});
}

/// Where the entries of a stack are: [bottom, top), with room up to limit.
template <typename StackEntry>
struct StackSpan {
  StackEntry* bottom;
  StackEntry* top;
  StackEntry* limit;
};

/// Moves the full stack `span` into twice the room, owned by `entries`.
/// The new room is not written before it is used, so that a stack that
/// grows to hundreds of MB costs no more memory than it holds.
template <typename StackEntry>
StackSpan<StackEntry> GrowStack(std::unique_ptr<StackEntry[]>& entries,
                                const StackSpan<StackEntry>& span) {
  const auto size = static_cast<std::size_t>(span.top - span.bottom);
  const std::size_t capacity = 2 * static_cast<std::size_t>(span.limit - span.bottom);
  auto grown = std::make_unique_for_overwrite<StackEntry[]>(capacity);
  std::copy(span.bottom, span.top, grown.get());
  entries = std::move(grown);
  return {entries.get(), entries.get() + size, entries.get() + capacity};
}

/// The rule is run in one forward pass that needs no backward search
/// (quadratic on a file of "M80" lines): a stack holds the numbers of the
/// "M104" lines not yet taken, nearest last, and an "M80" line takes the top
/// one. Lines are named by their number in the stored text, which the line
/// list marks as dropped or replaced in any order.
///
/// Only lines with an "M" can be codes, and while no "M104" line waits only
/// an "M104" line matters: the text is walked in blocks, and a block in which
/// no line that ends there has such a unit is passed by counting its breaks.
///
/// On a file of codes every line is read and most push or pop, so the
/// position in the rule and the top of the stack are locals of one function:
/// members would be written back around every mark, which may alias them.
///
/// An entry of the stack is the distance of its line from the line below
/// (from line 0 at the bottom). `StackEntry` must hold the number of lines
/// of the text: a text of less than 4 GiB takes 4 bytes a waiting line.
template <typename Units, typename StackEntry>
void RunRewritePass(LineList& lines) {
  constexpr unsigned kStep = Units::kSize;
  lines.SetReplacementText(kM104M180);
  const char* const end = lines.text_end();
  const char* line_begin = lines.text_begin();
  std::uint64_t index = 0;  // of the next line

  // Where the line before is in the rule: after a taking "M80" line, and
  // after the "M81" line that followed it. The line after either is only
  // tested for "M104".
  enum class State { kNormal, kAfterM80, kAfterM81 };
  State state = State::kNormal;

  // The "M104" lines not yet taken, nearest on top, and the number of the
  // top one. `entries` only owns the room: the walk keeps where it is in
  // locals.
  constexpr std::size_t kFirstRoom = 64;
  auto entries = std::make_unique_for_overwrite<StackEntry[]>(kFirstRoom);
  StackSpan<StackEntry> pending = {entries.get(), entries.get(), entries.get() + kFirstRoom};
  std::uint64_t top_line = 0;
  const auto push = [&](std::uint64_t line) {
    if (pending.top == pending.limit) pending = GrowStack(entries, pending);
    *pending.top++ = static_cast<StackEntry>(line - top_line);
    top_line = line;
  };
  const auto pop = [&] {
    const std::uint64_t line = top_line;
    top_line -= *--pending.top;
    return line;
  };
  const auto stack_empty = [&] { return pending.top == pending.bottom; };
  const auto only_m104_counts = [&] { return stack_empty() && state == State::kNormal; };

  // Applies the rule to line `index`, which reads `code`; `marks` reach it.
  // Inlined also where it is called for the last line, so that the walk
  // keeps its locals in registers.
  const auto take = [&](Code code, std::uint64_t* marks) __attribute__((always_inline)) {
    const std::uint64_t line = index++;
    switch (state) {
      case State::kNormal:
        if (code == Code::kM80Line && !stack_empty()) {
          LineList::MarkKeptLine(marks, pop(), LineList::LineMark::kReplaced);
          LineList::MarkKeptLine(marks, line, LineList::LineMark::kDropped);
          state = State::kAfterM80;
          return;
        }
        break;
      case State::kAfterM80:
        if (code == Code::kM81Line) {
          LineList::MarkKeptLine(marks, line, LineList::LineMark::kDropped);
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
    if (code == Code::kM104Line && line != 0) push(line);
  };

  // Whether the line that runs on past the last block has a unit that makes
  // it worth reading.
  bool open_line_counts = false;
  TextBlocks<Units> blocks(line_begin, end);
  TextBlock<Units> block;
  while (blocks.Next(block)) {
    const char* const base = block.base;
    const std::uint64_t all_breaks = block.breaks;
    const std::uint64_t m = blocks.template Find<true>(u'M');
    std::uint64_t counting = m;
    if (m != 0 && only_m104_counts()) {
      // The "M" units followed by a "1".
      counting &= blocks.Find(u'1') >> kStep | (blocks.FollowedBy(u'1') ? block.kLastUnit : 0);
    }
    if (counting != 0 || open_line_counts) {
      // No more lines than units end in a block.
      std::uint64_t* const marks = lines.MarksUpTo(index + TextBlocks<Units>::kBytes);
      // Where the lines after the breaks begin, but for one past the block.
      std::uint64_t begins = block.lone_breaks() << kStep | block.crlf << 2 * kStep;
      std::uint64_t breaks = all_breaks;
      const auto take_next_line = [&]() __attribute__((always_inline)) {
        const unsigned offset = LowestBit(breaks);
        take(ReadCodeBeforeBreak<Units>(line_begin, base + offset), marks);
        if (begins != 0) {
          line_begin = base + LowestBit(begins);
          begins &= begins - 1;
        } else {
          line_begin = block.AfterBreak(offset);
        }
        breaks &= breaks - 1;
      };
      // A line that began in an earlier block is read on its own, so that
      // the rest may be a run of bare "M104" lines, pushed at once.
      if (breaks != 0 && line_begin < base) take_next_line();
      if (breaks != 0 && index != 0) {
        const unsigned last = HighestBit(breaks);
        // Where the lines that end here begin.
        const std::uint64_t starts =
            (std::uint64_t{1} << (line_begin - base) | begins) & ((std::uint64_t{1} << last) - 1);
        if ((starts & ~m) == 0 && starts << kM104.size() * kStep == breaks &&
            (starts & ~(blocks.Find(kM104[1]) >> kStep & blocks.Find(kM104[2]) >> 2 * kStep &
                        blocks.Find(kM104[3]) >> 3 * kStep)) == 0) {
          const unsigned count = CountBits(breaks);
          while (static_cast<std::size_t>(pending.limit - pending.top) < count) {
            pending = GrowStack(entries, pending);
          }
          *pending.top++ = static_cast<StackEntry>(index - top_line);
          for (unsigned k = 1; k < count; ++k) *pending.top++ = 1;
          index += count;
          top_line = index - 1;
          state = State::kNormal;
          line_begin = block.AfterBreak(last);
          breaks = 0;
        }
      }
      while (breaks != 0) take_next_line();
      // The units that count may differ now that the stack changed.
      const std::uint64_t open = only_m104_counts() ? counting : m;
      if (all_breaks == 0) {
        open_line_counts = open_line_counts || open != 0;
      } else {
        const unsigned last = HighestBit(all_breaks);
        open_line_counts = last != 63 && (open >> (last + 1)) != 0;
      }
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
    if (code != Code::kOther) take(code, lines.MarksUpTo(index));
  }
}

}  // namespace

void ApplyRewriteRule(LineList& lines) {
  lines.ApplyEdits();
  const auto size = static_cast<std::uint64_t>(lines.text_end() - lines.text_begin());
  WithUnits(lines.stored_encoding().units, [&lines, size]<typename Units>(Units) {
    // No more lines than bytes.
    if (size <= std::numeric_limits<std::uint32_t>::max()) {
      RunRewritePass<Units, std::uint32_t>(lines);
    } else {
      RunRewritePass<Units, std::uint64_t>(lines);
    }
  });
}

}  // namespace ncrewrite
