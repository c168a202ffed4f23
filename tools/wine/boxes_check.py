#!/usr/bin/env python3
"""The message boxes of the Windows program, as a user sees them under Wine.

Run by tools/checks/wine-boxes.sh, which builds the programs, starts a
virtual X display (DISPLAY) and names the Wine prefix of this run
(NCREWRITE_WINEPREFIX); every Windows program is started through
tools/wine/run-in-locale.sh in a German locale, as on a German user's
system, so that the system's reasons are German too.

Three tables, each row one run of a program installed in
"C:\\Program Files\\ncrewrite", on a program file in C:\\jobs:
  - the failure report of each failure kind a user can bring about;
  - the fallback report, from a build whose start-up or shutdown fails;
  - the leak report, under a small debugger of ours, and where it must not
    come.
A box is read and closed by the box probe (src/testing/box_probe_win32_main.cpp):
caption, text, buttons, icon, and that the program waits for OK and hands
its exit status back only after it.
"""

import argparse
import json
import os
import queue
import re
import resource
import shutil
import subprocess
import sys
import threading
import time
from dataclasses import dataclass, field
from typing import Callable, Optional

HERE = os.path.dirname(os.path.abspath(__file__))
RUN_IN_LOCALE = os.path.join(HERE, "run-in-locale.sh")
LOCALE = "de_DE.UTF-8"
ADDR2LINE = "x86_64-w64-mingw32-addr2line"
OBJDUMP = "x86_64-w64-mingw32-objdump"

# Generous: a loaded machine starts Wine slowly, and without a window
# manager Wine takes about 2 s to take a box down after OK.
BOX_TIMEOUT = 90
EXIT_TIMEOUT = 90

PROGRAM_TEXT = b"%\r\nN10 G90\r\nM104\r\nG1 X10\r\nM80\r\nM81\r\nM30\r\n"
REWRITTEN_TEXT = b"%\r\nN10 G90\r\nM104 M180\r\nG1 X10\r\nM30\r\n"


class CheckFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise CheckFailed(what)


class Setup:
    """Where things are: the build, the prefix's drive C:, the probes."""

    def __init__(self, build, work):
        self.build = build
        self.work = work
        self.prefix = os.environ["NCREWRITE_WINEPREFIX"]
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.install = os.path.join(self.drive_c, "Program Files", "ncrewrite")
        self.jobs = os.path.join(self.drive_c, "jobs")
        self.probe = os.path.join(build, "src/testing/ncrewrite_box_probe.exe")
        self.debugger = os.path.join(build, "src/testing/ncrewrite_debugger.exe")
        self.programs = {
            name: os.path.join(build, "src/driver", name)
            for name in ("ncrewrite.exe", "ncrewrite_leak_probe.exe",
                         "ncrewrite_fallback_probe.exe")
        }
        os.makedirs(self.install, exist_ok=True)
        for name, built in self.programs.items():
            shutil.copy(built, os.path.join(self.install, name))
        self.count = 0

    def windows_path(self, path):
        """The path as the program sees it: C: for the prefix's drive_c,
        Z: for the rest of the file system."""
        path = os.path.abspath(path)
        if path == self.drive_c or path.startswith(self.drive_c + os.sep):
            return "C:" + (path[len(self.drive_c):].replace("/", "\\") or "\\")
        return "Z:" + path.replace("/", "\\")

    def installed(self, name):
        return os.path.join(self.install, name)

    def settings(self, name, test):
        """The settings file beside the installed program `name`."""
        ini = os.path.splitext(self.installed(name))[0] + ".ini"
        if test is None:
            if os.path.exists(ini):
                os.remove(ini)
            return
        with open(ini, "wb") as out:
            out.write(b"[common]\r\ntest=%d\r\n" % test)

    def fresh_name(self, stem):
        self.count += 1
        return os.path.join(self.work, "%s-%d" % (stem, self.count))


def start(program, arguments, stdout, stderr, memory_limit=None):
    """Starts a Windows program under Wine in the German locale."""
    limit = None
    if memory_limit is not None:
        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (memory_limit, memory_limit))
    return subprocess.Popen([RUN_IN_LOCALE, LOCALE, program, *arguments],
                            stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                            preexec_fn=limit)


