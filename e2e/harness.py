"""tavrelo.exe and its test tools of one bitness under Wine, each test module in a Wine prefix and on an Xvfb of
its own: `harness.py test_launch [-v] [-k PATTERN]` runs a module as CTest does (docs/development.md)."""

import collections
import concurrent.futures
import functools
import json
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

from PIL import Image, ImageChops, ImageStat
from Xlib import X, display as xdisplay, error as xerror

ROOT = Path(__file__).resolve().parent.parent
BUILD_VARIABLES = {"i686": "TAVRELO_WIN32_DIR", "x86_64": "TAVRELO_WIN64_DIR"}
VIEWS = {"i686": "/reg:32", "x86_64": "/reg:64"}  # the registry view a program of each bitness reads
FILETIME_PER_SECOND = 10_000_000
JAVA_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
# The support files, relative to a runtime's home, in the order the launcher checks them.
SUPPORT_FILES = ("lib/ext/Comm.jar", "lib/javax.comm.properties", "bin/Win32com.dll", "lib/ext/jdc.jar")
SUPPORT_FOLDER = ("orvane", "GsmModemJar")
WOW64_PROBE = Path("drive_c", "windows", "syswow64", "kernel32.dll")  # there once wineboot set up the 32-bit half
NO_I386 = ("this system cannot run 32-bit programs: its kernel refuses i386 code and no emulator runs it "
           "(scripts/install-deps registers qemu-i386 with binfmt_misc where it can), so no i686 program can run")
INSTALL_HINT = "run scripts/install-deps (it installs wine32:i386), then the tests again"
# The X screens every test display has: a desktop's, and a small laptop's.
SCREENS = ("1280x1024x24", "1024x768x24")


def loader(bitness="x86_64"):
    """The Wine loader of BITNESS: the `wine` wrapper prefers the 32-bit one, and the 64-bit one hands
    32-bit programs to start.exe, which loses them in folders deeper than 260 characters."""
    for candidate in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate[:-2] if bitness == "i686" and candidate.endswith("64") else candidate
    return None


def program_command(bitness, *args):
    """With address randomisation off: Debian 12's 64-bit loader, without a preloader, had its heap over
    0x7ffe0000 once in 5,000 starts, where Wine maps the shared user data (c0000018), and the start failed."""
    return ["setarch", "-R", loader(bitness) or "wine64", *map(str, args)]


