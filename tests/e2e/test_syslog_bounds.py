"""The syslog send in namespaces the test makes itself: a name server that never
answers may not hold a run longer than the library's bound, and the record
carries the machine's host name at full length."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from harness import (IS_WINDOWS, RUN_TIMEOUT, SandboxTest, binary, check_no_sanitizer_report,
                     under_wine)
from report_support import (SYSLOG_MESSAGE, UdpReceiver, block_fields, fresh_local_log,
                            split_lines)

IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0

# clsyslog ends one send, name look-up included, after this many seconds.
SYSLOG_BOUND = 5
# Without the bound, the resolver's own timeouts held a run 10 s, and 20 s with the three
# search domains these tests set up.
UNBOUNDED = 20
# What a run may take beyond the bound: starting a program under Wine is slow.
SLACK = 2.5

# Reads DNS queries over UDP and TCP on the loopback port 53 and never answers; notes the
# name each query asks for, one per line, so the test sees that the resolver really asked.
SILENT_NAME_SERVER = r"""
import select, socket, sys
udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
udp.bind(("127.0.0.1", 53))
tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
tcp.bind(("127.0.0.1", 53))
tcp.listen(16)
log = open(sys.argv[1], "a")

def query_name(message):
    labels, at = [], 12
    while at < len(message) and message[at]:
        labels.append(message[at + 1:at + 1 + message[at]].decode("ascii", "replace"))
        at += 1 + message[at]
    return ".".join(labels)

print("ready", flush=True)
open_connections = []
while True:
    readable, _, _ = select.select([udp, tcp] + open_connections, [], [])
    for sock in readable:
        if sock is udp:
            log.write("udp " + query_name(udp.recv(4096)) + "\n")
        elif sock is tcp:
            open_connections.append(tcp.accept()[0])
        else:
            data = sock.recv(4096)
            if data:
                log.write("tcp " + query_name(data[2:]) + "\n")
            else:
                open_connections.remove(sock)
                sock.close()
    log.flush()
"""

# Runs in the new namespaces: the loopback interface up, resolv.conf replaced for this
# namespace only, then the name server in place of the shell.
NAMESPACE_SETUP = ('ip link set lo up && mount --bind "$1" /etc/resolv.conf && '
                   'exec "$2" -c "$3" "$4"')


def namespace_skip_reason():
    """Why the namespace tests cannot run here, or None when they can."""
    if not IS_ROOT:
        return "needs root for private network, mount and UTS namespaces"
    for tool in ("unshare", "nsenter", "ip", "hostname"):
        if shutil.which(tool) is None:
            return tool + " is not installed (Debian packages util-linux, iproute2, hostname)"
    probe = subprocess.run(["unshare", "--net", "--mount", "--uts", "true"],
                           capture_output=True, timeout=30)
    if probe.returncode != 0:
        return "this system refuses new namespaces: " + probe.stderr.decode(errors="replace")
    return None


SKIP_REASON = namespace_skip_reason()


class SilentNameServer:
    """A private network and mount namespace, held by a name server that reads queries and
    never answers. Its resolv.conf names that server and three search domains."""

    SEARCH_DOMAINS = ("one.example", "two.example", "three.example")

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="qoramark-silent-dns-")
        self.query_log = os.path.join(self.folder, "queries")
        resolv = os.path.join(self.folder, "resolv.conf")
        with open(resolv, "w") as f:
            f.write("nameserver 127.0.0.1\nsearch %s\n" % " ".join(self.SEARCH_DOMAINS))
        self.process = subprocess.Popen(
            ["unshare", "--net", "--mount", "--propagation", "private", "sh", "-c",
             NAMESPACE_SETUP, "sh", resolv, sys.executable, SILENT_NAME_SERVER, self.query_log],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if self.process.stdout.readline() != b"ready\n":
            error = self.process.stderr.read().decode(errors="replace")
            self.stop()
            raise RuntimeError("the silent name server did not start: " + error)

    def inside(self, command):
        """The command, run in the server's namespaces."""
        return ["nsenter", "--target", str(self.process.pid), "--net", "--mount", "--"] + command

    def queried_names(self):
        with open(self.query_log) as f:
            return {line.split()[1] for line in f if len(line.split()) == 2}

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class NamespaceTest(SandboxTest):
    def setUp(self):
        super().setUp()
        self.log_path = fresh_local_log(self)

    def run_command(self, command):
        started = time.monotonic()
        completed = subprocess.run(command, env=self.sandbox.environment(), cwd=self.sandbox.root,
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   timeout=RUN_TIMEOUT)
        elapsed = time.monotonic() - started
        check_no_sanitizer_report(completed.stderr)
        return completed, elapsed

    def logged_application(self):
        with open(self.log_path, "rb") as log:
            return block_fields(split_lines(log.read()))[1][2]


