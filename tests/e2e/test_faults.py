"""Runs under load, killed runs, full disks, unusable stores and environments,
unreachable syslog hosts and odd input: each case has one outcome, and nothing
stored before is lost."""

import os
import random
import shutil
import signal
import sqlite3
import subprocess
import time
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import (IS_WINDOWS, RUN_TIMEOUT, SandboxTest, binary, check_no_sanitizer_report,
                     export_registry)
from report_support import (LABELS, SEPARATOR, UdpReceiver, block_fields, local_log_path,
                            split_lines)

POSIX_STORE = "the SQLite store belongs to the POSIX build"
IS_ROOT = hasattr(os, "geteuid") and os.geteuid() == 0
CAN_DROP_PRIVILEGES = IS_ROOT and shutil.which("setpriv") is not None

# clsyslog gives up on a TCP host after this many seconds.
SYSLOG_BOUND = 5
# What a run may take beyond that: starting a process under Wine is slow.
SLACK = 30 if IS_WINDOWS else 5


def can_mount_private_tmpfs():
    if not IS_ROOT or shutil.which("unshare") is None:
        return False
    probe = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c",
                            "mount -t tmpfs -o size=16k none /mnt"],
                           capture_output=True, timeout=30)
    return probe.returncode == 0


CAN_MOUNT = not IS_WINDOWS and can_mount_private_tmpfs()


def store_values(path):
    """(key path, value name) -> (type, bytes) for every value in a store, names as bytes."""
    with sqlite3.connect(path) as db:
        db.text_factory = bytes
        keys = {key_id: (parent, name) for key_id, parent, name in
                db.execute("SELECT id, parent, name FROM registry_keys")}
        values = db.execute("SELECT key, name, type, data FROM registry_values").fetchall()
    db.close()

    def key_path(key_id):
        parent, name = keys[key_id]
        return name if parent is None or parent == 1 else key_path(parent) + b"\\" + name

    return {(key_path(key), name): (value_type, bytes(data))
            for key, name, value_type, data in values}


def integrity(path):
    with sqlite3.connect(path) as db:
        result = db.execute("PRAGMA integrity_check").fetchall()
    db.close()
    return result


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def as_nobody(command):
    return ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command


def run_command(sandbox, command, env=None, timeout=60):
    completed = subprocess.run(command, env=sandbox.environment(env), cwd="/",
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    check_no_sanitizer_report(completed.stderr)
    return completed


@unittest.skipIf(IS_WINDOWS, POSIX_STORE)
class Load(SandboxTest):
    RUNS = 64

    def test_simultaneous_runs_all_succeed_and_log_whole_blocks(self):
        with ThreadPoolExecutor(max_workers=self.RUNS) as pool:
            results = list(pool.map(
                lambda _: self.run_qoramark("HKCU", "Loaded", "1.0", "-c", "-r", "-l"),
                range(self.RUNS)))
        self.assertEqual([r.exit_code for r in results], [0] * self.RUNS)
        self.assertEqual([r.stderr for r in results], [b""] * self.RUNS)
        store = os.path.join(self.sandbox.registry_dir, "HKCU.db")
        self.assertEqual(integrity(store), [("ok",)])
        values = store_values(store)
        self.assertEqual(values[(b"Software\\QORA\\Installed\\Loaded", b"currentversion")],
                         (1, b"1.0\0"))
        self.assertEqual(values[(b"Software\\QORA\\Installed\\Loaded\\1.0", b"RunCount")][0], 4)

        lines = split_lines(file_bytes(local_log_path(self.sandbox)))
        self.assertEqual(len(lines), 12 * self.RUNS)
        separators = [line for line in lines if line.endswith(SEPARATOR)]
        self.assertEqual(len(separators), 2 * self.RUNS)
        for label in LABELS:
            labelled = [line for line in lines if label in line]
            self.assertEqual(len(labelled), self.RUNS, label)
        # Each run's lines, picked out by its date and in file order, form its block.
        for line in lines:
            self.assertTrue(any(label in line for label in LABELS) or line.endswith(SEPARATOR),
                            line)


@unittest.skipIf(IS_WINDOWS, POSIX_STORE)
class KilledRuns(SandboxTest):
    ROUNDS = 40

    def test_store_stays_whole_and_keeps_what_finished_runs_wrote(self):
        store = os.path.join(self.sandbox.registry_dir, "HKCU.db")
        env = self.sandbox.environment()
        started = time.monotonic()
        self.assertEqual(self.run_qoramark("HKCU", "Killed", "base", "-c").exit_code, 0)
        run_time = time.monotonic() - started
        chance = random.Random(20240611)
        finished = []
        for round_number in range(self.ROUNDS):
            version = "v%d" % round_number
            process = subprocess.Popen(
                [binary(), "HKCU", "Killed", version, "-c", "-r", "-v", version],
                env=env, cwd=self.sandbox.root, stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            time.sleep(chance.uniform(0, run_time))
            process.send_signal(signal.SIGKILL)
            _, stderr = process.communicate(timeout=60)
            check_no_sanitizer_report(stderr)
            if process.returncode == 0:
                finished.append(version)
            else:
                self.assertEqual(process.returncode, -signal.SIGKILL)

        self.assertEqual(integrity(store), [("ok",)])
        values = store_values(store)
        for version in finished:
            key = b"Software\\QORA\\Installed\\Killed\\" + version.encode()
            self.assertEqual(values[(key, b"SetupVersion")], (1, version.encode() + b"\0"))
            self.assertEqual(values[(key, b"RunCount")][0], 4)
            self.assertEqual(values[(key, b"RunDate")][0], 4)
        self.assertEqual(values[(b"Software\\QORA\\Installed\\Killed\\base", b"RunCount")],
                         (4, b"\0\0\0\0"))
        # The store still takes runs and reads back afterwards.
        self.assertEqual(self.run_qoramark("HKCU", "Killed", "after", "-c").exit_code, 0)
        self.assertIn("[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Killed\\after]",
                      export_registry(self.sandbox))


def strace_can_kill():
    if IS_WINDOWS or shutil.which("strace") is None:
        return False
    probe = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "trace=getpid",
                            "-e", "inject=getpid:signal=KILL", "sh", "-c", "echo $$"],
                           capture_output=True, timeout=30)
    return probe.returncode == -signal.SIGKILL


