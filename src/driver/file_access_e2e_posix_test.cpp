// End to end on what decides, besides the permission bits, who may read and
// write a program: its owner and group, its access control list and its
// other extended attributes, set with the system's own tools (setfacl,
// setfattr) as users set them. A replaced program keeps them all; where the
// new file cannot be given one of them, the program is written in place, so
// that who may use it never changes.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/e2e_posix_test.h"
#include "driver/e2e_test.h"
#include "testing/run_program.h"
#include "testing/temp_dir.h"

namespace ncrewrite::e2e {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::WriteFile;

constexpr gid_t kUsers = 100;  // a group that the user nobody is not in
constexpr uid_t kDaemon = 1;   // a user that may use the file as one of its group

/// Runs a tool such as setfacl, which must succeed, and gives its output.
std::string Tool(const std::vector<std::string>& command) {
  const ProgramRun run = RunProgram(command.front(), {command.begin() + 1, command.end()});
  EXPECT_EQ(run.exit_status, 0) << command.front() << ": " << run.err;
  return run.out;
}

/// What decides with the permission bits who may use `path`: its owner,
/// group and mode, its access control list, and every extended attribute
/// that the running user can see (the access control list among them).
std::string AccessOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid) + " " +
         std::to_string(status.st_mode & 07777) + "\n" +
         Tool({"/usr/bin/getfacl", "--absolute-names", path}) +
         Tool({"/usr/bin/getfattr", "--absolute-names", "--dump", "--match=-", "--encoding=hex",
               path});
}

/// `access` without the line of the attribute `name`.
std::string Without(std::string access, std::string_view name) {
  const std::size_t line = access.find("\n" + std::string(name) + "=");
  if (line != std::string::npos) access.erase(line, access.find('\n', line + 1) - line);
  return access;
}

ino_t InodeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
  return status.st_ino;
}

/// What the user `uid` of the group `gid` (and no other) may do with
/// `path`, as the kernel decides it: "rw" when it reads `content` from it and
/// may write it, "r-", "-w" or "--".
std::string MayUse(uid_t uid, gid_t gid, const std::string& path, const std::string& content) {
  const auto as_user = [&](const std::vector<std::string>& command) {
    std::vector<std::string> arguments = {"--reuid=" + std::to_string(uid),
                                          "--regid=" + std::to_string(gid), "--clear-groups", "--"};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return RunProgram("/usr/bin/setpriv", arguments);
  };
  const ProgramRun read = as_user({"/bin/cat", path});
  const ProgramRun write = as_user({"/usr/bin/test", "-w", path});
  return std::string(read.exit_status == 0 && read.out == content ? "r" : "-") +
         (write.exit_status == 0 ? "w" : "-");
}

/// Whether the tools are there and the file system of `directory` keeps
/// access control lists and user attributes; the reason to skip when not.
std::string WhyNotTestable(const fs::path& directory) {
  for (const char* tool : {"/usr/bin/setfacl", "/usr/bin/getfacl", "/usr/bin/setfattr",
                           "/usr/bin/getfattr", "/usr/bin/setpriv"}) {
    if (!fs::exists(tool)) return std::string(tool) + " is missing (packages acl, attr)";
  }
  const std::string probe = (directory / "probe").string();
  WriteFile(probe, "");
  const bool kept =
      RunProgram("/usr/bin/setfattr", {"--name=user.probe", "--value=1", probe}).exit_status == 0 &&
      RunProgram("/usr/bin/setfacl", {"--modify=u:65534:r", probe}).exit_status == 0;
  fs::remove(probe);
  return kept ? "" : "the file system keeps no extended attributes or access control lists";
}

struct AccessCase {
  const char* name;
  bool needs_root;
  bool as_nobody;  // the run is made by nobody; else by the user running the tests
  std::function<void(const std::string& program, const std::string& jobs)> set_up;
  bool in_place;             // written in place; else replaced by a new file
  const char* dropped;       // an attribute that the result must not carry over
  std::string nobody_may;    // what nobody may do with the result, where set
  std::string group_may;     // ... and a user of its group (users)
};

