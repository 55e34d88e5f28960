#!/usr/bin/env python3
"""End-to-end runs of the built setup, one sequence of the run per case.

Each case lays out a fresh folder whose path holds a space and non-ASCII letters:

  bin/zarvo-setup[.exe]   a copy of the setup built around the case's payload
  bin/powershell.exe      the stand-in PowerShell, found beside the setup (omitted where the case
                          says so)
  temp dir é€/            TEMP (TMPDIR on POSIX); the work directory appears in it
  local app data ü/       LOCALAPPDATA; Programs/zarvo/bin/zarvo-hud.exe is the stand-in Home
                          window program where the case installs it
  cwd/                    the setup's current folder
  empty/                  a PATH entry without any program

and runs the setup with a controlled environment (on the windows lane through envrun.exe under
Wine, because Wine does not pass Unix TEMP, LOCALAPPDATA or PATH on). It checks the exact bytes of
both output streams, the exit code, the work directory, and what the stand-ins recorded.

Usage: e2e.py CASE --lane host|windows --setups KIND=PATH... --stand-ins DIR... [options]
       e2e.py --list   (the case names, one a line, in the order of CASES; the build makes one
                        CTest test of each)
Exit status: 0 passed, 1 failed, 77 skipped (the case needs what the lane cannot do).
ZARVO_E2E_KEEP=1 keeps the case folders; ZARVO_E2E_VERBOSE=1 prints every run's streams.
"""
import argparse
import concurrent.futures
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77

BANNER = "zarvo-setup \u2014 installing zarvo\n"
RUNNING = "running the payload's installer\n\n"
INSTALLED = "\nzarvo is installed. A NEW terminal (the PATH change needs one) has: zarvo status\n"
DONE = "\nDone. zarvo and zarvod are installed; zarvod starts at every logon on its own.\n"
NOT_OPENED = "Open Zarvo from the Start menu to see what was installed and what to do next.\n"
OPENED = "The Zarvo window is open on Home - it lists what was installed and what to do next.\n"
CLOSES = "This window closes in 15 seconds.\n"
PRESS_ENTER = "\nPress Enter to close."
NO_SCRIPT = "the payload carries no install.ps1 \u2014 this build is broken, not your machine"

INSTALLER_SAYS = "stand-in installer: working \u00e9\n"
MARK = "marker with spaces \u00e9\u20ac"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


def signed(code):
    return str(code - (1 << 32) if code >= 1 << 31 else code)


class Lane:
    def __init__(self, args):
        self.windows = args.lane == "windows"
        self.emulator = args.emulator
        self.envrun = args.envrun
        self.error_text_program = args.error_text
        self.sep = "\\" if self.windows else "/"
        self.exe = ".exe" if self.windows else ""

    def native(self, path):
        """A Unix path as the setup sees it: Wine maps the root to drive Z:."""
        return "Z:" + path.replace("/", "\\") if self.windows else path

    def error_text(self, code):
        command = [self.error_text_program, str(code)]
        if self.windows:
            command.insert(0, self.emulator)
        return subprocess.run(command, check=True, capture_output=True, stdin=subprocess.DEVNULL).stdout.decode()

    def run(self, setup, env, unset, cwd, stdin, leftover=None):
        """Runs the setup; gives (exit code, stdout, stderr) as text. A `leftover` folder is moved
        to the work directory's name (zarvo-setup-<the setup's process id>) before the setup starts,
        as an earlier run with the same process id would have left it."""
        if self.windows:
            command = [self.emulator, self.envrun]
            command += [f"{name}={value}" for name, value in env.items()]
            for name in unset:
                command += ["-u", name]
            if leftover:
                command += ["-L", self.native(leftover)]
            command += ["-C", self.native(cwd), "--", self.native(setup)]
            run_env = dict(os.environ)
        else:
            command = [setup]
            if leftover:
                # The shell's own process id is the setup's: exec keeps it.
                move = 'mv -- "$1" "${TMPDIR%/}/zarvo-setup-$$" && exec "$2"'
                command = ["/bin/sh", "-c", move, "sh", leftover, setup]
            run_env = {"LANG": "C.UTF-8", **env}
        done = subprocess.run(command, input=stdin, capture_output=True, cwd=cwd, env=run_env, timeout=180)
        return done.returncode, done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")


