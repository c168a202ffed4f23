#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ncrewrite {

/// Looks up values in the settings file. It holds nothing but the file's
/// path: creating it touches no file, each lookup reads the file afresh, and
/// it never writes or creates the file.
class SettingsReader {
 public:
  explicit SettingsReader(std::string path) : path_(std::move(path)) {}
  /// Asks the platform to drop any cached copy of the file.
  ~SettingsReader();
  SettingsReader(const SettingsReader&) = delete;
  SettingsReader& operator=(const SettingsReader&) = delete;

  /// The value of `key` in `section`; empty when the file, the section or the
  /// key is missing. Never fails.
  std::u16string ReadText(std::u16string_view section, std::u16string_view key) const;

  /// ReadText converted by ParseInteger, `fallback` when it is no integer.
  std::int32_t ReadNumber(std::u16string_view section, std::u16string_view key,
                          std::int32_t fallback) const;

 private:
  std::string path_;
};

}  // namespace ncrewrite