class WineKeptRunning:
    """A Wine program that waits on its input for as long as the tests run. Wine's server
    and its own services then stay up between runs, so a run's time shows the run and not
    Wine starting afresh, which takes seconds on a busy machine."""

    def __init__(self):
        self.process = subprocess.Popen(under_wine(["cmd", "/k"]), env=dict(os.environ),
                                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


@unittest.skipIf(SKIP_REASON is not None, SKIP_REASON)
class NameServerThatNeverAnswers(NamespaceTest):
    """Wine looks names up through the host's C library in the calling process, so the
    Windows build asks the namespace's name server just as the POSIX build does."""

    @classmethod
    def setUpClass(cls):
        cls.wine = WineKeptRunning() if IS_WINDOWS else None
        cls.name_server = SilentNameServer()

    @classmethod
    def tearDownClass(cls):
        cls.name_server.stop()
        if cls.wine:
            cls.wine.stop()

    def run_inside(self, *args):
        return self.run_command(self.name_server.inside(under_wine([binary()] + list(args))))

    def test_run_ends_within_the_bound_with_its_status_and_log_block(self):
        # The same run without a syslog host: what starting the program costs here. The
        # first run may also start Wine's services.
        baseline = min(self.run_inside("HKCU", "Bounded", "1.0", "-c")[1] for _ in range(2))
        limit = baseline + SYSLOG_BOUND + SLACK
        self.assertLess(limit, UNBOUNDED, "the check could not tell a bounded run")
        for host in ("syslog.example.com", "tcp://syslog.example.com"):
            with self.subTest(host=host):
                if os.path.exists(self.log_path):
                    os.remove(self.log_path)
                completed, elapsed = self.run_inside("HKCU", "Bounded", "1.0", "-l", "-c",
                                                     "-L", host)
                self.assertLess(elapsed, limit, "%s held the run %.1f s" % (host, elapsed))
                self.assertEqual(completed.returncode, 0, completed.stderr)
                self.assertEqual(self.logged_application(), b"Bounded")
        # The run really waited for this server, not on a name refused before asking.
        self.assertIn("syslog.example.com", self.name_server.queried_names())


HOST_NAME = "qoramark-host-" + "0123456789" * 5  # 64 characters, the longest Linux allows


@unittest.skipIf(SKIP_REASON is not None, SKIP_REASON)
class FullLengthHostName(NamespaceTest):
    def test_a_64_character_host_name_reaches_the_hostname_field(self):
        self.assertEqual(len(HOST_NAME), 64)
        receiver = UdpReceiver()
        self.addCleanup(receiver.close)
        command = ["unshare", "--uts", "sh", "-c", 'hostname "$1" && shift && exec "$@"', "sh",
                   HOST_NAME] + under_wine([binary(), "HKCU", "Named", "1.0",
                                            "-L", "127.0.0.1:%d" % receiver.port])
        completed, _ = self.run_command(command)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        message = receiver.receive()
        self.assertIsNotNone(message, "no message arrived")
        fields = SYSLOG_MESSAGE.fullmatch(message)
        self.assertIsNotNone(fields, message)
        self.assertEqual(fields["hostname"], HOST_NAME.encode())


if __name__ == "__main__":
    unittest.main()
