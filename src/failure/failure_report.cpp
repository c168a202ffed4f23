#include "failure/failure_report.h"

#include "failure/code_module.h"
#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

constexpr std::size_t kModuleNameLimit = 260;
constexpr std::uint64_t kAssumedImageBase = 0x1000;

/// Bytes and UTF-16 code units of the UTF-8 sequence that begins with
/// `lead`. A byte that begins no sequence counts as one character, so a
/// malformed text is cut somewhere too.
struct Sequence {
  std::size_t bytes;
  std::size_t units;
};
Sequence SequenceAt(unsigned char lead) noexcept {
  if (lead >= 0xF0 && lead <= 0xF7) return {4, 2};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, 1};
  if (lead >= 0xC0 && lead <= 0xDF) return {2, 1};
  return {1, 1};
}

/// Collects text up to a limit in characters; what goes past it is dropped,
/// a character that would straddle the limit included.
class LimitedText {
 public:
  explicit LimitedText(std::size_t limit) : limit_(limit) {}

  void Append(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
      Sequence sequence = SequenceAt(static_cast<unsigned char>(text[i]));
      sequence.bytes = std::min(sequence.bytes, text.size() - i);
      if (units_ + sequence.units > limit_) {
        units_ = limit_;
        return;
      }
      out_.append(text.substr(i, sequence.bytes));
      units_ += sequence.units;
      i += sequence.bytes;
    }
  }

  std::string Take() { return std::move(out_); }

 private:
  std::size_t limit_;
  std::size_t units_ = 0;
  std::string out_;
};

void WriteHex16(std::uint64_t value, char* out) noexcept {
  constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = 15; i >= 0; --i) {
    out[i] = kDigits[value & 0xF];
    value >>= 4;
  }
}

std::string Hex16(std::uint64_t value) {
  std::string text(16, '0');
  WriteHex16(value, text.data());
  return text;
}

std::string_view FileNamePart(std::string_view path) {
  const std::size_t separator = path.rfind(ModulePathSeparator());
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace

CodeLocation LocateCode(std::uint64_t address) {
  CodeModule module;
  CodeLocation location;
  if (address != 0 && FindCodeModule(address, module)) {
    location.offset = address - module.load_address;
  } else {
    module.path = OwnExecutablePath();
    location.offset = address == 0 ? 0 : address - kAssumedImageBase;
  }
  LimitedText name(kModuleNameLimit);
  name.Append(FileNamePart(module.path));
  location.module_name = name.Take();
  return location;
}

std::string FormatFailureReport(const Failure& failure) {
  const CodeLocation location = LocateCode(failure.address());
  const std::string& message = failure.message();
  const std::string_view ending = !message.empty() && message.back() != '.' ? "." : "";

  // Placeholders are filled in order: %s takes the next text, %p the offset.
  const std::string offset = Hex16(location.offset);
  const std::string_view texts[] = {failure.kind(), location.module_name, message, ending};
  std::size_t next_text = 0;
  LimitedText report(kFailureReportLimit);
  const std::string_view format = StoredText(stored_text::kFailureReportFormat);
  for (std::size_t i = 0; i < format.size(); ++i) {
    const bool placeholder = format[i] == '%' && i + 1 < format.size();
    if (placeholder && format[i + 1] == 's' && next_text < std::size(texts)) {
      report.Append(texts[next_text++]);
      ++i;
    } else if (placeholder && format[i + 1] == 'p') {
      report.Append(offset);
      ++i;
    } else {
      report.Append(format.substr(i, 1));
    }
  }
  return report.Take();
}

RuntimeErrorText FormatRuntimeErrorReport(int number, std::uint64_t address) noexcept {
  constexpr std::string_view kTemplate = "Runtime error     at 0000000000000000";
  constexpr std::size_t kNumberEnd = 17;  // the number's three places end here
  constexpr std::size_t kAddressBegin = 21;
  static_assert(kTemplate.size() == 37);

  RuntimeErrorText text{};
  kTemplate.copy(text.chars.data(), kTemplate.size());
  auto value = static_cast<unsigned>(number);
  std::size_t place = kNumberEnd;
  do {
    text.chars[--place] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && place > kNumberEnd - 3);
  WriteHex16(address, text.chars.data() + kAddressBegin);
  return text;
}

}  // namespace ncrewrite