CAN_KILL_AT_WRITES = strace_can_kill()


@unittest.skipIf(IS_WINDOWS, POSIX_STORE)
class KilledRunsLeaveWholeKeys(SandboxTest):
    """Every run writes the same version key with values that name the run; after
    a run killed at any moment, the key holds every value of one single run."""
    KEY = b"Software\\QORA\\Installed\\Whole\\1.0"
    RANDOM_ROUNDS = 40
    MOST_WRITES = 500

    def setUp(self):
        super().setUp()
        self.store = os.path.join(self.sandbox.registry_dir, "HKCU.db")
        self.assertEqual(run_command(self.sandbox, self.command(), self.env("0")).returncode, 0)
        self.assert_key_whole()

    @staticmethod
    def command():
        return [binary(), "HKCU", "Whole", "1.0", "-v", "from-run", "-u", "-n", "-r", "-c"]

    @staticmethod
    def env(mark):
        return {"USERNAME": "u" + mark, "NWUSERNAME": "n" + mark, "LOGINCONTEXT": "c" + mark}

    def assert_key_whole(self):
        self.assertEqual(integrity(self.store), [("ok",)])
        values = store_values(self.store)
        names = [b"SetupVersion", b"RunCount", b"RunDate", b"RunDateString", b"UWN", b"UNW"]
        missing = [name for name in names if (self.KEY, name) not in values]
        self.assertEqual(missing, [])
        uwn = values[(self.KEY, b"UWN")][1]
        unw = values[(self.KEY, b"UNW")][1]
        mark = uwn[1:-1]
        self.assertEqual(unw, b".n" + mark + b".c" + mark + b"\0", (uwn, unw))

    @unittest.skipUnless(CAN_KILL_AT_WRITES, "needs strace allowed to trace and kill")
    def test_killed_at_each_write_of_the_store(self):
        for write in range(1, self.MOST_WRITES):
            command = ["strace", "-f", "-o", "/dev/null", "-e", "trace=pwrite64,write",
                       "-e", "inject=pwrite64,write:signal=KILL:when=%d" % write] + self.command()
            env = self.env(str(write))
            # The leak checker of the sanitizer build cannot run under a tracer.
            env["ASAN_OPTIONS"] = "detect_leaks=0"
            completed = run_command(self.sandbox, command, env)
            self.assert_key_whole()
            if completed.returncode == 0:
                break
            self.assertEqual(completed.returncode, -signal.SIGKILL, completed.stderr)
        else:
            self.fail("a run made more than %d writes" % self.MOST_WRITES)
        self.assertEqual(store_values(self.store)[(self.KEY, b"UWN")][1],
                         b"u%d\0" % write, "the run that was not killed wrote the key")

    def test_killed_at_random_moments(self):
        started = time.monotonic()
        run_command(self.sandbox, self.command(), self.env("timed"))
        run_time = time.monotonic() - started
        chance = random.Random(20261211)
        for round_number in range(self.RANDOM_ROUNDS):
            process = subprocess.Popen(
                self.command(), env=self.sandbox.environment(self.env("r%d" % round_number)),
                cwd="/", stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.PIPE)
            time.sleep(chance.uniform(0, run_time))
            process.send_signal(signal.SIGKILL)
            _, stderr = process.communicate(timeout=60)
            check_no_sanitizer_report(stderr)
            self.assert_key_whole()


