#include "driver/rewrite_rule.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <type_traits>
#include <utility>

namespace ncrewrite {
namespace {

// ---------------------------------------------------------------------------
// The rule
//
// All that the pass knows of the rule is stated here: the codes that a line
// can read, and what a line that reads one does in each phase of the pass.
// Which lines are worth reading at all, and which runs of lines are taken in
// one step, the pass derives from these tables; the static_asserts below say
// which shapes of codes and steps it is built for.

/// What a line reads once trimmed: one of the codes, or kOther.
enum class Code : std::uint8_t { kOther, kM80, kM81, kM104 };
constexpr std::size_t kCodeCount = 4;

struct CodeText {
  Code code;
  std::u16string_view text;
};

/// The codes and their texts.
constexpr CodeText kCodes[] = {
    {Code::kM80, u"M80"},
    {Code::kM81, u"M81"},
    {Code::kM104, u"M104"},
};

/// The text that a taken line gets.
constexpr std::u16string_view kReplacementText = u"M104 M180";

/// Where the pass stands, by the lines before.
enum class Phase : std::uint8_t {
  kNormal,
  kAfterTake,  // the line before took a waiting line
  kAfterDrop,  // the line before was dropped after a taking line
};
constexpr std::size_t kPhaseCount = 3;

/// What a line does.
enum class Effect : std::uint8_t {
  kNone,  // it is kept, and nothing else happens
  kWait,  // it waits to be taken; never line 0, above which the search stops
  kTake,  // the nearest line that waits gets the replacement text, and this
          // line is dropped; with no line waiting it is as a line of kOther
  kDrop,  // it is dropped
};

struct Step {
  Effect effect;
  Phase next;  // the phase for the line after

