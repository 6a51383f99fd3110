"""scripts/demo run without a terminal, on the programs already built.

Checks what the demo claims against what it left behind: both installations
updated, the set-up script's markers, the status report on the FTP site, and
that no process of the demo outlives it, whether it ends normally, is
stopped by a signal or is killed outright.

Environment: MVUPDATE_DEMO_BUILD_DIR, the build folder holding
src/cli/mvupdate-cli.
"""

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
BUILD = os.environ.get("MVUPDATE_DEMO_BUILD_DIR",
                       os.path.join(SOURCE, "build"))
PROGRAMS = ["QorinMVCore.dll", "QorinSetup.dll", "Merivane.exe", "POS.exe"]
SERVER_ONLY = ["MerivaneLM.exe", "MerivaneTM.exe"]


def demo_env(**changes):
    env = dict(os.environ)
    env["MVUPDATE_RUN_WAIT_SECONDS"] = "1"
    for name, value in changes.items():
        if value is None:
            env.pop(name, None)
        else:
            env[name] = value
    return env


def start_demo(out_path, *args, env=None):
    """The demo in a session of its own, as a terminal would start it."""
    out = open(out_path, "w")
    return subprocess.Popen(
        [DEMO, "--no-build", "--build-dir", BUILD, *args],
        stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
        env=env or demo_env(), start_new_session=True)


def read(path, mode="r"):
    with open(path, mode) as f:
        return f.read()


def sandbox_of(output):
    m = re.search(r"^== Sandbox (\S+)$", output, re.M)
    return m.group(1) if m else None


def proc_text(pid, name):
    try:
        with open("/proc/%s/%s" % (pid, name), "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace")
    except OSError:
        return ""