@unittest.skipIf(IS_WINDOWS, "the log's place is set up through the POSIX build's SystemRoot")
class FullDisk(SandboxTest):
    def assert_run_ignores_the_log(self, env=None):
        result = self.run_qoramark("HKCU", "Full", "1.0", "-c", "-l", env=env)
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(result.stderr, b"")
        exported = export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed\\Full\\1.0"])
        self.assertIn('"RunCount"=dword:00000000', exported)

    def test_log_on_dev_full(self):
        os.symlink("/dev/full", os.path.join(self.sandbox.system_root, "QORA.LOG"))
        self.assert_run_ignores_the_log()

    @unittest.skipUnless(CAN_MOUNT, "needs root and a private mount namespace for a tmpfs")
    def test_log_on_a_filled_filesystem_gets_no_partial_line(self):
        script = ('mount -t tmpfs -o size=64k none "$SystemRoot" && '
                  'cat /dev/zero > "$SystemRoot/filler" 2>/dev/null; '
                  '"$@"; code=$?; cat "$SystemRoot/QORA.LOG" 2>/dev/null; exit $code')
        command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                   binary(), "HKCU", "Full", "1.0", "-c", "-l"]
        completed = run_command(self.sandbox, command)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assertEqual(completed.stderr, b"")
        self.assertEqual(completed.stdout, b"", "a full filesystem takes no line")


@unittest.skipIf(IS_WINDOWS, POSIX_STORE)
class UnusableStore(SandboxTest):
    ARGS = ["HKCU", "App", "1.0", "-c", "-r", "-v", "2"]

    def store(self):
        return os.path.join(self.sandbox.registry_dir, "HKCU.db")

    def make_store(self):
        self.assertEqual(self.run_qoramark("HKCU", "App", "1.0", "-c", "-v", "1").exit_code, 0)
        with sqlite3.connect(self.store()) as db:
            db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
        db.close()

    @unittest.skipUnless(CAN_DROP_PRIVILEGES, "needs root to drop to nobody with setpriv")
    def test_unwritable_folder_or_file_gives_access_denied_and_changes_nothing(self):
        os.chmod(self.sandbox.root, 0o755)
        self.make_store()
        cases = [
            ("folder without a store", lambda: os.remove(self.store()), 0o755, 0o600),
            ("store readable, not writable", lambda: None, 0o755, 0o644),
            ("store not readable", lambda: None, 0o755, 0o600),
            ("folder closed", lambda: None, 0o700, 0o644),
        ]
        for label, prepare, folder_mode, file_mode in cases:
            with self.subTest(label):
                if not os.path.exists(self.store()):
                    self.make_store()
                prepare()
                os.chmod(self.sandbox.registry_dir, folder_mode)
                if os.path.exists(self.store()):
                    os.chmod(self.store(), file_mode)
                before = sorted(os.listdir(self.sandbox.registry_dir))
                content = file_bytes(self.store()) if os.path.exists(self.store()) else None
                completed = run_command(self.sandbox, as_nobody([binary()] + self.ARGS))
                self.assertEqual(completed.returncode, 5, completed.stderr)
                self.assertEqual(completed.stderr, b"")
                self.assertEqual(sorted(os.listdir(self.sandbox.registry_dir)), before)
                if content is not None:
                    self.assertEqual(file_bytes(self.store()), content)
                os.chmod(self.sandbox.registry_dir, 0o755)

    @unittest.skipUnless(CAN_MOUNT, "needs root and a private mount namespace for a tmpfs")
    def test_store_on_a_full_filesystem_fails_the_run_and_keeps_no_part_of_the_key(self):
        # The first run lays down the store; the second finds no room to commit.
        script = ('mount -t tmpfs -o size=256k none "$QORAMARK_REGISTRY_DIR" && '
                  '"$@" HKCU App 1.0 -v 1 && '
                  'cat /dev/zero > "$QORAMARK_REGISTRY_DIR/filler" 2>/dev/null; '
                  '"$@" HKCU Full 2.0 -c -u -v 2; code=$?; rm "$QORAMARK_REGISTRY_DIR/filler"; '
                  'cp "$QORAMARK_REGISTRY_DIR"/HKCU.db* "$COPY_TO"; exit $code')
        copy = os.path.join(self.sandbox.root, "copy")
        os.mkdir(copy)
        command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                   binary()]
        completed = run_command(self.sandbox, command, env={"COPY_TO": copy})
        self.assertNotIn(completed.returncode, (0, -signal.SIGKILL), completed.stderr)
        self.assertEqual(completed.stderr, b"")
        values = store_values(os.path.join(copy, "HKCU.db"))
        self.assertEqual(values[(b"Software\\QORA\\Installed\\App\\1.0", b"SetupVersion")],
                         (1, b"1\0"))
        self.assertEqual([key for key in values if b"Full" in key[0]], [])

    def test_damaged_store_gives_bad_db_and_is_left_as_it_is(self):
        self.make_store()
        whole = file_bytes(self.store())
        page = 4096
        self.assertGreaterEqual(len(whole), 3 * page)
        damages = {
            "header overwritten": b"\xa5" * 100 + whole[100:],
            "table pages overwritten": whole[:page] + b"\x5a" * (len(whole) - page),
            "cut short": whole[:page + 10],
        }
        for label, content in damages.items():
            with self.subTest(label):
                for suffix in ("-wal", "-shm"):
                    if os.path.exists(self.store() + suffix):
                        os.remove(self.store() + suffix)
                with open(self.store(), "wb") as f:
                    f.write(content)
                result = self.run_qoramark(*self.ARGS)
                self.assertEqual(result.exit_code, 1009 % 256)
                self.assertEqual(result.stderr, b"")
                self.assertEqual(file_bytes(self.store()), content)


