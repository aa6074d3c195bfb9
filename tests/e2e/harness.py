"""Runs the built qoramark of one build in a sandbox of its own.

The build under test comes from the environment:
  QORAMARK_BUILD    posix (default) or win32
  QORAMARK_BIN_DIR  the folder holding qoramark / qoramark.exe
Windows builds run under Wine with the WINEPREFIX given in the environment.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest
import uuid
from dataclasses import dataclass

BUILD = os.environ.get("QORAMARK_BUILD", "posix")
BIN_DIR = os.environ.get("QORAMARK_BIN_DIR", "")
IS_WINDOWS = BUILD == "win32"
WINE = os.environ.get("QORAMARK_WINE", "wine")
RUN_TIMEOUT = 600 if IS_WINDOWS else 60

# A sanitizer build reports on standard error; its options reach every run.
SANITIZER_OPTIONS = ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS")
SANITIZER_REPORT = re.compile(rb"ERROR: (?:Address|Leak|UndefinedBehavior)Sanitizer|runtime error: ")


def check_no_sanitizer_report(stderr):
    """Fails the test on a sanitizer report, whatever else the test checks."""
    match = SANITIZER_REPORT.search(stderr)
    if match:
        raise AssertionError("sanitizer report:\n" + stderr.decode("latin-1"))


@dataclass
class Result:
    exit_code: int
    stdout: bytes
    stderr: bytes


class Sandbox:
    """A temporary folder that holds everything a run may touch: the store,
    the SystemRoot folder and the home folder."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="qoramark-e2e-")
        self.registry_dir = os.path.join(self.root, "registry")
        self.system_root = os.path.join(self.root, "system")
        self.home = os.path.join(self.root, "home")
        for folder in (self.registry_dir, self.system_root, self.home):
            os.makedirs(folder)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def environment(self, extra=None):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.home,
            "TZ": os.environ.get("TZ", "UTC"),
        }
        for name in SANITIZER_OPTIONS:
            if name in os.environ:
                env[name] = os.environ[name]
        if IS_WINDOWS:
            for name in ("WINEPREFIX", "WINEARCH", "WINEDEBUG"):
                if name in os.environ:
                    env[name] = os.environ[name]
        else:
            env["QORAMARK_REGISTRY_DIR"] = self.registry_dir
            env["SystemRoot"] = self.system_root
        if extra:
            env.update(extra)
        return {k: v for k, v in env.items() if v is not None}

    def files(self):
        """Every file below the sandbox, as paths relative to it."""
        found = []
        for folder, _, names in os.walk(self.root):
            for name in names:
                found.append(os.path.relpath(os.path.join(folder, name), self.root))
        return sorted(found)


def binary(name="qoramark"):
    suffix = ".exe" if IS_WINDOWS else ""
    return os.path.join(BIN_DIR, name + suffix)


def under_wine(command):
    """The command as this build runs it: under Wine for the Windows build."""
    return [WINE] + list(command) if IS_WINDOWS else list(command)


def reset_wine_registry(sandbox):
    """All cases share one Wine prefix: each starts without the keys earlier
    cases left."""
    for root in ("HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"):
        subprocess.run(under_wine(["reg", "delete", root + "\\Software\\QORA", "/f"]),
                       env=sandbox.environment(), cwd=sandbox.root, stdin=subprocess.DEVNULL,
                       capture_output=True, timeout=RUN_TIMEOUT)


def run_qoramark(sandbox, args, env=None, program="qoramark"):
    """Runs the program with the argument vector args; under Wine the vector
    becomes a Windows command line with the usual quoting."""
    command = under_wine([binary(program)] + list(args))
    completed = subprocess.run(
        command,
        env=sandbox.environment(env),
        cwd=sandbox.root,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        timeout=RUN_TIMEOUT,
    )
    check_no_sanitizer_report(completed.stderr)
    return Result(completed.returncode, completed.stdout, completed.stderr)


