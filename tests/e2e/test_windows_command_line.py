"""The Windows build takes its command-line tail from the exact process command
line: the program name is cut off as documented, and the rest reaches the
tokenizer unchanged."""

import os
import shutil
import subprocess
import unittest

from harness import IS_WINDOWS, RUN_TIMEOUT, SandboxTest, binary, export_registry, under_wine


def windows_path(path):
    """A Unix path as Wine's Z: drive shows it."""
    return "Z:" + path.replace("/", "\\")


@unittest.skipUnless(IS_WINDOWS, "the process command line is a Windows notion")
class ProgramNameCut(SandboxTest):
    def setUp(self):
        super().setUp()
        folder = os.path.join(self.sandbox.root, "prog dir")
        os.makedirs(folder)
        shutil.copy(binary(), folder)
        self.quoted_name = '"' + windows_path(os.path.join(folder, "qoramark.exe")) + '"'
        self.plain_name = windows_path(binary())

    def launch(self, command_line):
        completed = subprocess.run(
            under_wine([binary("launch")]),
            env=self.sandbox.environment({"LAUNCH_COMMAND_LINE": command_line}),
            cwd=self.sandbox.root, stdin=subprocess.DEVNULL, capture_output=True,
            timeout=RUN_TIMEOUT)
        return completed.returncode

    def installed(self):
        return export_registry(self.sandbox, ["HKCU\\Software\\QORA\\Installed"])

    def test_name_and_following_blanks_are_cut_and_the_rest_is_kept(self):
        cases = [
            # The closing quote ends a quoted name even with no blank after it.
            (self.quoted_name + "HKCU Quoted 1.0", "Quoted\\1.0"),
            # An unquoted name ends at the first blank or control character.
            (self.plain_name + "\t \x01 HKCU Tabbed 2.0", "Tabbed\\2.0"),
            # Quotes in the tail reach the tokenizer unchanged.
            (self.quoted_name + '   -v "a b" HKCU Spaced 3.0', "Spaced\\3.0"),
        ]
        for command_line, key in cases:
            with self.subTest(command_line=command_line):
                self.assertEqual(self.launch(command_line), 0)
                self.assertIn("[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\" + key + "]",
                              self.installed())
        self.assertIn('"SetupVersion"="a b"', self.installed())
        self.assertNotIn("<unknown>", self.installed())


if __name__ == "__main__":
    unittest.main()
