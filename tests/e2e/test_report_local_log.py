"""The local log: twelve-line blocks appended to QORA.LOG in the SystemRoot folder."""

import os
import shutil
import subprocess
import unittest

from harness import IS_WINDOWS, RUN_TIMEOUT, SandboxTest, binary, under_wine
from report_support import LINE_END, block_fields, local_log_path, split_lines


class LocalLog(SandboxTest):
    def setUp(self):
        super().setUp()
        self.log_path = local_log_path(self.sandbox)
        # The Windows build logs into the Wine prefix, which all tests share.
        self.remove_log()
        self.addCleanup(self.remove_log)

    def remove_log(self):
        if os.path.isdir(self.log_path):
            shutil.rmtree(self.log_path)
        elif os.path.exists(self.log_path):
            os.remove(self.log_path)

    def read_log(self):
        with open(self.log_path, "rb") as log:
            return log.read()

    def test_block_holds_the_run_values_at_their_labels(self):
        result = self.run_qoramark("HKCU", "Big App, v2", "2.1.0.de", "-v", "7", "-l")
        self.assertEqual(result.exit_code, 0)
        date, values = block_fields(split_lines(self.read_log()))
        mac, ip, app, version, run_count, run_date, setup_date, setup_version, unw, uwn = values
        self.assertEqual(app, b"Big App, v2")
        self.assertEqual(version, b"2.1.0.de")
        self.assertRegex(run_count, rb"^\d+$")
        self.assertRegex(run_date, rb"^-?\d+ \(" + date.replace(b".", b"\\.") + rb"\)$")
        self.assertEqual(setup_date, b"0 ()")
        self.assertEqual(setup_version, b"7")

    def test_without_v_the_setup_version_line_ends_in_its_label_blank(self):
        self.run_qoramark("HKCU", "App", "1.0", "-l")
        lines = split_lines(self.read_log())
        date, values = block_fields(lines)
        self.assertEqual(values[7], b"")
        self.assertTrue(lines[8].endswith(b": setupversion: "))

    def test_each_run_appends_a_block_below_the_earlier_ones(self):
        self.run_qoramark("HKCU", "First", "1.0", "-l")
        first = self.read_log()
        self.run_qoramark("HKCU", "Second", "2.0", "-l")
        data = self.read_log()
        self.assertTrue(data.startswith(first))
        lines = split_lines(data)
        self.assertEqual(len(lines), 24)
        self.assertEqual(block_fields(lines[:12])[1][2], b"First")
        self.assertEqual(block_fields(lines[12:])[1][2], b"Second")

    def test_a_run_without_l_leaves_the_log_untouched(self):
        earlier = b"an earlier line" + LINE_END
        with open(self.log_path, "wb") as log:
            log.write(earlier)
        os.utime(self.log_path, (1_000_000_000, 1_000_000_000))
        result = self.run_qoramark("HKCU", "App", "1.0", "-v", "7", "-r", "-c")
        self.assertEqual(result.exit_code, 0)
        self.assertEqual(self.read_log(), earlier)
        self.assertEqual(os.stat(self.log_path).st_mtime, 1_000_000_000)

    @unittest.skipIf(IS_WINDOWS, "Wine emulates append-only writes by seeking to the end of the "
                     "file first, so writes of simultaneous processes can overwrite each other "
                     "there; Windows itself appends atomically")
    def test_blocks_of_simultaneous_runs_interleave_only_by_whole_lines(self):
        runs = 4
        environment = self.sandbox.environment()
        command = under_wine([binary(), "HKCU", "App", "1.0", "-v", "7", "-l"])
        processes = [
            subprocess.Popen(command, env=environment, cwd=self.sandbox.root,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
            for _ in range(runs)
        ]
        exit_codes = [process.wait(timeout=RUN_TIMEOUT) for process in processes]
        self.assertEqual(exit_codes, [0] * runs)
        lines = split_lines(self.read_log())
        self.assertEqual(len(lines), 12 * runs)
        # Every line is whole: it is one of the twelve lines a block of this command holds.
        for index, label in enumerate((b": application:  App", b": appversion:   1.0",
                                       b": setupversion: 7", b": setupdate:    0 ()")):
            with self.subTest(label=label):
                self.assertEqual(sum(line.endswith(label) for line in lines), runs)
        self.assertEqual(sum(line.endswith(b"-" * 40) for line in lines), 2 * runs)

    def test_a_log_that_cannot_be_opened_gets_nothing_and_leaves_the_exit_code(self):
        baseline = self.run_qoramark("HKCU", "App", "1.0").exit_code
        cases = {"the log path is a folder": self.make_log_path_a_folder}
        if not IS_WINDOWS:
            cases["SystemRoot names a missing folder"] = self.point_system_root_to_missing_folder
            if os.geteuid() != 0:
                cases["SystemRoot names a read-only folder"] = self.make_system_root_read_only
            # As root, the read-only folder is the case below that drops to nobody.
        for name, arrange in cases.items():
            with self.subTest(case=name):
                env = arrange()
                before = self.sandbox.files()
                result = self.run_qoramark("HKCU", "App", "1.0", "-l", env=env)
                self.assertEqual(result.exit_code, baseline)
                self.assertEqual(self.sandbox.files(), before)
                if os.path.isdir(self.log_path):
                    self.assertEqual(os.listdir(self.log_path), [])
                self.remove_log()

    @unittest.skipUnless(not IS_WINDOWS and os.geteuid() == 0 and shutil.which("setpriv"),
                         "needs root to drop to nobody with setpriv")
    def test_a_system_root_the_user_cannot_write_gets_nothing(self):
        os.chmod(self.sandbox.root, 0o755)
        os.chmod(self.sandbox.system_root, 0o755)

        def run_as_nobody(*options):
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups",
                       binary(), "HKCU", "App", "1.0", *options]
            return subprocess.run(command, env=self.sandbox.environment(), cwd="/",
                                   stdin=subprocess.DEVNULL, capture_output=True,
                                   timeout=RUN_TIMEOUT).returncode

        baseline = run_as_nobody()
        self.assertEqual(run_as_nobody("-l"), baseline)
        self.assertEqual(os.listdir(self.sandbox.system_root), [])

    def make_log_path_a_folder(self):
        os.makedirs(self.log_path)
        return None

    def point_system_root_to_missing_folder(self):
        return {"SystemRoot": os.path.join(self.sandbox.root, "no", "such", "folder")}

    def make_system_root_read_only(self):
        folder = os.path.join(self.sandbox.root, "read-only")
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o555)
        return {"SystemRoot": folder}


if __name__ == "__main__":
    unittest.main()