class Case:
    """One laid-out folder and one run of the setup in it."""

    def __init__(self, lane, args, name, payload, powershell=True):
        self.lane = lane
        self.args = args
        self.payload = payload
        self.root = tempfile.mkdtemp(prefix=f"zarvo e2e {name} \u00e4 ", dir=args.work_root)
        self.bin = self.mkdir("bin")
        self.temp = self.mkdir("temp dir \u00e9\u20ac")
        self.local = self.mkdir("local app data \u00fc")
        self.cwd = self.mkdir("cwd")
        self.empty = self.mkdir("empty")
        self.records = self.mkdir("records")
        self.setup = os.path.join(self.bin, "zarvo-setup" + lane.exe)
        shutil.copy2(args.setups[payload], self.setup)
        if powershell:
            shutil.copy2(os.path.join(args.stand_ins, "powershell.exe"), os.path.join(self.bin, "powershell.exe"))
        self.ps_record = os.path.join(self.records, "powershell.json")
        self.hud_record = os.path.join(self.records, "hud.json")
        self.env = {
            "PATH": self.path_value(),
            "ZARVO_E2E_MARK": MARK,
            "ZARVO_PS_RECORD": lane.native(self.ps_record),
            "ZARVO_PS_ENV": "ZARVO_E2E_MARK,LOCALAPPDATA,TEMP,TMPDIR",
            "ZARVO_PS_SAY": INSTALLER_SAYS,
            "ZARVO_HUD_RECORD": lane.native(self.hud_record),
        }
        self.set_temp(self.temp)
        self.env["LOCALAPPDATA"] = lane.native(self.local)
        self.unset = []
        self.stdin = b""

    def mkdir(self, *parts):
        path = os.path.join(self.root, *parts)
        os.makedirs(path, exist_ok=True)
        return path

    def path_value(self):
        if self.lane.windows:
            return f"{self.lane.native(self.empty)};C:\\windows\\system32;C:\\windows"
        return f"{self.empty}:/usr/bin:/bin"

    def set_temp(self, folder):
        self.temp = folder
        native = self.lane.native(folder)
        if self.lane.windows:
            self.env.update({"TEMP": native, "TMP": native})
        else:
            self.env.update({"TMPDIR": native, "TEMP": native, "TMP": native})

    def install_hud(self):
        folder = self.mkdir("local app data \u00fc", "Programs", "zarvo", "bin")
        shutil.copy2(os.path.join(self.args.stand_ins_hud, "zarvo-hud.exe"), os.path.join(folder, "zarvo-hud.exe"))
        return self.lane.native(folder) + self.lane.sep + "zarvo-hud.exe"

    def run(self, leftover=None):
        self.code, self.out, self.err = self.lane.run(self.setup, self.env, self.unset, self.cwd, self.stdin, leftover)
        if os.environ.get("ZARVO_E2E_VERBOSE"):
            print(f"--- {self.root}\nexit code {self.code}\nstdout {self.out!r}\nstderr {self.err!r}")
        return self

    # ---- what the run showed --------------------------------------------------------------------

    def header(self):
        size = os.path.getsize(self.args.archives[self.payload])
        return BANNER + f"payload: {size} bytes, embedded and signed with this installer\n\n"

    def work_directory(self):
        """The work directory the run announced, checked against TEMP; gives (shown, Unix path)."""
        match = re.search(r"extracting to (.*)\n", self.out)
        check(match, f"no 'extracting to' line in standard output: {self.out!r}")
        shown = match.group(1)
        prefix = self.lane.native(self.temp) + self.lane.sep + "zarvo-setup-"
        check(shown.startswith(prefix) and re.fullmatch(r"[1-9][0-9]*", shown[len(prefix):]),
              f"work directory {shown!r} is not {prefix!r} followed by a process id")
        return shown, os.path.join(self.temp, os.path.basename(shown.replace("\\", "/")))

    def script_path(self, shown):
        return shown + self.lane.sep + "install.ps1"

    def expect_failure(self, stdout_rows, message, kept=True):
        shown, work = self.work_directory() if kept else (None, None)
        stderr = f"(payload left at {shown} for inspection)\n" if kept else ""
        check_equal(self.code, 1, "exit code")
        check_equal(self.out, self.header() + stdout_rows(shown) + PRESS_ENTER, "standard output")
        check_equal(self.err, stderr + f"\nzarvo-setup: {message}\n", "standard error")
        return work

    def expect_tree(self, work, expected):
        check(os.path.isdir(work), f"the work directory {work} was removed after a failure")
        found = {}
        for folder, _, names in os.walk(work):
            for name in names:
                path = os.path.join(folder, name)
                found[os.path.relpath(path, work).replace(os.sep, "/")] = open(path, "rb").read()
        check_equal(found, expected, "contents of the kept work directory")

    def payload_files(self, folder):
        source = os.path.join(self.args.payloads, folder)
        files = {}
        for base, _, names in os.walk(source):
            for name in names:
                path = os.path.join(base, name)
                files[os.path.relpath(path, source).replace(os.sep, "/")] = open(path, "rb").read()
        return files

    def installer_record(self, shown):
        record = read_record(self.ps_record)
        check(record is not None, "the stand-in PowerShell did not run")
        script = self.script_path(shown)
        arguments = ["-NoProfile", "-ExecutionPolicy", "Bypass", "-File", script]
        check_equal(record["argv"], ["powershell"] + arguments, "PowerShell's arguments")
        if self.lane.windows:
            quoted = f'"{script}"' if " " in script or "\t" in script else script
            check_equal(record["command_line"], '"powershell" -NoProfile -ExecutionPolicy Bypass -File ' + quoted,
                        "PowerShell's raw command line")
        check_equal(record["cwd"], self.lane.native(self.cwd), "PowerShell's current folder")
        check_equal(record["env"]["ZARVO_E2E_MARK"], MARK, "the environment PowerShell inherited")
        check_equal(record["env"]["TEMP"], self.env.get("TEMP"), "TEMP as PowerShell sees it")
        check_equal(record["env"]["LOCALAPPDATA"], self.env.get("LOCALAPPDATA"), "LOCALAPPDATA as PowerShell sees it")
        return record

    def cleanup(self, passed):
        if passed and not os.environ.get("ZARVO_E2E_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)
        else:
            print(f"case folder kept: {self.root}", file=sys.stderr)


def read_record(path, wait_s=0.0):
    deadline = time.monotonic() + wait_s
    while True:
        try:
            with open(path, "rb") as f:
                return json.loads(f.read().decode("utf-8"))
        except FileNotFoundError:
            if time.monotonic() >= deadline:
                return None
            time.sleep(0.1)


# ---- the cases -----------------------------------------------------------------------------------

def success_rows(case, shown, closing, installer_says=INSTALLER_SAYS):
    return case.header() + f"extracting to {shown}\n" + RUNNING + installer_says + INSTALLED + DONE + closing + CLOSES


HUD_OUTLIVES_S = 10  # how long the Home window stand-in stays after the setup (host lane)


def case_success(lane, args, cases):
    """Three successful runs at once (each closes after 15 seconds): the Home window opened with
    a line typed for the installer, LOCALAPPDATA unset, and the Home window program missing."""
    opened = Case(lane, args, "success-home", "good")
    cases.append(opened)
    hud = opened.install_hud()
    opened.stdin = "typed for the installer \u00e9\n".encode()
    opened.env["ZARVO_PS_STDIN"] = "1"
    if not lane.windows:
        # The Home window outlives the setup; the run (which captures the setup's output) must end
        # without waiting for it. Wine hands the setup's standard handles to a child that inherits
        # nothing, unlike Windows, so the windows lane cannot show this.
        opened.env["ZARVO_HUD_SLEEP_MS"] = str((15 + HUD_OUTLIVES_S) * 1000)
    unset = Case(lane, args, "success-no-localappdata", "good")
    cases.append(unset)
    del unset.env["LOCALAPPDATA"]
    unset.unset.append("LOCALAPPDATA")
    unset.install_hud()  # present where LOCALAPPDATA would point, and still not started
    missing = Case(lane, args, "success-no-hud", "good")
    cases.append(missing)

    with concurrent.futures.ThreadPoolExecutor(3) as pool:
        for future in [pool.submit(c.run) for c in (opened, unset, missing)]:
            future.result()

    for case, closing in ((opened, OPENED), (unset, NOT_OPENED), (missing, NOT_OPENED)):
        shown, work = case.work_directory()
        check_equal(case.code, 0, f"{case.root}: exit code")
        check_equal(case.out, success_rows(case, shown, closing), f"{case.root}: standard output")
        check_equal(case.err, "", f"{case.root}: standard error")
        check(not os.path.exists(work), f"{work}: the work directory was not removed after success")
        record = case.installer_record(shown)
        check_equal(record["stdin"], "typed for the installer \u00e9" if case is opened else None,
                    "the line PowerShell read from the setup's standard input")

    if not lane.windows:
        check(read_record(opened.hud_record) is None,
              "the run waited for the Home window program: it holds the setup's output")
    record = read_record(opened.hud_record, wait_s=10 + HUD_OUTLIVES_S)
    check(record is not None, "the Home window stand-in was not started")
    check_equal(record["argv"], [hud, "--open", "Home"], "the Home window program's arguments")
    if lane.windows:
        check_equal(record["command_line"], f'"{hud}" --open Home', "the Home window program's raw command line")
    check_equal(record["cwd"], hud[:hud.rindex(lane.sep)], "the Home window program's current folder (its own)")
    for case in (unset, missing):
        check(read_record(case.hud_record) is None, f"{case.root}: a Home window program was started")


def case_leftover_work_directory(lane, args, cases):
    """A failed run keeps its work directory, with its install.ps1 at the top. A later run whose
    process id is the same (Wine hands out the same small ids) must not use any of it: the new
    payload's script, one level down, is the one run, and the run succeeds."""
    case = Case(lane, args, "leftover-work-directory", "good")
    cases.append(case)
    case.env["ZARVO_PS_EXIT"] = "1"
    case.run()
    message = "the installer exited with 1 \u2014 its output above says why"
    old_work = case.expect_failure(lambda shown: f"extracting to {shown}\n" + RUNNING + INSTALLER_SAYS, message)
    leftover = os.path.join(case.root, "leftover")
    os.rename(old_work, leftover)
    os.remove(case.ps_record)

    case.payload = "nested"
    shutil.copy2(args.setups["nested"], case.setup)
    del case.env["ZARVO_PS_EXIT"]
    case.run(leftover=leftover)
    shown, work = case.work_directory()
    check(not os.path.exists(leftover), "the leftover folder was not moved into place")
    check_equal(case.code, 0, "exit code")
    check_equal(case.out, success_rows(case, shown, NOT_OPENED), "standard output")
    check_equal(case.err, "", "standard error")
    case.installer_record(shown + lane.sep + "pkg")
    check(not os.path.exists(work), f"{work}: the work directory was not removed after success")


def case_temp_dir_fails(lane, args, cases):
    case = Case(lane, args, "temp-dir-fails", "good")
    cases.append(case)
    blocker = os.path.join(case.root, "temp file \u00e9\u20ac")
    open(blocker, "w").write("a file where the temporary folder should be\n")
    case.set_temp(blocker)
    case.run()
    prefix = re.escape(f"\nzarvo-setup: temp dir {lane.native(blocker)}{lane.sep}zarvo-setup-")
    match = re.fullmatch(prefix + r"([1-9][0-9]*): .* \(os error ([0-9]+)\)\n", case.err)
    check(match, f"standard error is no temp-dir failure: {case.err!r}")
    shown = lane.native(blocker) + lane.sep + "zarvo-setup-" + match.group(1)
    message = f"temp dir {shown}: {lane.error_text(int(match.group(2)))}"
    case.expect_failure(lambda _: "", message, kept=False)
    check(read_record(case.ps_record) is None, "PowerShell ran")


def case_unreadable_payload(lane, args, cases):
    case = Case(lane, args, "unreadable-payload", "garbage")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n",
                               "embedded payload is not a readable zip: invalid Zip archive: Could not find EOCD")
    case.expect_tree(work, {})


