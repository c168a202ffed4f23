// Test support: a program that prints the ANSI code page it runs with, so
// that a test can tell which one a program started beside ncrewrite.exe,
// with the same environment, gets from the system.

#include <windows.h>

#include <cstdio>

int main() {
  std::printf("%u", ::GetACP());
  return std::fflush(stdout) == 0 ? 0 : 1;
}