@functools.cache
def wow64_problem():
    """Why 32-bit Windows programs cannot run under Wine here, or ""."""
    if subprocess.run([ROOT / "scripts" / "kernel-runs-i386"], stdin=subprocess.DEVNULL).returncode:
        return NO_I386
    path = loader("i686")
    if not path or not os.path.isfile(path):
        return "the 32-bit half of Wine (wine32:i386) is not installed: " + INSTALL_HINT
    done = subprocess.run([path, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return "" if done.returncode == 0 else f"{path} failed: {done.stderr.decode()[-300:]}; " + INSTALL_HINT


def timed(call, *args, **options):
    started = time.monotonic()
    call(*args, **options)
    return time.monotonic() - started


def run_detached(args, env, timeout, cwd=None):
    """Output into files, not pipes: Wine's services inherit the handles and outlive the program."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        code = subprocess.run(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, code, out.read(), err.read())


class Prefix:
    """A Wine prefix and its wineserver; registry writes name VIEW, the view the program under test reads.
    Its programs show on DISPLAY until set_screen chooses another screen of its X server."""

    def __init__(self, path, display, view=None):
        self.path = Path(path)
        self.display = display
        self.view = view
        self.drive_c = self.path / "drive_c"

    def env(self, extra=None, dll_overrides=None):
        env = {k: v for k, v in os.environ.items() if k not in ("WINELOADER", "WINESERVER", "WINEDLLPATH")}
        return {**env, "WINEPREFIX": str(self.path), "DISPLAY": self.display, "LC_ALL": "C.UTF-8",
                "WINEDEBUG": "-all,err+all", "WINEDLLOVERRIDES": ";".join(filter(None, [
                    "winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d", dll_overrides])), **(extra or {})}

    def run(self, args, bitness="x86_64", check=True, env=None, timeout=120, cwd=None):
        done = run_detached(program_command(bitness, *args), env or self.env(), timeout, cwd)
        if check and done.returncode:
            raise RuntimeError(f"wine {args} failed with {done.returncode} (a tool under Wine, not the launcher): "
                               f"{(done.stdout + done.stderr).decode(errors='replace')[-2000:]}")
        return done

    def server(self, *flags):
        for flag in flags:
            subprocess.run(["wineserver", flag], env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=120)

    def reg(self, *args, check=True, view=None):
        return self.run(["reg", *args, *filter(None, [view or self.view])], check=check)

    def windows_path(self, unix_path):
        """C: for the prefix's drive_c, Z: for anything else."""
        path = Path(os.path.abspath(unix_path))
        if path == self.drive_c or self.drive_c in path.parents:
            return "C:\\" + "\\".join(path.relative_to(self.drive_c).parts)
        return "Z:" + str(path).replace("/", "\\")

    def set_screen(self, dpi, screen):
        """The dpi and X screen (an index of SCREENS) of programs started from now on; as after a sign-in,
        Wine's processes start anew."""
        self.display = re.sub(r"\.\d+$", "", self.display) + f".{screen}"
        self.reg("add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")
        self.server("-k", "-w", "-p")


def start_xvfb():
    """Xvfb with SCREENS on the first free display (-displayfd), which it writes once it accepts connections."""
    read_end, write_end = os.pipe()
    screens = [word for number, size in enumerate(SCREENS) for word in ("-screen", str(number), size)]
    process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), *screens, "-nolisten", "tcp", "-noreset"],
                               pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as answer:
        number = answer.readline().strip() if select.select([answer], [], [], 15)[0] else b""
    if not number.isdigit():
        process.kill()
        raise RuntimeError("Xvfb did not start")
    return process, f":{number.decode()}"


def x_icons(display, title, seconds):
    """The icons, by size as RGBA pictures, that Wine gave the X window titled TITLE (_NET_WM_ICON: width,
    height and ARGB pixels, for each), as soon as it has them; {} if not within SECONDS."""
    x = xdisplay.Display(display)
    atom = x.intern_atom("_NET_WM_ICON")
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for window in x.screen().root.query_tree().children:
            try:
                found = window.get_wm_name() == title and window.get_full_property(atom, X.AnyPropertyType)
            except xerror.BadWindow:  # a window of Wine's that went away since the tree was read
                continue
            values = list(found.value) if found else []
            icons = {}
            at = 0
            while at < len(values):
                width, height = values[at:at + 2]
                pixels = values[at + 2:at + 2 + width * height]
                at += 2 + width * height
                icons[width, height] = Image.frombytes("RGBA", (width, height), b"".join(
                    bytes((p >> 16 & 255, p >> 8 & 255, p & 255, p >> 24)) for p in pixels))
            if icons:
                return icons
        time.sleep(0.05)
    return {}


