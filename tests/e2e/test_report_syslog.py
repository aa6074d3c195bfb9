"""The SWV record: sent through the syslog library beside the program, to receivers
of the test's own and to a real rsyslogd."""

import os
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from harness import BIN_DIR, IS_WINDOWS, SandboxTest, binary
from report_support import (SYSLOG_MESSAGE, TcpReceiver, UdpReceiver, block_fields, free_port,
                            fresh_local_log, split_lines, swv_record_pattern)

LIBRARY = "clsyslog.dll" if IS_WINDOWS else "libclsyslog.so.1"
LOCAL0_INFO = b"134"  # facility 16 * 8 + severity 6
# The build's stand-in library, which records its calls in the current folder.
STAND_IN = os.path.join(os.path.dirname(os.path.normpath(BIN_DIR)), "stand-in", LIBRARY)


class WithFreshLog(SandboxTest):
    """Each test starts without a local log (Wine's is shared by every case)."""

    def setUp(self):
        super().setUp()
        self.log_path = fresh_local_log(self)


class SyslogRecord(WithFreshLog):

    def receiver(self, kind):
        receiver = kind()
        self.addCleanup(receiver.close)
        return receiver

    def assert_swv_message(self, message, app, version, setup_version=b""):
        self.assertIsNotNone(message, "no message arrived")
        fields = SYSLOG_MESSAGE.fullmatch(message)
        self.assertIsNotNone(fields, message)
        self.assertEqual(fields["pri"], LOCAL0_INFO)
        self.assertEqual(fields["appname"], b"qoramark")
        record = swv_record_pattern(app, version, setup_version).fullmatch(fields["msg"])
        self.assertIsNotNone(record, fields["msg"])
        return record

    def test_record_goes_out_over_udp_with_the_logged_facts(self):
        receiver = self.receiver(UdpReceiver)
        result = self.run_qoramark("HKCU", "Big App, v2", "2.1", "-v", "7", "-l",
                                   "-L", "127.0.0.1:%d" % receiver.port)
        self.assertEqual(result.exit_code, 0)
        record = self.assert_swv_message(receiver.receive(), b"Big App, v2", b"2.1", b"7")
        with open(self.log_path, "rb") as log:
            date, values = block_fields(split_lines(log.read()))
        self.assertEqual(record["date"], date)
        self.assertEqual(record["mac"], values[0])
        self.assertEqual(record["ip"], values[1])
        self.assertEqual(record["runtime"] + b" (" + date + b")", values[5])

    def test_record_goes_out_over_tcp_in_an_octet_counted_frame(self):
        receiver = self.receiver(TcpReceiver)
        result = self.run_qoramark("HKCU", "App", "1.0", "-L", "tcp://127.0.0.1:%d" % receiver.port)
        self.assertEqual(result.exit_code, 0)
        frame = receiver.receive()
        self.assertIsNotNone(frame, "no connection arrived")
        length, _, message = frame.partition(b" ")
        self.assertEqual(int(length), len(message))
        self.assert_swv_message(message, b"App", b"1.0")

    def test_the_later_L_names_the_host(self):
        first = self.receiver(UdpReceiver)
        second = self.receiver(UdpReceiver)
        self.run_qoramark("HKCU", "App", "1.0", "-L", "127.0.0.1:%d" % first.port,
                          "-L", "127.0.0.1:%d" % second.port)
        self.assert_swv_message(second.receive(), b"App", b"1.0")
        self.assertIsNone(first.receive(timeout=1))

    def test_without_the_library_the_run_still_logs_and_keeps_its_exit_code(self):
        receiver = self.receiver(UdpReceiver)
        alone = os.path.join(self.sandbox.root, "alone")
        os.makedirs(alone)
        shutil.copy2(binary(), alone)
        self.assertFalse(os.path.exists(os.path.join(alone, LIBRARY)))
        baseline = self.run_qoramark("HKCU", "App", "1.0").exit_code
        # An absolute program path makes the harness run that copy.
        result = self.run_qoramark("HKCU", "App", "1.0", "-l", "-L",
                                   "127.0.0.1:%d" % receiver.port,
                                   program=os.path.join(alone, "qoramark"))
        self.assertEqual(result.exit_code, baseline)
        self.assertEqual(result.stderr if not IS_WINDOWS else b"", b"")
        with open(self.log_path, "rb") as log:
            self.assertEqual(block_fields(split_lines(log.read()))[1][2], b"App")
        self.assertIsNone(receiver.receive(timeout=1))


    def test_the_record_is_sent_when_the_version_key_cannot_be_created(self):
        receiver = self.receiver(UdpReceiver)
        # Too long for a sub-key path, while the application key can be made.
        version = "9" * 250
        result = self.run_qoramark("HKCU", "App", version, "-c", "-L",
                                   "127.0.0.1:%d" % receiver.port)
        self.assertEqual(result.exit_code, 234)
        self.assert_swv_message(receiver.receive(), b"App", version.encode())