  friend constexpr bool operator==(Step, Step) = default;
};

/// What a line that reads a code does in each phase.
constexpr Step kRule[kPhaseCount][kCodeCount] = {
    // kNormal: an "M80" line takes the nearest waiting "M104" line.
    {/* kOther */ {Effect::kNone, Phase::kNormal},
     /* kM80 */ {Effect::kTake, Phase::kAfterTake},
     /* kM81 */ {Effect::kNone, Phase::kNormal},
     /* kM104 */ {Effect::kWait, Phase::kNormal}},
    // kAfterTake: an "M81" line right after is dropped too, and the line
    // there is not tested for "M80".
    {/* kOther */ {Effect::kNone, Phase::kNormal},
     /* kM80 */ {Effect::kNone, Phase::kNormal},
     /* kM81 */ {Effect::kDrop, Phase::kAfterDrop},
     /* kM104 */ {Effect::kWait, Phase::kNormal}},
    // kAfterDrop: the line after the dropped "M81" line is not tested for
    // "M80" either.
    {/* kOther */ {Effect::kNone, Phase::kNormal},
     /* kM80 */ {Effect::kNone, Phase::kNormal},
     /* kM81 */ {Effect::kNone, Phase::kNormal},
     /* kM104 */ {Effect::kWait, Phase::kNormal}},
};

// ---------------------------------------------------------------------------
// What the pass derives from the rule

constexpr Step RuleStep(Phase phase, Code code) {
  return kRule[static_cast<std::size_t>(phase)][static_cast<std::size_t>(code)];
}

/// What a line that reads `code` does in `phase`, given whether a line waits.
constexpr Step StepOf(Phase phase, Code code, bool waiting) {
  const Step step = RuleStep(phase, code);
  return step.effect == Effect::kTake && !waiting ? RuleStep(phase, Code::kOther) : step;
}

constexpr Phase kPhases[] = {Phase::kNormal, Phase::kAfterTake, Phase::kAfterDrop};
static_assert(std::size(kPhases) == kPhaseCount);

constexpr bool EachCodeHasOneText() {
  for (std::size_t c = 1; c < kCodeCount; ++c) {
    if (std::count_if(std::begin(kCodes), std::end(kCodes),
                      [c](const CodeText& code) { return code.code == static_cast<Code>(c); }) != 1) {
      return false;
    }
  }
  return std::size(kCodes) + 1 == kCodeCount;
}
static_assert(EachCodeHasOneText());

/// The phase after a line that reads no code.
constexpr Phase kSettled = RuleStep(Phase::kNormal, Code::kOther).next;

constexpr bool OtherLinesSettle() {
  for (const Phase phase : kPhases) {
    if (RuleStep(phase, Code::kOther) != Step{Effect::kNone, kSettled}) return false;
  }
  return true;
}
static_assert(OtherLinesSettle(), "lines that read no code are passed by counting them");

/// Whether a line that reads `code` does other than a line that reads none.
constexpr bool Matters(Phase phase, Code code, bool waiting) {
  return StepOf(phase, code, waiting) != StepOf(phase, Code::kOther, waiting);
}

/// The first unit of every code: a block without it holds no code.
constexpr char16_t kFirstUnit = kCodes[0].text[0];

constexpr auto kCodeSizes = [] {
  std::array<std::size_t, std::size(kCodes)> sizes{};
  std::transform(std::begin(kCodes), std::end(kCodes), sizes.begin(),
                 [](const CodeText& code) { return code.text.size(); });
  return sizes;
}();
constexpr std::size_t kShortestCode = *std::min_element(kCodeSizes.begin(), kCodeSizes.end());
constexpr std::size_t kLongestCode = *std::max_element(kCodeSizes.begin(), kCodeSizes.end());

constexpr bool CodesAreFoundByTheirFirstUnit() {
  for (const CodeText& code : kCodes) {
    if (code.text[0] != kFirstUnit || code.text.back() <= u' ') return false;
  }
  return kFirstUnit > u' ';
}
static_assert(CodesAreFoundByTheirFirstUnit(),
              "codes begin with one unit and end with one above U+0020");
// A bare code is told by loading four units from where its line begins; a
// line of three units or more that ends at a break has them.
constexpr std::size_t kCodeWordUnits = 4;
static_assert(kShortestCode + 1 >= kCodeWordUnits && kLongestCode <= kCodeWordUnits);

/// The unit that follows kFirstUnit in every code that may matter in `phase`
/// and in the phase that lines of no code settle in, or 0 when these differ.
/// Lines of no code leave whether a line waits as it is.
constexpr char16_t NarrowingUnit(Phase phase, bool waiting) {
  char16_t unit = 0;
  for (const Phase reached : {phase, kSettled}) {
    for (const CodeText& code : kCodes) {
      if (!Matters(reached, code.code, waiting)) continue;
      if (unit != 0 && unit != code.text[1]) return 0;
      unit = code.text[1];
    }
  }
  return unit;
}

/// The one unit by which any phase narrows the lines that matter. While no
/// line waits only "M104" matters, so that a block of "M80" lines is passed
/// unread.
constexpr char16_t kNarrowingUnit = [] {
  for (const Phase phase : kPhases) {
    for (const bool waiting : {false, true}) {
      if (NarrowingUnit(phase, waiting) != 0) return NarrowingUnit(phase, waiting);
    }
  }
  return char16_t{0};
}();

/// The phases (bit k for phase k) in which lines are narrowed by
/// kNarrowingUnit, `waiting` or not.
constexpr unsigned NarrowedPhases(bool waiting) {
  unsigned phases = 0;
  for (const Phase phase : kPhases) {
    const char16_t unit = NarrowingUnit(phase, waiting);
    if (unit != 0 && unit == kNarrowingUnit) phases |= 1u << static_cast<unsigned>(phase);
  }
  return phases;
}
constexpr unsigned kNarrowedWhileNoneWaits = NarrowedPhases(false);
constexpr unsigned kNarrowedWhileOneWaits = NarrowedPhases(true);

constexpr bool OneUnitNarrowsAll() {
  for (const Phase phase : kPhases) {
    for (const bool waiting : {false, true}) {
      const char16_t unit = NarrowingUnit(phase, waiting);
      if (unit != 0 && unit != kNarrowingUnit) return false;
    }
  }
  return true;
}
// Another unit would be another compare for every block; a phase in which
// it would narrow still works with none (it reads more blocks than needed).
static_assert(OneUnitNarrowsAll(), "the pass narrows by one unit");

/// The code whose lines wait, and its text.
constexpr std::u16string_view WaitingText() {
  for (const CodeText& code : kCodes) {
    if (RuleStep(Phase::kNormal, code.code).effect == Effect::kWait) return code.text;
  }
  return {};
}
constexpr std::u16string_view kWaitingText = WaitingText();

constexpr bool WaitingLinesWaitInEveryPhase() {
  for (const Phase phase : kPhases) {
    for (const CodeText& code : kCodes) {
      const bool waits = RuleStep(phase, code.code).effect == Effect::kWait;
      if (waits != (code.text == kWaitingText)) return false;
      if (waits && RuleStep(phase, code.code).next != kSettled) return false;
    }
  }
  return !kWaitingText.empty();
}
static_assert(WaitingLinesWaitInEveryPhase(),
              "a run of lines of one code is pushed at once whatever the phase");

// ---------------------------------------------------------------------------
// Telling the code of a line

/// Which code [begin, end) is, a line that starts with kFirstUnit and has no
/// blanks at either end.
template <typename Units>
Code CodeOfUnits(const char* begin, const char* end) {
  const std::size_t count = UnitCount<Units>(begin, end);
  for (const CodeText& code : kCodes) {
    if (code.text.size() != count) continue;
    std::size_t k = 1;
    while (k < count && Units::At(begin + k * Units::kSize) == code.text[k]) ++k;
    if (k == count) return code.code;
  }
  return Code::kOther;
}

/// Which of the codes the line reads. Most lines of a program are moves,
/// which fail on their first unit; a line with blanks around it is first
/// trimmed, with blanks skipped in large steps.
template <typename Units>
Code ReadCode(const LineSpan& line) {
  if (line.begin == line.end) return Code::kOther;
  const char16_t first = Units::At(line.begin);
  if (first != kFirstUnit && first > u' ') return Code::kOther;
  const char* begin = first == kFirstUnit ? line.begin : Units::SkipBlanks(line.begin, line.end);
  if (UnitCount<Units>(begin, line.end) < kShortestCode || Units::At(begin) != kFirstUnit) {
    return Code::kOther;
  }
  // Past the units of the longest code only blanks may follow; the last few
  // blanks before them are trimmed one by one.
  const char* end = line.end;
  const char* code_end = begin + kLongestCode * Units::kSize;
  if (end > code_end) {
    if (Units::SkipBlanks(code_end, end) != end) return Code::kOther;
    end = code_end;
  }
  while (Units::At(end - Units::kSize) <= u' ') end -= Units::kSize;
  return CodeOfUnits<Units>(begin, end);
}

/// The stored units of the codes, as a word of kCodeWordUnits units loaded
/// from the text reads them.
template <typename Units>
struct CodeWords {
  using Word = std::conditional_t<Units::kSize == 1, std::uint32_t, std::uint64_t>;
  static_assert(sizeof(Word) == kCodeWordUnits * Units::kSize);