def leftovers(sandbox, session):
    """Processes that belong to the demo: in its session, or naming its
    folder in their command line, current folder or environment."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        if int(pid) == os.getpid():
            continue
        stat = proc_text(pid, "stat")
        fields = stat[stat.rfind(")") + 2:].split()
        if not fields or fields[0] == "Z":
            continue  # gone, waiting to be reaped
        try:
            cwd = os.readlink("/proc/%s/cwd" % pid)
        except OSError:
            cwd = ""
        mine = int(fields[3]) == session
        if sandbox:
            mine = (mine or sandbox in proc_text(pid, "cmdline") or
                    cwd.startswith(sandbox) or
                    sandbox in proc_text(pid, "environ"))
        if mine:
            found.append("%s %s" % (pid, proc_text(pid, "cmdline")))
    return found


def wait_for_no_leftovers(sandbox, session, limit=30):
    end = time.monotonic() + limit
    while True:
        left = leftovers(sandbox, session)
        if not left or time.monotonic() > end:
            return left
        time.sleep(0.2)


class DemoTest(unittest.TestCase):

    def setUp(self):
        self.sandbox = None
        self.session = None
        self.out = os.path.join(BUILD, "demo-test-%s.out" % self._testMethodName)

    def tearDown(self):
        # A failed case may leave processes behind: end them, then the
        # folder.
        if self.session:
            for line in leftovers(self.sandbox, self.session):
                try:
                    os.kill(int(line.split()[0]), signal.SIGKILL)
                except OSError:
                    pass
        if self.sandbox and self.sandbox.startswith("/tmp/mvupdate-demo."):
            shutil.rmtree(self.sandbox, ignore_errors=True)
        self.sandbox = self.session = None

    def start(self, *args, env=None):
        p = start_demo(self.out, *args, env=env)
        self.session = p.pid
        return p

    def run_demo(self, *args, env=None):
        p = self.start(*args, env=env)
        status = p.wait(timeout=240)
        output = read(self.out)
        self.sandbox = sandbox_of(output)
        return p, status, output

    def test_full_run(self):
        p, status, output = self.run_demo()
        self.assertEqual(status, 0, output)
        sb = self.sandbox
        self.assertTrue(sb, output)
        self.assertEqual(wait_for_no_leftovers(sb, p.pid, limit=5), [])

        # The list-box lines were printed as the runs went.
        for line in ["-----  MERIVANE SERVER UPDATE  -----.",
                     "-----  MERIVANE CLIENT UPDATE  -----.",
                     "   Update 1: new report layouts and the 2025 price lists.",
                     "[Check System Version]"]:
            self.assertIn("\n" + line + "\n", output)
        self.assertEqual(output.count("\n   Update 2 installed.\n"), 2)

        for who, work, programs in [
                ("server", "Download", PROGRAMS + SERVER_ONLY),
                ("client", "Update", PROGRAMS)]:
            with self.subTest(installation=who):
                app = os.path.join(sb, who, "Merivane", "Application")
                settings = read(os.path.join(sb, who, "config", "Qorin",
                                             "settings.ini"))
                self.assertIn("LastUpdateInstalled=2\n", settings)
                # Update 2 replaced the program files: Check System, run
                # after it, lists each with the new version.
                check = read(os.path.join(sb, "run", who + "-check.out"))
                self.assertEqual(
                    re.findall(r"^\.\.\.Checking: (\S+)\.\.\.7\.2\.0\.0$",
                               check, re.M), programs)
                self.assertNotIn("!!!", check)
                # Only the server block copies the server's programs.
                self.assertEqual(
                    os.path.exists(os.path.join(app, "MerivaneLM.exe")),
                    who == "server")
                # Update 1's archive, sub-folders and all.
                self.assertEqual(
                    read(os.path.join(app, work, "PriceLists", "2025",
                                      "prices.csv"), "rb"),
                    read(os.path.join(SOURCE, "demo", "site", "Patch1",
                                      "PriceLists", "2025", "prices.csv"),
                         "rb"))
                marker = read(os.path.join(app, work, "setup-done.txt"))
                self.assertRegex(marker, r"^Merivane set-up ran at .* in " +
                                 re.escape(os.path.join(app, work)) + "\n$")
                # The event log holds the last run; the demo kept the
                # update run's.
                log = read(os.path.join(sb, who, "Merivane", "Database",
                                        "MVUpEvents.log"), "rb")
                self.assertIn(b"\t[Check System Version]\r\n", log)
                log = read(os.path.join(sb, "run", who + "-update.log"), "rb")
                self.assertIn(b"\tUpdate complete..\r\n", log)

        # The server recorded update 2 in the database and reported it.
        self.assertRegex(output, r"\nCustomer row in the database: update 2, "
                                 r"recorded \d{4}-\d\d-\d\d \d\d:\d\d:\d\d\n")
        folder = os.path.join(sb, "site", "Merivane", "C1001")
        reports = [f for f in os.listdir(folder) if f.startswith("Status ")]
        self.assertEqual(len(reports), 1, reports)
        self.assertRegex(reports[0], r"^Status \d{12}\.txt$")
        self.assertRegex(
            read(os.path.join(folder, reports[0]), "rb").decode(),
            r"^CustomerNumber=C1001\r\n"
            r"DatabaseServer=MERIVANE-SRV\\SQLEXPRESS\r\n"
            r"LocalComputerName=MERIVANE-SRV\r\n"
            r"LastUpdateInstalled=2\r\n"
            r"LastUpdateInstalledOn=\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r\n"
            r"LastCommunication=\d\d/\d\d/\d{4} \d\d:\d\d:\d\d\r\n\r\n$")
        # One login, by the server; the client used the share.
        commands = read(os.path.join(sb, "run", "ftp", "commands.log"))
        self.assertEqual(re.findall(r"^USER .*$", commands, re.M),
                         ["USER c1001"])
        self.assertIn("Status report on the FTP site: " +
                      os.path.join(folder, reports[0]), output)
        # The stopped cluster's files are gone; the folder stays small.
        self.assertFalse(os.path.exists(os.path.join(sb, "db", "data")))

    def test_stopped_midway(self):
        cases = [
            # signal, exit status, what the demo says
            (signal.SIGINT, 130, "== Stopped by SIGINT; stopping the servers."),
            (signal.SIGTERM, 143, "== Stopped by SIGTERM; stopping the servers."),
            # No trap runs: the guard stops the servers.
            (signal.SIGKILL, -signal.SIGKILL, None),
        ]
        for sig, expected_status, says in cases:
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
                self.sandbox = sandbox_of(read(self.out))
                os.killpg(p.pid, sig)
                status = p.wait(timeout=60)
                output = read(self.out)
                self.assertEqual(status, expected_status, output)
                if says:
                    self.assertIn(says, output)
                self.assertEqual(wait_for_no_leftovers(self.sandbox, p.pid),
                                 [])
                self.assertFalse(os.path.exists(
                    os.path.join(self.sandbox, "db", "data", "postmaster.pid")))
                self.tearDown()

    def test_failing_runs(self):
        # A utility whose every run fails: the demo goes on, says what did
        # not happen, stops its servers and ends with status 1.
        build = tempfile.mkdtemp(prefix="mvupdate-demo-build-")
        self.addCleanup(shutil.rmtree, build, True)
        os.makedirs(os.path.join(build, "src", "cli"))
        cli = os.path.join(build, "src", "cli", "mvupdate-cli")
        with open(cli, "w") as f:
            f.write("#!/bin/sh\necho '!!! cannot work'\nexit 1\n")
        os.chmod(cli, 0o755)
        p = subprocess.Popen(
            [DEMO, "--no-build", "--build-dir", build],
            stdout=open(self.out, "w"), stderr=subprocess.STDOUT,
            stdin=subprocess.DEVNULL, env=demo_env(), start_new_session=True)
        self.session = p.pid
        status = p.wait(timeout=240)
        output = read(self.out)
        self.sandbox = sandbox_of(output)
        self.assertEqual(status, 1, output)
        self.assertEqual(output.count("\n== exit status 1\n"), 4)
        self.assertIn("\n== 4 run(s) ended with status 1 or worse", output)
        self.assertEqual(output.count(
            "  updates installed : stored update number now 0 (was 0)\n"), 2)
        self.assertEqual(output.count("  set-up marker     : none ("), 2)
        self.assertIn("\nCustomer row in the database: update 0, recorded "
                      "never\n", output)
        self.assertIn("\nStatus report on the FTP site: none\n", output)
        self.assertEqual(wait_for_no_leftovers(self.sandbox, p.pid, limit=5),
                         [])

    def test_window_needs_a_display(self):
        env = demo_env(DISPLAY=None, WAYLAND_DISPLAY=None)
        p, status, output = self.run_demo("--gui", env=env)
        self.assertEqual(status, 2)
        self.assertIn("scripts/demo --gui needs a display", output)
        self.assertIsNone(self.sandbox)  # nothing was started


if __name__ == "__main__":
    unittest.main()
