// The program files as users get them: a program of the graphical
// subsystem that needs only the system's DLLs, with its string table, icon,
// version and manifest. Read from the files that the build made.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "failure/platform_text.h"
#include "failure/stored_texts.h"

namespace ncrewrite {
namespace {

const char* const kPrograms[] = {NCREWRITE_EXECUTABLE, NCREWRITE_LEAK_PROBE};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename T>
T At(const std::string& bytes, std::size_t offset) {
  T value{};
  if (offset + sizeof value <= bytes.size()) std::memcpy(&value, bytes.data() + offset, sizeof value);
  return value;
}

/// What the PE headers of a program file say about how it runs.
struct Image {
  std::uint16_t machine = 0;
  std::uint16_t subsystem = 0;
  std::set<std::string> imported_dlls;  // in lower case
};

Image ReadImage(const std::string& bytes) {
  Image image;
  const auto pe = At<std::uint32_t>(bytes, 0x3C);
  if (bytes.compare(pe, 4, std::string("PE\0\0", 4)) != 0) return image;
  const std::size_t coff = pe + 4;
  image.machine = At<std::uint16_t>(bytes, coff);
  const auto sections = At<std::uint16_t>(bytes, coff + 2);
  const auto optional_size = At<std::uint16_t>(bytes, coff + 16);
  const std::size_t optional = coff + 20;
  image.subsystem = At<std::uint16_t>(bytes, optional + 68);
  const std::size_t section_table = optional + optional_size;

  const auto file_offset = [&](std::uint32_t rva) -> std::size_t {
    for (std::size_t k = 0; k < sections; ++k) {
      const std::size_t section = section_table + 40 * k;
      const auto address = At<std::uint32_t>(bytes, section + 12);
      const auto size = At<std::uint32_t>(bytes, section + 16);
      if (rva >= address && rva < address + size) {
        return rva - address + At<std::uint32_t>(bytes, section + 20);
      }
    }
    return bytes.size();
  };
  const auto name_at = [&](std::uint32_t rva) {
    const std::size_t begin = std::min(file_offset(rva), bytes.size());
    std::string name = bytes.substr(begin, bytes.find('\0', begin) - begin);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return name;
  };
  // The import directory (entry 1) and the delay-load one (entry 13).
  const auto directories = At<std::uint32_t>(bytes, optional + 108);
  const std::pair<std::size_t, std::size_t> tables[] = {{1, 20}, {13, 32}};
  for (const auto& [entry, descriptor_size] : tables) {
    if (entry >= directories) continue;
    const auto rva = At<std::uint32_t>(bytes, optional + 112 + 8 * entry);
    if (rva == 0) continue;
    const std::size_t name_field = entry == 1 ? 12 : 4;
    for (std::size_t at = file_offset(rva); at + descriptor_size <= bytes.size(); at += descriptor_size) {
      const auto name = At<std::uint32_t>(bytes, at + name_field);
      if (name == 0) break;
      image.imported_dlls.insert(name_at(name));
    }
  }
  return image;
}

TEST(ProgramImage, IsAGraphicalX64ProgramThatNeedsOnlySystemDlls) {
  // The DLLs of every Windows installation; no runtime of the compiler.
  const std::set<std::string> system = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                        "gdi32.dll",    "shell32.dll", "msvcrt.dll",
                                        "ucrtbase.dll", "ntdll.dll",   "version.dll"};
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const Image image = ReadImage(ReadBytes(program));
    EXPECT_EQ(image.machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(image.subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_TRUE(image.imported_dlls.contains("kernel32.dll"));
    for (const std::string& dll : image.imported_dlls) {
      EXPECT_TRUE(system.contains(dll) || dll.starts_with("api-ms-win-crt-")) << dll;
    }
  }
}

/// A program file loaded for its resources only.
class Resources {
 public:
  explicit Resources(const std::string& program)
      : units_(Utf16FromWtf8(program)),
        module_(LoadLibraryExW(reinterpret_cast<LPCWSTR>(units_.c_str()), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
  ~Resources() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Resources(const Resources&) = delete;
  Resources& operator=(const Resources&) = delete;

  HMODULE module() const { return module_; }

  /// The bytes of resource `name` of `type`; empty when there is none.
  std::string Find(LPCWSTR name, LPCWSTR type) const {
    const HRSRC found = FindResourceW(module_, name, type);
    if (found == nullptr) return {};
    const HGLOBAL loaded = LoadResource(module_, found);
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(module_, found));
  }

 private:
  std::u16string units_;
  HMODULE module_;
};

TEST(ProgramImage, CarriesTheStringTableOfTheStoredTexts) {
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const Resources resources(program);
    ASSERT_NE(resources.module(), nullptr) << GetLastError();
    for (const std::uint32_t number : {stored_text::kFailureReportFormat, stored_text::kFailureReportCaption,
                                       stored_text::kOutOfMemoryMessage}) {
      char16_t text[256];
      const int length = LoadStringW(resources.module(), number, reinterpret_cast<LPWSTR>(text), 256);
      EXPECT_EQ(Wtf8FromUtf16(std::u16string_view(text, static_cast<std::size_t>(std::max(length, 0)))),
                BuiltInStoredText(number));
    }
  }
}

TEST(ProgramImage, CarriesTheIconInElevenImages) {
  struct Expected {
    std::size_t size;
    std::uint16_t bits;
  };
  const Expected expected[] = {{64, 8},   {48, 8},  {32, 8},  {24, 8},  {16, 8}, {256, 32},
                               {64, 32},  {48, 32}, {32, 32}, {24, 32}, {16, 32}};
  for (const char* program : kPrograms) {
    SCOPED_TRACE(program);
    const Resources resources(program);
    const std::string group = resources.Find(L"MAINICON", RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    ASSERT_EQ(At<std::uint16_t>(group, 2), 1) << "no icon group";
    ASSERT_EQ(At<std::uint16_t>(group, 4), std::size(expected));
    for (std::size_t k = 0; k < std::size(expected); ++k) {
      SCOPED_TRACE(k);
      const std::size_t entry = 6 + 14 * k;
      const std::size_t width = At<std::uint8_t>(group, entry);
      const std::size_t size = width == 0 ? 256 : width;
      EXPECT_EQ(size, expected[k].size);
      EXPECT_EQ(At<std::uint16_t>(group, entry + 6), expected[k].bits);
      const std::string image =
          resources.Find(MAKEINTRESOURCEW(At<std::uint16_t>(group, entry + 12)), RT_ICON);
      ASSERT_FALSE(image.empty());
      if (image.starts_with("\x89PNG")) {
        EXPECT_EQ(size, 256u);
        EXPECT_EQ(_byteswap_ulong(At<std::uint32_t>(image, 16)), 256u);  // IHDR width
        continue;
      }
      EXPECT_EQ(At<std::uint32_t>(image, 0), 40u) << "BITMAPINFOHEADER";
      EXPECT_EQ(At<std::uint32_t>(image, 4), size);
      EXPECT_EQ(At<std::uint32_t>(image, 8), 2 * size) << "colour and mask";
      EXPECT_EQ(At<std::uint16_t>(image, 14), expected[k].bits);
      // Something is drawn, and something is left transparent by the mask.
      const std::size_t palette = expected[k].bits == 8 ? 4 * 256 : 0;
      const std::size_t colour_bytes = size * size * expected[k].bits / 8;
      const std::string mask = image.substr(40 + palette + colour_bytes);
      ASSERT_EQ(mask.size(), size * ((size + 31) / 32 * 4));
      EXPECT_NE(mask.find_first_not_of('\0'), std::string::npos) << "nothing transparent";
      EXPECT_NE(mask.find_first_not_of('\xFF'), std::string::npos) << "nothing drawn";
    }
  }
}

TEST(ProgramImage, CarriesTheProjectsVersion) {
  const std::u16string program = Utf16FromWtf8(NCREWRITE_EXECUTABLE);
  const auto* name = reinterpret_cast<LPCWSTR>(program.c_str());
  std::string info(GetFileVersionInfoSizeW(name, nullptr), '\0');
  ASSERT_FALSE(info.empty()) << GetLastError();
  ASSERT_TRUE(GetFileVersionInfoW(name, 0, static_cast<DWORD>(info.size()), info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%lu.%lu.%lu", fixed->dwFileVersionMS >> 16,
                fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16);
  EXPECT_EQ(numbers, std::string(NCREWRITE_VERSION));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  const auto text = [&](const wchar_t* key) {
    const std::wstring query = std::wstring(L"\\StringFileInfo\\000004B0\\") + key;
    char16_t* value = nullptr;
    UINT units = 0;
    if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &units) ||
        units == 0) {
      return std::string();
    }
    return Wtf8FromUtf16(std::u16string_view(value, units - 1));
  };
  EXPECT_EQ(text(L"ProductName"), "ncrewrite");
  EXPECT_EQ(text(L"FileVersion"), NCREWRITE_VERSION);
  EXPECT_EQ(text(L"ProductVersion"), NCREWRITE_VERSION);
  EXPECT_NE(text(L"FileDescription"), "");
  EXPECT_EQ(text(L"OriginalFilename"), "ncrewrite.exe");
}

TEST(ProgramImage, CarriesTheManifest) {
  const Resources resources(NCREWRITE_EXECUTABLE);
  const std::string manifest =
      resources.Find(CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
  ASSERT_TRUE(manifest.starts_with("<?xml")) << manifest;
  for (const char* wanted : {
           R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")",
           R"(<requestedExecutionLevel level="asInvoker")",
           "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
           "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
           R"(WindowsSettings">true</dpiAware>)",
           R"(WindowsSettings">true</longPathAware>)",
       }) {
    EXPECT_NE(manifest.find(wanted), std::string::npos) << wanted;
  }
  // The program must see the system's own ANSI code page.
  EXPECT_EQ(manifest.find("<activeCodePage"), std::string::npos);
}

}  // namespace
}  // namespace ncrewrite
