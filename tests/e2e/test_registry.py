"""The registry record of runs, read back through a registry export: the same
expected text for the POSIX store and for Wine's registry."""

import os
import re
import shutil
import sqlite3
import subprocess
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import IS_WINDOWS, SandboxTest, binary, export_registry

# The time stamps differ from run to run; their shape is all that is compared.
DATE_VALUES = re.compile(r'^("(?:Setup|Run)Date"=dword:)[0-9a-f]{8}$|^("(?:Setup|Run)DateString"=)".*"$',
                         re.MULTILINE)


def masked(text):
    return DATE_VALUES.sub(lambda m: (m.group(1) or m.group(2)) + "<date>", text)


V127 = "7" * 127  # currentversion of 128 bytes with its zero byte: read back
V128 = "8" * 128  # 129 bytes: too long to be read back

RUNS = [
    ["HKCU", "App", "1.0", "-c", "-v", "7"],
    ["HKCU", "App", "1.0", "-c", "-r"],
    ["HKCU", "App", "2.0\\de", "-c"],
    ["HKCU", "App", "2.0\\de", "-c"],
    ["HKLM", "Other", "1.2.1.EN", "-r"],
    ["HKLM", "Other", "1.2.1.en", "-c"],
    ["HKCU", "Long", V127, "-c"],
    ["HKCU", "Long", V127, "-c"],
    ["HKCU", "Longer", V128, "-c"],
    ["HKCU", "Longer", V128, "-c"],
    ["HKCU", "", "", "-c"],
]

EXPECTED = f"""Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\QORA]

[HKEY_CURRENT_USER\\Software\\QORA\\Installed]

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\<unknown>]
"currentversion"="<unknown>"

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\<unknown>\\<unknown>]
"RunCount"=dword:00000000
"SetupVersion"=""

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App]
"currentversion"="2.0\\\\de"

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\1.0]
"RunCount"=dword:00000001
"RunDate"=dword:<date>
"RunDateString"=<date>
"SetupVersion"=""

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\2.0]

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\2.0\\de]
"RunCount"=dword:00000001
"SetupVersion"=""

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Long]
"currentversion"="{V127}"

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Long\\{V127}]
"RunCount"=dword:00000001
"SetupVersion"=""

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Longer]
"currentversion"="{V128}"

[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Longer\\{V128}]
"RunCount"=dword:00000000
"SetupVersion"=""

[HKEY_LOCAL_MACHINE\\Software\\QORA]

[HKEY_LOCAL_MACHINE\\Software\\QORA\\Installed]

[HKEY_LOCAL_MACHINE\\Software\\QORA\\Installed\\Other]
"currentversion"="1.2.1.en"

[HKEY_LOCAL_MACHINE\\Software\\QORA\\Installed\\Other\\1.2.1.EN]
"RunCount"=dword:00000000
"RunDate"=dword:<date>
"RunDateString"=<date>
"SetupVersion"=""
"""


class RegistryRecord(SandboxTest):
    def test_runs_leave_the_expected_keys_and_values(self):
        for args in RUNS:
            result = self.run_qoramark(*args)
            self.assertEqual(result.exit_code, 0, args)
        self.assertEqual(masked(export_registry(self.sandbox)), EXPECTED)

    def test_later_run_keeps_values_it_does_not_write(self):
        self.assertEqual(self.run_qoramark("HKCU", "App", "1.0", "-r", "-v", "3").exit_code, 0)
        self.assertEqual(self.run_qoramark("HKCU", "App", "1.0").exit_code, 0)
        exported = export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed\\App\\1.0"])
        self.assertEqual(masked(exported),
                         "Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\1.0]\n"
                         '"RunDate"=dword:<date>\n'
                         '"RunDateString"=<date>\n'
                         '"SetupVersion"=""\n')

    def test_odd_key_paths_give_the_registrys_statuses(self):
        # A sub-key path of more than 260 characters is refused with
        # ERROR_MORE_DATA, as Wine's narrow registry calls answer; doubled and
        # trailing backslashes name the same key as single ones.
        prefix = len("Software\\QORA\\Installed\\")
        cases = [
            (["HKCU", "A" * (260 - prefix - 4), "1.0"], 0),
            (["HKCU", "B" * (261 - prefix - 4), "1.0"], 234),
            (["HKCU", "C" * 255, "1.0"], 234),
            (["HKCU", "App", "1.0\\", "-v", "first"], 0),
            (["HKCU", "App\\", "1.0", "-c"], 0),
        ]
        for args, status in cases:
            with self.subTest(args=args):
                self.assertEqual(self.run_qoramark(*args).exit_code, status)
        exported = export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed\\App"])
        self.assertEqual(exported,
                         "Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App]\n"
                         '"currentversion"="1.0"\n\n'
                         "[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\1.0]\n"
                         '"RunCount"=dword:00000000\n'
                         '"SetupVersion"=""\n')


