#include "textfile/text_encoding.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>

#include "textfile/file_failures.h"

namespace ncrewrite {
namespace {

// MultiByteToWideChar and WideCharToMultiByte count in int: a longer text
// is converted in pieces, each ended after a line feed where there is one,
// so that no character is cut in two.
constexpr std::size_t kMaxPiece = std::size_t{1} << 30;

template <typename Char>
std::size_t NextPiece(std::basic_string_view<Char> text) {
  if (text.size() <= kMaxPiece) return text.size();
  const std::size_t line_feed = text.substr(0, kMaxPiece).rfind(Char{'\n'});
  return line_feed == std::basic_string_view<Char>::npos ? kMaxPiece : line_feed + 1;
}

wchar_t* Units(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }
const wchar_t* Units(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

int Capacity(std::size_t room) { return static_cast<int>(std::min<std::size_t>(room, INT_MAX)); }

/// MultiByteToWideChar with no flags, measured and then converted: what it
/// makes of a byte that the code page does not define is its own rule.
std::u16string DecodeWithPlatform(std::uint32_t code_page, std::string_view bytes) {
  std::size_t length = 0;
  for (std::string_view rest = bytes; !rest.empty();) {
    const std::size_t piece = NextPiece(rest);
    length += static_cast<std::size_t>(::MultiByteToWideChar(
        code_page, 0, rest.data(), static_cast<int>(piece), nullptr, 0));
    rest.remove_prefix(piece);
  }
  std::u16string text(length, u'\0');
  std::size_t done = 0;
  for (std::string_view rest = bytes; !rest.empty() && done < length;) {
    const std::size_t piece = NextPiece(rest);
    done += static_cast<std::size_t>(
        ::MultiByteToWideChar(code_page, 0, rest.data(), static_cast<int>(piece),
                              Units(text) + done, Capacity(length - done)));
    rest.remove_prefix(piece);
  }
  text.resize(done);
  return text;
}

/// WideCharToMultiByte with no flags, no default character and no flag for
/// its use, measured and then converted.
std::string EncodeWithPlatform(std::uint32_t code_page, std::u16string_view text) {
  std::size_t length = 0;
  for (std::u16string_view rest = text; !rest.empty();) {
    const std::size_t piece = NextPiece(rest);
    length += static_cast<std::size_t>(::WideCharToMultiByte(
        code_page, 0, Units(rest), static_cast<int>(piece), nullptr, 0, nullptr, nullptr));
    rest.remove_prefix(piece);
  }
  std::string bytes(length, '\0');
  std::size_t done = 0;
  for (std::u16string_view rest = text; !rest.empty() && done < length;) {
    const std::size_t piece = NextPiece(rest);
    done += static_cast<std::size_t>(
        ::WideCharToMultiByte(code_page, 0, Units(rest), static_cast<int>(piece),
                              bytes.data() + done, Capacity(length - done), nullptr, nullptr));
    rest.remove_prefix(piece);
  }
  bytes.resize(done);
  return bytes;
}

/// Decodes the bytes 0 to N-1, one after the other, in `code_page`; gives
/// whether they came out as exactly N UTF-16 units.
template <std::size_t N>
bool DecodeFirstBytes(UINT code_page, std::array<wchar_t, N>& units) {
  std::array<char, N> bytes;
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k);
  return ::MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()),
                               units.data(), static_cast<int>(units.size())) == N;
}

/// Whether the bytes 0x00-0x7F are the ASCII characters, each on its own.
bool KeepsAscii(UINT code_page) {
  std::array<wchar_t, 128> units;
  if (!DecodeFirstBytes(code_page, units)) return false;
  for (std::size_t k = 0; k < units.size(); ++k) {
    if (units[k] != static_cast<wchar_t>(k)) return false;
  }
  return true;
}

/// Whether the two bytes are one well-formed character of `code_page`.
bool IsCharacter(UINT code_page, unsigned lead, unsigned trail) {
  const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  wchar_t units[2];
  return ::MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, pair, 2, units, 2) == 1;
}