  /// `units` as they are when their stored bytes are loaded as a Word; the
  /// units after them are 0.
  static constexpr Word Pack(std::u16string_view units) {
    constexpr unsigned kUnitBits = 8 * Units::kSize;
    constexpr bool kSwapped =
        Units::kSize == 2 && Units::kLowByteFirst != (std::endian::native == std::endian::little);
    Word word = 0;
    for (std::size_t k = 0; k < units.size(); ++k) {
      const char16_t unit = units[k];
      const Word lane = kSwapped ? static_cast<Word>((unit & 0xFF) << 8 | unit >> 8) : unit;
      const std::size_t position =
          std::endian::native == std::endian::little ? k : kCodeWordUnits - 1 - k;
      word |= lane << (kUnitBits * position);
    }
    return word;
  }

  /// The bits of the first `count` units of a loaded Word.
  static constexpr Word Mask(std::size_t count) {
    constexpr char16_t kAllOnes = Units::kSize == 1 ? 0xFF : 0xFFFF;
    constexpr char16_t kOnes[kCodeWordUnits] = {kAllOnes, kAllOnes, kAllOnes, kAllOnes};
    return Pack(std::u16string_view(kOnes, count));
  }

  /// The code whose units the `size` bytes of a line are, of those in
  /// `kCodes[k...]`, or kOther. `load` gives the word where the line begins,
  /// and is called only when the line is as long as a code.
  template <typename Load, std::size_t... k>
  [[gnu::always_inline]] static Code Match(std::size_t size, const Load& load,
                                           std::index_sequence<k...>) {
    Code code = Code::kOther;
    static_cast<void>(((size == kCodes[k].text.size() * Units::kSize &&
                        (load() & Mask(kCodes[k].text.size())) == Pack(kCodes[k].text) &&
                        (code = kCodes[k].code, true)) ||
                       ...));
    return code;
  }
};

/// The code of a line that ends at a line break (so that kCodeWordUnits
/// units from `begin` can be read when it is as long as a code): the lines
/// of the programs that stress the rule are the bare codes, told by one load
/// and compare; any other line that may read a code is trimmed and compared
/// by ReadCode. Inlined: it runs for every line of such a program.
template <typename Units>
[[gnu::always_inline]] inline Code ReadCodeBeforeBreak(const char* begin, const char* end) {
  using Words = CodeWords<Units>;
  const auto load = [begin] {
    typename Words::Word word;
    std::memcpy(&word, begin, sizeof word);
    return word;
  };
  const auto size = static_cast<std::size_t>(end - begin);
  const Code bare = Words::Match(size, load, std::make_index_sequence<std::size(kCodes)>());
  if (bare != Code::kOther) return bare;
  if (size == 0) return Code::kOther;
  const char16_t first = Units::At(begin);
  if (first != kFirstUnit && first > u' ') return Code::kOther;
  return ReadCode<Units>(LineSpan{begin, end, end});
}

/// The units of the current block at which the waiting code's text is
/// spelt, as far as the block holds it, but for its first unit.
template <typename Units, std::size_t... k>
[[gnu::always_inline]] inline std::uint64_t WaitingTextAfterFirstUnit(
    const TextBlocks<Units>& blocks, std::index_sequence<k...>) {
  return (~std::uint64_t{0} & ... &
          (blocks.Find(kWaitingText[k + 1]) >> ((k + 1) * Units::kSize)));
}

// ---------------------------------------------------------------------------
// The pass

/// Where the entries of a stack are: [bottom, top), with room up to limit.
template <typename StackEntry>
struct StackSpan {
  StackEntry* bottom;
  StackEntry* top;
  StackEntry* limit;
};

/// Moves the stack `span` into room for `room` entries more, doubled as
/// often as needed, owned by `entries`. The new room is not written before
/// it is used, so that a stack that grows to hundreds of MB costs no more
/// memory than it holds.
template <typename StackEntry>
StackSpan<StackEntry> GrowStack(std::unique_ptr<StackEntry[]>& entries,
                                const StackSpan<StackEntry>& span, std::size_t room) {
  const auto size = static_cast<std::size_t>(span.top - span.bottom);
  std::size_t capacity = static_cast<std::size_t>(span.limit - span.bottom);
  while (capacity - size < room) capacity *= 2;
  auto grown = std::make_unique_for_overwrite<StackEntry[]>(capacity);
  std::copy(span.bottom, span.top, grown.get());
  entries = std::move(grown);
  return {entries.get(), entries.get() + size, entries.get() + capacity};
}

/// The lines that wait to be taken, nearest on top, by their number in the
/// stored text. An entry is the distance of its line from the line below
/// (from line 0 at the bottom): `StackEntry` must hold the number of lines
/// of the text, and a text of less than 4 GiB takes 4 bytes a waiting line.
/// The room is owned apart, so that growing it takes the address of no
/// member: the pass keeps the stack in registers.
template <typename StackEntry>
class WaitingLines {
 public:
  static constexpr std::size_t kFirstRoom = 64;

