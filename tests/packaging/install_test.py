"""`cmake --install` of the build into a staging folder (DESTDIR).

Checks that the installed tree is complete and that what it holds works:
the programs run, the example registry file is one the utility reads, the
systemd units name the installed program for the prefix given at install
time and pass systemd's own check where systemd-analyze exists.

Environment: MVUPDATE_INSTALL_BUILD_DIR (the build folder) and
MVUPDATE_INSTALL_GUI (ON when the window program is built).
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


def unit_settings(text):
    """The "Key=Value" lines of a unit file, comments left out."""
    return dict(re.findall(r"^(\w+)=(.*)$", text, re.M))


class InstallTest(unittest.TestCase):

    def install(self, prefix):
        stage = tempfile.mkdtemp(prefix="mvupdate-install-")
        self.addCleanup(shutil.rmtree, stage, True)
        env = dict(os.environ, DESTDIR=stage)
        r = subprocess.run(["cmake", "--install", BUILD, "--prefix", prefix],
                           env=env, capture_output=True, text=True)
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
                    "bin/mvupdate-cli",
                    "lib/systemd/system/mvupdate-update.service",
                    "lib/systemd/system/mvupdate-update.timer",
                    "share/doc/mvupdate/README.md",
                    "share/doc/mvupdate/examples/odbcinst.ini",
                    "share/doc/mvupdate/examples/registry.reg",
                ]
                if GUI:
                    expected += [
                        "bin/mvupdate",
                        "share/applications/mvupdate.desktop",
                        "share/icons/hicolor/scalable/apps/mvupdate.svg",
                    ]
                self.assertEqual(
                    files, sorted(prefix.lstrip("/") + "/" + f
                                  for f in expected))

                # The service runs the program installed under this prefix.
                units = os.path.join(root, "lib/systemd/system")
                service = unit_settings(
                    read(os.path.join(units, "mvupdate-update.service")))
                self.assertEqual(service["ExecStart"],
                                 prefix + "/bin/mvupdate-cli update")
                self.assertEqual(service["Documentation"],
                                 "file://" + prefix +
                                 "/share/doc/mvupdate/README.md")
                for key, value in [("Type", "oneshot"),
                                   ("User", "merivane"),
                                   ("KillMode", "process"),
                                   ("StandardOutput", "journal"),
                                   ("StandardError", "journal")]:
                    self.assertEqual(service.get(key), value, key)
                timer = unit_settings(
                    read(os.path.join(units, "mvupdate-update.timer")))
                self.assertEqual(timer["Unit"], "mvupdate-update.service")
                self.assertEqual(timer["WantedBy"], "timers.target")
                self.check_with_systemd(stage, prefix, units, timer)

    def check_with_systemd(self, stage, prefix, units, timer):
        analyze = shutil.which("systemd-analyze")
        if not analyze:
            return
        r = subprocess.run([analyze, "calendar", timer["OnCalendar"]],
                           capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        # verify looks for the program where the service names it: point
        # a copy at the staged one. It reports problems on its outputs.
        copy = tempfile.mkdtemp(prefix="mvupdate-units-")
        self.addCleanup(shutil.rmtree, copy, True)
        for name in ["mvupdate-update.service", "mvupdate-update.timer"]:
            text = read(os.path.join(units, name)).replace(
                "ExecStart=" + prefix, "ExecStart=" + stage + prefix)
            with open(os.path.join(copy, name), "w") as f:
                f.write(text)
        r = subprocess.run([analyze, "verify", "--man=no",
                            "mvupdate-update.service", "mvupdate-update.timer"],
                           cwd=copy, capture_output=True, text=True)
        self.assertEqual((r.returncode, r.stdout + r.stderr), (0, ""))

    def test_installed_programs_and_examples(self):
        stage, root = self.install("/usr")
        cli = os.path.join(root, "bin", "mvupdate-cli")
        r = subprocess.run([cli, "--help"], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0)
        self.assertIn("usage: mvupdate-cli", r.stdout)

        # The example registry, with its installation folder moved into a
        # temporary folder, read by the installed program's start-up.
        examples = os.path.join(root, "share", "doc", "mvupdate", "examples")
        work = tempfile.mkdtemp(prefix="mvupdate-example-")
        self.addCleanup(shutil.rmtree, work, True)
        text = read(os.path.join(examples, "registry.reg"))
        self.assertIn('"InstallPath"="/opt/merivane"', text)
        with open(os.path.join(work, "registry.reg"), "w") as f:
            f.write(text.replace('"/opt/merivane"', '"%s/Merivane"' % work))
        os.makedirs(os.path.join(work, "odbc"))
        os.makedirs(os.path.join(work, "Merivane"))
        env = dict(os.environ, MVUPDATE_REGISTRY=work + "/registry.reg",
                   XDG_CONFIG_HOME=work + "/config",
                   MVUPDATE_COMPUTERNAME="SRV01",
                   MVUPDATE_UNC_ROOT=work + "/unc",
                   ODBCSYSINI=work + "/odbc")
        r = subprocess.run([cli], env=env, capture_output=True, text=True,
                           cwd=work)
        for line in ["DATABASE SERVER  : SRV01\\SQLEXPRESS",
                     "DATABASE NAME    : Quillmere",
                     "SERVER NAME      : SRV01",
                     "INSTALLATION TYPE: Server"]:
            self.assertIn("\n" + line + "\n", r.stdout)

        # The example driver registration loads FreeTDS (the answer comes
        # from the driver, not from the driver manager failing to find it).
        with open(os.path.join(work, "registry.reg"), "w") as f:
            f.write(text.replace('"/opt/merivane"', '"%s/Merivane"' % work)
                    .replace('"SRV01\\\\SQLEXPRESS"', '"127.0.0.1"'))
        env["ODBCSYSINI"] = examples
        r = subprocess.run([cli], env=env, capture_output=True, text=True,
                           cwd=work)
        self.assertIn("\nDATABASE SERVER  : 127.0.0.1\n", r.stdout)
        self.assertRegex(r.stdout, r"\n-2147467259-\[\w+\] \[FreeTDS\]")

        if GUI:
            desktop = read(os.path.join(root, "share", "applications",
                                        "mvupdate.desktop"))
            entry = unit_settings(desktop)
            self.assertEqual(entry["Exec"], "mvupdate")
            self.assertTrue(os.path.exists(os.path.join(
                root, "share", "icons", "hicolor", "scalable", "apps",
                entry["Icon"] + ".svg")))


if __name__ == "__main__":
    unittest.main()
