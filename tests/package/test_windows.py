"""The Windows artifacts: the zip's contents, and the MSI installed, run, upgraded
and removed by msiexec under Wine in a fresh prefix.

From the environment (scripts/test-packages sets them):
  QORAMARK_WINE      the Wine loader (wine for a win32 prefix, wine64 for win64)
  WINEARCH           win32 or win64, for the fresh prefix
  QORAMARK_RUN_MSI   an MSI made from the same .wxs whose program can run under this
                     Wine; where 32-bit programs cannot run, the 64-bit twin's.
                     Unset: the shipped MSI itself.
"""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile

from package_support import (SOURCE_DIR, SYSLOG_MESSAGE, VERSION, UdpReceiver, artifact, run,
                             swv_record_pattern)

# Fixed for the life of the product: deployed machines find earlier versions by it.
UPGRADE_CODE = "{A1072C81-6027-480C-8EEF-1ACF0D9A2A9B}"
I386, AMD64 = 0x14C, 0x8664
PE32, PE32_PLUS = 0x10B, 0x20B
GUI, CONSOLE = 2, 3
DLL_FLAG = 0x2000

ZIP_FOLDER = "qoramark-%s-win32/" % VERSION
ZIP_FILES = ("qoramark.exe", "clsyslog.dll", "clsyslog.h", "clsyslog.lib", "README.txt",
             "record-logon.cmd")

WINE = os.environ.get("QORAMARK_WINE", "wine")
WINEARCH = os.environ.get("WINEARCH", "win32")


def pe_header(data):
    """(machine, optional-header magic, subsystem, is a DLL) of a PE image."""
    offset = struct.unpack_from("<I", data, 0x3C)[0]
    if data[offset:offset + 4] != b"PE\0\0":
        raise AssertionError("not a PE image")
    machine, _, _, _, _, _, characteristics = struct.unpack_from("<HHIIIHH", data, offset + 4)
    optional = offset + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    return machine, magic, subsystem, bool(characteristics & DLL_FLAG)


def zip_path():
    return artifact("qoramark-*-win32.zip")


def msi_path():
    return artifact("qoramark-*-win32.msi")


def zip_member(name):
    with zipfile.ZipFile(zip_path()) as archive:
        return archive.read(ZIP_FOLDER + name)


class ZipContents(unittest.TestCase):
    def test_one_folder_with_the_six_files(self):
        with zipfile.ZipFile(zip_path()) as archive:
            names = sorted(n for n in archive.namelist() if not n.endswith("/"))
        self.assertEqual(names, sorted(ZIP_FOLDER + n for n in ZIP_FILES))

    def test_program_and_library_are_32_bit(self):
        cases = (("qoramark.exe", (I386, PE32, GUI, False)),
                 ("clsyslog.dll", (I386, PE32, CONSOLE, True)))
        for name, expected in cases:
            with self.subTest(name=name):
                self.assertEqual(pe_header(zip_member(name)), expected)

    def test_texts_have_crlf_line_ends(self):
        for name in ("README.txt", "record-logon.cmd"):
            with self.subTest(name=name):
                text = zip_member(name)
                self.assertTrue(text.endswith(b"\r\n"))
                self.assertNotRegex(text, rb"[^\r]\n|\r[^\n]")
                text.decode("ascii")
        self.assertIn(("qoramark %s for Windows" % VERSION).encode(), zip_member("README.txt"))

    def test_header_is_the_librarys(self):
        with open(os.path.join(SOURCE_DIR, "clsyslog", "clsyslog.h"), "rb") as header:
            self.assertEqual(zip_member("clsyslog.h"), header.read())

    @unittest.skipUnless(shutil.which("i686-w64-mingw32-gcc"), "needs the 32-bit mingw-w64 compiler")
    def test_a_client_links_with_the_header_and_import_library(self):
        with tempfile.TemporaryDirectory() as work:
            for name in ("clsyslog.h", "clsyslog.lib"):
                with open(os.path.join(work, name), "wb") as out:
                    out.write(zip_member(name))
            source = os.path.join(work, "client.c")
            with open(source, "w") as out:
                out.write('#include "clsyslog.h"\n'
                          'int main(void) {\n'
                          '    int status = SlInitialize();\n'
                          '    if (status == 0) status = SlSendMessageA("loghost", 16, 6, "hi");\n'
                          '    SlUninitialize();\n'
                          '    return status;\n'
                          '}\n')
            client = os.path.join(work, "client.exe")
            run(["i686-w64-mingw32-gcc", "-Wall", "-Werror", source, "-L", work, "-lclsyslog",
                 "-o", client])
            dump = run(["i686-w64-mingw32-objdump", "-p", client]).stdout.decode()
        imports = dump.split("DLL Name: clsyslog.dll", 1)[1].split("DLL Name:", 1)[0]
        self.assertEqual(sorted(re.findall(r"\b(Sl\w+)", imports)),
                         ["SlInitialize", "SlSendMessageA", "SlUninitialize"])


