"""`cmake --install` of the build into a staging folder (DESTDIR): the tree
is complete, the programs run, the example registry file is one the utility
reads, the systemd units name the program under the prefix given at install
time and pass systemd's own check where systemd-analyze exists.
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ["MVUPDATE_INSTALL_BUILD_DIR"]
GUI = os.environ.get("MVUPDATE_INSTALL_GUI", "ON").upper() in ("ON", "1", "TRUE")


def read(path):
    with open(path) as f:
        return f.read()


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def settings(text):
    """The "Key=Value" lines of a unit or desktop file."""
    return dict(re.findall(r"^(\w+)=(.*)$", text, re.M))


class InstallTest(unittest.TestCase):

    def folder(self, prefix):
        path = tempfile.mkdtemp(prefix=prefix)
        self.addCleanup(shutil.rmtree, path, True)
        return path

    def install(self, prefix):
        stage = self.folder("mvupdate-install-")
        r = subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                           env=dict(os.environ, DESTDIR=stage),
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return stage, stage + prefix

    def test_installed_files(self):
        for prefix in ["/usr", "/opt/mvupdate"]:
            with self.subTest(prefix=prefix):
                stage, root = self.install(prefix)
                files = sorted(
                    os.path.relpath(os.path.join(d, f), stage)
                    for d, _, names in os.walk(stage) for f in names)
                expected = [
                    "bin/mvupdate-cli", "share/doc/mvupdate/README.md",
                    "lib/systemd/system/mvupdate-update.service",
                    "lib/systemd/system/mvupdate-update.timer",
                    "share/doc/mvupdate/examples/odbcinst.ini",
                    "share/doc/mvupdate/examples/registry.reg"]
                if GUI:
                    expected += [
                        "bin/mvupdate", "share/applications/mvupdate.desktop",
                        "share/icons/hicolor/scalable/apps/mvupdate.svg"]
                self.assertEqual(files, sorted(
                    prefix.lstrip("/") + "/" + f for f in expected))
                # The service runs the program installed under this prefix.
                units = root + "/lib/systemd/system/mvupdate-update."
                self.assertEqual(
                    settings(read(units + "service"))["ExecStart"],
                    prefix + "/bin/mvupdate-cli update")
                self.check_with_systemd(stage, prefix, units)

    def check_with_systemd(self, stage, prefix, units):
        analyze = shutil.which("systemd-analyze")
        if not analyze:
            return
        # verify (which also parses the calendar) looks for the program
        # where the service names it: point a copy at the staged one.
        copy = self.folder("mvupdate-units-")
        for kind in ["service", "timer"]:
            write(copy + "/mvupdate-update." + kind, read(units + kind).replace(
                "ExecStart=" + prefix, "ExecStart=" + stage + prefix))
        r = subprocess.run([analyze, "verify", "--man=no",
                            "mvupdate-update.service", "mvupdate-update.timer"],
                           cwd=copy, capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))

    def test_installed_programs_and_examples(self):
        _, root = self.install("/usr")
        examples = root + "/share/doc/mvupdate/examples"
        text = read(examples + "/registry.reg")
        self.assertIn('"InstallPath"="/opt/merivane"', text)
        work = self.folder("mvupdate-example-")
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
        self.assertRegex(out, r"\n-2147467259-\[\w+\] \[FreeTDS\]")

        if GUI:  # the menu entry names the program and an installed icon
            entry = settings(read(root + "/share/applications/mvupdate.desktop"))
            self.assertEqual(entry["Exec"], "mvupdate")
            icons = root + "/share/icons/hicolor/scalable/apps/"
            self.assertTrue(os.path.exists(icons + entry["Icon"] + ".svg"))


if __name__ == "__main__":
    unittest.main()