def case_extraction_fails(lane, args, cases):
    case = Case(lane, args, "extraction-fails", "badcrc")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n", "extracting payload: i/o error: Invalid checksum")
    # Everything up to the failing entry stays, and the failing file itself is written in full.
    case.expect_tree(work, case.payload_files("good"))
    check(read_record(case.ps_record) is None, "PowerShell ran")


ESCAPE_NAME = "zarvo-e2e-escape.txt"


def files_named(name, *roots):
    return sorted(os.path.join(folder, name) for root in roots for folder, _, names in os.walk(root) if name in names)


def case_escape_refused(lane, args, cases):
    """A name whose second component is a drive ("a\\C:...") is refused after the good file before
    it, and nothing is written outside the work directory: not in the case folder, and under Wine
    not anywhere in the prefix (drive C's current folder is where such a name would land)."""
    case = Case(lane, args, "escape-refused", "escape")
    cases.append(case)
    wine_prefix = os.environ.get("WINEPREFIX") if lane.windows else None
    check(not lane.windows or wine_prefix, "the windows lane runs with WINEPREFIX set")
    roots = [case.root] + ([wine_prefix] if wine_prefix else [])
    check_equal(files_named(ESCAPE_NAME, *roots), [], "files of the escaping name before the run")
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n",
                               "extracting payload: invalid Zip archive: Invalid file path")
    case.expect_tree(work, {"good.txt": b"kept"})
    check_equal(files_named(ESCAPE_NAME, *roots), [], "files of the escaping name after the run")
    check(read_record(case.ps_record) is None, "PowerShell ran")


