"""The Debian package: built by scripts/package, free of lintian errors,
installed by apt-get, its programs, examples, manual pages, configuration
file and units checked in place, and purged whatever happened (skipped with
the reason and exit status 77 without root or the Debian tools). DocsTest:
the key table of mvupdate.conf(5), --help and the configuration file name
the same keys, the manual pages every command and option, and the links of
the README and docs/ lead to files that exist.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD = os.environ["MVUPDATE_INSTALL_BUILD_DIR"]
SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def read(path):
    with open(path) as f:
        return f.read()


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def settings(text):
    """The "Key=Value" lines of a unit or desktop file."""
    return dict(re.findall(r"^(\w+)=(.*)$", text, re.M))


def run(*argv, **options):
    return subprocess.run(argv, capture_output=True, text=True, **options)


VERSION = re.search(r"project\(mvupdate VERSION ([\d.]+)",
                    read(SOURCE + "/CMakeLists.txt")).group(1)


class InstallTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        tools = ["dpkg-buildpackage", "dh", "lintian", "apt-get", "man"]
        if os.geteuid() != 0 or not all(map(shutil.which, tools)):
            raise unittest.SkipTest("needs root and " + ", ".join(tools))
        if run("dpkg-query", "-W", "mvupdate").returncode == 0:
            raise unittest.SkipTest("mvupdate is installed: not replaced")
        folder = tempfile.mkdtemp(prefix="mvupdate-package-")
        cls.addClassCleanup(shutil.rmtree, folder, True)
        r = run(SOURCE + "/scripts/package", folder)
        if r.returncode != 0:
            raise AssertionError(r.stdout + r.stderr)
        cls.deb = r.stdout.splitlines()[-1]
        cls.addClassCleanup(run, "apt-get", "purge", "-y", "mvupdate")
        r = run("apt-get", "install", "-y", cls.deb,
                env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
        if r.returncode != 0:
            raise AssertionError(r.stdout + r.stderr)

    def test_lintian(self):
        r = run("lintian", "--fail-on", "error", self.deb)
        print(r.stdout + r.stderr, file=sys.stderr)  # warnings for the log
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def test_installed_files(self):
        self.assertEqual(
            run("dpkg-query", "-W", "-f=${Version} ${Conffiles}", "mvupdate"
                ).stdout.split()[:2], [VERSION, "/etc/qorin/mvupdate.conf"])
        conf = [line for line in read("/etc/qorin/mvupdate.conf").splitlines()
                if line and line[0] != "#"]
        self.assertEqual(conf, ["[mvupdate]"])  # every key commented out
        for program, last in [("mvupdate-cli", "ICU"), ("mvupdate", "Qt"),
                              ("mvupdate-vendor", "ICU")]:
            lines = run(program, "--version").stdout.splitlines()
            self.assertEqual(lines[0], program + " " + VERSION)
            self.assertRegex(lines[-1], "^%s [0-9.]+$" % last)
        for page in ["mvupdate-cli", "mvupdate", "mvupdate.conf",
                     "mvupdate-vendor"]:
            self.assertEqual(run("man", "-w", page).returncode, 0, page)
        # The service runs the program installed and names its documentation.
        units = "/lib/systemd/system/mvupdate-update."
        service = settings(read(units + "service"))
        self.assertEqual(service["ExecStart"], "/usr/bin/mvupdate-cli update")
        for page in service["Documentation"].split():
            if page.startswith("file://"):
                self.assertTrue(os.path.exists(page[7:]), page)
        self.assertFalse(os.path.lexists(
            "/etc/systemd/system/timers.target.wants/mvupdate-update.timer"))
        r = run("systemd-analyze", "verify", "--man=no", units + "service",
                units + "timer")
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))

    def test_installed_programs_and_examples(self):
        root = "/usr"
        examples = root + "/share/doc/mvupdate/examples"
        text = read(examples + "/registry.reg")
        self.assertIn('"InstallPath"="/opt/merivane"', text)
        work = tempfile.mkdtemp(prefix="mvupdate-example-")
        self.addCleanup(shutil.rmtree, work, True)
        os.makedirs(work + "/odbc")

        # Start-up on the example registry, moved into `work`.
        def start_up(server, odbc):
            write(work + "/registry.reg",
                  text.replace('"/opt/merivane"', '"%s"' % work)
                  .replace('"SRV01\\\\SQLEXPRESS"', '"%s"' % server))
            env = dict(os.environ, MVUPDATE_REGISTRY=work + "/registry.reg",
                       XDG_CONFIG_HOME=work + "/config", ODBCSYSINI=odbc,
                       MVUPDATE_COMPUTERNAME="SRV01",
                       MVUPDATE_UNC_ROOT=work + "/unc")
            return subprocess.run([root + "/bin/mvupdate-cli"], env=env, cwd=work,
                                  capture_output=True, text=True).stdout

        out = start_up("SRV01\\\\SQLEXPRESS", work + "/odbc")
        self.assertIn("\nDATABASE SERVER  : SRV01\\SQLEXPRESS\n", out)
        self.assertIn("\nINSTALLATION TYPE: Server\n", out)
        # The example driver registration loads FreeTDS (the answer comes
        # from the driver, not from the driver manager failing to find it).
        out = start_up("127.0.0.1", examples)
        self.assertRegex(out, r"\n-2147467259-[^\n]*\[\w+\] \[FreeTDS\]")

        # the menu entry names the program and an installed icon
        entry = settings(read(root + "/share/applications/mvupdate.desktop"))
        self.assertEqual(entry["Exec"], "mvupdate")
        icons = root + "/share/icons/hicolor/scalable/apps/"
        self.assertTrue(os.path.exists(icons + entry["Icon"] + ".svg"))


class DocsTest(unittest.TestCase):

    def test_every_command_and_key_is_documented(self):
        usage = run(BUILD + "/src/cli/mvupdate-cli", "--help").stdout
        commands = usage.split("Commands:\n")[1].split("\n\n")[0]
        keys = sorted(usage.split("mvupdate.conf(5).\n")[1].split())
        man = read(BUILD + "/packaging/man/mvupdate-cli.1")
        for command in re.findall(r"^  (\w+)", commands, re.M):
            self.assertRegex(man, r"\n\.B[IR]? %s\b" % command)
        # mvupdate.conf(5) describes each key once: ".B KEY" or
        # ".B KEY\fR, \fBOTHER" for a pair.
        table = read(BUILD + "/packaging/man/mvupdate.conf.5").split(
            "\n.SH KEYS\n")[1].split("\n.SH ")[0]
        described = re.findall(r"^\.B (\w+)(?:\\fR, \\fB(\w+))?$", table, re.M)
        self.assertEqual(sorted(k for pair in described for k in pair if k),
                         keys)
        conf = read(BUILD + "/packaging/mvupdate.conf")
        self.assertEqual(sorted(re.findall(r"^#(\w+)=", conf, re.M)), keys)

    def test_window_answers_without_a_display(self):
        program = BUILD + "/src/gui/mvupdate"
        if not os.path.exists(program):
            self.skipTest("built without the window")
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        man = read(BUILD + "/packaging/man/mvupdate.1")
        for args, status, out, err in [
                (["--help"], 0, "usage: mvupdate ", ""),
                (["--version"], 0, "mvupdate " + VERSION, ""),
                (["--frobnicate"], 2, "", "unknown argument '--frobnicate'"),
                ([], 1, "", "no display to show the window on")]:
            r = run(program, *args, env=env)
            self.assertEqual(r.returncode, status, str(args) + r.stderr)
            self.assertTrue(r.stdout.startswith(out), r.stdout)
            self.assertIn(err, r.stderr)
        for option in set(re.findall(r"--[\w-]+", run(program, "--help").stdout)):
            self.assertIn(option.replace("-", "\\-"), man)

    def test_links_lead_to_files(self):
        pages = [SOURCE + "/README.md"] + [
            os.path.join(SOURCE, "docs", name)
            for name in os.listdir(SOURCE + "/docs") if name.endswith(".md")]
        for page in pages:
            for target in re.findall(r"\]\(([^)#:]+)(?:#[^)]*)?\)", read(page)):
                path = os.path.join(os.path.dirname(page), target)
                self.assertTrue(os.path.exists(path), page + ": " + target)


if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    skipped = result.skipped and result.testsRun <= len(result.skipped)
    sys.exit(77 if skipped else 0)
