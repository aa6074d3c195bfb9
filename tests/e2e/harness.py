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
from dataclasses import dataclass

BUILD = os.environ.get("QORAMARK_BUILD", "posix")
BIN_DIR = os.environ.get("QORAMARK_BIN_DIR", "")
IS_WINDOWS = BUILD == "win32"
WINE = os.environ.get("QORAMARK_WINE", "wine")
RUN_TIMEOUT = 600 if IS_WINDOWS else 60


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


def run_qoramark(sandbox, args, env=None, program="qoramark"):
    """Runs the program with the argument vector args; under Wine the vector
    becomes a Windows command line with the usual quoting."""
    command = [binary(program)] + list(args)
    if IS_WINDOWS:
        command = [WINE] + command
    completed = subprocess.run(
        command,
        env=sandbox.environment(env),
        cwd=sandbox.root,
        stdin=subprocess.DEVNULL,
        capture_output=True,
        timeout=RUN_TIMEOUT,
    )
    return Result(completed.returncode, completed.stdout, completed.stderr)


class SandboxTest(unittest.TestCase):
    """A test case with a fresh sandbox for every test."""

    def setUp(self):
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)

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