def case_two_directories(lane, args, cases):
    """Two end records, two directories, install.ps1 in each with the same size and CRC-32 but
    different bytes: the usual tools show the last one's; the setup refuses the archive at open
    (the other directory and its entry are bytes the last directory leaves to no entry), writes
    nothing and runs nothing."""
    case = Case(lane, args, "two-directories", "two-directories")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n",
                               "embedded payload is not a readable zip: invalid Zip archive: Could not find EOCD")
    case.expect_tree(work, {})
    check(read_record(case.ps_record) is None, "PowerShell ran")


def case_truncated_stored(lane, args, cases):
    """A stored install.ps1 whose record promises 58 bytes has none: its (empty) file is left
    behind, the checksum fails, and no script runs."""
    case = Case(lane, args, "truncated-stored", "truncated-stored")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n", "extracting payload: i/o error: Invalid checksum")
    case.expect_tree(work, {"README.md": b"read me\n", "install.ps1": b""})
    check(read_record(case.ps_record) is None, "PowerShell ran")


def case_many_end_records(lane, args, cases):
    """5,000 entries and 2,901 end records that all declare their directory (2,900 in the last
    record's comment): one reading, read once (the benchmark shows the time); the first entry's
    method is then refused."""
    case = Case(lane, args, "many-end-records", "many-end-records")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n",
                               "extracting payload: unsupported Zip archive: Compression method not supported")
    case.expect_tree(work, {})