def bindable_receivers(port):
    """A UDP and a TCP receiver on a port of loopback, or None where it is taken or
    needs privileges the test lacks."""
    receivers = []
    try:
        for kind in (socket.SOCK_DGRAM, socket.SOCK_STREAM):
            sock = socket.socket(socket.AF_INET, kind)
            receivers.append(sock)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind(("127.0.0.1", port))
            if kind == socket.SOCK_STREAM:
                sock.listen(4)
            sock.setblocking(False)
    except OSError:
        for sock in receivers:
            sock.close()
        return None
    return receivers


class LibraryCalls(WithFreshLog):
    """The calls a run makes into the syslog library, seen through the stand-in
    library beside a copy of the program."""

    def setUp(self):
        super().setUp()
        self.folder = os.path.join(self.sandbox.root, "with-stand-in")
        os.makedirs(self.folder)
        shutil.copy2(binary(), self.folder)
        shutil.copy2(STAND_IN, self.folder)

    def run_copy(self, *args, status=None):
        env = {"CLSYSLOG_STAND_IN_STATUS": status} if status is not None else None
        # An absolute program path makes the harness run that copy.
        return self.run_qoramark(*args, env=env, program=os.path.join(self.folder, "qoramark"))

    def calls(self):
        path = os.path.join(self.sandbox.root, "clsyslog-calls.txt")
        if not os.path.exists(path):
            return []
        with open(path, "rb") as calls:
            return calls.read().splitlines()

    def logged_application(self):
        with open(self.log_path, "rb") as log:
            return block_fields(split_lines(log.read()))[1][2]

    def test_a_sending_run_makes_the_three_calls_in_order(self):
        result = self.run_copy("HKCU", "App", "1.0", "-v", "7", "-L", "loghost:1514")
        self.assertEqual(result.exit_code, 0)
        calls = self.calls()
        self.assertEqual(len(calls), 3, calls)
        self.assertEqual(calls[0], b"SlInitialize")
        self.assertTrue(calls[1].startswith(b"SlSendMessageA 16 6 loghost:1514 "), calls[1])
        record = calls[1][len(b"SlSendMessageA 16 6 loghost:1514 "):]
        self.assertIsNotNone(swv_record_pattern(b"App", b"1.0", b"7").fullmatch(record), record)
        self.assertEqual(calls[2], b"SlUninitialize")

    def test_a_failed_initialisation_gets_no_send_and_no_uninitialisation(self):
        baseline = self.run_qoramark("HKCU", "App", "1.0", "-c").exit_code
        result = self.run_copy("HKCU", "App", "1.0", "-c", "-l", "-L", "loghost", status="1")
        self.assertEqual(result.exit_code, baseline)
        self.assertEqual(self.calls(), [b"SlInitialize"])
        self.assertEqual(self.logged_application(), b"App")

    def test_a_run_without_L_makes_no_call_and_sends_nothing(self):
        # A listener on the default syslog port as well, where that port can be had.
        receivers = bindable_receivers(514) or []
        for sock in receivers:
            self.addCleanup(sock.close)
        result = self.run_copy("HKCU", "App", "1.0", "-l", "-r", "-c", "-u", "-n", "-v", "7")
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(self.calls(), [])
        self.assertEqual(self.logged_application(), b"App")
        result = self.run_qoramark("HKCU", "App", "1.0", "-l", "-r", "-c", "-u", "-n")
        self.assertEqual(result.exit_code, 0)
        for sock in receivers:
            with self.subTest(kind=sock.type):
                with self.assertRaises(BlockingIOError):
                    sock.recv(1) if sock.type == socket.SOCK_DGRAM else sock.accept()