TEST_F(SaveFaults, ProgramKeepsWhoMayUseIt) {
  if (const std::string reason = WhyNotTestable(dir_.path()); !reason.empty()) {
    GTEST_SKIP() << reason;
  }
  const auto run_tool = [](const std::vector<std::string>& command) { Tool(command); };
  const auto own = [](const std::string& path, uid_t uid, gid_t gid, mode_t mode) {
    EXPECT_EQ(::chown(path.c_str(), uid, gid), 0) << path;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
  };
  const AccessCase cases[] = {
      {"access list: nobody may read and write, the group only read", false, false,
       [&](const std::string& program, const std::string&) {
         own(program, ::geteuid(), kUsers, 0640);
         run_tool({"/usr/bin/setfacl", "--modify=u:nobody:rw,m::rw", program});
       },
       false, nullptr, "rw", "r-"},
      {"user attributes", false, false,
       [&](const std::string& program, const std::string&) {
         run_tool({"/usr/bin/setfattr", "--name=user.machine", "--value=mill 3", program});
         run_tool({"/usr/bin/setfattr", "--name=user.checked", program});  // an empty value
       },
       false, nullptr, "", ""},
      {"no access list, in a directory that gives new files one", false, false,
       [&](const std::string& program, const std::string& jobs) {
         own(program, ::geteuid(), kUsers, 0640);
         run_tool({"/usr/bin/setfacl", "--default", "--modify=u:nobody:rw", jobs});
       },
       false, nullptr, "--", "r-"},
      {"attributes that only root sees", true, false,
       [&](const std::string& program, const std::string&) {
         run_tool({"/usr/bin/setfattr", "--name=trusted.backup", "--value=tape 7", program});
       },
       false, nullptr, "", ""},
      {"an integrity hash of the old content", true, false,
       [&](const std::string& program, const std::string&) {
         run_tool({"/usr/bin/setfattr", "--name=security.ima", "--value=0x0401", program});
         run_tool({"/usr/bin/setfattr", "--name=user.machine", "--value=mill 3", program});
       },
       false, "security.ima", "", ""},
      {"set-group-ID directory, a program of another group", true, true,
       [&](const std::string& program, const std::string& jobs) {
         own(jobs, kNobody, 0, 02775);
         own(program, kNobody, kNobody, 0640);
       },
       false, nullptr, "", ""},
      {"a label that the user may not give a file", true, true,
       [&](const std::string& program, const std::string& jobs) {
         own(jobs, kNobody, kNobody, 0755);
         own(program, kNobody, kNobody, 0640);
         run_tool({"/usr/bin/setfattr", "--name=security.ncrewrite", "--value=cell 2", program});
         run_tool({"/usr/bin/setfacl", "--modify=u:daemon:r", program});
       },
       true, nullptr, "", ""},
  };
  const bool root = ::geteuid() == 0;
  for (const AccessCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !root) continue;
    fs::remove_all(jobs_);
    fs::create_directory(jobs_);
    WriteFile(part_, std::string(kProgram));
    c.set_up(part_, jobs_.string());
    const std::string before = AccessOf(part_);
    const ino_t inode = InodeOf(part_);

    const ProgramRun run =
        c.as_nobody ? RunProgram("/usr/bin/setpriv", AsNobody({executable_, part_}))
                    : RunProgram(executable_, {part_});

    EXPECT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(ReadFile(part_), kRewritten);
    EXPECT_EQ(InodeOf(part_) == inode, c.in_place);
    EXPECT_EQ(AccessOf(part_), c.dropped ? Without(before, c.dropped) : before);
    if (root && !c.nobody_may.empty()) {
      EXPECT_EQ(MayUse(kNobody, kNobody, part_, std::string(kRewritten)), c.nobody_may);
      EXPECT_EQ(MayUse(kDaemon, kUsers, part_, std::string(kRewritten)), c.group_may);
    }
    EXPECT_EQ(testing::DirectoryEntries(jobs_), std::vector<std::string>{"part.nc"});
  }
}

}  // namespace
}  // namespace ncrewrite::e2e
