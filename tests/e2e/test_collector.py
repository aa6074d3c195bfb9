"""The collecting side: SWV records sent by the program reach PostgreSQL through
a real rsyslogd, both started by collector/run, and are parsed and answered
there as the schema says."""

import calendar
import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import uuid

from harness import (IS_WINDOWS, RUN_TIMEOUT, SandboxTest, binary, make_file_folder, program_path,
                     under_wine)
from report_support import block_fields, fresh_local_log, split_lines

REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RUN = os.path.join(REPOSITORY, "collector", "run")
ARRIVAL_BOUND = 60
SCHEMA_ONLY = "the schema's work does not depend on the build that sends"


class Collector:
    """A trial set-up of collector/run in a folder of its own."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="qoramark-collector-")
        started = subprocess.run([RUN, "start", self.folder], capture_output=True, text=True,
                                 timeout=900)
        if started.returncode != 0:
            shutil.rmtree(self.folder, ignore_errors=True)
            raise RuntimeError("collector/run start failed:\n" + started.stderr)
        self.lines = started.stdout.splitlines()
        endpoints = dict(line.split("=", 1) for line in self.lines)
        self.udp = endpoints["syslog_udp"]
        self.tcp = endpoints["syslog_tcp"]
        self.database = endpoints["database"]

    def stop(self):
        subprocess.run([RUN, "stop", self.folder], timeout=300)
        shutil.rmtree(self.folder, ignore_errors=True)

    def run(self, command):
        subprocess.run([RUN, command, self.folder], check=True, timeout=300,
                       stdout=subprocess.DEVNULL)

    def query(self, sql, *arguments):
        """Rows of a query (or of an INSERT's RETURNING) as lists of texts, None
        for NULL, "t"/"f" for booleans. Arguments are passed as psql variables
        :'a0', :'a1', ... so no quoting is needed. The rows travel as JSON, so
        any character survives."""
        command = ["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d", self.database]
        for index, argument in enumerate(arguments):
            command += ["-v", "a%d=%s" % (index, argument)]
        script = "WITH q AS (%s) SELECT coalesce(json_agg(q), '[]') FROM q;\n" % sql
        completed = subprocess.run(command, input=script.encode(), capture_output=True,
                                   check=True, timeout=60)
        return [[text_of(value) for value in row.values()]
                for row in json.loads(completed.stdout.decode())]

    def wait_for_rows(self, sql, expected, *arguments):
        """The rows of sql once there are expected of them."""
        deadline = time.monotonic() + ARRIVAL_BOUND
        while True:
            rows = self.query(sql, *arguments)
            if len(rows) >= expected or time.monotonic() > deadline:
                return rows
            time.sleep(0.1)


def text_of(value):
    if isinstance(value, bool):
        return "t" if value else "f"
    return None if value is None else str(value)


def address(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def syslog_message(msg, app_name=b"qoramark", procid=b"4242"):
    return b"<134>1 2026-12-11T11:45:04.962Z sender " + app_name + b" " + procid + b" - - " + msg


def send_frames_over_tcp(collector, messages, line_ended=False):
    with socket.create_connection(address(collector.tcp)) as connection:
        for message in messages:
            if line_ended:
                connection.sendall(message + b"\n")
            else:
                connection.sendall(b"%d %s" % (len(message), message))


def send_datagrams(collector, messages):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
        for message in messages:
            sender.sendto(message, address(collector.udp))


RECORD_COLUMNS = ("parsed, mac_address, ip_address, app_name, app_version, "
                  "extract(epoch FROM run_time)::bigint AS run_seconds, run_date_text, "
                  "extract(epoch FROM setup_time)::bigint AS setup_seconds, setup_date_text, "
                  "setup_version")


_collector = None


def setUpModule():
    # One set-up serves every case: each case tells its rows apart by names of its own.
    global _collector
    _collector = Collector()


def tearDownModule():
    _collector.stop()


class CollectorCase(SandboxTest):
    @property
    def collector(self):
        return _collector

    def rows_with_raw(self, raw, expected=1, columns=RECORD_COLUMNS):
        return self.collector.wait_for_rows(
            "SELECT %s FROM swv_records WHERE raw = decode(:'a0', 'hex') ORDER BY id" % columns,
            expected, raw.hex())


class ProgramRecordsArrive(CollectorCase):
    """What either build sends arrives with its columns, odd bytes included."""

    def setUp(self):
        super().setUp()
        self.log_path = fresh_local_log(self)
        self.file_folder = make_file_folder(self)

    def setup_file(self, moment):
        path = os.path.join(self.file_folder, "setup.exe")
        with open(path, "wb") as f:
            f.write(b"setup")
        os.utime(path, (moment, moment))
        return program_path(self.file_folder, "setup.exe")

    def run_with_names(self, arguments):
        """Runs the program with these words, names in the code page's bytes.
        The Windows build gets the exact command line through launch.exe, as
        Wine would otherwise escape quotes with backslashes, which the
        program's command line does not know; Wine turns the UTF-8 of the
        environment into the ANSI code page."""
        if not IS_WINDOWS:
            result = self.run_qoramark(*[a.encode("cp1252") for a in arguments],
                                       env={"TZ": "CET-1"})
            return result.exit_code
        words = ['"%s"' % a if a == "" or any(c.isspace() for c in a) else a for a in arguments]
        command_line = '"Z:%s" %s' % (binary().replace("/", "\\"), " ".join(words))
        completed = subprocess.run(
            under_wine([binary("launch")]),
            env=self.sandbox.environment({"LAUNCH_COMMAND_LINE": command_line, "TZ": "CET-1",
                                          "LANG": "C.UTF-8"}),
            cwd=self.sandbox.root, stdin=subprocess.DEVNULL, capture_output=True,
            timeout=RUN_TIMEOUT)
        return completed.returncode

    def logged_values(self):
        """The ten values of the log block the run wrote, as the program saw them."""
        with open(self.log_path, "rb") as log:
            values = block_fields(split_lines(log.read()))[1]
        os.remove(self.log_path)
        return values

    def test_records_arrive_with_their_columns(self):
        marker = uuid.uuid4().hex[:6]
        moment_2003 = 1044086703
        moment_1965 = calendar.timegm((1965, 6, 1, 11, 0, 0))
        cases = [
            # label, app name, version, setup version, setup moment, transport, parses
            ("plain", "Plain", "1.0", "7", moment_2003, "udp", True),
            ("commas", "Big App, v2", "2.1,3", ",", None, "tcp", True),
            ("quotes", 'say"hi"', '1"0', "7", moment_1965, "udp", True),
            ("code page bytes", "Gr\u00fc\u00dfe \u20ac", "\u00e9", "\u00ff", None, "tcp", True),
            ("backslash, apostrophe", "C:\\x'\\", "1'0", "\\", None, "udp", True),
            ("name holding a quoted comma", 'a","b', "1.0", "", None, "tcp", False),
            ("name long enough to cut the record", "L" * 1100, "1.0", "7", None, "udp", False),
        ]
        for label, app, version, setup_version, moment, transport, parses in cases:
            with self.subTest(label):
                app = app + marker
                host = self.collector.udp if transport == "udp" else "tcp://" + self.collector.tcp
                options = ["-v", setup_version, "-l", "-L", host]
                if moment is not None:
                    options += ["-s", self.setup_file(moment)]
                exit_code = self.run_with_names(["HKCU", app, version] + options)
                # The long name makes a key path the registry refuses (234).
                self.assertIn(exit_code, (0, 234) if not parses else (0,))
                mac, ip, name, version_bytes, _, run, setup, setup_version_bytes = \
                    self.logged_values()[:8]
                run_time, run_date = run.split(b" ", 1)
                setup_time, setup_date = setup.split(b" ", 1)
                run_date, setup_date = run_date[1:-1], setup_date[1:-1]
                record = b'"SWV","%s","%s","%s","%s",%s,"%s",%s,"%s","%s","n/a","n/a"' % (
                    mac, ip, name, version_bytes, run_time, run_date, setup_time, setup_date,
                    setup_version_bytes)
                if not parses:
                    record = record[:1023]
                rows = self.rows_with_raw(record, columns=RECORD_COLUMNS + (
                    ", host(sender_ip), syslog_host, procid,"
                    " abs(extract(epoch FROM now() - reported_at)) < 600 AS reported_now,"
                    " abs(extract(epoch FROM now() - received_at)) < 600 AS received_now"))
                self.assertEqual(len(rows), 1, "no row holds the record %r" % record)
                row = rows[0]
                if parses:
                    def moment_of(count):
                        return None if count in (b"0", b"-1") else count.decode()
                    self.assertEqual(row[:10], [
                        "t", mac.decode(), ip.decode(), name.decode("cp1252"),
                        version_bytes.decode("cp1252"), moment_of(run_time), run_date.decode(),
                        moment_of(setup_time), setup_date.decode(),
                        setup_version_bytes.decode("cp1252")])
                else:
                    self.assertEqual(row[:10], ["f", mac.decode(), ip.decode()] + [None] * 7)
                self.assertEqual(row[10], "127.0.0.1")
                self.assertTrue(row[11], row)
                self.assertTrue(row[12].isdigit(), row)
                self.assertEqual(row[13:], ["t", "t"])
                if label == "code page bytes":
                    self.assertIn(b"Gr\xfc\xdfe \x80", record)
                if label == "quotes":
                    self.assertEqual(row[7], None)  # 1965: the count is -1
                    self.assertEqual(row[8], "01.06.1965 12:00:00")

        # The name cut short leaves no trace in the view; the others appear once each.
        rows = self.collector.query(
            "SELECT app_name, runs FROM installed_versions WHERE app_name LIKE '%' || :'a0' "
            "ORDER BY app_name COLLATE \"C\"", marker)
        self.assertEqual(len(rows), 5, rows)
        self.assertTrue(all(runs == "1" for _, runs in rows), rows)

    def test_installed_versions_counts_runs_and_keeps_the_latest_setup(self):
        app = "Fleet" + uuid.uuid4().hex[:6]
        for version, setup_version in (("2.9", "a"), ("2.9", "b"), ("2.10", "c")):
            result = self.run_qoramark("HKCU", app, version, "-v", setup_version,
                                       "-L", "tcp://" + self.collector.tcp)
            self.assertEqual(result.exit_code, 0)
            # One record at a time, so the order of arrival is the order of runs.
            self.collector.wait_for_rows(
                "SELECT 1 FROM swv_records WHERE app_name = :'a0' AND setup_version = :'a1'",
                1, app, setup_version)
        rows = self.collector.query(
            "SELECT app_version, runs, setup_version, setup_time, first_seen <= last_seen AS ordered,"
            " last_run IS NOT NULL AS has_run FROM installed_versions WHERE app_name = :'a0'"
            " ORDER BY app_version", app)
        self.assertEqual(rows, [["2.10", "1", "c", None, "t", "t"],
                                ["2.9", "2", "b", None, "t", "t"]])
        # This machine now runs the newest version seen, so it is not outdated.
        self.assertEqual(self.collector.query(
            "SELECT 1 FROM outdated_installations WHERE app_name = :'a0'", app), [])


@unittest.skipIf(IS_WINDOWS, "the program's runs here come from the POSIX build; "
                 "three hundred runs under Wine take too long")
class DatabaseRestart(CollectorCase):
    def test_records_sent_while_the_database_restarts_all_arrive(self):
        app = "Restart" + uuid.uuid4().hex[:6]
        runs = 300
        failures = []

        def send_all():
            for number in range(runs):
                result = self.run_qoramark("HKCU", app, str(number),
                                           "-L", "tcp://" + self.collector.tcp)
                if result.exit_code != 0:
                    failures.append(number)

        sender = threading.Thread(target=send_all)
        sender.start()
        try:
            self.collector.wait_for_rows(
                "SELECT 1 FROM swv_records WHERE app_name = :'a0'", 30, app)
            self.collector.run("stop-database")
            stopped = time.time()
            time.sleep(2)
            started = time.time()
            self.collector.run("start-database")
        finally:
            sender.join()
        self.assertEqual(failures, [])
        rows = self.collector.wait_for_rows(
            "SELECT app_version, extract(epoch FROM received_at) AS received"
            " FROM swv_records WHERE app_name = :'a0'", runs, app)
        versions = sorted(int(row[0]) for row in rows)
        self.assertEqual(versions, list(range(runs)))
        # Some of them reached rsyslog while the database was down.
        self.assertTrue(any(stopped <= float(row[1]) <= started for row in rows))


@unittest.skipIf(IS_WINDOWS, SCHEMA_ONLY)
class CollectorRouting(CollectorCase):
    def test_start_prints_the_three_lines(self):
        self.assertEqual([line.split("=", 1)[0] for line in self.collector.lines],
                         ["syslog_udp", "syslog_tcp", "database"])
        self.assertTrue(self.collector.udp.startswith("127.0.0.1:"))
        self.assertTrue(self.collector.tcp.startswith("127.0.0.1:"))
        self.assertTrue(self.collector.database.startswith("postgresql://"))

    def test_every_byte_arrives_unchanged_over_each_framing(self):
        # All bytes but zero, line feed (which ends a line-ended frame) and
        # the quote, with SQL's and C's quoting characters among them.
        odd = bytes(b for b in range(1, 256) if b not in (0x0A, 0x22))
        for label, send in (("octet-counted", lambda m: send_frames_over_tcp(self.collector, m)),
                            ("line-ended", lambda m: send_frames_over_tcp(self.collector, m, True)),
                            ("datagram", lambda m: send_datagrams(self.collector, m))):
            with self.subTest(label):
                version = uuid.uuid4().hex[:8].encode()
                record = (b'"SWV","","","' + odd + b'","' + version +
                          b'",1700000000,"14.11.2023 23:13:20",0,"","","n/a","n/a"')
                send([syslog_message(record)])
                rows = self.rows_with_raw(record, columns="parsed, app_name, app_version")
                self.assertEqual(rows, [["t", expected_decoding(odd), version.decode()]])

    def test_only_swv_records_of_qoramark_are_stored(self):
        marker = uuid.uuid4().hex[:8].encode()
        record = b'"SWV","","","' + marker + b'","1",5,"",0,"","","n/a","n/a"'
        send_frames_over_tcp(self.collector, [
            syslog_message(record, app_name=b"otherapp"),
            syslog_message(b"note " + record),
            syslog_message(b'"SWX"' + record[5:]),
            syslog_message(record, procid=b"77"),
        ])
        rows = self.collector.wait_for_rows(
            "SELECT procid FROM swv_records WHERE position(:'a0'::bytea IN raw) > 0", 1,
            marker.decode())
        time.sleep(1)
        self.assertEqual(self.collector.query(
            "SELECT procid FROM swv_records WHERE position(:'a0'::bytea IN raw) > 0",
            marker.decode()), [["77"]])


def expected_decoding(data):
    """Windows-1252, with the five bytes it leaves undefined as the control
    characters of the same number (as Windows decodes them)."""
    return "".join(bytes([b]).decode("cp1252", errors="replace") if b not in
                   (0x81, 0x8D, 0x8F, 0x90, 0x9D) else chr(b) for b in data)


@unittest.skipIf(IS_WINDOWS, SCHEMA_ONLY)
class RecordParsing(CollectorCase):
    """The schema's parsing, on records inserted as rsyslog inserts them."""

    def insert(self, raw):
        """Inserts raw as a row and returns its record columns."""
        rows = self.collector.query(
            "INSERT INTO swv_records (sender_ip, syslog_host, reported_at, procid, raw)"
            " VALUES ('127.0.0.1', 'h', now(), '1', decode(:'a0', 'hex'))"
            " RETURNING " + RECORD_COLUMNS, raw.hex())
        return rows[0]

    def test_records_are_parsed_from_their_fixed_fields(self):
        mac, ip = b"02:1A:2B:3C:4D:5E", b"10.0.0.5"
        date = b"14.11.2023 23:13:20"

        def record(name=b"App", version=b"1.0", run=b"1700000000", run_date=date, setup=b"0",
                   setup_date=b"", setup_version=b"7", mac=mac, ip=ip):
            return b'"SWV","%s","%s","%s","%s",%s,"%s",%s,"%s","%s","n/a","n/a"' % (
                mac, ip, name, version, run, run_date, setup, setup_date, setup_version)

        def parsed(name="App", version="1.0", run="1700000000", run_date=date.decode(),
                   setup=None, setup_date="", setup_version="7", mac=mac.decode(),
                   ip=ip.decode()):
            return ["t", mac, ip, name, version, run, run_date, setup, setup_date, setup_version]

        unparsed = ["f", mac.decode(), ip.decode()] + [None] * 7
        cases = [
            ("plain record", record(), parsed()),
            ("no adapter, no setup file", record(mac=b"", ip=b""), parsed(mac="", ip="")),
            ("setup moment", record(setup=b"1044086703", setup_date=b"01.02.2003 09:05:03"),
             parsed(setup="1044086703", setup_date="01.02.2003 09:05:03")),
            ("moments outside the range", record(run=b"-1", setup=b"-1", setup_date=date),
             parsed(run=None, setup=None, setup_date=date.decode())),
            ("commas and quotes that do not form a separator",
             record(name=b'a,"b",x', version=b'1,"2', setup_version=b'",x'),
             parsed(name='a,"b",x', version='1,"2', setup_version='",x')),
            ("empty name and version", record(name=b"", version=b""), parsed(name="", version="")),
            ("setup version holding the closing fields",
             record(setup_version=b'7","n/a","n/a'), parsed(setup_version='7","n/a","n/a')),
            ("code page bytes", record(name=b"\x80\x81\xfc\xff"),
             parsed(name="\u20ac\u0081\u00fc\u00ff")),
            ("name holding a quoted comma", record(name=b'a","b'), unparsed),
            ("version holding a quoted comma", record(version=b'1","0'), unparsed),
            ("name holding a second set of fixed fields",
             record(name=b'x",5,"",0,"","y'), unparsed),
            ("setup version holding fixed fields",
             record(setup_version=b'",5,"",0,"","'), unparsed),
            ("record cut short", record(name=b"L" * 1100)[:1023], unparsed),
            ("count beyond 32 bits", record(run=b"4294967296"), unparsed),
            ("date text of another shape", record(run_date=b"2023-11-14 23:13:20"), unparsed),
            ("not a record", b"hello", [ "f"] + [None] * 9),
            ("zero byte", record(name=b"a\x00b"), ["f"] + [None] * 9),
        ]
        for label, raw, expected in cases:
            with self.subTest(label):
                self.assertEqual(self.insert(raw), expected)

    def test_the_account_rsyslog_uses_may_only_insert(self):
        rows = self.collector.query(
            "SELECT table_name, privilege_type FROM information_schema.role_table_grants"
            " WHERE grantee = 'qoramark_collector'")
        self.assertEqual(rows, [["swv_records", "INSERT"]])

    def test_outdated_installations_compare_versions_by_their_numbers(self):
        app = "Outdated" + uuid.uuid4().hex[:6]
        # Per machine, versions in the order the records arrive.
        machines = {
            "02:00:00:00:00:01": ["2.9", "2.9", "2.10"],  # updated: runs the newest
            "02:00:00:00:00:02": ["2.10", "2.9"],      # went back to an older one
            "02:00:00:00:00:03": ["2.9.1"],
            "02:00:00:00:00:04": ["1.0a", "2.10"],
            "02:00:00:00:00:05": ["02.010"],           # the same number as 2.10
        }
        for mac, versions in machines.items():
            for version in versions:
                raw = ('"SWV","%s","10.0.0.1","%s","%s",1700000000,"",0,"","","n/a","n/a"'
                       % (mac, app, version)).encode()
                self.assertEqual(self.insert(raw)[0], "t")
        rows = self.collector.query(
            "SELECT mac_address, current_version, newest_version FROM outdated_installations"
            " WHERE app_name = :'a0' ORDER BY mac_address", app)
        self.assertEqual(rows, [["02:00:00:00:00:02", "2.9", "2.10"],
                                ["02:00:00:00:00:03", "2.9.1", "2.10"]])
        self.assertEqual(self.collector.query(
            "SELECT count(*), sum(runs) FROM installed_versions WHERE app_name = :'a0'", app),
            [["8", "9"]])


if __name__ == "__main__":
    unittest.main()