@unittest.skipIf(IS_WINDOWS, "the SQLite store belongs to the POSIX build")
class PosixStore(SandboxTest):
    def store(self, name="HKCU.db"):
        return os.path.join(self.sandbox.registry_dir, name)

    def test_concurrent_runs_of_one_version_all_succeed(self):
        runs = 32
        with ThreadPoolExecutor(max_workers=runs) as pool:
            results = list(pool.map(lambda _: self.run_qoramark("HKCU", "App", "3.1", "-c", "-r"),
                                    range(runs)))
        self.assertEqual([r.exit_code for r in results], [0] * runs)
        self.assertEqual([r.stderr for r in results], [b""] * runs)
        with sqlite3.connect(self.store()) as db:
            self.assertEqual(db.execute("PRAGMA integrity_check").fetchall(), [("ok",)])
        exported = export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed\\App"])
        self.assertIn('"currentversion"="3.1"\n', exported)
        self.assertRegex(exported, r'"RunCount"=dword:000000[0-9a-f]{2}\n')

    def test_file_that_is_not_a_store_is_left_as_it_is(self):
        other = os.path.join(self.sandbox.root, "other.db")
        with sqlite3.connect(other) as db:
            db.execute("CREATE TABLE notes (text)")
            db.execute("INSERT INTO notes VALUES ('keep me')")
        db.close()
        with open(other, "rb") as f:
            other_bytes = f.read()
        for label, content in (("text file", b"registry? no\n" * 100), ("other database", other_bytes)):
            with self.subTest(label):
                with open(self.store(), "wb") as f:
                    f.write(content)
                result = self.run_qoramark("HKCU", "App", "1.0", "-c", "-r", "-v", "2")
                self.assertEqual(result.exit_code, 1009 % 256)
                with open(self.store(), "rb") as f:
                    self.assertEqual(f.read(), content)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "needs root to drop to nobody with setpriv")
    def test_local_machine_store_refuses_a_normal_user(self):
        os.chmod(self.sandbox.root, 0o755)
        os.chmod(self.sandbox.registry_dir, 0o755)
        self.assertEqual(self.run_qoramark("HKLM", "App", "1.0", "-c").exit_code, 0)
        store = self.store("HKLM.db")
        self.assertEqual(os.stat(store).st_mode & 0o777, 0o644)
        with open(store, "rb") as f:
            before = f.read()
        exported_before = export_registry(self.sandbox)

        # The run goes on to its later phases: the log block is still written.
        os.chmod(self.sandbox.system_root, 0o777)
        command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                   binary(), "HKLM", "App", "1.0", "-c", "-r", "-u", "-n", "-v", "9", "-l"]
        completed = subprocess.run(command, env=self.sandbox.environment(), cwd="/",
                                   stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

        self.assertEqual(completed.returncode, 5, completed.stderr)
        self.assertEqual(completed.stderr, b"")
        with open(store, "rb") as f:
            self.assertEqual(f.read(), before)
        self.assertEqual(export_registry(self.sandbox), exported_before)
        with open(os.path.join(self.sandbox.system_root, "QORA.LOG"), "rb") as log:
            lines = log.read().split(b"\n")
        self.assertEqual(len(lines), 13)
        self.assertTrue(lines[3].endswith(b": application:  App"), lines[3])
        self.assertTrue(lines[8].endswith(b": setupversion: 9"), lines[8])


if __name__ == "__main__":
    unittest.main()
