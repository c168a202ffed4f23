#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "failure/failure.h"
#include "textfile/file_io.h"
#include "textfile/text_file.h"
#include "testing/temp_dir.h"

namespace ncrewrite {
namespace {

namespace fs = std::filesystem;
using testing::DirectoryEntries;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

/// A program of many pages whose every line changes when saved: its LF
/// breaks become CR LF, so the saved text is longer than the loaded one.
std::string ProgramOfPages() {
  std::string text;
  for (int line = 0; line < 20000; ++line) text += "N" + std::to_string(line) + " G1 X1 Y2\n";
  return text;
}

std::string WithCrLf(const std::string& text) {
  std::string converted;
  for (const char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return converted;
}

/// Dates the file an hour back, as a program that was written before the
/// run; a change during the run then gives it a new time for certain.
void DateBack(const std::string& path) {
  struct timespec times[2];
  ::clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= 3600;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void WriteAt(const std::string& path, off_t offset, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

TEST(FileView, ShowsTheSameBytesAsAReadAtPageEdges) {
  const TempDir dir;
  const long page = ::sysconf(_SC_PAGESIZE);
  for (const long size : {1L, page - 1, page, page + 1, 3 * page + 7}) {
    std::string content(static_cast<std::size_t>(size), 'x');
    content.back() = 'E';
    WriteFile(dir.File("in.nc"), content);
    const FileBytes viewed = ViewWholeFile(dir.File("in.nc"));
    const FileBytes read = ReadWholeFile(dir.File("in.nc"));
    EXPECT_TRUE(viewed.is_view()) << size;
    EXPECT_FALSE(read.is_view()) << size;
    EXPECT_EQ(std::string_view(viewed.data(), viewed.size()), content) << size;
    EXPECT_EQ(std::string_view(read.data(), read.size()), content) << size;
  }
}

struct Change {
  const char* name;
  std::function<void(const std::string& path)> apply;
};

/// Another process changes the loaded file before it is saved elsewhere. The
/// save must not mix old and new content, nor end the process on a page that
/// the file lost: it fails with a read error and the output stays as it was.
TEST(FileView, ChangeOfTheLoadedFileFailsTheSaveAndKeepsTheOutput) {
  const auto cut_to = [](off_t size) {
    return [size](const std::string& path) { ASSERT_EQ(::truncate(path.c_str(), size), 0); };
  };
  const auto write_at = [](off_t offset) {
    return [offset](const std::string& path) { WriteAt(path, offset, "M80\n"); };
  };
  const Change changes[] = {
      {"cut short", cut_to(100)},
      {"cut to nothing", cut_to(0)},
      {"written to", write_at(50000)},
      {"grown", write_at(1 << 20)},
  };
  const std::string program = ProgramOfPages();
  for (const Change& change : changes) {
    const TempDir dir;
    const std::string input = dir.File("in.nc");
    const std::string output = dir.File("out.tap");
    WriteFile(input, program);
    WriteFile(output, "OLD\r\n");
    DateBack(input);
    LineList lines;
    LoadTextFile(lines, input);
    change.apply(input);
    try {
      SaveTextFile(lines, output);
      ADD_FAILURE() << change.name << ": saved";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.kind(), "EReadError") << change.name;
      EXPECT_EQ(failure.message(), "Stream-Lesefehler") << change.name;
    }
    EXPECT_EQ(ReadFile(output), "OLD\r\n") << change.name;
    EXPECT_EQ(DirectoryEntries(dir.path()), (std::vector<std::string>{"in.nc", "out.tap"}))
        << change.name;
  }
}

/// A file with a second name is written in place. When it is the loaded file
/// itself, emptying it must not take the content from under the save.
TEST(FileView, SaveInPlaceOverTheLoadedFileWritesItsWholeContent) {
  const TempDir dir;
  const std::string input = dir.File("in.nc");
  const std::string program = ProgramOfPages();
  WriteFile(input, program);
  ASSERT_EQ(::link(input.c_str(), dir.File("other.nc").c_str()), 0);
  LineList lines;
  LoadTextFile(lines, input);
  SaveTextFile(lines, input);
  EXPECT_EQ(ReadFile(input), WithCrLf(program));
  EXPECT_EQ(ReadFile(dir.File("other.nc")), WithCrLf(program));
}

/// Whether this process maps the file with inode number `inode` now.
bool MapsInode(ino_t inode) {
  return ReadFile("/proc/self/maps").find(" " + std::to_string(inode) + " ") != std::string::npos;
}

/// A file that is viewed cannot be replaced on every platform, so a save
/// over the loaded file lets go of its view before the new file takes its
/// place; a list with a text of its own keeps it.
TEST(FileView, SaveLetsGoOfTheViewOfTheLoadedFile) {
  const TempDir dir;
  const std::string input = dir.File("in.nc");
  WriteFile(input, ProgramOfPages());
  struct stat loaded;
  ASSERT_EQ(::stat(input.c_str(), &loaded), 0);
  LineList lines;
  LoadTextFile(lines, input);
  ASSERT_TRUE(MapsInode(loaded.st_ino));
  SaveTextFile(lines, input);
  EXPECT_EQ(ReadFile(input), WithCrLf(ProgramOfPages()));
  EXPECT_FALSE(MapsInode(loaded.st_ino));
  EXPECT_TRUE(lines.DecodedLines().empty());

  LineList copied;
  LoadTextBytes(copied, ReadWholeFile(input));
  SaveTextFile(copied, dir.File("out.nc"));
  EXPECT_EQ(copied.DecodedLines().size(), 20000u);
}

/// What ends a process on a bus error: the signal itself, or under the
/// sanitizers their report and exit.
bool EndedByBusError(int status) {
#ifdef NCREWRITE_SANITIZED
  if (WIFEXITED(status)) return WEXITSTATUS(status) != 0;
#endif
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS;
}

/// Touches a page that a file mapped apart from any view has lost.
void TouchLostPage(const std::string& path) {
  WriteFile(path, std::string(8192, 'x'));
  const int fd = ::open(path.c_str(), O_RDONLY);
  const auto* data = static_cast<const volatile char*>(
      ::mmap(nullptr, 8192, PROT_READ, MAP_PRIVATE, fd, 0));
  if (::truncate(path.c_str(), 0) == 0) std::printf("%c", data[4096]);
}

/// Lost pages are turned into zeros only inside views: any other bus error
/// still ends the process.
TEST(FileViewDeathTest, OtherBusErrorsStillEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const TempDir dir;
  WriteFile(dir.File("in.nc"), ProgramOfPages());
  const auto with_a_view = [&](const std::function<void()>& act) {
    LineList lines;
    LoadTextFile(lines, dir.File("in.nc"));
    act();
    std::exit(0);
  };
  EXPECT_EXIT(with_a_view([] { ::raise(SIGBUS); }), EndedByBusError, "");
  EXPECT_EXIT(with_a_view([&] { TouchLostPage(dir.File("other.nc")); }), EndedByBusError, "");
}

}  // namespace
}  // namespace ncrewrite