/// For a double-byte code page: whether its lead bytes are all above 0x7F
/// and no byte below 0x40 follows one in a well-formed character. Every
/// lead byte is tried with every such byte: a few thousand conversions,
/// well under a millisecond. A code page whose lead bytes form no
/// character at all (the flag for ill-formed input is not honoured, or
/// the table is not what it claims) does not count as having the property.
bool KeepsLowBytesOutsideCharacters(UINT code_page, const CPINFO& info) {
  bool well_formed_pair = false;
  for (std::size_t k = 0; k + 1 < MAX_LEADBYTES && info.LeadByte[k] != 0; k += 2) {
    for (unsigned lead = info.LeadByte[k]; lead <= info.LeadByte[k + 1]; ++lead) {
      if (lead < 0x80) return false;
      for (unsigned trail = 0; trail < 0x40; ++trail) {
        if (IsCharacter(code_page, lead, trail)) return false;
      }
      for (unsigned trail = 0x40; trail <= 0xFF && !well_formed_pair; ++trail) {
        well_formed_pair = IsCharacter(code_page, lead, trail);
      }
    }
  }
  return well_formed_pair;
}

/// Whether lines of `code_page` can be split, trimmed and compared on their
/// bytes: 0x00-0x7F are ASCII and no byte below 0x40 is ever part of a
/// multi-byte character. Characters of more than two bytes cannot be tried
/// one by one; of such code pages only UTF-8 has the property, by its
/// definition.
bool KeepsLineBytes(UINT code_page, const CPINFO& info) {
  if (!KeepsAscii(code_page)) return false;
  switch (info.MaxCharSize) {
    case 1:
      return true;
    case 2:
      return KeepsLowBytesOutsideCharacters(code_page, info);
    default:
      return code_page == CP_UTF8;
  }
}

/// The character of every byte of a single-byte code page, if the platform
/// gives every byte one of its own (a bijection, as kSingleByte needs).
bool MakeByteTable(UINT code_page, std::array<char16_t, 256>& table) {
  std::array<wchar_t, 256> units;
  if (!DecodeFirstBytes(code_page, units)) return false;
  std::copy(units.begin(), units.end(), table.begin());
  std::array<char16_t, 256> sorted = table;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end();
}

std::string_view MarkOfNumber(std::uint32_t code_page) {
  switch (code_page) {
    case 65001:
      return "\xEF\xBB\xBF";
    case 1200:
      return "\xFF\xFE";
    case 1201:
      return "\xFE\xFF";
    default:
      return {};
  }
}

/// A code page's encoding together with what it refers to.
struct OwnedCodePage {
  TextEncoding encoding{};
  std::array<char16_t, 256> table{};
  std::string name;
};

}  // namespace

std::shared_ptr<const TextEncoding> MakeCodePageEncoding(std::uint32_t code_page) {
  CPINFO info;
  if (!::GetCPInfo(code_page, &info)) RaiseCodePageFailure();
  auto owned = std::make_shared<OwnedCodePage>();
  owned->name = "code page " + std::to_string(code_page);
  TextEncoding& encoding = owned->encoding;
  encoding.name = owned->name;
  encoding.code_page = code_page;
  encoding.units = UnitFormat::kByte;
  encoding.keeps_bytes = KeepsLineBytes(code_page, info);
  // A file without a mark never gets one where its bytes are kept.
  encoding.byte_order_mark = encoding.keeps_bytes ? std::string_view() : MarkOfNumber(code_page);
  if (info.MaxCharSize == 1 && encoding.keeps_bytes && MakeByteTable(code_page, owned->table)) {
    const TextEncoding& windows_1252 = Windows1252Encoding();
    if (code_page == windows_1252.code_page &&
        std::equal(owned->table.begin(), owned->table.end(), windows_1252.byte_to_char)) {
      // The very encoding that stands in for the system code page on
      // Linux: the same bytes and characters on both.
      return std::shared_ptr<const TextEncoding>(std::shared_ptr<void>(), &Windows1252Encoding());
    }
    encoding.kind = TextEncoding::Kind::kSingleByte;
    encoding.byte_to_char = owned->table.data();
  } else {
    encoding.kind = TextEncoding::Kind::kCodePage;
    encoding.decode = DecodeWithPlatform;
    encoding.encode = EncodeWithPlatform;
  }
  return std::shared_ptr<const TextEncoding>(owned, &owned->encoding);
}

const TextEncoding& SystemCodePage() {
  // Made on first use, at the latest by the first line list; a failure
  // leaves it to be tried again by the next use.
  static const std::shared_ptr<const TextEncoding> encoding = MakeCodePageEncoding(::GetACP());
  return *encoding;
}

}  // namespace ncrewrite