  explicit WaitingLines(std::unique_ptr<StackEntry[]>& room) : room_(&room) {
    room = std::make_unique_for_overwrite<StackEntry[]>(kFirstRoom);
    span_ = {room.get(), room.get(), room.get() + kFirstRoom};
  }

  bool empty() const { return span_.top == span_.bottom; }

  /// Puts `line`, after every line that waits, on top.
  [[gnu::always_inline]] void Push(std::uint64_t line) {
    assert(line > top_line_);
    if (span_.top == span_.limit) Grow(1);
    *span_.top++ = static_cast<StackEntry>(line - top_line_);
    top_line_ = line;
  }

  /// Pushes the `count` lines from `first` on.
  [[gnu::always_inline]] void PushRun(std::uint64_t first, unsigned count) {
    assert(count != 0 && first > top_line_);
    if (static_cast<std::size_t>(span_.limit - span_.top) < count) Grow(count);
    *span_.top++ = static_cast<StackEntry>(first - top_line_);
    for (unsigned k = 1; k < count; ++k) *span_.top++ = 1;
    top_line_ = first + count - 1;
  }

  /// Takes the line on top; not empty().
  [[gnu::always_inline]] std::uint64_t Pop() {
    assert(!empty());
    const std::uint64_t line = top_line_;
    top_line_ -= *--span_.top;
    return line;
  }