class Session:
    """One test module's world for one bitness: its launcher and tools, an X server and a prefix."""

    def __init__(self, name, bitness=None):
        self.bitness = bitness or os.environ.get("TAVRELO_E2E_BITNESS") or "i686"
        self.name = f"{name}_{self.bitness}"
        build = os.environ.get(BUILD_VARIABLES[self.bitness], "")
        self.exe = Path(os.environ.get("TAVRELO_EXE") or f"{build}/bin/tavrelo.exe")
        self.tools = Path(os.environ.get("TAVRELO_E2E_TOOLS") or f"{build}/e2e/tools")
        self.driver = self.tools / "tavrelo-driver.exe"
        self.java = self.tools / "java.exe"
        self.artifacts = Path(os.environ.get("TAVRELO_E2E_ARTIFACTS") or Path.cwd() / "e2e-artifacts")
        self.root = None
        self.prefix = None
        self.xvfb = None
        self.counter = 0

    def problems(self):
        problems = [] if loader() else ["Wine (wine64) is not installed"]
        problems += [f"{tool} is not installed" for tool in ("wineserver", "Xvfb") if not shutil.which(tool)]
        if not (os.environ.get(BUILD_VARIABLES[self.bitness]) or os.environ.get("TAVRELO_EXE")):
            return problems + [f"{BUILD_VARIABLES[self.bitness]} is not set"]
        return problems + [f"{p} is missing: build it" for p in (self.exe, self.driver, self.java) if not p.is_file()]

    def start(self):
        self.artifacts.mkdir(parents=True, exist_ok=True)
        self.root = Path(tempfile.mkdtemp(prefix=f"e2e-{self.name}-", dir=self.artifacts))
        try:
            display = os.environ.get("TAVRELO_E2E_DISPLAY")
            if not display:
                self.xvfb, display = start_xvfb()
            if self.bitness == "i686" and wow64_problem():
                raise RuntimeError(wow64_problem())
            self.prefix = Prefix(self.root / "prefix", display, VIEWS[self.bitness])
            self.prefix.run(["wineboot", "-i"], timeout=300)
            if not wow64_problem() and not (self.prefix.path / WOW64_PROBE).is_file():
                raise RuntimeError(f"wineboot left {WOW64_PROBE} missing although the 32-bit loader runs")
            # Without a window manager, every DestroyWindow would wait 2 s for one unless Wine manages its own.
            self.prefix.run(["reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"])
            self.prefix.server("-p")  # a persistent server: every program starts faster
            # What starting one program costs here (much, emulated), which every wait for one allows on top:
            # the better of two, as the first also starts Wine's services.
            self.program_start_seconds = min(timed(self.prefix.run, [self.java], bitness=self.bitness) for _ in "12")
            shutil.rmtree(self.artifacts / f"{self.name}-failures", ignore_errors=True)
        except BaseException:
            self.stop()
            raise
        return self

    def stop(self):
        if self.prefix:
            self.prefix.server("-k", "-w")
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()
        if self.root and not os.environ.get("TAVRELO_E2E_KEEP"):
            shutil.rmtree(self.root, ignore_errors=True)

    def command(self, *args):
        return program_command(self.bitness, *args)

    def scratch(self, name):
        self.counter += 1
        (folder := self.root / "scratch" / f"{self.counter:03d}-{name}").mkdir(parents=True)
        return folder


class DriverResult:
    """What tavrelo-driver.exe saw (its JSON), with Wine's error output of the run (the bench reads traces there)."""

    def __init__(self, data, path, stderr):
        self.data = data
        self.path = path
        self.stderr = stderr
        self.exit_code = data.get("exit_code")
        self.killed = data.get("killed")
        self.boxes = data.get("message_boxes", [])
        self.splash = data.get("splash", {})

    def __getitem__(self, key):
        return self.data[key]

    @property
    def inspection(self):
        if not self.data.get("inspection"):
            raise AssertionError(f"the driver never inspected the splash: {self.summary()}")
        return self.data["inspection"]

    def exit_seconds_after(self, filetime):
        """From a FILETIME stamp to the program's exit as Wine's server recorded it."""
        return ((self.data.get("exit_time") or self.data["exit_seen_time"]) - filetime) / FILETIME_PER_SECOND

    def summary(self):
        if "start_error" in self.data:
            return f"the driver could not start {self.data['exe']}: error {self.data['start_error']}"
        return (f"exit={self.exit_code} killed={self.killed} timed_out={self.data.get('timed_out')} "
                f"splash={self.splash.get('visible_ms')}..{self.splash.get('gone_ms')} ms "
                f"boxes={[box['text'][:80] for box in self.boxes]} result={os.path.basename(self.path)}")


UNIX_PATH_OPTIONS = ("screenshot", "kill_when_file", "hold_file")


