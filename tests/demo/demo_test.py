"""scripts/demo, run without a terminal on the programs built in
MVUPDATE_DEMO_BUILD_DIR: what it claims against what it left behind, and no
process of it outliving it, however it ends."""

import contextlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
DEMO = os.path.join(SOURCE, "scripts", "demo")
SITES = os.path.join(SOURCE, "scripts", "lib", "sites.py")
BUILD = os.environ.get("MVUPDATE_DEMO_BUILD_DIR",
                       os.path.join(SOURCE, "build"))
PROGRAMS = ["QorinMVCore.dll", "QorinSetup.dll", "Merivane.exe", "POS.exe"]


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def windows_path(path):
    """A path of this machine as a Windows program under Wine names it."""
    return "Z:" + path.replace("/", "\\")


def proc_text(pid, name):
    with contextlib.suppress(OSError):
        return read("/proc/%s/%s" % (pid, name), "rb").replace(
            b"\0", b" ").decode("utf-8", "replace")
    return ""


def leftovers(sandbox, session):
    """Live processes in the demo's session or naming its folder."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        stat = proc_text(pid, "stat")
        fields = stat[stat.rfind(")") + 2:].split()
        if int(pid) == os.getpid() or not fields or fields[0] == "Z":
            continue
        cwd = ""
        with contextlib.suppress(OSError):
            cwd = os.readlink("/proc/%s/cwd" % pid)
        if int(fields[3]) == session or (sandbox and (
                cwd.startswith(sandbox) or
                sandbox in proc_text(pid, "cmdline") + proc_text(pid, "environ"))):
            found.append("%s %s" % (pid, proc_text(pid, "cmdline")))
    return found


class DemoTest(unittest.TestCase):

    def setUp(self):
        self.sandbox = self.session = None
        self.out = os.path.join(BUILD, "demo-%s.out" % self._testMethodName)

    def tearDown(self):
        for line in leftovers(self.sandbox, self.session) if self.session else []:
            with contextlib.suppress(OSError):
                os.kill(int(line.split()[0]), signal.SIGKILL)
        if self.sandbox and self.sandbox.startswith("/tmp/mvupdate-demo."):
            shutil.rmtree(self.sandbox, ignore_errors=True)
        self.sandbox = self.session = None

    def start(self, *args, build=BUILD, unset=()):
        """The demo in a session of its own, as a terminal would start it."""
        environ = dict(os.environ, MVUPDATE_RUN_WAIT_SECONDS="1")
        for name in unset:
            environ.pop(name, None)
        p = subprocess.Popen(
            [DEMO, "--no-build", "--build-dir", build, *args],
            stdout=open(self.out, "w"), stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, env=environ, start_new_session=True)
        self.session = p.pid
        return p

    def finish(self, p, timeout=240):
        status = p.wait(timeout=timeout)
        output = read(self.out)
        m = re.search(r"^== Sandbox (\S+)$", output, re.M)
        self.sandbox = m.group(1) if m else None
        return status, output

    def assertNoLeftovers(self, limit=30):
        end = time.monotonic() + limit
        while leftovers(self.sandbox, self.session) and time.monotonic() < end:
            time.sleep(0.2)
        self.assertEqual(leftovers(self.sandbox, self.session), [])

    def test_full_run(self):
        self.check_full_run()

    def test_full_run_on_windows(self):
        """mvupdate-cli.exe under Wine (MVUPDATE_DEMO_BUILD_DIR is the
        Windows build): the stored number is read back from the settings
        store's key, the set-up is a command script. The site is plain FTP:
        Wine's Schannel never resumes a TLS session, which ProFTPD at its
        defaults requires of data connections."""
        self.check_full_run("--windows")

    def test_full_run_on_windows_over_https(self):
        """The same from nginx over HTTPS: Schannel checks the site's
        certificate against the sandbox's CA file; so does it ProFTPD's
        (at its defaults; as root) before the login."""
        output = self.check_full_run("--windows", "--https")
        self.assertIn("\nSession with the site: encrypted (TLS)\n", output)
        self.check_refused_certificates_on_windows("nginx")
        if os.geteuid() == 0:
            self.check_refused_certificates_on_windows("proftpd")

    def check_refused_certificates_on_windows(self, kind):
        """One Connect of the Windows build (get_file_bench.exe) in the
        demo server's prefix, the sandbox's CA file named: a site whose
        certificate comes from another CA, or is out of date, is left
        before the user name is sent. (Without a CA file Wine's Schannel
        checks nothing; Windows checks against its store.)"""
        sb = self.sandbox
        certs = os.path.join(sb, "run", "certs")
        probe = os.path.join(BUILD, "tests", "get_file_bench.exe")
        self.assertTrue(os.path.isfile(probe), probe + " is not built")
        for cert in ["other", "expired"]:
            with self.subTest(kind=kind, cert=cert):
                state = os.path.join(sb, "run", "refused-" + cert)
                site = subprocess.Popen(
                    ["/usr/bin/python3", SITES, kind, state,
                     os.path.join(sb, "site"), "c1001", "any",
                     "--cert", os.path.join(certs, cert)],
                    stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                port = site.stdout.readline().strip().removeprefix("port=")
                address = ("localhost:%s" if kind == "proftpd" else
                           "https://localhost:%s/") % port
                environ = dict(os.environ, WINEDEBUG="-all",
                               WINEPREFIX=os.path.join(sb, "server", "wine"))
                environ["MVUPDATE_FTP_CA_FILE"] = windows_path(
                    os.path.join(certs, "ca.pem"))
                out = subprocess.run(
                    ["/usr/lib/wine/wine64", probe, address, "c1001", "any",
                     "MVUpdate.dat",
                     windows_path(os.path.join(sb, "run", "probe"))],
                    env=environ, capture_output=True, text=True,
                    timeout=60).stdout.replace("\r", "")
                site.stdin.close()
                site.wait(timeout=30)
                self.assertRegex(out, r"\| 1016-TLS with the FTP site %s "
                                 r"failed: .+; the user name and password "
                                 r"were not sent\.\n" % re.escape(address))
                if kind == "proftpd":
                    commands = read(os.path.join(state, "commands.log"))
                    self.assertIn("AUTH TLS", commands)
                    self.assertNotIn("USER", commands)
                else:  # no request got as far as HTTP
                    self.assertEqual(read(os.path.join(state, "access.log")),
                                     "")

    def check_full_run(self, *args):
        windows = "--windows" in args
        status, output = self.finish(self.start(*args))
        self.assertEqual(status, 0, output)
        sb = self.sandbox
        self.assertNoLeftovers(limit=5)
        # The list-box lines were printed as the runs went.
        self.assertIn("\n   Update 1: new report layouts and the 2025 price "
                      "lists.\n", output)
        self.assertEqual(output.count("\n   Update 2 installed.\n"), 2)
        self.assertEqual(output.count(
            "stored update number now 2 (was 0)\n"), 2, output)
        for who, work, programs in [
                ("server", "Download", PROGRAMS + ["MerivaneLM.exe",
                                                   "MerivaneTM.exe"]),
                ("client", "Update", PROGRAMS)]:
            with self.subTest(installation=who):
                app = os.path.join(sb, who, "Merivane", "Application")
                if not windows:
                    self.assertIn("LastUpdateInstalled=2\n", read(os.path.join(
                        sb, who, "config", "Qorin", "settings.ini")))
                # Check System, run after the update, lists each program
                # file of the installation with update 2's version.
                check = read(os.path.join(sb, "run", who + "-check.out"))
                self.assertEqual(re.findall(
                    r"^\.\.\.Checking: (\S+)\.\.\.7\.2\.0\.0$", check, re.M),
                    programs)
                marker = read(os.path.join(app, work, "setup-done.txt"))
                self.assertRegex(marker, r"^Merivane set-up ran at ")
                if not windows:
                    self.assertRegex(marker, r" in " + re.escape(
                        os.path.join(app, work)) + "\n$")
        # The server recorded update 2 and reported it on the site.
        self.assertRegex(output, r"\nCustomer row in the database: update 2, "
                                 r"recorded \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\n")
        report = re.search(r"\nStatus report on the FTP site: (\S+/site/"
                           r"Merivane/C1001/Status \d{12}\.txt)\n", output)
        self.assertTrue(report and os.path.isfile(report.group(1)), output)
        self.assertFalse(os.path.exists(os.path.join(sb, "db", "data")))
        return output

    def test_stopped_midway(self):
        for sig, expected_status, says in [
                (signal.SIGTERM, 143, "== Stopped by SIGTERM; stopping the servers."),
                # No trap runs: the guard stops the servers.
                (signal.SIGKILL, -signal.SIGKILL, "")]:
            with self.subTest(signal=sig.name):
                p = self.start()
                # Wait until the servers run and the server's update works.
                end = time.monotonic() + 120
                while ("== MERIVANE-SRV: mvupdate-cli update" not in
                       read(self.out)):
                    self.assertIsNone(p.poll(), read(self.out))
                    self.assertLess(time.monotonic(), end, read(self.out))
                    time.sleep(0.1)
                time.sleep(0.3)
                os.killpg(p.pid, sig)
                status, output = self.finish(p, timeout=60)
                self.assertEqual(status, expected_status, output)
                self.assertIn(says, output)
                self.assertNoLeftovers()
                self.assertFalse(os.path.exists(os.path.join(
                    self.sandbox, "db", "data", "postmaster.pid")))
                self.tearDown()

    def test_failing_runs(self):
        # A utility whose every run fails: the demo goes on, says what did
        # not happen, stops its servers and ends with status 1.
        build = tempfile.mkdtemp(prefix="mvupdate-demo-build-")
        self.addCleanup(shutil.rmtree, build, True)
        os.makedirs(os.path.join(build, "src", "cli"))
        with open(os.path.join(build, "src", "cli", "mvupdate-cli"), "w") as f:
            f.write("#!/bin/sh\necho '!!! cannot work'\nexit 1\n")
        os.chmod(f.name, 0o755)
        status, output = self.finish(self.start(build=build))
        self.assertEqual(status, 1, output)
        self.assertEqual(output.count("\n== exit status 1\n"), 4)
        self.assertIn("\n== 4 run(s) ended with status 1 or worse", output)
        self.assertIn("\nStatus report on the FTP site: none\n", output)
        self.assertNoLeftovers(limit=5)

    def test_window_needs_a_display(self):
        status, output = self.finish(self.start(
            "--gui", unset=("DISPLAY", "WAYLAND_DISPLAY")))
        self.assertEqual(status, 2)
        self.assertIn("scripts/demo --gui needs a display", output)
        self.assertIsNone(self.sandbox)  # nothing was started


if __name__ == "__main__":
    unittest.main()
