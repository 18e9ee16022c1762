"""Wine prefixes: a template made once, cheap copies of it per test module,
and the registry, drive and path helpers the tests use."""

import fcntl
import functools
import os
import shutil
import subprocess
import tempfile
from pathlib import Path, PureWindowsPath

# Changing what the template holds: bump this so old templates are rebuilt.
# 2: the template holds the 32-bit half of Wine (syswow64) besides the 64-bit one.
TEMPLATE_VERSION = "2"
STAMP_NAME = "e2e-template.stamp"
# A prefix whose 32-bit half was set up has Wine's 32-bit libraries here;
# wineboot without a working 32-bit loader leaves syswow64 empty.
WOW64_PROBE = Path("drive_c", "windows", "syswow64", "kernel32.dll")
INSTALL_HINT = "run scripts/install-deps (it installs wine32:i386), then the tests again"
KERNEL_PROBE = Path(__file__).resolve().parents[2] / "scripts" / "kernel-runs-i386"

# Files at least this big under drive_c/windows are hard-linked into copies
# instead of copied: Wine only reads its installed libraries, and those are
# nearly all of a prefix's 700 MB. Everything else (registry hives, ini files)
# is copied, so that nothing a test changes reaches the template.
LINK_MIN_BYTES = 256 * 1024


def run_detached(args, env, timeout):
    """Runs a command with its output in temporary files, not pipes: the
    first Wine program starts services (explorer.exe, winedevice.exe) that
    inherit its output handles and outlive it, so reading pipes to their end
    would wait for the services to quit."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        returncode = subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout).returncode
        out.seek(0)
        err.seek(0)
        return subprocess.CompletedProcess(args, returncode, out.read(), err.read())


@functools.lru_cache(maxsize=None)
def loader():
    """The 64-bit Wine loader, called directly rather than through the
    `wine` wrapper (which takes the 32-bit loader whenever it is installed,
    even where it cannot run). It runs Wine's own tools (wineboot, reg) and
    the x86_64 programs under test."""
    for candidate in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def loader_32():
    """The 32-bit loader next to the 64-bit one (wine64 -> wine)."""
    path = loader()
    return path[:-2] if path and path.endswith("64") else None


# Starts a program with the kernel's address randomisation off; the programs
# it starts inherit that. Debian's Wine has no preloader to keep free the low
# addresses that every Windows process needs. Debian 12's 64-bit Wine loader
# sits at 0x7d000000, and the kernel puts its heap anywhere in the 1 GB above
# it. Now and then (once in 5,000 starts of a 64-bit program, measured) the
# heap covers 0x7ffe0000, where Wine must map the shared user data ("failed to
# map the shared user data: c0000018"), so that process dies in its start and
# the program that started it gets error 1359. Without randomisation the heap
# follows the loader at 0x7d005000, 48 MB below, every time, as a preloader
# would have it. (Debian 13's Wine loaders are position-independent, and
# their heaps lie far from there either way.) What the programs under test do
# is not changed.
NO_RANDOMISATION = ("setarch", "-R")


def program_command(bitness, *args):
    """A command line that starts a Windows program of BITNESS ("i686" or
    "x86_64") as a shell would: through the Wine loader of its own bitness,
    with address randomisation off (see NO_RANDOMISATION). The 64-bit loader
    would hand a 32-bit program to start.exe, which looks for it from the
    Windows folder when the working folder cannot be opened (one deeper than
    260 characters, say), and the program is not found."""
    path = loader_32() if bitness == "i686" else loader()
    if not path:
        raise RuntimeError("Wine (wine64) is not installed: " + INSTALL_HINT)
    return [*NO_RANDOMISATION, path, *map(str, args)]


def runs_i386_programs():
    """False when the kernel refuses 32-bit programs and no emulator is
    registered for them: then no part of Wine's 32-bit half can run."""
    return subprocess.run([str(KERNEL_PROBE)], stdin=subprocess.DEVNULL, timeout=30).returncode == 0


def i386_emulator():
    """The emulator that runs 32-bit programs here (scripts/emulate-i386
    registers it where the kernel refuses them), or None."""
    try:
        entry = Path("/proc/sys/fs/binfmt_misc/qemu-i386").read_text().splitlines()
    except OSError:
        return None
    interpreter = [line.split(None, 1)[1] for line in entry if line.startswith("interpreter ")]
    return interpreter[0] if entry[:1] == ["enabled"] and interpreter else None


NO_I386 = ("this system cannot run 32-bit programs: its kernel refuses i386 code and no emulator runs it "
           "(scripts/install-deps registers qemu-i386 with binfmt_misc where it can, and could not here), "
           "so no i686 program can run under Wine")