def case_no_script(lane, args, cases):
    case = Case(lane, args, "no-script", "noscript")
    cases.append(case)
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n", NO_SCRIPT)
    case.expect_tree(work, case.payload_files("noscript"))


def case_script_link(lane, args, cases):
    """install.ps1 comes as a link to a script beside the work directory: the search never passes a
    link, so there is no script, and nothing runs. (Under Wine the link is not even made.)"""
    case = Case(lane, args, "script-link", "script-link")
    cases.append(case)
    with open(os.path.join(case.temp, "outside-script.ps1"), "w") as f:
        f.write("Write-Host 'outside the work directory'\r\n")
    case.run()
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n", NO_SCRIPT)
    check_equal(os.path.isfile(os.path.join(work, "bin", "zarvo.exe")), True, "the payload's program extracted")
    check(read_record(case.ps_record) is None, "PowerShell ran")


def case_no_powershell(lane, args, cases):
    """No powershell.exe beside the setup or on PATH. On Windows the system's own Windows PowerShell
    is then started from below the system folder: under Wine that is a stub which runs nothing and
    exits 0, so the run succeeds without a word from the installer. Elsewhere the program is not
    found."""
    case = Case(lane, args, "no-powershell", "good", powershell=False)
    cases.append(case)
    case.run()
    if lane.windows:
        shown, _ = case.work_directory()
        check_equal((case.code, case.out, case.err), (0, success_rows(case, shown, NOT_OPENED, ""), ""), "the run")
        return
    work = case.expect_failure(lambda shown: f"extracting to {shown}\n" + RUNNING, "starting powershell: program not found")
    case.expect_tree(work, case.payload_files("good"))