 private:
  /// Makes room for `room` entries more. GrowStack gets a reference to a
  /// copy of the span: a reference to the member would keep the members in
  /// memory, and a span passed by value is pushed around the call, which
  /// costs the pass its frame pointer register.
  [[gnu::always_inline]] void Grow(std::size_t room) {
    const StackSpan<StackEntry> full = span_;
    span_ = GrowStack(*room_, full, room);
  }

  std::unique_ptr<StackEntry[]>* room_;
  StackSpan<StackEntry> span_;
  std::uint64_t top_line_ = 0;
};

/// The marks of a pass over one block, made to reach line number `reach`.
struct BlockMarks {
  std::uint64_t* words;
  std::uint64_t reach;

  void Mark(std::uint64_t line, LineList::LineMark mark) const {
    assert(line <= reach);
    LineList::MarkKeptLine(words, line, mark);
  }
};

/// The rule in one forward pass that needs no backward search (quadratic on
/// a file of "M80" lines): the lines that wait are kept on a stack, and a
/// taking line takes the top one. Lines are named by their number in the
/// stored text, which the line list marks as dropped or replaced in any
/// order.
///
/// The text is walked in blocks: a block in which no line that ends there
/// can matter (see NarrowingUnit) is passed by counting its breaks; in any
/// other each line is read, and a run of bare waiting lines pushed at once.
///
/// On a file of codes every line is read and most push or pop, so the pass
/// is made only as a local of RunRewritePass and every member function is
/// inlined there: its members become locals in registers. Members of an
/// object in memory would be written back around every mark, which may
/// alias them.
template <typename Units, typename StackEntry>
class RulePass {
 public:
  static constexpr unsigned kStep = Units::kSize;
  static constexpr std::size_t kBlockBytes = TextBlocks<Units>::kBytes;

  RulePass(LineList& lines, std::unique_ptr<StackEntry[]>& stack_room)
      : lines_(lines),
        line_begin_(lines.text_begin()),
        end_(lines.text_end()),
        waiting_(stack_room) {}

