"""What the report tests share: where each build keeps its local log, the layout
of a log block, the SWV record, and loopback receivers for syslog messages."""

import os
import re
import socket

from harness import IS_WINDOWS

LINE_END = b"\r\n" if IS_WINDOWS else b"\n"
SEPARATOR = b"-" * 40

# The label literals of lines 2 to 11; every value starts right after them.
LABELS = (
    b": macaddress:   ",
    b": ipaddress:    ",
    b": application:  ",
    b": appversion:   ",
    b": runcount:     ",
    b": rundate:      ",
    b": setupdate:    ",
    b": setupversion: ",
    b": unw:          ",
    b": uwn:          ",
)

# <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID STRUCTURED-DATA MSG
SYSLOG_MESSAGE = re.compile(
    rb"<(?P<pri>\d+)>1 (?P<timestamp>\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z) "
    rb"(?P<hostname>\S+) (?P<appname>\S+) (?P<procid>\d+) - - (?P<msg>.*)", re.S)


def local_log_path(sandbox):
    """The file a run of this build appends to: SystemRoot/QORA.LOG in the sandbox on
    POSIX, C:\\windows\\QORA.LOG of the Wine prefix on Windows."""
    if IS_WINDOWS:
        prefix = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
        return os.path.join(prefix, "drive_c", "windows", "QORA.LOG")
    return os.path.join(sandbox.system_root, "QORA.LOG")


def fresh_local_log(test):
    """Removes the build's local log before and after the test, as every case of
    the Windows build shares the one of the Wine prefix; returns its path."""
    path = local_log_path(test.sandbox)
    if os.path.exists(path):
        os.remove(path)
    test.addCleanup(lambda: os.path.exists(path) and os.remove(path))
    return path


def split_lines(data):
    """The file's lines without their line ends; fails on a line end of the other build."""
    assert data.endswith(LINE_END), data[-40:]
    lines = data[:-len(LINE_END)].split(LINE_END)
    for line in lines:
        assert b"\n" not in line and b"\r" not in line, line
    return lines


def block_fields(lines):
    """Checks the twelve lines of one block and returns its date text and its ten values."""
    assert len(lines) == 12, lines
    assert lines[0].endswith(SEPARATOR), lines[0]
    date = lines[0][:-len(SEPARATOR)]
    assert lines[11] == lines[0], lines
    values = []
    for line, label in zip(lines[1:11], LABELS):
        assert line.startswith(date + label), (line, label)
        values.append(line[len(date + label):])
    return date, values


def swv_record_pattern(app, version, setup_version=b""):
    """The record of a run without -s: the adapter and the run's moment may be anything."""
    return re.compile(
        rb'"SWV","(?P<mac>[^"]*)","(?P<ip>[^"]*)","' + re.escape(app) + rb'","' +
        re.escape(version) + rb'",(?P<runtime>-?\d+),"(?P<date>[^"]*)",0,"","' +
        re.escape(setup_version) + rb'","n/a","n/a"')


class UdpReceiver:
    def __init__(self, family=socket.AF_INET):
        self.socket = socket.socket(family, socket.SOCK_DGRAM)
        self.socket.bind(("::1" if family == socket.AF_INET6 else "127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]

    def receive(self, timeout=10):
        """One datagram, or None when none arrives in time."""
        self.socket.settimeout(timeout)
        try:
            return self.socket.recv(65536)
        except socket.timeout:
            return None

    def close(self):
        self.socket.close()


class TcpReceiver:
    """A listening socket; the kernel accepts a connection and keeps its bytes until
    receive() takes them, so the sending run may end first."""

    def __init__(self):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.socket.bind(("127.0.0.1", 0))
        self.socket.listen(4)
        self.port = self.socket.getsockname()[1]

    def receive(self, timeout=10):
        self.socket.settimeout(timeout)
        try:
            connection, _ = self.socket.accept()
        except socket.timeout:
            return None
        with connection:
            connection.settimeout(timeout)
            chunks = []
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    return b"".join(chunks)
                chunks.append(chunk)

    def close(self):
        self.socket.close()


def free_port(kind):
    """A loopback port that was free a moment ago, for a peer that binds it itself."""
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]