def make_file_folder(test):
    """A new folder for files the program opens: on drive C of the Wine prefix for
    the Windows build (removed after the test), in the sandbox otherwise."""
    if IS_WINDOWS:
        prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
        folder = os.path.join(prefix, "drive_c", "qoramark-" + uuid.uuid4().hex[:12])
        test.addCleanup(shutil.rmtree, folder, True)
    else:
        folder = os.path.join(test.sandbox.root, "files")
    os.makedirs(folder)
    return folder


def program_path(folder, name):
    """The name of a file in a folder from make_file_folder, as the program sees it."""
    if IS_WINDOWS:
        return "C:\\" + os.path.basename(folder) + "\\" + name
    return os.path.join(folder, name)


class SandboxTest(unittest.TestCase):
    """A test case with a fresh sandbox for every test."""

    def setUp(self):
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)
        if IS_WINDOWS:
            reset_wine_registry(self.sandbox)

    def run_qoramark(self, *args, env=None, program="qoramark"):
        return run_qoramark(self.sandbox, args, env=env, program=program)


MESSAGE_BOX_CALL = re.compile(
    rb'Call user32\.MessageBoxA\((?P<owner>[0-9a-f]+),[0-9a-f]+ "(?P<text>(?:[^"\\]|\\.)*)"(?P<cut>\.\.\.)?,'
    rb'[0-9a-f]+ "(?P<caption>(?:[^"\\]|\\.)*)",(?P<style>[0-9a-f]+)\)')


def message_box_calls(stderr):
    """The MessageBoxA calls in a Wine relay trace: (owner, text, text_cut, caption, style).
    Wine's trace shows texts with C escapes and cuts long ones short."""
    calls = []
    for match in MESSAGE_BOX_CALL.finditer(stderr):
        unescape = lambda b: b.decode("unicode_escape").encode("latin-1")
        calls.append((int(match["owner"], 16), unescape(match["text"]), bool(match["cut"]),
                      unescape(match["caption"]), int(match["style"], 16)))
    return calls


EXPORT_HEADER = "Windows Registry Editor Version 5.00"
DEFAULT_EXPORT_PATHS = ("HKEY_CURRENT_USER\\Software\\QORA", "HKEY_LOCAL_MACHINE\\Software\\QORA")


def _export_sections(text):
    """The part of an export after its header line, with LF line ends and
    no trailing blank lines."""
    text = text.replace("\r\n", "\n").lstrip("\ufeff")
    if text.startswith(EXPORT_HEADER):
        text = text[len(EXPORT_HEADER):]
    return "\n" + text.strip("\n") + "\n"


def export_registry(sandbox, paths=DEFAULT_EXPORT_PATHS):
    """The registry below the paths in the text form of export files, the same
    for both builds: the POSIX store through qoramark-reg, Wine's registry
    through reg export. Keys that do not exist are left out."""
    sections = []
    for path in paths:
        if IS_WINDOWS:
            target = os.path.join(sandbox.root, "export.reg")
            completed = subprocess.run(
                under_wine(["reg", "export", path, target, "/y"]),
                env=sandbox.environment(), cwd=sandbox.root, stdin=subprocess.DEVNULL,
                capture_output=True, timeout=RUN_TIMEOUT)
            if completed.returncode != 0 or not os.path.exists(target):
                continue
            with open(target, "rb") as exported:
                text = exported.read().decode("utf-16")
            os.remove(target)
        else:
            completed = subprocess.run(
                [binary("qoramark-reg"), "export", path],
                env=sandbox.environment(), cwd=sandbox.root, stdin=subprocess.DEVNULL,
                capture_output=True, timeout=RUN_TIMEOUT)
            if completed.returncode != 0:
                continue
            text = completed.stdout.decode("latin-1")
        sections.append(_export_sections(text))
    return EXPORT_HEADER + "\n" + "".join(sections)