RSYSLOG_CONFIG = """\
global(workDirectory="{work}")
module(load="imudp")
module(load="imtcp")
input(type="imudp" address="127.0.0.1" port="{udp}")
input(type="imtcp" address="127.0.0.1" port="{tcp}")
template(name="received" type="string"
         string="%syslogfacility-text% %syslogseverity-text% %msg%\\n")
*.* action(type="omfile" file="{output}" template="received")
"""


@unittest.skipIf(IS_WINDOWS, "rsyslogd runs beside the POSIX build; the Windows build's "
                 "record is checked by the test's own receivers")
@unittest.skipIf(shutil.which("rsyslogd") is None and not os.path.exists("/usr/sbin/rsyslogd"),
                 "rsyslogd is not installed (Debian package rsyslog)")
class RsyslogPeer(SandboxTest):
    """A real rsyslogd in the foreground, with its own config, pid file and work folder."""

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="qoramark-rsyslog-")
        work = os.path.join(cls.folder, "work")
        os.makedirs(work)
        cls.output = os.path.join(cls.folder, "received.log")
        cls.udp_port = free_port(socket.SOCK_DGRAM)
        cls.tcp_port = free_port(socket.SOCK_STREAM)
        config = os.path.join(cls.folder, "rsyslog.conf")
        with open(config, "w") as f:
            f.write(RSYSLOG_CONFIG.format(work=work, udp=cls.udp_port, tcp=cls.tcp_port,
                                          output=cls.output))
        daemon = shutil.which("rsyslogd") or "/usr/sbin/rsyslogd"
        cls.daemon = subprocess.Popen(
            [daemon, "-n", "-f", config, "-i", os.path.join(cls.folder, "rsyslogd.pid")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        cls.wait_until_listening()

    @classmethod
    def wait_until_listening(cls):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if cls.daemon.poll() is not None:
                raise RuntimeError("rsyslogd ended: " + cls.daemon.stderr.read().decode())
            try:
                socket.create_connection(("127.0.0.1", cls.tcp_port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("rsyslogd did not start listening")

    @classmethod
    def tearDownClass(cls):
        cls.daemon.terminate()
        try:
            cls.daemon.wait(timeout=10)
        except subprocess.TimeoutExpired:
            cls.daemon.kill()
            cls.daemon.wait()
        cls.daemon.stderr.close()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def received_line_with(self, marker):
        """The line rsyslogd wrote for the message holding marker."""
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if os.path.exists(self.output):
                with open(self.output, "rb") as f:
                    for line in f.read().splitlines():
                        if marker in line:
                            return line
            time.sleep(0.1)
        self.fail("rsyslogd recorded nothing with " + repr(marker))

    def test_rsyslog_records_local0_info_and_exactly_the_record(self):
        for host in ("127.0.0.1:%d" % self.udp_port, "tcp://127.0.0.1:%d" % self.tcp_port):
            with self.subTest(host=host):
                app = "Peer, " + host.split(":")[0]
                result = self.run_qoramark("HKCU", app, "3.0", "-v", "7", "-L", host)
                self.assertEqual(result.exit_code, 0)
                line = self.received_line_with(b'"' + app.encode() + b'"')
                self.assertTrue(line.startswith(b"local0 info "), line)
                record = line[len(b"local0 info "):]
                self.assertIsNotNone(
                    swv_record_pattern(app.encode(), b"3.0", b"7").fullmatch(record), record)


if __name__ == "__main__":
    unittest.main()
