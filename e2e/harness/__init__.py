"""Harness for the end-to-end tests of tavrelo.exe under Wine."""

from .app import (AppFolder, Runtime, clear_java_runtimes, make_app_folder, make_runtime, plant_standin,
                  set_java_runtimes)
from .driver import FILETIME_PER_SECOND, DriverResult, read_records, run_driver, unix_time
from .images import compare, read_rgb, resembles
from .launch import (BACKGROUND, JARS, MAIN_CLASS, STARTF_USESHOWWINDOW, SW_HIDE, LauncherTestCase, client_box,
                     client_pixel, expected_command, expected_picture, mul_div, runtime_program)
from .session import Session, SessionTestCase, module_session

__all__ = [
    "AppFolder", "Runtime", "clear_java_runtimes", "make_app_folder", "make_runtime", "plant_standin",
    "set_java_runtimes", "FILETIME_PER_SECOND", "DriverResult", "read_records", "run_driver", "unix_time", "compare",
    "read_rgb", "resembles", "BACKGROUND", "JARS", "MAIN_CLASS", "STARTF_USESHOWWINDOW", "SW_HIDE",
    "LauncherTestCase", "client_box", "client_pixel", "expected_command", "expected_picture", "mul_div",
    "runtime_program", "Session", "SessionTestCase", "module_session",
]
