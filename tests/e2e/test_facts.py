"""Time stamps and account names as the version key stores them, read back
through the registry export of each build."""

import calendar
import os
import pwd
import shutil
import subprocess
import time
import unittest
import uuid

from harness import (IS_WINDOWS, SandboxTest, binary, export_registry, make_file_folder,
                     program_path)
from report_support import block_fields, local_log_path, split_lines

# A fixed offset without daylight saving (UTC+1), read alike by the C library
# of both builds, so the expected texts do not depend on the day of the test.
FIXED_ZONE = "CET-1"
ZONE_OFFSET = 3600


def parse_reg_text(text):
    """{key path: {value name: str or int}} from the text of a .reg export."""
    keys = {}
    values = None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            values = keys.setdefault(line[1:-1].lower(), {})
        elif values is not None and line.startswith('"'):
            name, data = split_value_line(line)
            values[name] = data
    return keys


def split_value_line(line):
    end = 1
    while line[end] != '"':
        end += 2 if line[end] == "\\" else 1
    name = unescape(line[1:end])
    data = line[end + 2:]
    if data.startswith("dword:"):
        return name, int(data[len("dword:"):], 16)
    if data.startswith('"') and data.endswith('"'):
        return name, unescape(data[1:-1])
    return name, data


def unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out)


def running_account_name():
    """The account that runs the test. Wine gives its processes this USERNAME
    whatever the environment brings; the POSIX build takes it from the account
    database when USERNAME is unset."""
    return pwd.getpwuid(os.getuid()).pw_name


def unused_uid():
    """A user id that the account database does not know."""
    uid = 54321
    while True:
        try:
            pwd.getpwuid(uid)
        except KeyError:
            return uid
        uid += 1


