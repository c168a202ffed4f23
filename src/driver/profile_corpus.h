#pragma once

// Test support: the corpus of settings files in profile_corpus/, with the
// value of [common] test that Windows' profile reader gives for each (taken
// from GetPrivateProfileStringW under Wine; profile_win32_test.cpp checks
// them there again on every run) and the output mode that value selects.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ncrewrite::testing {

struct ProfileCorpusCase {
  std::string_view file;  // in profile_corpus/, or the sample in examples/
  std::u16string value;
  std::int32_t mode;
};

/// Where the corpus file `file` lies.
inline std::string ProfileCorpusPath(std::string_view file) {
  if (file == "ncrewrite.ini") return NCREWRITE_SAMPLE_SETTINGS;
  return std::string(NCREWRITE_PROFILE_CORPUS) + "/" + std::string(file);
}

inline std::vector<ProfileCorpusCase> ProfileCorpus() {
  const std::u16string zeros(2047, u'0');
  return {
      // What people write.
      {"ncrewrite.ini", u"0", 0},  // the sample that comes with the program
      {"plain.ini", u"1", 1},
      {"typical.ini", u"1", 1},
      {"lf-line-ends.ini", u"1", 1},
      {"cr-line-ends.ini", u"1", 1},
      {"no-final-line-end.ini", u"1", 1},
      {"names-case-and-blanks.ini", u"1", 1},
      {"value-hexadecimal.ini", u"0x01", 1},
      {"value-with-note.ini", u"1 ; tap output", 0},
      {"value-double-quotes.ini", u"1", 1},
      {"value-single-quotes-blank.ini", u" 1", 1},
      {"value-empty.ini", u"", 0},
      {"comments-before-the-key.ini", u"1", 1},
      {"comment-semicolon-is-a-key.ini", u"", 0},
      {"comment-hash-is-a-key.ini", u"", 0},
      {"commented-section.ini", u"", 0},
      {"duplicate-key.ini", u"1", 1},
      {"duplicate-section-first-wins.ini", u"1", 1},
      {"duplicate-section-key-in-second.ini", u"", 0},
      {"key-before-any-section.ini", u"", 0},
      {"key-in-other-section.ini", u"", 0},
      {"section-text-after-bracket.ini", u"1", 1},
      {"dos-end-of-file.ini", u"1", 1},
      {"utf8-bom.ini", u"1", 1},
      {"utf8-bom-value.ini", u"Fr\u00e4se \u20ac\U0001F600", 0},
      {"utf16le-bom.ini", u"1", 1},
      {"utf16be-bom.ini", u"1", 1},
      {"windows-1252.ini", u"\u20ac\u0081\u008d\u008f\u0090\u009d\u0178\u00a0\u00ff", 0},
      {"empty.ini", u"", 0},
      // The malformed.
      {"blanks-vt-ff-ctrl-z.ini", u"1", 1},
      {"control-not-blank-in-name.ini", u"", 0},
      {"control-in-value.ini", u"1\a", 0},
      {"no-break-space-not-blank.ini", u"\u00a01", 0},
      {"value-quotes-unmatched.ini", u"\"1'", 0},
      {"value-quotes-doubled.ini", u"\"1\"", 0},
      {"value-quote-alone.ini", u"\"", 0},
      {"value-equals-sign.ini", u"=1", 0},
      {"names-quoted.ini", u"", 0},
      {"key-without-equals-first.ini", u"", 0},
      {"section-second-closing-bracket.ini", u"", 0},
      {"section-without-closing-bracket.ini", u"", 0},
      {"section-without-closing-bracket-inside.ini", u"1", 1},
      {"section-empty-name.ini", u"1", 1},
      {"section-on-one-line-with-key.ini", u"", 0},
      {"nul-after-key-name.ini", u"1", 1},
      {"nul-inside-key-name.ini", u"", 0},
      {"nul-at-line-start.ini", u"", 0},
      {"nul-in-value.ini", u"1", 1},
      {"nul-in-value-after-blank.ini", u"1 ", 0},
      {"nul-in-section-name.ini", u"1", 1},
      {"utf8-bom-broken-comment.ini", u"1", 1},
      {"utf8-bom-broken-sequences.ini",
       u"<\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|"
       u"\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD|\uFFFDx|\uFFFDx|\uFFFD",
       0},
      {"utf8-bom-cut-at-end.ini", u"1\uFFFD", 0},
      {"utf8-bom-twice.ini", u"", 0},
      {"bom-only.ini", u"", 0},
      {"utf8-without-bom.ini", u"\u00c3\u00a4", 0},
      {"utf16le-lone-surrogate.ini", u"<\xD800>", 0},
      {"utf16le-odd-length.ini", u"1", 1},
      {"utf16le-without-bom.ini", u"", 0},
      // Values over 2047 characters; the last digit decides the mode.
      {"long-2047.ini", zeros.substr(1) + u"1", 1},
      {"long-2048.ini", zeros, 0},
      {"long-5000.ini", zeros, 0},
      {"long-quoted-2046.ini", zeros.substr(2) + u"1", 1},
      // The cut takes the closing quote, and the character dropped in its
      // place is the 1.
      {"long-quoted-2047.ini", zeros.substr(1), 0},
      {"long-quoted-2048.ini", zeros, 0},
  };
}

}  // namespace ncrewrite::testing