def case_powershell_not_a_program(lane, args, cases):
    """A folder named powershell.exe beside the setup wins the search; starting it fails, and the
    stand-in later on PATH is not tried."""
    case = Case(lane, args, "powershell-not-a-program", "good", powershell=False)
    cases.append(case)
    os.mkdir(os.path.join(case.bin, "powershell.exe"))
    later = case.mkdir("later")
    shutil.copy2(os.path.join(args.stand_ins, "powershell.exe"), os.path.join(later, "powershell.exe"))
    case.env["PATH"] = lane.native(later) + (";" if lane.windows else ":") + case.env["PATH"]
    case.run()
    match = re.search(r"starting powershell: .* \(os error ([0-9]+)\)\n$", case.err)
    check(match, f"standard error is no start failure: {case.err!r}")
    message = f"starting powershell: {lane.error_text(int(match.group(1)))}"
    case.expect_failure(lambda shown: f"extracting to {shown}\n" + RUNNING, message)
    check(read_record(case.ps_record) is None, "a PowerShell later in the search was started")


def installer_exits_with(code):
    def run_case(lane, args, cases):
        if code > 255 and not lane.windows:
            raise SkipCase(f"exit code {code} needs 32-bit exit codes; a POSIX child reports 8 bits")
        case = Case(lane, args, f"installer-exits-{code}", "good")
        cases.append(case)
        case.env["ZARVO_PS_EXIT"] = str(code)
        case.stdin = b"\n"
        case.run()
        message = f"the installer exited with {signed(code)} \u2014 its output above says why"
        work = case.expect_failure(lambda shown: f"extracting to {shown}\n" + RUNNING + INSTALLER_SAYS, message)
        case.expect_tree(work, case.payload_files("good"))
        shown, _ = case.work_directory()
        case.installer_record(shown)
    return run_case


class SkipCase(Exception):
    pass


CASES = {
    "success": case_success,
    "leftover-work-directory": case_leftover_work_directory,
    "temp-dir-fails": case_temp_dir_fails,
    "unreadable-payload": case_unreadable_payload,
    "extraction-fails": case_extraction_fails,
    "escape-refused": case_escape_refused,
    "two-directories": case_two_directories,
    "truncated-stored": case_truncated_stored,
    "many-end-records": case_many_end_records,
    "no-script": case_no_script,
    "script-link": case_script_link,
    "no-powershell": case_no_powershell,
    "powershell-not-a-program": case_powershell_not_a_program,
    "installer-exits-1": installer_exits_with(1),
    "installer-exits-4294967295": installer_exits_with(4294967295),
    "installer-exits-2147483648": installer_exits_with(2147483648),
}


def pairs(values):
    return dict(value.split("=", 1) for value in values)


class ListCases(argparse.Action):
    """--list: prints the case names and exits, before any other argument is asked for."""

    def __init__(self, option_strings, dest, **kwargs):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, **kwargs)

    def __call__(self, parser, namespace, values, option_string=None):
        sys.stdout.write("".join(f"{name}\n" for name in CASES))
        parser.exit()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--list", action=ListCases, help="print the case names, one a line, and exit")
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--lane", choices=["host", "windows"], required=True)
    parser.add_argument("--setups", nargs="+", required=True, help="KIND=PATH of each built setup")
    parser.add_argument("--archives", nargs="+", required=True, help="KIND=PATH of each embedded archive")
    parser.add_argument("--payloads", required=True, help="folder of the payload sources")
    parser.add_argument("--stand-ins", required=True, help="folder of the stand-in powershell.exe")
    parser.add_argument("--stand-ins-hud", required=True, help="folder of the stand-in zarvo-hud.exe")
    parser.add_argument("--error-text", required=True, help="the error-text printer")
    parser.add_argument("--envrun", help="envrun.exe (windows lane)")
    parser.add_argument("--emulator", help="the Wine wrapper (windows lane)")
    parser.add_argument("--work-root", default=None, help="where case folders are made")
    args = parser.parse_args()
    args.setups = pairs(args.setups)
    args.archives = pairs(args.archives)

    lane = Lane(args)
    cases = []
    passed = False
    try:
        CASES[args.case](lane, args, cases)
        passed = True
    except SkipCase as skip:
        print(f"skipped: {skip}")
        return SKIP
    except Failure as failure:
        print(f"FAILED {args.case}: {failure}", file=sys.stderr)
        for case in cases:
            if hasattr(case, "code"):
                print(f"--- {case.root}\nexit code {case.code}\nstdout {case.out!r}\nstderr {case.err!r}",
                      file=sys.stderr)
        return 1
    finally:
        for case in cases:
            case.cleanup(passed)
    print(f"passed: {args.case}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