def run_driver(session, exe, cwd, out, *, env=None, dll_overrides=None, timeout_ms=30000, **options):
    """Runs the driver on EXE (a Windows path) in CWD; OUT, the result, is a Unix path, as are the options
    screenshot, kill_when_file and hold_file. The others are the driver's own (close_at_ms: --close-at-ms). Waits
    allow for the cost of starting a program. Wine's error output is kept beside OUT."""
    prefix = session.prefix
    start_ms = round(session.program_start_seconds * 1000)
    args = [session.driver, "--exe", exe, "--cwd", cwd, "--out", prefix.windows_path(out), "--timeout-ms",
            timeout_ms + start_ms]
    for name, value in options.items():
        if value is not None:
            args += ["--" + name.replace("_", "-"),
                     prefix.windows_path(value) if name in UNIX_PATH_OPTIONS else value]
    Path(out).unlink(missing_ok=True)
    done = run_detached(session.command(*args), prefix.env(env, dll_overrides), (timeout_ms + 2 * start_ms) / 1000 + 60)
    Path(out).with_suffix(".stderr.txt").write_bytes(done.stderr)
    if done.returncode or not Path(out).exists():
        raise RuntimeError(f"tavrelo-driver failed ({done.returncode}): {done.stderr.decode(errors='replace')[-999:]}")
    return DriverResult(json.loads(Path(out).read_text(encoding="utf-8")), out, done.stderr)


def read_records(path):
    """The stand-in runtime's records, one per start, in order."""
    return [json.loads(line) for line in Path(path).read_text("utf-8").splitlines()] if Path(path).exists() else []


AppFolder = collections.namedtuple("AppFolder", "unix win exe")
Runtime = collections.namedtuple("Runtime", "home_unix home java")


def make_app_folder(session, folder):
    Path(folder).mkdir(parents=True, exist_ok=True)
    shutil.copy2(session.exe, Path(folder) / "tavrelo.exe")
    win = session.prefix.windows_path(folder)
    return AppFolder(Path(folder), win, win.rstrip("\\") + "\\tavrelo.exe")


def make_runtime(session, home, java=True, support_files=True):
    """A runtime folder with the stand-in as bin\\java.exe and, with SUPPORT_FILES, the support files."""
    home = Path(home)
    for relative in SUPPORT_FILES if support_files else ():
        (home / relative).parent.mkdir(parents=True, exist_ok=True)
        (home / relative).write_bytes(b"support file\n")
    (home / "bin").mkdir(parents=True, exist_ok=True)
    if java:
        shutil.copy2(session.java, home / "bin" / "java.exe")
    return Runtime(home, session.prefix.windows_path(home), session.prefix.windows_path(home / "bin" / "java.exe"))


def set_java_runtimes(session, versions, view=None):
    """The runtime key, holding VERSIONS: (name, home) pairs; a home of None leaves out "JavaHome"."""
    session.prefix.reg("delete", r"HKLM\SOFTWARE\JavaSoft", "/f", check=False, view=view)
    for name, home in versions or [("", None)]:  # without versions, the key alone
        value = [] if home is None else ["/v", "JavaHome", "/d", home]
        session.prefix.reg("add", "\\".join(filter(None, [JAVA_KEY, name])), *value, "/f", view=view)


def difference(actual, reference, factor=1):
    """(worst, share, mean) of two RGB pictures of one size, each first reduced FACTOR times: the largest
    difference of a channel, the share of pixels that differ at all, the mean difference per channel."""
    channels = ImageChops.difference(actual.reduce(factor), reference.reduce(factor))
    per_pixel = ImageChops.lighter(ImageChops.lighter(*channels.split()[:2]), channels.split()[2])
    histogram = per_pixel.histogram()
    return per_pixel.getextrema()[1], 1 - histogram[0] / sum(histogram), sum(ImageStat.Stat(channels).mean) / 3