class StoredFacts(SandboxTest):
    def setUp(self):
        super().setUp()
        self.app = "Facts" + uuid.uuid4().hex[:12]
        self.version = "1.0"
        self.file_folder = make_file_folder(self)

    def program_path(self, name):
        return program_path(self.file_folder, name)

    def file_written_at(self, moment, name="setup.exe"):
        path = os.path.join(self.file_folder, name)
        with open(path, "wb") as setup:
            setup.write(b"setup")
        os.utime(path, (moment, moment))
        return path

    def record(self, *options, env=None):
        extra = {"TZ": FIXED_ZONE}
        extra.update(env or {})
        result = self.run_qoramark("HKCU", self.app, self.version, *options, env=extra)
        self.assertEqual(result.exit_code, 0, result.stderr)

    def version_key(self):
        """The values of this test's version key."""
        key = "\\".join(("HKEY_CURRENT_USER", "Software", "QORA", "Installed", self.app,
                          self.version))
        text = export_registry(self.sandbox, [key])
        keys = parse_reg_text(text)
        self.assertIn(key.lower(), keys, text)
        return keys[key.lower()]

    def assert_setup_date(self, values, setup_date, text):
        self.assertEqual(values.get("SetupDate"), setup_date & 0xFFFFFFFF)
        self.assertEqual(values.get("SetupDateString"), text)

    def test_setup_file_dates(self):
        cases = [
            # 2003-02-01 08:05:03 UTC, 09:05:03 local.
            (1044086703, "01.02.2003 09:05:03", 1044086703),
            # 1965 and 2040 have no 32-bit count but a text all the same.
            (calendar.timegm((1965, 6, 1, 11, 0, 0)), "01.06.1965 12:00:00", -1),
            (calendar.timegm((2040, 3, 1, 11, 0, 0)), "01.03.2040 12:00:00", -1),
            (calendar.timegm((2011, 11, 30, 13, 15, 0)), "30.11.2011 14:15:00", 1322658900),
        ]
        for moment, text, setup_date in cases:
            with self.subTest(text=text):
                self.file_written_at(moment)
                self.record("-s", self.program_path("setup.exe"))
                self.assert_setup_date(self.version_key(), setup_date, text)

    def test_setup_files_that_cannot_be_opened_store_zero_and_an_empty_text(self):
        os.makedirs(os.path.join(self.file_folder, "folder"))
        self.file_written_at(1044086703)
        for name in ("missing.exe", "folder"):
            with self.subTest(name=name):
                # A readable file first, so that each case overwrites real values.
                self.record("-s", self.program_path("setup.exe"))
                self.record("-s", self.program_path(name))
                self.assert_setup_date(self.version_key(), 0, "")

    @unittest.skipIf(IS_WINDOWS, "under Wine the test's user reads every file")
    def test_setup_file_without_read_permission_stores_zero_and_an_empty_text(self):
        unreadable = self.file_written_at(1044086703, "unreadable.exe")
        os.chmod(unreadable, 0)
        command = [binary(), "HKCU", self.app, self.version, "-s", unreadable]
        if os.geteuid() == 0:
            # Root reads every file: run as an unprivileged user, who needs to
            # reach the file and to write the store.
            for folder in (self.sandbox.root, self.file_folder):
                os.chmod(folder, 0o755)
            os.chmod(self.sandbox.registry_dir, 0o777)
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        completed = subprocess.run(command, env=self.sandbox.environment({"TZ": FIXED_ZONE}),
                                   cwd=self.sandbox.root, capture_output=True, timeout=60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        self.assert_setup_date(self.version_key(), 0, "")

    def test_run_date_is_the_moment_of_the_run_in_local_time(self):
        before = int(time.time())
        self.record("-r")
        after = int(time.time())
        values = self.version_key()
        run_date = values.get("RunDate")
        self.assertIsInstance(run_date, int)
        self.assertTrue(before <= run_date <= after, (before, run_date, after))
        local = time.gmtime(run_date + ZONE_OFFSET)
        self.assertEqual(values.get("RunDateString"), time.strftime("%d.%m.%Y %H:%M:%S", local))
        self.assertNotIn("SetupDate", values)

    def test_account_names(self):
        running = running_account_name()
        cases = [
            ({"USERNAME": "jdoe", "NWUSERNAME": "user7", "LOGINCONTEXT": "dept.main"},
             "jdoe", ".user7.dept.main"),
            ({"NWUSERNAME": "user7"}, running, ""),
            ({"NWUSERNAME": "", "LOGINCONTEXT": ""}, running, ".."),
            ({"username": "lower", "LoginContext": "c", "NwUserName": "u"}, "lower", ".u.c"),
        ]
        for env, sam_name, nds_name in cases:
            with self.subTest(env=env):
                self.record("-u", "-n", env=env)
                values = self.version_key()
                self.assertEqual(values.get("UNW"), nds_name)
                self.assertEqual(values.get("UWN"), running if IS_WINDOWS else sam_name)

    @unittest.skipIf(IS_WINDOWS, "Wine sets USERNAME in every process")
    @unittest.skipUnless(os.geteuid() == 0, "running as other accounts needs root")
    def test_without_username_the_account_database_names_the_user(self):
        # The sandbox must be reachable and its store writable for the other accounts.
        os.chmod(self.sandbox.root, 0o755)
        os.chmod(self.sandbox.registry_dir, 0o777)
        for account, sam_name in (("nobody", "nobody"), (str(unused_uid()), "")):
            with self.subTest(account=account):
                # Each account starts a store of its own, which only it may open.
                for name in os.listdir(self.sandbox.registry_dir):
                    os.remove(os.path.join(self.sandbox.registry_dir, name))
                command = ["setpriv", "--reuid=" + account, "--regid=nogroup", "--clear-groups",
                           binary(), "HKCU", self.app, self.version, "-u"]
                completed = subprocess.run(command, env=self.sandbox.environment(),
                                           cwd=self.sandbox.root, capture_output=True,
                                           timeout=60)
                self.assertEqual(completed.returncode, 0, completed.stderr)
                self.assertEqual(self.version_key().get("UWN"), sam_name)


def namespace_support():
    """Why interfaces of a test's own cannot be made here, or None when they can."""
    if IS_WINDOWS:
        return "the Windows build asks GetAdaptersInfo, not the interfaces of a namespace"
    if os.geteuid() != 0:
        return "a network namespace of the test's own needs root"
    for tool in ("unshare", "ip"):
        if shutil.which(tool) is None:
            return tool + " is not installed"
    probe = subprocess.run(["unshare", "-n", "ip", "tuntap", "add", "tap0", "mode", "tap"],
                           capture_output=True, timeout=30)
    if probe.returncode != 0:
        return "no tap devices in a new network namespace: " + probe.stderr.decode(errors="replace")
    return None


@unittest.skipIf(namespace_support(), namespace_support())
class FirstAdapter(SandboxTest):
    """The adapter the log block shows, among interfaces the test makes in a
    network namespace of its own (whose loopback interface comes first)."""

    def log_block_in_namespace(self, setup):
        script = "set -e\n" + setup + '\nexec "$@"\n'
        completed = subprocess.run(
            ["unshare", "-n", "sh", "-c", script, "sh", binary(), "HKCU", "App", "1.0", "-l"],
            env=self.sandbox.environment(), cwd=self.sandbox.root, capture_output=True,
            timeout=60)
        self.assertEqual(completed.returncode, 0, completed.stderr)
        with open(local_log_path(self.sandbox), "rb") as log:
            _, values = block_fields(split_lines(log.read()))
        return values[0], values[1]

    def test_the_first_interface_that_is_up_with_its_labelled_address(self):
        mac, ip = self.log_block_in_namespace("""
            ip link add br0 type bridge
            ip tuntap add tap0 mode tap
            ip link set tap0 address 02:aa:bb:cc:dd:0e
            ip link set tap0 up
            ip addr add 10.9.8.7/24 dev tap0 label tap0:1
            ip addr add 10.9.8.8/24 dev tap0 label tap0:2
            ip addr add 10.9.8.9/24 dev tap0 label tap0:3
        """)
        self.assertEqual((mac, ip), (b"02:AA:BB:CC:DD:0E", b"10.9.8.7"))

    def test_an_interface_that_is_up_without_an_address_shows_zeros(self):
        mac, ip = self.log_block_in_namespace("""
            ip link add br0 type bridge
            ip link add veth0 address 02:00:00:00:00:0a type veth peer name veth1
            ip link set veth0 up
        """)
        self.assertEqual((mac, ip), (b"02:00:00:00:00:0A", b"0.0.0.0"))

    def test_four_interfaces_that_are_up_do_not_fit(self):
        setup = "".join("ip tuntap add tap{0} mode tap\nip link set tap{0} up\n".format(n)
                        for n in range(4))
        self.assertEqual(self.log_block_in_namespace(setup), (b"", b""))

    def test_only_loopback_and_interfaces_that_are_down_give_empty_texts(self):
        self.assertEqual(self.log_block_in_namespace("""
            ip link set lo up
            ip link add br0 type bridge
            ip tuntap add tap0 mode tap
            ip addr add 10.9.8.7/24 dev tap0
        """), (b"", b""))


if __name__ == "__main__":
    unittest.main()
