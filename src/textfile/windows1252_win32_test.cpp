// The Windows-1252 table that the POSIX build uses as its system code page,
// against the platform's own conversion of code page 1252.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "textfile/text_encoding.h"

namespace ncrewrite {
namespace {

TEST(Windows1252Encoding, MatchesTheWindowsConversionForEveryByteAndBack) {
  std::string bytes(256, '\0');
  for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k);

  std::wstring platform(bytes.size(), L'\0');
  ASSERT_EQ(MultiByteToWideChar(1252, 0, bytes.data(), static_cast<int>(bytes.size()),
                                platform.data(), static_cast<int>(platform.size())),
            256);
  const std::u16string decoded = DecodeText(Windows1252Encoding(), bytes);
  ASSERT_EQ(decoded.size(), platform.size());
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    EXPECT_EQ(static_cast<unsigned>(decoded[k]), static_cast<unsigned>(platform[k]))
        << "byte " << k;
  }

  std::string back(bytes.size(), '\0');
  BOOL used_default = FALSE;
  ASSERT_EQ(WideCharToMultiByte(1252, 0, platform.data(), static_cast<int>(platform.size()),
                                back.data(), static_cast<int>(back.size()), nullptr,
                                &used_default),
            256);
  EXPECT_FALSE(used_default);
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(EncodeText(Windows1252Encoding(), decoded), bytes);
}

}  // namespace
}  // namespace ncrewrite