class LauncherTestCase(unittest.TestCase):
    """Tests that start tavrelo.exe through the driver; their module shares one Session."""

    session = None

    def setUp(self):
        self.scratch = self.session.scratch(self._testMethodName)
        self.record_file = self.scratch / "java-records.jsonl"
        self.launches = 0
        self.prefix = self.session.prefix

    def remove_later(self, folder):
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder

    def app_folder(self, *parts):
        """tavrelo.exe copied into a new folder under drive C:."""
        return make_app_folder(self.session, self.remove_later(self.prefix.drive_c.joinpath(*parts)))

    def runtime(self, *parts, **options):
        return make_runtime(self.session, self.remove_later(self.prefix.drive_c.joinpath(*parts)), **options)

    def use_runtimes(self, versions, view=None):
        set_java_runtimes(self.session, versions, view)
        self.addCleanup(self.prefix.reg, "delete", r"HKLM\SOFTWARE\JavaSoft", "/f", check=False, view=view)

    def launch(self, app, cwd="C:\\", kill_on_record=True, env=None, icons=False, **options):
        """Runs the launcher in APP from CWD under the driver; unless KILL_ON_RECORD is false it is ended
        0.5 s after the stand-in runtime recorded its start, which spares the 10 s linger. Returns the
        driver's result, with ICONS the splash's icons as X has them (result.icons), and the runtime's records."""
        options.setdefault("kill_when_file", self.record_file if kill_on_record else None)
        self.launches += 1
        env = {"TAVRELO_JAVA_RECORD": self.prefix.windows_path(self.record_file), **(env or {})}
        with concurrent.futures.ThreadPoolExecutor(1) as pool:
            wait = 10 + self.session.program_start_seconds
            seen = icons and pool.submit(x_icons, self.prefix.display, "Tavrelo", wait)
            result = run_driver(self.session, app.exe, cwd, self.scratch / f"launch-{self.launches}.json", env=env,
                                **options)
            result.icons = seen and seen.result()
        return result, read_records(self.record_file)

    def screenshot(self, path, inspection):
        """The client area the driver saved during INSPECTION, as RGB; it must have finished painting."""
        self.assertTrue(inspection["painted"] and inspection["screenshot_saved"], f"no screenshot: {inspection}")
        size = inspection["client_rect"]["width"], inspection["client_rect"]["height"]
        image = Image.frombytes("RGB", size, Path(path).read_bytes(), "raw", "BGR", (3 * size[0] + 3) & ~3)
        image.save(path.with_suffix(".png"))
        return image

    def assert_boxes(self, result, texts):
        """Exactly boxes of TEXTS, in order, each titled Tavrelo, with one OK button, no icon, no owner."""
        self.assertEqual([box["text"] for box in result.boxes], texts, result.summary())
        for box in result.boxes:
            self.assertEqual((box["caption"], box["buttons"], box["icon"], box["owner_null"]),
                             ("Tavrelo", ["OK"], False, True), box)

    def keep_results(self):
        """Keeps what the test left in its scratch folder (the driver's results, Wine's error output, the
        runtime's records, screenshots) in the artifacts folder; its failure then names the copy."""
        target = self.session.artifacts / f"{self.session.name}-failures" / self.id().split(".", 1)[1]
        shutil.rmtree(target, ignore_errors=True)
        return shutil.copytree(self.scratch, target)


def module_session(name):
    """A module's setUpModule and tearDownModule: one Session for all its tests."""
    def start():
        LauncherTestCase.session = Session(name).start()

    def stop():
        if LauncherTestCase.session:
            LauncherTestCase.session.stop()
    return start, stop


class KeepingResult(unittest.TextTestResult):
    """Names the kept results of a failed test under its failure, which then explains itself."""

    def _exc_info_to_string(self, err, test):
        if hasattr(test := getattr(test, "test_case", test), "keep_results"):  # a subtest's test too
            err[1].add_note(f"results kept in {test.keep_results()}")
        return super()._exc_info_to_string(err, test)


def main(argv):
    required = os.environ.get("TAVRELO_E2E_REQUIRED", "") not in ("", "0")
    session = Session(argv[1])
    if problems := session.problems():
        print(("missing: " if required else "skipped: ") + "; ".join(problems), file=sys.stderr)
        return 1 if required else 77
    if session.bitness == "i686" and wow64_problem():
        print(("SKIPPED, not run on this machine: " if wow64_problem() == NO_I386 else "error: ") + wow64_problem(),
              file=sys.stderr)
        return 77 if wow64_problem() == NO_I386 else 1
    result = unittest.main(module=argv[1], argv=[argv[0], *argv[2:]], exit=False,
                           testRunner=unittest.TextTestRunner(resultclass=KeepingResult)).result
    if not result.wasSuccessful():
        return 1
    if len(result.skipped) < result.testsRun:
        return 0
    return 1 if required else 77


if __name__ == "__main__":
    sys.exit(main(sys.argv))
