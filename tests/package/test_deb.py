"""The Debian package: what it holds, its control fields, lintian, and the
installed programs at work in a throwaway root."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from package_support import (SOURCE_DIR, SYSLOG_MESSAGE, VERSION, UdpReceiver, artifact, run,
                             swv_record_pattern)

ARCH = run(["dpkg", "--print-architecture"]).stdout.decode().strip()
MULTIARCH = run(["dpkg-architecture", "-qDEB_HOST_MULTIARCH"]).stdout.decode().strip()
LIBDIR = "usr/lib/" + MULTIARCH
DOCDIR = "usr/share/doc/qoramark"
MAN_PAGES = ("man/qoramark.1", "man/qoramark-reg.1", "man/clsyslog.3")

# path: (kind, mode or link target)
EXPECTED_FILES = {
    "usr/bin/qoramark": ("file", 0o755),
    "usr/bin/qoramark-reg": ("file", 0o755),
    LIBDIR + "/libclsyslog.so.1.0.0": ("file", 0o644),
    LIBDIR + "/libclsyslog.so.1": ("link", "libclsyslog.so.1.0.0"),
    LIBDIR + "/libclsyslog.so": ("link", "libclsyslog.so.1"),
    "usr/include/clsyslog.h": ("file", 0o644),
    "usr/share/man/man1/qoramark.1.gz": ("file", 0o644),
    "usr/share/man/man1/qoramark-reg.1.gz": ("file", 0o644),
    "usr/share/man/man3/clsyslog.3.gz": ("file", 0o644),
    DOCDIR + "/copyright": ("file", 0o644),
    DOCDIR + "/changelog.gz": ("file", 0o644),
    DOCDIR + "/examples/qoramark-login.service": ("file", 0o644),
}


def deb():
    return artifact("qoramark_*_%s.deb" % ARCH)


def control_field(name):
    return run(["dpkg-deb", "-f", deb(), name]).stdout.decode().strip()


class PackageContents(unittest.TestCase):
    def test_files_modes_and_links(self):
        listing = run(["dpkg-deb", "-c", deb()]).stdout.decode()
        found = {}
        for line in listing.splitlines():
            fields = line.split()
            mode, owner, path = fields[0], fields[1], fields[5].removeprefix("./")
            self.assertEqual(owner, "root/root", line)
            if mode.startswith("d"):
                continue
            if mode.startswith("l"):
                found[path] = ("link", fields[7])
            else:
                bits = sum(1 << (8 - i) for i, c in enumerate(mode[1:]) if c != "-")
                found[path] = ("file", bits)
        self.assertEqual(found, EXPECTED_FILES)

    def test_control_fields(self):
        self.assertEqual(control_field("Package"), "qoramark")
        self.assertEqual(control_field("Version"), VERSION)
        self.assertEqual(control_field("Architecture"), ARCH)
        self.assertEqual(control_field("Section"), "admin")
        self.assertEqual(control_field("Priority"), "optional")
        self.assertRegex(control_field("Maintainer"), r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$")
        description = control_field("Description").splitlines()
        self.assertEqual(description[0], "records which application versions are installed and run")
        self.assertGreater(len(description), 3)
        # dpkg-shlibdeps found what the binaries link against, with versions.
        depends = [d.strip() for d in control_field("Depends").split(",")]
        self.assertTrue(any(re.fullmatch(r"libc6 \(>= [\d.]+\)", d) for d in depends), depends)

    def test_library_control_files(self):
        with tempfile.TemporaryDirectory() as control:
            run(["dpkg-deb", "-e", deb(), control])
            with open(os.path.join(control, "shlibs")) as shlibs:
                self.assertEqual(shlibs.read(), "libclsyslog 1 qoramark (>= %s)\n" % VERSION)
            with open(os.path.join(control, "triggers")) as triggers:
                self.assertEqual(triggers.read(), "activate-noawait ldconfig\n")

    def test_lintian_finds_no_errors(self):
        completed = run(["lintian", "--pedantic", "--display-info", deb()], check=False)
        tags = completed.stdout.decode()
        print("\nlintian:\n" + tags, end="")
        errors = [line for line in tags.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [])
        self.assertIn(completed.returncode, (0, 2), completed.stderr.decode())


class ManualPages(unittest.TestCase):
    def test_pages_pass_mandoc_lint(self):
        for page in MAN_PAGES:
            with self.subTest(page=page):
                completed = run(["mandoc", "-Tlint", os.path.join(SOURCE_DIR, page)], check=False)
                self.assertEqual((completed.returncode, completed.stdout + completed.stderr),
                                 (0, b""))

    def test_packaged_pages_are_the_sources(self):
        with tempfile.TemporaryDirectory() as root:
            run(["dpkg-deb", "-x", deb(), root])
            for page in MAN_PAGES:
                name = os.path.basename(page)
                packaged = os.path.join(root, "usr/share/man/man" + name[-1], name + ".gz")
                with gzip.open(packaged) as packed, open(os.path.join(SOURCE_DIR, page), "rb") as source:
                    self.assertEqual(packed.read(), source.read(), page)


class InstalledPackage(unittest.TestCase):
    """The package unpacked with dpkg -x into a throwaway root, as dpkg would lay it out."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="qoramark-deb-")
        run(["dpkg", "-x", deb(), cls.root])
        cls.program = os.path.join(cls.root, "usr/bin/qoramark")
        cls.libdir = os.path.join(cls.root, LIBDIR)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="qoramark-deb-run-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.receiver = UdpReceiver()
        self.addCleanup(self.receiver.close)

    def environment(self, **extra):
        env = {"PATH": "/usr/bin:/bin", "HOME": self.work, "TZ": "UTC",
               "QORAMARK_REGISTRY_DIR": self.work, "SystemRoot": self.work}
        env.update(extra)
        return env

    def record_run(self, program, env, prefix=()):
        """Runs a program that should record App 1.0 and send its record to the receiver;
        returns the run and the dynamic linker's trace of where it found the library."""
        completed = run(list(prefix) + [program, "HKCU", "App", "1.0", "-c", "-L",
                                        "127.0.0.1:%d" % self.receiver.port],
                        env=dict(env, LD_DEBUG="libs"), check=False, timeout=60)
        return completed, completed.stderr.decode("latin-1")

    def assert_record_received(self):
        message = self.receiver.receive(timeout=10)
        self.assertIsNotNone(message, "no record arrived")
        fields = SYSLOG_MESSAGE.fullmatch(message)
        self.assertIsNotNone(fields, message)
        self.assertEqual(fields["pri"], b"134")
        self.assertIsNotNone(swv_record_pattern(b"App", b"1.0").fullmatch(fields["msg"]),
                             fields["msg"])

    def loaded_library(self, trace):
        """The path the library was loaded from, from the dynamic linker's trace."""
        match = re.search(r"calling init: (\S*libclsyslog\S*)", trace)
        return match and match.group(1)

    def test_installed_program_finds_the_library_by_its_soname(self):
        # Nothing beside the program: only a search for the SONAME can find the library,
        # here in the root's library folder named by LD_LIBRARY_PATH.
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.program))),
                         ["qoramark", "qoramark-reg"])
        completed, trace = self.record_run(self.program,
                                           self.environment(LD_LIBRARY_PATH=self.libdir))
        self.assertEqual(completed.returncode, 0, trace[-2000:])
        self.assertIn("find library=libclsyslog.so.1 ", trace)
        self.assertEqual(self.loaded_library(trace),
                         os.path.join(self.libdir, "libclsyslog.so.1"))
        self.assert_record_received()
        export = run([os.path.join(self.root, "usr/bin/qoramark-reg"), "export"],
                     env=self.environment()).stdout.decode()
        self.assertIn("[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\App\\1.0]", export)

    def test_library_beside_the_program_comes_first(self):
        beside = os.path.join(self.work, "bin")
        os.makedirs(beside)
        shutil.copy2(self.program, beside)
        shutil.copy2(os.path.join(self.libdir, "libclsyslog.so.1"), beside)
        completed, trace = self.record_run(os.path.join(beside, "qoramark"),
                                           self.environment(LD_LIBRARY_PATH=self.libdir))
        self.assertEqual(completed.returncode, 0, trace[-2000:])
        self.assertEqual(self.loaded_library(trace), os.path.join(beside, "libclsyslog.so.1"))
        self.assert_record_received()

    def test_without_the_library_the_run_records_but_sends_nothing(self):
        known = run(["/sbin/ldconfig", "-p"]).stdout.decode()
        if "libclsyslog.so.1 " in known:
            self.skipTest("this machine has a libclsyslog.so.1 installed")
        completed, trace = self.record_run(self.program, self.environment())
        self.assertEqual(completed.returncode, 0, trace[-2000:])
        self.assertIsNone(self.loaded_library(trace))
        self.assertIsNone(self.receiver.receive(timeout=1))

    @unittest.skipUnless(os.geteuid() == 0, "a private mount namespace needs root")
    def test_installed_in_place_it_binds_the_system_library(self):
        # The root's /usr laid over the real one in a mount namespace of this run only:
        # /usr/bin/qoramark and /usr/lib/<multiarch>/libclsyslog.so.1 sit where dpkg -i
        # would put them, and no variable points the dynamic linker anywhere.
        script = ('mount -t overlay overlay -o lowerdir="$1/usr:/usr" /usr && shift && exec "$@"')
        completed, trace = self.record_run(
            "/usr/bin/qoramark", self.environment(),
            prefix=["unshare", "--mount", "--propagation", "private", "sh", "-c", script, "sh",
                    self.root])
        self.assertEqual(completed.returncode, 0, trace[-2000:])
        self.assertIn("find library=libclsyslog.so.1 ", trace)
        self.assertEqual(os.path.basename(self.loaded_library(trace) or ""), "libclsyslog.so.1")
        self.assertRegex(self.loaded_library(trace), r"^/(usr/)?lib/")
        self.assert_record_received()

    @unittest.skipUnless(os.geteuid() == 0, "a private mount namespace needs root")
    def test_login_unit_is_valid_and_its_command_records_the_login(self):
        unit = os.path.join(self.root, DOCDIR, "examples/qoramark-login.service")
        with open(unit) as text:
            lines = text.read().splitlines()
        values = dict(line.removeprefix("Environment=").split("=", 1)
                      for line in lines if line.startswith("Environment="))
        command = next(line.removeprefix("ExecStart=") for line in lines
                       if line.startswith("ExecStart="))
        setup_file = os.path.join(self.work, "editor")
        open(setup_file, "w").close()
        # The unit as shipped, but with a setup file that exists and the receiver as host.
        values.update(QORAMARK_SETUP_FILE=setup_file,
                      QORAMARK_LOGHOST="127.0.0.1:%d" % self.receiver.port)
        words = [re.sub(r"\$\{(\w+)\}", lambda m: values[m.group(1)], word)
                 for word in command.split()]
        runtime = os.path.join(self.work, "runtime")
        os.makedirs(runtime, mode=0o700)
        script = ('mount -t overlay overlay -o lowerdir="$1/usr:/usr" /usr && shift && '
                  'systemd-analyze verify --user --man=no "$1" && shift && exec "$@"')
        completed = run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script,
                         "sh", self.root, "/" + DOCDIR + "/examples/qoramark-login.service"] + words,
                        env=self.environment(XDG_RUNTIME_DIR=runtime), check=False)
        self.assertEqual(completed.returncode, 0, completed.stderr.decode("latin-1"))
        message = self.receiver.receive(timeout=10)
        fields = SYSLOG_MESSAGE.fullmatch(message or b"")
        self.assertIsNotNone(fields, message)
        self.assertRegex(fields["msg"], rb'^"SWV",.*,"Editor","2\.1\.0",')
        export = run([os.path.join(self.root, "usr/bin/qoramark-reg"), "export"],
                     env=self.environment()).stdout.decode()
        key = export.split("[HKEY_CURRENT_USER\\Software\\QORA\\Installed\\Editor\\2.1.0]", 1)[1]
        for value in ("RunDate", "SetupDate", "RunCount", "UWN"):
            self.assertIn('"%s"=' % value, key)

    @unittest.skipUnless(shutil.which("cc"), "needs a C compiler")
    def test_other_programs_build_against_the_installed_header_and_library(self):
        source = os.path.join(self.work, "send.c")
        with open(source, "w") as out:
            out.write('#include <clsyslog.h>\n'
                      'int main(int argc, char **argv) {\n'
                      '    (void)argc;\n'
                      '    if (SlInitialize() != 0) return 10;\n'
                      '    int status = SlSendMessageA(argv[1], 1, 5, "hello from a client");\n'
                      '    SlUninitialize();\n'
                      '    return status;\n'
                      '}\n')
        client = os.path.join(self.work, "send")
        run(["cc", "-Wall", "-Werror", "-I", os.path.join(self.root, "usr/include"), source,
             "-L", self.libdir, "-lclsyslog", "-o", client])
        needed = run(["readelf", "-d", client]).stdout.decode()
        self.assertIn("Shared library: [libclsyslog.so.1]", needed)
        completed = run([client, "127.0.0.1:%d" % self.receiver.port],
                        env=self.environment(LD_LIBRARY_PATH=self.libdir), check=False)
        self.assertEqual(completed.returncode, 0)
        message = self.receiver.receive(timeout=10)
        fields = SYSLOG_MESSAGE.fullmatch(message or b"")
        self.assertIsNotNone(fields, message)
        self.assertEqual((fields["pri"], fields["appname"], fields["msg"]),
                         (b"13", b"send", b"hello from a client"))

    def test_library_exports_exactly_the_three_calls(self):
        symbols = run(["nm", "-D", "--defined-only", os.path.join(self.libdir, "libclsyslog.so.1")])
        names = sorted(line.split()[-1] for line in symbols.stdout.decode().splitlines()
                       if line.split()[-2] in ("T", "W"))
        self.assertEqual(names, ["SlInitialize", "SlSendMessageA", "SlUninitialize"])
        dynamic = run(["readelf", "-d", os.path.join(self.libdir, "libclsyslog.so.1.0.0")])
        self.assertIn("Library soname: [libclsyslog.so.1]", dynamic.stdout.decode())


if __name__ == "__main__":
    unittest.main()
