"""Where the programs under test and the helper tools are, taken from the
environment that CTest (or a developer) sets up, for one bitness: the
shipped i686 build or the x86_64 build of the same sources."""

import os
import shutil
from dataclasses import dataclass, field
from pathlib import Path

from . import wine

# The shipped executable is the i686 one: it is what a session tests unless
# told otherwise (the bitness argument or TAVRELO_E2E_BITNESS), or unless only
# the x86_64 build folder is given.
DEFAULT_BITNESS = "i686"
BUILD_VARIABLES = {"i686": "TAVRELO_WIN32_DIR", "x86_64": "TAVRELO_WIN64_DIR"}
# The registry view a program of each bitness sees, as reg.exe names it.
REGISTRY_VIEWS = {"i686": "/reg:32", "x86_64": "/reg:64"}
# The launcher built with the other splash pictures in e2e/pictures/, among the
# tools (test_launch shows them).
SPLASH_PICTURES = ("photo", "transparent")


@dataclass
class Config:
    bitness: str         # "i686" or "x86_64"
    exe: Path            # tavrelo.exe of that bitness
    tools: Path          # folder with tavrelo-driver.exe, java.exe, icon-probe.dll, markers/,
                         # tavrelo-<picture>.exe (same bitness)
    artifacts: Path      # screenshots and driver results are kept here
    template: Path       # Wine prefix template, copied for each test module
    display: str = ""    # an X display to use instead of starting Xvfb
    keep: bool = False   # keep the module's temporary folder for a post-mortem
    problems: list = field(default_factory=list)

    @property
    def reg_view(self) -> str:
        return REGISTRY_VIEWS[self.bitness]

    @property
    def driver(self) -> Path:
        return self.tools / "tavrelo-driver.exe"

    @property
    def java(self) -> Path:
        return self.tools / "java.exe"

    @property
    def baseline(self) -> Path:
        return self.tools / "baseline.exe"

    @property
    def markers(self) -> Path:
        return self.tools / "markers"

    def launcher_showing(self, picture) -> Path:
        """The launcher of this bitness built with e2e/pictures/PICTURE.png."""
        return self.tools / f"tavrelo-{picture}.exe"


def bitness_from(value=None):
    bitness = value or os.environ.get("TAVRELO_E2E_BITNESS")
    if not bitness:
        only_x86_64 = os.environ.get("TAVRELO_WIN64_DIR") and not os.environ.get("TAVRELO_WIN32_DIR")
        bitness = "x86_64" if only_x86_64 else DEFAULT_BITNESS
    if bitness not in BUILD_VARIABLES:
        raise ValueError(f"unknown bitness {bitness!r}: use one of {', '.join(BUILD_VARIABLES)}")
    return bitness


def load(bitness=None) -> Config:
    """Reads the build folder of BITNESS (TAVRELO_WIN32_DIR for i686,
    TAVRELO_WIN64_DIR for x86_64) or the more specific TAVRELO_EXE /
    TAVRELO_E2E_TOOLS, and lists what is missing."""
    bitness = bitness_from(bitness)
    variable = BUILD_VARIABLES[bitness]
    problems = []
    build = os.environ.get(variable, "")
    exe = os.environ.get("TAVRELO_EXE") or (os.path.join(build, "bin", "tavrelo.exe") if build else "")
    tools = os.environ.get("TAVRELO_E2E_TOOLS") or (os.path.join(build, "e2e", "tools") if build else "")
    if not exe or not tools:
        problems.append(f"{variable} is not set (nor TAVRELO_EXE and TAVRELO_E2E_TOOLS)")
    artifacts = Path(os.environ.get("TAVRELO_E2E_ARTIFACTS") or os.path.join(os.getcwd(), "e2e-artifacts"))
    template = Path(os.environ.get("TAVRELO_E2E_TEMPLATE") or artifacts / "wine-template")
    config = Config(bitness=bitness, exe=Path(exe), tools=Path(tools), artifacts=artifacts, template=template,
                    display=os.environ.get("TAVRELO_E2E_DISPLAY", ""),
                    keep=os.environ.get("TAVRELO_E2E_KEEP", "") not in ("", "0"),
                    problems=problems)
    if not problems:
        target = "win32" if bitness == "i686" else "win64"
        for path in (config.exe, config.driver, config.java, config.tools / "icon-probe.dll",
                     *map(config.launcher_showing, SPLASH_PICTURES)):
            if not path.is_file():
                problems.append(f"{path} does not exist (build the {target} target first)")
    problems += tool_problems()
    return config


def tool_problems():
    """What is missing to run anything under Wine and Xvfb."""
    problems = [] if wine.loader() else ["Wine (wine64) is not installed"]
    return problems + [f"{program} is not installed" for program in ("wineserver", "Xvfb") if not shutil.which(program)]
