"""Application folders, stand-in runtimes and the runtime registry key."""

import shutil
from dataclasses import dataclass
from pathlib import Path

from .wine import reg_string

JAVA_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
JAVASOFT_KEY = r"HKLM\SOFTWARE\JavaSoft"

# Files the launcher copies into a runtime when they are missing, relative to
# the runtime's home folder, in the order it checks them; their sources lie
# in C:\SUPPORT_FOLDER under their base names.
SUPPORT_FILES = ("lib/ext/Comm.jar", "lib/javax.comm.properties", "bin/Win32com.dll", "lib/ext/jdc.jar")
SUPPORT_FOLDER = ("orvane", "GsmModemJar")


@dataclass
class AppFolder:
    unix: Path
    win: str

    @property
    def exe(self):
        return self.win.rstrip("\\") + "\\tavrelo.exe"


@dataclass
class Runtime:
    home_unix: Path
    home: str

    @property
    def java(self):
        return self.home + "\\bin\\java.exe"


def make_app_folder(session, folder):
    """Copies tavrelo.exe into FOLDER (a Unix path inside the prefix's drive
    C: or a mapped drive), creating it, including paths longer than Windows'
    260 characters."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy2(session.config.exe, folder / "tavrelo.exe")
    return AppFolder(folder, session.prefix.windows_path(folder))


def make_runtime(session, home, java=True, support_files=True):
    """A runtime folder: bin\\java.exe is the stand-in; with SUPPORT_FILES the
    files the launcher would copy are already in place."""
    home = Path(home)
    (home / "bin").mkdir(parents=True, exist_ok=True)
    if java:
        shutil.copy2(session.config.java, home / "bin" / "java.exe")
    if support_files:
        for relative in SUPPORT_FILES:
            target = home / relative
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(b"support file\n")
    return Runtime(home, session.prefix.windows_path(home))


def plant_standin(session, path):
    """A copy of the stand-in runtime under another name: it records any
    start exactly like java.exe, so a test sees if it was run."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(session.config.java, path)
    return path


def set_java_runtimes(session, versions, view=None):
    """Replaces the runtime key with VERSIONS: (name, java_home) pairs; a
    java_home of None leaves the version key without a JavaHome value. The
    key is written in the registry view of the session's launcher, or VIEW
    ("/reg:32" or "/reg:64")."""
    prefix = session.prefix
    prefix.reg_delete_tree(JAVASOFT_KEY, view=view)
    lines = [f"[{JAVA_KEY.replace('HKLM', 'HKEY_LOCAL_MACHINE', 1)}]", ""]
    for name, home in versions:
        lines.append(f"[{JAVA_KEY.replace('HKLM', 'HKEY_LOCAL_MACHINE', 1)}\\{name}]")
        if home is not None:
            lines.append(f"\"JavaHome\"={reg_string(home)}")
        lines.append("")
    prefix.reg_import(lines, view=view)


def clear_java_runtimes(session, view=None):
    session.prefix.reg_delete_tree(JAVASOFT_KEY, view=view)
