"""What the package tests share: where the artifacts are, the project version,
running commands, and the loopback receiver the end-to-end tests use.

From the environment (scripts/test-packages sets them):
  QORAMARK_PACKAGES_DIR   the folder scripts/package wrote (default build/packages)
  QORAMARK_VERSION        the project version the artifacts must carry
"""

import glob
import os
import subprocess
import sys

SOURCE_DIR = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "e2e"))

from report_support import SYSLOG_MESSAGE, UdpReceiver, swv_record_pattern  # noqa: E402,F401

PACKAGES_DIR = os.environ.get("QORAMARK_PACKAGES_DIR", os.path.join(SOURCE_DIR, "build", "packages"))
VERSION = os.environ.get("QORAMARK_VERSION", "")


def artifact(pattern):
    """The one file in the packages folder that matches the pattern."""
    found = glob.glob(os.path.join(PACKAGES_DIR, pattern))
    if len(found) != 1:
        raise AssertionError("expected one %s in %s, found %s" % (pattern, PACKAGES_DIR, found))
    return found[0]


def run(command, check=True, **kwargs):
    """Runs a command, capturing its output as text; fails with that output when check is set."""
    completed = subprocess.run(command, capture_output=True, stdin=subprocess.DEVNULL,
                               timeout=kwargs.pop("timeout", 300), **kwargs)
    if check and completed.returncode != 0:
        raise AssertionError("%s exited with %d:\n%s%s" % (
            command, completed.returncode, completed.stdout.decode("latin-1"),
            completed.stderr.decode("latin-1")))
    return completed
