"""Usage path against run path, decided by the number of command-line entries."""

import unittest

from harness import IS_WINDOWS, SandboxTest, message_box_calls

USAGE_LINES = (
    b"usage: qoramark ROOTKEY APPNAME APPVER [options]\n"
    b"  ROOTKEY\tHKCU / HKEY_CURRENT_USER / HKLM / HKEY_LOCAL_MACHINE\n"
    b"  APPNAME\tapplications name, e.g. Mozilla\n"
    b"  APPVER\tapplication version, e.g. 1.2.1.en\n"
    b"  options:\n"
    b"  -l\t\tenable local logging to C:\\WINNT\\QORA.LOG (write access needed)\n"
    b"  -L hostname\tenable syslog logging to hostname\n"
    b"  -r\t\twrite rundate\n"
    b"  -s setupfile\twrite setupfile date\n"
    b"  -c\t\tupdate run count in registry\n"
    b"  -n\t\twrite nds account name of current user (.%NWUSERNAME%.%LOGINCONTEXT%)\n"
    b"  -u\t\twrite sam account name of current user (%USERNAME%)\n"
    b"  -v\t\twrite setupversion\n"
    b"\n"
)

FEWER_THAN_THREE_ENTRIES = [
    [],
    ["HKLM"],
    ["HKLM", "App"],
    ["-s", "a.exe", "-s", "b.exe"],  # an option with its value is one entry
    [""],  # one empty quoted word: one entry
]

THREE_OR_MORE_ENTRIES = [
    ["HKLM", "App", "1.0"],
    ["-l", "-r", "-c"],
    ["HKLM", "", "App", "1.0"],  # the empty word counts as an entry
]


class UsagePath(SandboxTest):
    def test_fewer_than_three_entries_show_usage_and_exit_zero(self):
        for args in FEWER_THAN_THREE_ENTRIES:
            with self.subTest(args=args):
                before = self.sandbox.files()
                trace = {"WINEDEBUG": "-all,+relay"} if IS_WINDOWS else None
                result = self.run_qoramark(*args, env=trace)
                self.assertEqual(result.exit_code, 0)
                self.assertEqual(self.sandbox.files(), before, "the usage path touches nothing")
                if IS_WINDOWS:
                    self.assert_usage_box(result.stderr)
                else:
                    self.assertEqual(result.stdout, b"")
                    self.assertTrue(result.stderr.startswith(b"qoramark usage\n" + USAGE_LINES),
                                    result.stderr)
                    attribution = result.stderr[len(b"qoramark usage\n" + USAGE_LINES):]
                    self.assertTrue(attribution.endswith(b"\n"))
                    self.assertEqual(attribution.count(b"\n"), 1)

    def assert_usage_box(self, trace):
        calls = message_box_calls(trace)
        self.assertEqual(len(calls), 1, trace[-2000:])
        owner, text, cut, caption, style = calls[0]
        self.assertEqual((owner, caption, style), (0, b"qoramark usage", 0))
        # Wine's trace shortens long texts: what it shows must be the usage text's start.
        if cut:
            self.assertGreater(len(text), 200)
            self.assertTrue(USAGE_LINES.startswith(text), text)
        else:
            self.assertTrue(text.startswith(USAGE_LINES), text)


class RunPath(SandboxTest):
    def test_three_or_more_entries_run_without_usage(self):
        for args in THREE_OR_MORE_ENTRIES:
            with self.subTest(args=args):
                trace = {"WINEDEBUG": "-all,+relay"} if IS_WINDOWS else None
                result = self.run_qoramark(*args, env=trace)
                if IS_WINDOWS:
                    self.assertEqual(message_box_calls(result.stderr), [])
                else:
                    self.assertEqual(result.stderr, b"")
                self.assertEqual(result.exit_code, 0)


if __name__ == "__main__":
    unittest.main()