  [[gnu::always_inline]] void Run() {
    TextBlocks<Units> blocks(line_begin_, end_);
    TextBlock<Units> block;
    while (blocks.Next(block)) {
      const std::uint64_t first_units = blocks.template Find<true>(kFirstUnit);
      const bool narrowed = first_units != 0 && Narrowed();
      std::uint64_t counting = first_units;
      if (narrowed) counting &= blocks.Before(kNarrowingUnit);
      if (counting != 0 || open_line_counts_) {
        ReadBlock(blocks, block, first_units, counting, narrowed);
      } else {
        PassBlock(block);
      }
    }
    ReadLastLine();
  }

 private:
  /// Whether a line matters now only where kNarrowingUnit follows
  /// kFirstUnit.
  [[gnu::always_inline]] bool Narrowed() const {
    const unsigned phases = waiting_.empty() ? kNarrowedWhileNoneWaits : kNarrowedWhileOneWaits;
    return (phases >> static_cast<unsigned>(phase_) & 1) != 0;
  }

  /// Applies the rule to line `index_`, which reads `code`. The table is
  /// expanded into branches, code first: the code of a line comes out of
  /// the branches that told it, so that the compiler can join them to the
  /// step of each code, as a switch written by hand would be, instead of
  /// looking the step up for every line.
  [[gnu::always_inline]] void Apply(Code code, const BlockMarks& marks) {
    ApplyCode(code, index_++, marks, std::make_index_sequence<kCodeCount>());
  }

  // The folds stop at the first match: a step changes phase_.
  template <std::size_t... c>
  [[gnu::always_inline]] void ApplyCode(Code code, std::uint64_t line, const BlockMarks& marks,
                                        std::index_sequence<c...>) {
    static_cast<void>(
        ((code == Code{c} &&
          (ApplyInPhase<Code{c}>(line, marks, std::make_index_sequence<kPhaseCount>()), true)) ||
         ...));
  }

  template <Code kCode, std::size_t... p>
  [[gnu::always_inline]] void ApplyInPhase(std::uint64_t line, const BlockMarks& marks,
                                           std::index_sequence<p...>) {
    static_cast<void>(
        ((phase_ == Phase{p} &&
          (ApplyStep<RuleStep(Phase{p}, kCode), Phase{p}>(line, marks), true)) ||
         ...));
  }

  /// Apply for a line that takes `kStep` in `kPhase`.
  template <Step kStep, Phase kPhase>
  [[gnu::always_inline]] void ApplyStep(std::uint64_t line, const BlockMarks& marks) {
    if constexpr (kStep.effect == Effect::kWait) {
      if (line != 0) waiting_.Push(line);
    } else if constexpr (kStep.effect == Effect::kTake) {
      if (waiting_.empty()) {
        phase_ = StepOf(kPhase, Code::kOther, false).next;
        return;
      }
      marks.Mark(waiting_.Pop(), LineList::LineMark::kReplaced);
      marks.Mark(line, LineList::LineMark::kDropped);
    } else if constexpr (kStep.effect == Effect::kDrop) {
      marks.Mark(line, LineList::LineMark::kDropped);
    }
    phase_ = kStep.next;
  }

  /// A block in which no line that ends has a unit that counts: each of
  /// them reads no code that matters now, and is passed as a line of none.
  [[gnu::always_inline]] void PassBlock(const TextBlock<Units>& block) {
    if (block.breaks == 0) return;
    index_ += CountBits(block.breaks);
    line_begin_ = block.AfterBreak(HighestBit(block.breaks));
    phase_ = kSettled;
  }

