// What the system tells about the modules of the process, as the failure
// report asks for it.

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "failure/code_module.h"
#include "failure/failure_report.h"
#include "failure/platform_text.h"

namespace ncrewrite {
namespace {

std::uint64_t AddressOf(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

/// The module that holds `address`, asked of the system in another way.
HMODULE ModuleHolding(std::uint64_t address) {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(address)), &module);
  return module;
}

std::string PathOf(HMODULE module) {
  std::u16string path(32768, u'\0');
  path.resize(GetModuleFileNameW(module, reinterpret_cast<LPWSTR>(path.data()),
                                 static_cast<DWORD>(path.size())));
  return Wtf8FromUtf16(path);
}

__attribute__((noinline)) void CodeOfTheTests() { asm volatile(""); }

TEST(FindCodeModule, NamesTheImageThatHoldsTheCode) {
  const std::uint64_t own = AddressOf(reinterpret_cast<const void*>(&CodeOfTheTests));
  const std::uint64_t system = AddressOf(reinterpret_cast<const void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentProcessId")));
  for (const std::uint64_t address : {own, system}) {
    CodeModule module;
    ASSERT_TRUE(FindCodeModule(address, module)) << std::hex << address;
    const HMODULE expected = ModuleHolding(address);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(module.load_address, AddressOf(expected));
    EXPECT_EQ(module.path, PathOf(expected));
  }
  CodeModule module;
  FindCodeModule(own, module);
  EXPECT_EQ(module.load_address, AddressOf(GetModuleHandleW(nullptr)));
  EXPECT_TRUE(module.path.ends_with("\\" NCREWRITE_TESTS_FILE_NAME)) << module.path;
}

TEST(FindCodeModule, MemoryOfNoImageHasNoModule) {
  const auto heap = std::make_unique<int>(0);
  int on_stack = 0;
  void* const reserved = VirtualAlloc(nullptr, 1 << 16, MEM_RESERVE, PAGE_NOACCESS);
  void* const committed = VirtualAlloc(nullptr, 1 << 16, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(reserved, nullptr);
  ASSERT_NE(committed, nullptr);
  for (const void* where : {static_cast<const void*>(heap.get()), static_cast<const void*>(&on_stack),
                            static_cast<const void*>(reserved), static_cast<const void*>(committed),
                            static_cast<const void*>(nullptr)}) {
    CodeModule module;
    EXPECT_FALSE(FindCodeModule(AddressOf(where), module)) << where;
  }
  VirtualFree(reserved, 0, MEM_RELEASE);
  VirtualFree(committed, 0, MEM_RELEASE);
}

TEST(OwnExecutablePath, IsTheFullPathOfTheRunningProgram) {
  const std::string path = OwnExecutablePath();
  EXPECT_EQ(path, PathOf(nullptr));
  EXPECT_TRUE(path.ends_with("\\" NCREWRITE_TESTS_FILE_NAME)) << path;
  EXPECT_EQ(path.substr(1, 2), ":\\") << path;
}

TEST(LocateCode, GivesTheOffsetIntoTheImage) {
  const std::uint64_t own = AddressOf(reinterpret_cast<const void*>(&CodeOfTheTests));
  const CodeLocation location = LocateCode(own);
  EXPECT_EQ(location.module_name, NCREWRITE_TESTS_FILE_NAME);
  EXPECT_EQ(location.offset, own - AddressOf(GetModuleHandleW(nullptr)));
}

}  // namespace
}  // namespace ncrewrite
