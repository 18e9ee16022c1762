"""Where the programs under test and the helper tools are, taken from the
environment that CTest (or a developer) sets up."""

import os
from dataclasses import dataclass, field
from pathlib import Path


@dataclass
class Config:
    exe: Path            # tavrelo.exe (x86_64 build)
    tools: Path          # folder with tavrelo-driver.exe, java.exe, icon-probe.dll, markers/
    artifacts: Path      # screenshots and driver results are kept here
    template: Path       # Wine prefix template, copied for each test module
    display: str = ""    # an X display to use instead of starting Xvfb
    keep: bool = False   # keep the module's temporary folder for a post-mortem
    problems: list = field(default_factory=list)

    @property
    def driver(self) -> Path:
        return self.tools / "tavrelo-driver.exe"

    @property
    def java(self) -> Path:
        return self.tools / "java.exe"

    @property
    def markers(self) -> Path:
        return self.tools / "markers"


def load() -> Config:
    """Reads TAVRELO_WIN64_DIR (the x86_64 Windows build folder) or the more
    specific TAVRELO_EXE / TAVRELO_E2E_TOOLS, and lists what is missing."""
    problems = []
    win64 = os.environ.get("TAVRELO_WIN64_DIR", "")
    exe = os.environ.get("TAVRELO_EXE") or (os.path.join(win64, "bin", "tavrelo.exe") if win64 else "")
    tools = os.environ.get("TAVRELO_E2E_TOOLS") or (os.path.join(win64, "e2e", "tools") if win64 else "")
    if not exe or not tools:
        problems.append("TAVRELO_WIN64_DIR is not set (nor TAVRELO_EXE and TAVRELO_E2E_TOOLS)")
    artifacts = Path(os.environ.get("TAVRELO_E2E_ARTIFACTS") or os.path.join(os.getcwd(), "e2e-artifacts"))
    template = Path(os.environ.get("TAVRELO_E2E_TEMPLATE") or artifacts / "wine-template")
    config = Config(exe=Path(exe), tools=Path(tools), artifacts=artifacts, template=template,
                    display=os.environ.get("TAVRELO_E2E_DISPLAY", ""),
                    keep=os.environ.get("TAVRELO_E2E_KEEP", "") not in ("", "0"),
                    problems=problems)
    if not problems:
        for path in (config.exe, config.driver, config.java, config.tools / "icon-probe.dll"):
            if not path.is_file():
                problems.append(f"{path} does not exist (build the win64 target first)")
    for program in ("wine", "wineserver", "Xvfb"):
        if not any(os.access(os.path.join(d, program), os.X_OK)
                   for d in os.environ.get("PATH", "").split(os.pathsep) if d):
            problems.append(f"{program} is not installed")
    return config