@functools.lru_cache(maxsize=None)
def wow64_problem():
    """Why 32-bit (i686) Windows programs cannot run under Wine here, or ""."""
    if not runs_i386_programs():
        return NO_I386
    path = loader_32()
    if not path or not os.path.isfile(path):
        return "the 32-bit half of Wine (package wine32:i386) is not installed: " + INSTALL_HINT
    try:
        completed = subprocess.run([path, "--version"], stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    except OSError as error:
        return f"the 32-bit Wine loader {path} cannot be started ({error.strerror}): " + INSTALL_HINT
    if completed.returncode != 0:
        return (f"the 32-bit Wine loader {path} failed ({completed.returncode}): "
                f"{completed.stderr.decode(errors='replace').strip()[-300:]}; " + INSTALL_HINT)
    return ""


def has_wow64(prefix_path):
    return (Path(prefix_path) / WOW64_PROBE).is_file()


def i686_problem(template):
    """Why the i686 tests cannot run with TEMPLATE, or ""."""
    problem = wow64_problem()
    if problem:
        return problem
    if not has_wow64(template):
        return (f"the Wine prefix template {template} has no 32-bit half ({WOW64_PROBE} is missing; it was "
                "made before wine32:i386 was installed): delete it, or " + INSTALL_HINT)
    return ""


def wine_version():
    completed = subprocess.run(program_command("x86_64", "--version"), capture_output=True, text=True, check=True)
    return completed.stdout.strip()


def base_environment(prefix, display):
    env = dict(os.environ)
    for name in ("WINEDLLOVERRIDES", "WINELOADER", "WINESERVER", "WINEDLLPATH"):
        env.pop(name, None)
    env.update({
        "WINEPREFIX": str(prefix),
        "DISPLAY": display,
        # Wine's error messages only: they are kept with a failed check's
        # results (a program that could not start, a DLL not found).
        "WINEDEBUG": "-all,err+all",
        # No crash dialog waiting for a user, no Mono/Gecko installers.
        "WINEDLLOVERRIDES": "winedbg.exe=d;mscoree=d;mshtml=d;winemenubuilder.exe=d",
        # File names with non-ASCII characters are passed through as UTF-8.
        "LC_ALL": "C.UTF-8",
    })
    return env


class Prefix:
    """One Wine prefix with its own wineserver. VIEW ("/reg:32" or "/reg:64")
    is the registry view of the program under test: every registry write
    names it, so that HKLM\\SOFTWARE lands where that program reads it,
    whatever the bitness of the reg.exe that writes."""

    def __init__(self, path, display, view=None):
        self.path = Path(path)
        self.display = display
        self.view = view
        self.drives = {}  # letter -> Unix folder, for drives mapped by the tests

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def env(self, extra=None, dll_overrides=None):
        env = base_environment(self.path, self.display)
        if dll_overrides:
            env["WINEDLLOVERRIDES"] = env["WINEDLLOVERRIDES"] + ";" + dll_overrides
        if extra:
            env.update(extra)
        return env

    def run(self, args, timeout=120, check=True, env=None, bitness="x86_64"):
        """Runs a Wine tool, or a program under test of BITNESS through the
        loader of that bitness (see program_command)."""
        result = run_detached(program_command(bitness, *args), env or self.env(), timeout)
        if check and result.returncode != 0:
            output = (result.stdout + result.stderr).decode(errors="replace")
            # A Wine tool (reg, cmd) that did not run is Wine's fault, not the
            # launcher's; its output, Wine's errors included, says why.
            raise RuntimeError(f"wine {args} failed with {result.returncode} (a tool under Wine, not the launcher): "
                               f"{output[-2000:] or 'no output'}")
        return result

    def start_server(self):
        # A persistent wineserver: each wine program starts faster when the
        # server is already there.
        subprocess.run(["wineserver", "-p"], env=self.env(), check=True, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop_server(self):
        env = self.env()
        quiet = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        subprocess.run(["wineserver", "-k"], env=env, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=60, **quiet)

    # --- paths ----------------------------------------------------------

    def windows_path(self, unix_path):
        """The Windows name of a Unix path: under drive_c it is on C:, under a
        mapped drive on that letter, anything else is reached through Z:."""
        path = Path(os.path.abspath(unix_path))
        candidates = [("C", self.drive_c)] + sorted(self.drives.items())
        for letter, root in candidates:
            try:
                relative = path.relative_to(root)
            except ValueError:
                continue
            return f"{letter}:\\" + "\\".join(relative.parts)
        return "Z:" + str(path).replace("/", "\\")

    def unix_path(self, windows_path):
        path = PureWindowsPath(windows_path)
        drive = path.drive.rstrip(":").upper()
        parts = path.parts[1:]
        if drive == "C":
            return self.drive_c.joinpath(*parts)
        if drive == "Z":
            return Path("/").joinpath(*parts)
        if drive in self.drives:
            return Path(self.drives[drive]).joinpath(*parts)
        raise ValueError(f"no Unix folder for {windows_path}")

    def map_drive(self, letter, folder):
        """Makes a Unix folder appear as drive LETTER: (a dosdevices link)."""
        self.unmap_drive(letter)
        os.symlink(os.path.abspath(folder), self.path / "dosdevices" / f"{letter.lower()}:")
        self.drives[letter.upper()] = Path(os.path.abspath(folder))

    def unmap_drive(self, letter):
        (self.path / "dosdevices" / f"{letter.lower()}:").unlink(missing_ok=True)
        self.drives.pop(letter.upper(), None)

    # --- registry ---------------------------------------------------------

    def reg(self, *args, check=True, view=None):
        """reg.exe in the prefix's registry view (or VIEW); with CHECK, a
        failure raises, with reg.exe's and Wine's error output."""
        view = view or self.view
        return self.run(["reg", *args, *([view] if view else [])], check=check)

    def reg_delete_tree(self, key, view=None):
        # Absent keys are fine: the point is that the key is gone afterwards.
        self.reg("delete", key, "/f", check=False, view=view)

    def reg_import(self, lines, view=None):
        """Imports registry lines (regedit format, without the header). Not
        through regedit, which has no view switch and writes HKLM\\SOFTWARE
        into the view of its own bitness: `reg import` takes one."""
        text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
        with tempfile.NamedTemporaryFile(suffix=".reg", dir=self.drive_c, delete=False) as handle:
            handle.write(b"\xff\xfe" + text.encode("utf-16-le"))
            name = handle.name
        try:
            self.reg("import", self.windows_path(name), view=view)
        finally:
            os.unlink(name)

    def reg_has_key(self, key, view=None):
        return self.reg("query", key, check=False, view=view).returncode == 0

    def set_dpi(self, dpi):
        """The system dpi, for the programs started from now on. As Windows
        applies a new dpi at the next sign-in, Wine's processes are ended:
        Wine 10 gives the screen the dpi of the process that first set up
        the display (its desktop), and scales the windows of programs whose
        dpi differs from it; Wine 8 reads the setting in each program."""
        self.reg("add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                 "/d", str(dpi), "/f")
        self.stop_server()
        self.start_server()


def reg_string(text):
    """A value in regedit's quoted form."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# --- template and copies ----------------------------------------------------

def create_prefix(path, display):
    """A new prefix from scratch, set up for tests without a window manager."""
    prefix = Prefix(path, display)
    prefix.run(["wineboot", "-i"], timeout=300)
    # Without a window manager, DestroyWindow waits ~2 s for one that never
    # answers unless Wine manages its windows itself.
    prefix.reg("add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f")
    subprocess.run(["wineserver", "-w"], env=prefix.env(), check=True, timeout=120, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if not wow64_problem() and not has_wow64(path):
        raise RuntimeError(f"wineboot left {prefix.path / WOW64_PROBE} missing although the 32-bit loader runs")


def template_stamp():
    """What the template was made with: Wine's version, the template's
    version and whether Wine's 32-bit half could run. A template whose stamp
    differs (an older Wine setup, wine32 installed since) is rebuilt."""
    halves = "x86_64 only" if wow64_problem() else "i686 and x86_64"
    return f"{wine_version()} template {TEMPLATE_VERSION} ({halves})\n"


def ensure_template(path, display, fresh=False):
    """Makes the template prefix unless a current one is there. A lock keeps
    modules that start together from building it twice."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    stamp_text = template_stamp()
    with open(str(path) + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp = path / STAMP_NAME
        current = stamp.is_file() and stamp.read_text() == stamp_text
        if not fresh and current and (wow64_problem() or has_wow64(path)):
            return path
        if path.exists():
            shutil.rmtree(path)
        building = Path(str(path) + ".building")
        if building.exists():
            shutil.rmtree(building)
        create_prefix(building, display)
        (building / STAMP_NAME).write_text(stamp_text)
        building.rename(path)
        return path


def copy_template(template, destination, view=None):
    """A working copy of the template: big installed files hard-linked, all
    else copied. VIEW is the registry view of the program under test."""
    template = Path(template)
    windows_folder = template / "drive_c" / "windows"

    def copy(source, target):
        source_path = Path(source)
        if (source_path.stat().st_size >= LINK_MIN_BYTES and windows_folder in source_path.parents
                and not source_path.name.endswith(".reg")):
            try:
                os.link(source, target)
                return
            except OSError:
                pass  # another file system: copied instead
        shutil.copy2(source, target)

    shutil.copytree(template, destination, symlinks=True, copy_function=copy,
                    ignore=shutil.ignore_patterns(STAMP_NAME))
    return Prefix(destination, "", view)