class LineReader:
    """The lines of a pipe, each waited for with a timeout."""

    def __init__(self, pipe):
        self.lines = queue.Queue()
        thread = threading.Thread(target=self._read, args=(pipe,), daemon=True)
        thread.start()

    def _read(self, pipe):
        for line in iter(pipe.readline, b""):
            self.lines.put(line.decode("utf-8", "replace").rstrip("\r\n"))
        self.lines.put(None)

    def next(self, timeout, what):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise CheckFailed("%s: nothing within %d s" % (what, timeout))
        expect(line is not None, "%s: the probe ended without it" % what)
        return line


def stop(process):
    if process.poll() is None:
        process.kill()
        process.wait()


def error_text(setup, code):
    """The system's text for the error `code`, as the program gives it in a
    message: cut after its last character that is no blank or period."""
    out = subprocess.run([RUN_IN_LOCALE, LOCALE, setup.probe, "--error-text", str(code)],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=120, check=True)
    text = json.loads(out.stdout.decode("utf-8").splitlines()[-1])
    expect(text, "the system has no text for error %d" % code)
    return re.sub(r"[\x00-\x20.]+$", "", text)


class Image:
    """Code addresses of a built program, named as its debug information
    names them."""

    def __init__(self, path):
        self.path = path
        headers = subprocess.run([OBJDUMP, "-p", path], capture_output=True, text=True,
                                 check=True).stdout
        self.base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)
        self.size = int(re.search(r"^SizeOfImage\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)

    def function_at(self, address):
        """The outermost function (with its source file) that holds the
        code just before `address`, a return address."""
        expect(self.base < address <= self.base + self.size,
               "address %016X lies outside %s" % (address, os.path.basename(self.path)))
        frames = subprocess.run([ADDR2LINE, "-f", "-C", "-i", "-e", self.path,
                                 "0x%x" % (address - 1)],
                                capture_output=True, text=True, check=True).stdout.splitlines()
        return "\n".join(frames[-2:])


@dataclass
class Box:
    caption: str
    text: Optional[str] = None       # the exact text, CR LF and all
    pattern: Optional[str] = None    # or a regular expression for it
    icon: Optional[str] = None       # the system icon it shows; None: no icon


@dataclass
class Run:
    """One run of an installed program, with the box it must show (or
    none) and the exit status it must end with."""
    name: str
    program: str
    status: int
    box: Optional[Box]
    test: Optional[int] = None                  # the settings' test value; None: no file
    folder: str = ""                            # below C:\jobs
    content: Optional[bytes] = PROGRAM_TEXT     # of part.nc; None: no such file
    argument: Optional[str] = None              # argument 1; default: part.nc's path
    extra: list = field(default_factory=list)   # further arguments
    prepare: Optional[Callable] = None          # makes the obstacle: (setup, folder)
    hold_input: bool = False                    # another program holds part.nc open
    memory_limit: Optional[int] = None          # bytes of address space for the run
    debugged: bool = False                      # started by our debugger
    result: Optional[bytes] = None              # part.nc afterwards; None: unchanged
    line2: Optional[str] = None                 # {path}, {tap}, {reason} filled in
    reason: Optional[int] = None                # the error whose text is {reason}
    raised_in: Optional[str] = None             # where the code address lies (regex)
    screenshot: Optional[str] = None            # where to keep a picture of the box
    skip: Optional[str] = None                  # why the row cannot run here


def folder_of(setup, run):
    return os.path.join(setup.jobs, run.folder) if run.folder else setup.jobs


def snapshot(path):
    """What must not change about a file: its size and time, and its bytes
    while they are few."""
    if not os.path.lexists(path):
        return None
    status = os.lstat(path)
    if status.st_size > (1 << 20) or not os.path.isfile(path):
        return (status.st_size, status.st_mtime_ns)
    with open(path, "rb") as data:
        return (status.st_size, status.st_mtime_ns, data.read())


def expected_line2(setup, run, part):
    if run.line2 is None:
        return None
    path = setup.windows_path(part)
    return (run.line2.replace("{path}", path)
            .replace("{tap}", path[:-len(".nc")] + ".tap")
            .replace("{reason}", error_text(setup, run.reason) if run.reason else ""))


def check_box(setup, run, box, line2, image):
    expect(box["boxes"] == 1 and box["class"] == "#32770", "boxes: %s" % box)
    expect(box["caption"] == run.box.caption, "caption %r" % box["caption"])
    if run.box.text is not None:
        expect(box["text"] == run.box.text, "text %r, not %r" % (box["text"], run.box.text))
    else:
        match = re.fullmatch(run.box.pattern, box["text"], re.S)
        expect(match, "text %r does not match %r" % (box["text"], run.box.pattern))
        groups = match.groupdict()
        if line2 is not None:
            expect(groups["line2"] == line2, "line 2 %r, not %r" % (groups["line2"], line2))
        if run.raised_in is not None:
            address = int(groups.get("offset") or groups["address"], 16)
            if groups.get("offset"):
                address += image.base
            where = image.function_at(address)
            expect(re.search(run.raised_in, where),
                   "code address %016X lies in %r, not in %r" % (address, where, run.raised_in))
    expect(box["buttons"] == [{"id": 1, "text": "OK"}],
           "buttons %s, not one OK" % box["buttons"])
    if run.box.icon is None:
        expect(box["icons"] == [], "icons %s, not none" % box["icons"])
    else:
        expect(box["icons"] == [{"looks_like": run.box.icon, "differing_pixels": 0}],
               "icons %s, not the %s icon" % (box["icons"], run.box.icon))
    expect(box["owner"] == setup.windows_path(setup.installed(run.program)),
           "the box belongs to %r" % box["owner"])


def take_screenshot(box, path):
    left, top, right, bottom = box["rect"]
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    subprocess.run(["import", "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
                    "-strip", path], check=True, timeout=60)


def box_lines(caption, text):
    """A box as it also goes to standard error: the caption, then its text
    line by line."""
    lines = text.replace("\r\n", "\n")
    return caption + "\n" + lines + ("" if lines.endswith("\n") else "\n")


def run_row(setup, run):
    folder = folder_of(setup, run)
    os.makedirs(folder, exist_ok=True)
    part = os.path.join(folder, "part.nc")
    if run.content is not None:
        with open(part, "wb") as out:
            out.write(run.content)
    setup.settings(run.program, run.test)
    if run.prepare is not None:
        run.prepare(setup, folder)
    entries = sorted(os.listdir(folder))
    before = snapshot(part)
    line2 = expected_line2(setup, run, part)
    image = Image(setup.installed(run.program))

    out_path = setup.fresh_name("out")
    err_path = setup.fresh_name("err")
    go = setup.fresh_name("go")
    probe = program = None
    box = None
    try:
        if run.box is not None:
            arguments = ["--timeout", str(BOX_TIMEOUT), "--until", setup.windows_path(go)]
            if run.hold_input:
                arguments += ["--hold", setup.windows_path(part)]
            probe = start(setup.probe, arguments + [run.box.caption],
                          subprocess.PIPE, subprocess.DEVNULL)
            lines = LineReader(probe.stdout)
            if run.hold_input:
                expect(lines.next(BOX_TIMEOUT, "holding the input") == "held",
                       "the probe could not hold the input")

        argument = run.argument if run.argument is not None else setup.windows_path(part)
        command = [setup.windows_path(setup.installed(run.program)), argument, *run.extra]
        if run.debugged:
            command = [setup.debugger, *command]
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            started = time.monotonic()
            program = start(command[0], command[1:], out, err, run.memory_limit)

        if run.box is None:
            try:
                status = program.wait(EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise CheckFailed("did not end by itself within %d s: a box waits?" % EXIT_TIMEOUT)
            report = "no box, ended by itself after %.1f s" % (time.monotonic() - started)
        else:
            box = json.loads(lines.next(BOX_TIMEOUT, "the box"))
            box_seen = time.monotonic()
            expect(box.get("found"),
                   "no box captioned %r within %d s" % (run.box.caption, BOX_TIMEOUT))
            # The probe presses OK only once `go` exists: until then the box
            # is open, and the program must still be running.
            still_waiting = program.poll() is None
            if run.screenshot:
                take_screenshot(box, run.screenshot)
            open(go, "w").close()
            pressed = json.loads(lines.next(BOX_TIMEOUT + EXIT_TIMEOUT, "OK pressed"))
            expect(still_waiting and box["owner_running"] and pressed["running_before_ok"],
                   "the program did not wait for OK")
            check_box(setup, run, box, line2, image)
            expect(pressed["closed"], "the box stayed after OK")
            try:
                status = program.wait(EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise CheckFailed("did not end within %d s after OK: another box?" % EXIT_TIMEOUT)
            expect(pressed["owner_exit_code"] == status,
                   "exit code %s seen by the probe, %d by Wine" % (pressed["owner_exit_code"], status))
            probe.wait(EXIT_TIMEOUT)
            report = "box after %.1f s, program ended %.1f s after OK" % (
                box_seen - started, pressed["ended_ms_after_ok"] / 1000)
        expect(status == run.status, "exit status %d, not %d" % (status, run.status))
    finally:
        for process in (program, probe):
            if process is not None:
                stop(process)

    with open(err_path, "rb") as err:
        standard_error = err.read().decode("utf-8", "replace")
    expected_error = "" if run.box is None else box_lines(run.box.caption, box["text"])
    expect(standard_error == expected_error,
           "standard error %r, not %r" % (standard_error, expected_error))
    if run.debugged:
        with open(out_path, "rb") as out:
            debugger = json.loads(out.read().decode().splitlines()[-1])
        expect(debugger["exit_code"] == run.status, "the debugger saw %s" % debugger)
    after = snapshot(part)
    if run.result is None:
        expect(after == before, "the program file changed")
    else:
        expect(after is not None and after[2:] == (run.result,),
               "the program file holds %r" % (after[2:] if after else None,))
    expect(sorted(os.listdir(folder)) == entries,
           "the folder holds %s, not %s" % (sorted(os.listdir(folder)), entries))
    return report


# ---- the tables

def tap_is_a_folder(setup, folder):
    os.makedirs(os.path.join(folder, "part.tap"), exist_ok=True)


def tap_is_a_device_that_is_full(setup, folder):
    link = os.path.join(folder, "part.tap")
    if not os.path.lexists(link):
        os.symlink("/dev/full", link)


def program_of_8_gib(setup, folder):
    # Sparse: it takes no room on the disk.
    with open(os.path.join(folder, "part.nc"), "wb") as out:
        out.truncate(8 << 30)


def program_of_200_kb(setup, folder):
    with open(os.path.join(folder, "part.nc"), "wb") as out:
        out.write(b"%\r\n" + b"G1 X1 Y1\r\n" * 20000 + b"M104\r\nM80\r\n")


def failure_box(kind):
    return Box("Anwendungsfehler", icon="hand",
               pattern=r"Exception %s in Modul ncrewrite\.exe bei (?P<offset>[0-9A-F]{16})\."
                       r"\r\n(?P<line2>[^\r\n]*)\r\n" % kind)


OPEN_FAILED = "Datei {path} kann nicht ge\u00f6ffnet werden. {reason}."
CREATE_FAILED = "Datei \"{tap}\" kann nicht erstellt werden. {reason}."
ERROR_ACCESS_DENIED = 5
ERROR_SHARING_VIOLATION = 32


def failure_table(full_disk, screenshot):
    """Each kind of failure that a user can bring about: the failure report,
    and status 1 after OK; the program file and its folder stay as they
    were."""
    return [
        Run("EFOpenError: the program file is open in another program", "ncrewrite.exe", 1,
            failure_box("EFOpenError"), folder="open", hold_input=True,
            line2=OPEN_FAILED, reason=ERROR_SHARING_VIOLATION,
            raised_in=r"^ncrewrite::RaiseOpenFailure\("),
        Run("EFCreateError: a folder stands where the .tap file goes", "ncrewrite.exe", 1,
            failure_box("EFCreateError"), test=1, prepare=tap_is_a_folder,
            line2=CREATE_FAILED, reason=ERROR_ACCESS_DENIED,
            raised_in=r"^ncrewrite::RaiseCreateFailure\(", screenshot=screenshot),
        Run("EEncodingError: marked as UTF-8 but is none", "ncrewrite.exe", 1,
            failure_box("EEncodingError"), folder="encoding",
            content=b"\xEF\xBB\xBF%\r\nM104\r\nM80\r\n\xFF\r\n",
            line2="Keine Zuordnung f\u00fcr Unicode-Zeichen in der Multibyte-Zielcodeseite "
                  "vorhanden.",
            raised_in=r"^ncrewrite::RaiseDecodingFailure\("),
        Run("EReadError: the program named is the device NUL", "ncrewrite.exe", 1,
            failure_box("EReadError"), folder="device", content=None, argument="NUL",
            line2="Stream-Lesefehler.", raised_in=r"^ncrewrite::RaiseReadFailure\("),
        Run("EWriteError: the disk is full", "ncrewrite.exe", 1,
            failure_box("EWriteError"), folder="full-disk", content=None,
            prepare=program_of_200_kb, line2="Stream-Schreibfehler.",
            raised_in=r"^ncrewrite::RaiseWriteFailure\(",
            skip=None if full_disk else "no small disk could be mounted (needs root)"),
        Run("EWriteError: the .tap file is a device that is always full", "ncrewrite.exe", 1,
            failure_box("EWriteError"), test=1, folder="device-output",
            prepare=tap_is_a_device_that_is_full, line2="Stream-Schreibfehler.",
            raised_in=r"^ncrewrite::RaiseWriteFailure\("),
        Run("EOutOfMemory: a program of 8 GiB, 4 GiB of address space", "ncrewrite.exe", 1,
            failure_box("EOutOfMemory"), folder="huge", content=None, prepare=program_of_8_gib,
            memory_limit=4 << 30, line2="Zu wenig Arbeitsspeicher.",
            raised_in=r"^ncrewrite::\w+\(.*\n.*/src/textfile/"),
    ]


def fallback_box(number):
    return Box("Error", icon=None, pattern=r"Runtime error %d at (?P<address>[0-9A-F]{16})" % number)


def fallback_table():
    """A build whose own start-up or shutdown fails, through the real entry
    point: the fallback report with the absolute code address, no icon,
    and its number as the status after OK; after a failed start-up the run
    never came, after a failed shutdown its result is in place."""
    probe = "ncrewrite_fallback_probe.exe"
    return [
        Run("start-up raises a failure", probe, 217, fallback_box(217), folder="fallback",
            extra=["start-up"], raised_in=r"^ncrewrite::ProgramSetUp\(\)"),
        Run("start-up runs out of memory", probe, 203, fallback_box(203), folder="fallback",
            extra=["start-up-memory"], raised_in=r"^ncrewrite::ProgramSetUp\(\)"),
        Run("shutdown raises a failure", probe, 217, fallback_box(217), folder="fallback",
            extra=["shutdown"], result=REWRITTEN_TEXT,
            raised_in=r"^ncrewrite::ProgramTearDown\(\)"),
        Run("shutdown runs out of memory", probe, 203, fallback_box(203), folder="fallback",
            extra=["shutdown-memory"], result=REWRITTEN_TEXT,
            raised_in=r"^ncrewrite::ProgramTearDown\(\)"),
    ]


LEAK_TEXT = ("An unexpected memory leak has occurred. The unexpected small block leaks are:\r\n"
             "\r\n"
             "0 - 16 bytes: object x 1\r\n"
             "17 - 32 bytes: array x 2\r\n"
             "\r\n"
             "The sizes of unexpected leaked medium and large blocks are: 5000\r\n")


def leak_table():
    """Under a debugger the leak report is on: the program itself leaves no
    block behind, after a normal run or the failure report; a build that
    leaves four on purpose (24 and 20 bytes by new[], 16 by new, 5000 by
    new[]) shows them, and without a debugger it shows nothing."""
    return [
        Run("ncrewrite.exe, a normal run", "ncrewrite.exe", 0, None, folder="leak",
            debugged=True, result=REWRITTEN_TEXT),
        Run("ncrewrite.exe, after the failure report", "ncrewrite.exe", 1,
            failure_box("EFCreateError"), test=1, folder="leak-failure",
            prepare=tap_is_a_folder, debugged=True, line2=CREATE_FAILED,
            reason=ERROR_ACCESS_DENIED),
        Run("the leak probe", "ncrewrite_leak_probe.exe", 0,
            Box("Unexpected Memory Leak", text=LEAK_TEXT, icon="hand"), folder="leak",
            debugged=True, result=REWRITTEN_TEXT),
        Run("the leak probe without a debugger", "ncrewrite_leak_probe.exe", 0, None,
            folder="leak", result=REWRITTEN_TEXT),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the windows preset's build directory")
    parser.add_argument("--work", required=True, help="a fresh directory for the runs")
    parser.add_argument("--screenshot", required=True, help="where the failure report's picture goes")
    parser.add_argument("--full-disk", action="store_true",
                        help="C:\\jobs\\full-disk is a disk of 256 kB")
    options = parser.parse_args()
    setup = Setup(options.build, options.work)
    tables = [
        ("the failure report", failure_table(options.full_disk, options.screenshot)),
        ("the fallback report", fallback_table()),
        ("the leak report, under our debugger", leak_table()),
    ]
    failed = 0
    for title, rows in tables:
        print("-- %s" % title, flush=True)
        for run in rows:
            if run.skip:
                print("   skipped  %s: %s" % (run.name, run.skip), flush=True)
                continue
            started = time.monotonic()
            try:
                report = run_row(setup, run)
                print("   ok       %s (%s; %.1f s)" % (run.name, report, time.monotonic() - started),
                      flush=True)
            except (CheckFailed, subprocess.SubprocessError, OSError, ValueError, KeyError) as error:
                failed += 1
                print("   FAILED   %s: %s" % (run.name, error), flush=True)
    if failed:
        print("wine-boxes: %d row(s) failed" % failed, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