@unittest.skipIf(IS_WINDOWS, "Wine sets SystemRoot for its processes itself")
class SystemRootVariants(SandboxTest):
    """The log goes where SystemRoot says, and nowhere when that cannot be written; the
    registry record is the same either way."""

    def assert_recorded(self, completed):
        self.assertEqual(completed.returncode, 0, completed.stderr)
        exported = export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed\\Root\\1.0"])
        self.assertIn('"RunCount"=dword:00000000', exported)

    def test_missing_folder_gets_no_log(self):
        missing = os.path.join(self.sandbox.root, "no-such-folder")
        result = self.run_qoramark("HKCU", "Root", "1.0", "-c", "-l", env={"SystemRoot": missing})
        self.assertEqual(result.stderr, b"")
        self.assert_recorded(result_as_completed(result))
        self.assertFalse(os.path.exists(missing))

    @unittest.skipUnless(CAN_DROP_PRIVILEGES, "needs root to drop to nobody with setpriv")
    def test_empty_names_the_file_system_root(self):
        # As on Windows, where an empty SystemRoot leaves the drive's root: a user who may
        # not write there gets no log and the same exit code.
        os.chmod(self.sandbox.root, 0o755)
        os.chmod(self.sandbox.registry_dir, 0o777)
        existed = os.path.exists("/QORA.LOG")
        completed = run_command(self.sandbox, as_nobody([binary(), "HKCU", "Root", "1.0", "-c", "-l"]),
                                env={"SystemRoot": ""})
        self.assertEqual(completed.stderr, b"")
        self.assert_recorded(completed)
        self.assertEqual(os.path.exists("/QORA.LOG"), existed)

    @unittest.skipUnless(CAN_MOUNT, "needs root and a private mount namespace for /var/log")
    def test_unset_logs_to_var_log(self):
        script = ('mount -t tmpfs -o size=1m none /var/log && "$@"; code=$?; '
                  'cat /var/log/QORA.LOG; exit $code')
        command = ["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                   binary(), "HKCU", "Root", "1.0", "-c", "-l"]
        completed = run_command(self.sandbox, command, env={"SystemRoot": None})
        self.assert_recorded(completed)
        _, values = block_fields(split_lines(completed.stdout))
        self.assertEqual(values[2], b"Root")


def result_as_completed(result):
    return subprocess.CompletedProcess([], result.exit_code, result.stdout, result.stderr)


class UnreachableSyslogHost(SandboxTest):
    """The library bounds each send; a run never waits longer and keeps the registry status."""

    def timed_run(self, *args):
        started = time.monotonic()
        result = self.run_qoramark(*args)
        return result, time.monotonic() - started

    def test_run_ends_within_the_bound_with_the_registry_status(self):
        _, baseline = self.timed_run("HKCU", "Syslog", "1.0", "-c")
        silent = SilentListener()
        self.addCleanup(silent.close)
        hosts = {
            # The empty label makes the resolver refuse the name before asking any
            # name server, so the test needs no network.
            "unresolvable": "no-such-host..invalid",
            "closed TCP port": "tcp://127.0.0.1:%d" % closed_tcp_port(),
            "listener that never answers": "tcp://127.0.0.1:%d" % silent.port,
            "5,000-character name": "h" * 5000,
        }
        for label, host in hosts.items():
            with self.subTest(label):
                result, elapsed = self.timed_run("HKCU", "Syslog", "1.0", "-c", "-L", host)
                self.assertEqual(result.exit_code, 0)
                self.assertLess(elapsed, baseline + SYSLOG_BOUND + SLACK)


class SilentListener:
    """A loopback TCP port that drops new connection requests: its accept queue
    is full and nothing accepts, so a client's connect waits for an answer that
    never comes, as with a host that does not answer."""

    def __init__(self):
        import socket
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(0)
        self.port = self.listener.getsockname()[1]
        self.fillers = []
        for _ in range(2):
            filler = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            filler.setblocking(False)
            filler.connect_ex(("127.0.0.1", self.port))
            self.fillers.append(filler)
        time.sleep(0.2)

    def close(self):
        for sock in self.fillers + [self.listener]:
            sock.close()


def closed_tcp_port():
    import socket
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@unittest.skipIf(IS_WINDOWS, "the Windows command line holds the program path within the same "
                 "limit; the odd names are read back through the POSIX store")
class OddInput(SandboxTest):
    def test_longest_command_line_is_recorded_whole(self):
        receiver = UdpReceiver()
        self.addCleanup(receiver.close)
        head = ["HKCU", "Long", "1.0", "-l", "-L", "127.0.0.1:%d" % receiver.port, "-v"]
        tail_length = len(" ".join(head)) + 1
        setup_version = ("0123456789abcdef" * 4096)[:32767 - tail_length]
        self.assertEqual(len(" ".join(head + [setup_version])), 32767)

        result = self.run_qoramark(*head, setup_version)
        self.assertEqual(result.exit_code, 0)
        values = store_values(os.path.join(self.sandbox.registry_dir, "HKCU.db"))
        self.assertEqual(values[(b"Software\\QORA\\Installed\\Long\\1.0", b"SetupVersion")],
                         (1, setup_version.encode() + b"\0"))
        _, fields = block_fields(split_lines(file_bytes(local_log_path(self.sandbox))))
        self.assertEqual(fields[7], setup_version.encode())
        message = receiver.receive()
        self.assertIsNotNone(message)
        record = message[message.index(b'"SWV"'):]
        self.assertEqual(len(record), 1023)

    def test_odd_names_are_recorded_byte_for_byte(self):
        # Arguments as the program receives them; names the registry splits at
        # backslashes are left to the registry tests.
        cases = [
            ("high bytes", b"\x80\xa0\xe4\xf6\xfc\xff", b"1.\xe9"),
            ("blanks", b"My  App ", b" 1 0"),
            ("quotes", b'say"hi"', b'1"0'),
            ("commas", b"a,b,,c", b"1,0"),
            ("line feeds", b"line\nfeed", b"\n1.0\n"),
        ]
        for label, app, version in cases:
            with self.subTest(label):
                setup_version = b"C:\\x\\" + app
                result = self.run_qoramark(os.fsencode("HKCU"), app, version, b"-c", b"-v",
                                           setup_version)
                self.assertEqual(result.exit_code, 0)
                values = store_values(os.path.join(self.sandbox.registry_dir, "HKCU.db"))
                app_key = b"Software\\QORA\\Installed\\" + app
                self.assertEqual(values[(app_key, b"currentversion")], (1, version + b"\0"))
                self.assertEqual(values[(app_key + b"\\" + version, b"SetupVersion")],
                                 (1, setup_version + b"\0"))
                exported = export_registry(self.sandbox).encode("latin-1")
                self.assertIn(b"\\" + app + b"\\" + version + b"]\n", exported)
                escaped = setup_version.replace(b"\\", b"\\\\").replace(b'"', b'\\"')
                self.assertIn(b'"SetupVersion"="' + escaped.replace(b"\n", b"\\n") + b'"\n',
                              exported)


if __name__ == "__main__":
    unittest.main()