def msi_table(path, table):
    """The rows of an MSI table, as lists of columns, without the three header lines."""
    lines = run(["msiinfo", "export", path, table]).stdout.decode().splitlines()
    return [line.split("\t") for line in lines[3:]]


class MsiTables(unittest.TestCase):
    def test_per_machine_package_with_the_fixed_upgrade_code(self):
        properties = dict(row[:2] for row in msi_table(msi_path(), "Property"))
        self.assertEqual(properties["ALLUSERS"], "1")
        self.assertEqual(properties["UpgradeCode"], UPGRADE_CODE)
        self.assertEqual(properties["ProductVersion"], VERSION)
        self.assertEqual(properties["ProductName"], "qoramark")
        summary = run(["msiinfo", "suminfo", msi_path()]).stdout.decode()
        self.assertIn("Template: Intel;1033", summary)

    def test_two_files_in_one_folder_under_program_files(self):
        directories = {row[0]: row[1:] for row in msi_table(msi_path(), "Directory")}
        self.assertEqual(directories["INSTALLDIR"], ["ProgramFilesFolder", "qoramark"])
        files = sorted(row[2] for row in msi_table(msi_path(), "File"))
        self.assertEqual(files, ["clsyslog.dll", "qoramark.exe"])

    def test_installs_the_zips_program_and_library(self):
        with tempfile.TemporaryDirectory() as work:
            run(["msiextract", "-C", work, msi_path()])
            for name in ("qoramark.exe", "clsyslog.dll"):
                with open(os.path.join(work, "Program Files", "qoramark", name), "rb") as f:
                    self.assertEqual(f.read(), zip_member(name), name)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WinePrefix:
    """A fresh Wine prefix of its own, removed with its wineserver at the end."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="qoramark-msi-")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                    "HOME": self.folder, "WINEPREFIX": os.path.join(self.folder, "prefix"),
                    "WINEARCH": WINEARCH, "WINEDEBUG": "-all", "TZ": "UTC"}
        self.wine(["wineboot", "-i"])

    def wine(self, command, check=True, env=None, cwd=None):
        return run([WINE] + command, check=check, env=dict(self.env, **(env or {})),
                   cwd=cwd or self.folder, timeout=600)

    def drive_c(self, *parts):
        return os.path.join(self.env["WINEPREFIX"], "drive_c", *parts)

    def program_folder(self, msi):
        """Where the MSI puts qoramark: Program Files, or Program Files (x86) for a 32-bit
        package on 64-bit Windows."""
        directories = {row[0]: row[1:] for row in msi_table(msi, "Directory")}
        on_64_bit = WINEARCH == "win64" and directories["INSTALLDIR"][0] == "ProgramFilesFolder"
        return "Program Files (x86)" if on_64_bit else "Program Files"

    def installed_versions(self):
        """DisplayVersion of each installed product named qoramark, 32- and 64-bit views."""
        versions = []
        for view in ("Software", "Software\\Wow6432Node"):
            key = "HKLM\\%s\\Microsoft\\Windows\\CurrentVersion\\Uninstall" % view
            listing = self.wine(["reg", "query", key, "/s"], check=False).stdout.decode("latin-1")
            for block in re.split(r"\r?\n(?=HKEY_)", listing):
                if re.search(r"DisplayName\s+REG_SZ\s+qoramark\s*$", block, re.M):
                    versions.append(re.search(r"DisplayVersion\s+REG_SZ\s+(\S+)", block).group(1))
        return versions

    def registry_values(self, key):
        listing = self.wine(["reg", "query", key], check=False).stdout.decode("latin-1")
        return dict(re.findall(r"^[ \t]+(\S+)[ \t]+REG_\w+[ \t]*(.*?)[ \t\r]*$", listing, re.M))

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True)
        shutil.rmtree(self.folder, ignore_errors=True)


class MsiUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix()
        cls.work = tempfile.mkdtemp(prefix="qoramark-msi-work-")

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def msiexec(self, action, msi):
        return self.prefix.wine(["msiexec", action, windows_path(msi), "/qn"], check=False)

    def newer_msi(self):
        """The shipped MSI's files in a package of the next version, from the same .wxs."""
        major, minor, patch = (int(p) for p in VERSION.split("."))
        newer = "%d.%d.%d" % (major, minor, patch + 1)
        stage = os.path.join(self.work, "stage")
        run(["msiextract", "-C", stage, msi_path()])
        output = os.path.join(self.work, "qoramark-%s-win32.msi" % newer)
        run([os.path.join(SOURCE_DIR, "scripts", "build-msi"),
             os.path.join(stage, "Program Files", "qoramark"), "x86", newer, output])
        return newer, output

    def test_install_upgrade_and_uninstall_of_the_shipped_package(self):
        folder = self.prefix.drive_c(self.prefix.program_folder(msi_path()), "qoramark")
        self.assertEqual(self.msiexec("/i", msi_path()).returncode, 0)
        self.assertEqual(sorted(os.listdir(folder)), ["clsyslog.dll", "qoramark.exe"])
        for name in ("qoramark.exe", "clsyslog.dll"):
            with open(os.path.join(folder, name), "rb") as installed:
                self.assertEqual(installed.read(), zip_member(name), name)
        self.assertEqual(self.prefix.installed_versions(), [VERSION])

        newer, newer_msi = self.newer_msi()
        self.assertEqual(self.msiexec("/i", newer_msi).returncode, 0)
        self.assertEqual(self.prefix.installed_versions(), [newer])
        self.assertEqual(sorted(os.listdir(folder)), ["clsyslog.dll", "qoramark.exe"])
        # The earlier version does not go back over the later one.
        self.assertNotEqual(self.msiexec("/i", msi_path()).returncode, 0)
        self.assertEqual(self.prefix.installed_versions(), [newer])

        self.assertEqual(self.msiexec("/x", newer_msi).returncode, 0)
        self.assertFalse(os.path.exists(folder))
        self.assertEqual(self.prefix.installed_versions(), [])

    def run_msi(self):
        return os.environ.get("QORAMARK_RUN_MSI") or msi_path()

    def receiver(self):
        receiver = UdpReceiver()
        self.addCleanup(receiver.close)
        return receiver

    def assert_record(self, receiver, app, version, setup_version=b""):
        message = receiver.receive(timeout=30)
        fields = SYSLOG_MESSAGE.fullmatch(message or b"")
        self.assertIsNotNone(fields, message)
        self.assertIsNotNone(swv_record_pattern(app, version, setup_version).fullmatch(
            fields["msg"]), fields["msg"])

    def test_installed_program_records_and_uninstalls(self):
        msi = self.run_msi()
        folder_name = self.prefix.program_folder(msi)
        folder = self.prefix.drive_c(folder_name, "qoramark")
        self.assertEqual(self.msiexec("/i", msi).returncode, 0)
        receiver = self.receiver()
        program = "C:\\%s\\qoramark\\qoramark.exe" % folder_name
        completed = self.prefix.wine([program, "HKLM", "Editor", "2.1.0.de", "-v", "7", "-r",
                                      "-c", "-u", "-L", "127.0.0.1:%d" % receiver.port],
                                     check=False)
        self.assertEqual(completed.returncode, 0)
        key = "HKLM\\Software\\QORA\\Installed\\Editor"
        self.assertEqual(self.prefix.registry_values(key)["currentversion"], "2.1.0.de")
        values = self.prefix.registry_values(key + "\\2.1.0.de")
        self.assertEqual(values["SetupVersion"], "7")
        self.assertEqual(values["RunCount"], "0x0")
        self.assertRegex(values["RunDateString"], r"^\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d$")
        self.assertIn("UWN", values)
        # The record went out through the clsyslog.dll installed beside the program.
        self.assert_record(receiver, b"Editor", b"2.1.0.de", b"7")

        self.assertEqual(self.msiexec("/x", msi).returncode, 0)
        self.assertFalse(os.path.exists(folder))

    def test_logon_script_records_this_user(self):
        """The zip's record-logon.cmd, beside the program as on a share, and alone with the
        program installed by the MSI."""
        msi = self.run_msi()
        binaries = os.path.join(self.work, "run-msi")
        run(["msiextract", "-C", binaries, msi])
        # msiextract names the 32-bit program folder only; a 64-bit one comes out bare.
        program = next(os.path.join(folder, "qoramark.exe")
                       for folder, _, names in os.walk(binaries) if "qoramark.exe" in names)
        share = os.path.join(self.work, "share")
        shutil.copytree(os.path.dirname(program), share)
        alone = os.path.join(self.work, "alone")
        os.makedirs(alone)
        for folder in (share, alone):
            with open(os.path.join(folder, "record-logon.cmd"), "wb") as script:
                script.write(zip_member("record-logon.cmd"))
        self.assertEqual(self.msiexec("/i", msi).returncode, 0)
        self.addCleanup(self.msiexec, "/x", msi)

        for folder, app in ((share, "FromShare"), (alone, "FromInstall")):
            with self.subTest(folder=os.path.basename(folder)):
                receiver = self.receiver()
                completed = self.prefix.wine(
                    ["cmd", "/c", windows_path(os.path.join(folder, "record-logon.cmd"))],
                    env={"APPNAME": app, "LOGHOST": "127.0.0.1:%d" % receiver.port},
                    check=False)
                self.assertEqual(completed.returncode, 0, completed.stdout + completed.stderr)
                values = self.prefix.registry_values(
                    "HKCU\\Software\\QORA\\Installed\\%s\\2.1.0.de" % app)
                self.assertEqual(values.get("SetupVersion"), "7", values)
                self.assertEqual(values.get("RunCount"), "0x0")
                self.assertIn("UWN", values)
                self.assertIn("RunDate", values)
                self.assertIn("SetupDate", values)
                self.assert_record(receiver, app.encode(), b"2.1.0.de", b"7")


if __name__ == "__main__":
    unittest.main()