  /// A block in which a line that ends may matter: each such line is read.
  /// `counting` are the `first_units` that count, `narrowed` or not.
  [[gnu::always_inline]] void ReadBlock(const TextBlocks<Units>& blocks,
                                        const TextBlock<Units>& block, std::uint64_t first_units,
                                        std::uint64_t counting, bool narrowed) {
    // No more lines than units end in a block.
    const BlockMarks marks{lines_.MarksUpTo(index_ + kBlockBytes), index_ + kBlockBytes};
    BlockLines<Units> ends(block);
    // A line that began in an earlier block is read on its own, so that the
    // rest may be a run of waiting lines.
    if (!ends.done() && line_begin_ < block.base) ReadLine(block, ends, marks);
    if (!ends.done() && index_ != 0) PushWaitingRun(blocks, block, ends, first_units);
    while (!ends.done()) ReadLine(block, ends, marks);
    // The units that count may differ now that the stack changed.
    const std::uint64_t open = narrowed && Narrowed() ? counting : first_units;
    NoteOpenLine(block, open);
  }

  /// Reads the next line that ends in the block, and applies the rule to it.
  [[gnu::always_inline]] void ReadLine(const TextBlock<Units>& block, BlockLines<Units>& ends,
                                       const BlockMarks& marks) {
    Apply(ReadCodeBeforeBreak<Units>(line_begin_, block.base + ends.offset()), marks);
    line_begin_ = ends.Pass();
  }

  /// Pushes every line left in the block at once when each is the waiting
  /// code, bare (a file of codes holds them by thousands): each of them
  /// waits and leaves the pass settled, whatever the phase. Not for line 0,
  /// which never waits.
  [[gnu::always_inline]] void PushWaitingRun(const TextBlocks<Units>& blocks,
                                             const TextBlock<Units>& block,
                                             BlockLines<Units>& ends, std::uint64_t first_units) {
    // The line that began before the block has been read.
    assert(index_ != 0 && line_begin_ >= block.base && line_begin_ < block.base + kBlockBytes);
    const std::uint64_t breaks = ends.breaks();
    const unsigned last = HighestBit(breaks);
    // Where the lines that end here begin.
    const std::uint64_t starts =
        (std::uint64_t{1} << (line_begin_ - block.base) | ends.begins()) &
        ((std::uint64_t{1} << last) - 1);
    if ((starts & ~first_units) != 0 || starts << kWaitingText.size() * kStep != breaks ||
        (starts & ~WaitingTextAfterFirstUnit(
                       blocks, std::make_index_sequence<kWaitingText.size() - 1>())) != 0) {
      return;
    }
    const unsigned count = CountBits(breaks);
    waiting_.PushRun(index_, count);
    index_ += count;
    phase_ = kSettled;
    line_begin_ = block.AfterBreak(last);
    ends.PassAll();
  }

  /// Notes whether the line that runs on past the block has a unit of
  /// `open`, the units that count now, in it.
  [[gnu::always_inline]] void NoteOpenLine(const TextBlock<Units>& block, std::uint64_t open) {
    if (block.breaks == 0) {
      open_line_counts_ = open_line_counts_ || open != 0;
      return;
    }
    const unsigned last = HighestBit(block.breaks);
    // A shift of 64 is undefined: after a break in the last unit, no line
    // runs on.
    open_line_counts_ = last != 63 && (open >> (last + 1)) != 0;
  }

  /// The line without a break at the end of the text, if any.
  [[gnu::always_inline]] void ReadLastLine() {
    if (line_begin_ >= end_) return;
    const Code code = ReadCode<Units>(LineSpan{line_begin_, end_, end_});
    if (code != Code::kOther) Apply(code, BlockMarks{lines_.MarksUpTo(index_), index_});
  }

  LineList& lines_;
  const char* line_begin_;  // of line index_
  const char* const end_;
  std::uint64_t index_ = 0;  // of the next line
  Phase phase_ = Phase::kNormal;
  // Whether the line that runs on past the last block has a unit that makes
  // it worth reading.
  bool open_line_counts_ = false;
  WaitingLines<StackEntry> waiting_;
};

template <typename Units, typename StackEntry>
void RunRewritePass(LineList& lines) {
  lines.SetReplacementText(kReplacementText);
  std::unique_ptr<StackEntry[]> stack_room;
  RulePass<Units, StackEntry> pass(lines, stack_room);
  pass.Run();
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
