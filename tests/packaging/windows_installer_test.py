"""The Windows set-up program under Wine: built by scripts/package --windows
from the programs of a Windows build (MVUPDATE_WINDOWS_BUILD), installed
silently into a Wine prefix of its own, installed again over itself with the
nightly task asked for, the installed console program run, uninstalled, and
the prefix checked for what is left. Skipped with the reason and exit status
77 without makensis or wine64.

Wine keeps a scheduled task's settings but drops its trigger, account and
program (its Task Scheduler stores no more), so the task is checked by its
presence, its description and its Enabled setting.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
VERSION = re.search(r"project\(mvupdate VERSION ([\d.]+)",
                    open(SOURCE + "/CMakeLists.txt").read()).group(1)
UNINSTALL_KEY = (r"HKLM\Software\Microsoft\Windows\CurrentVersion"
                 r"\Uninstall\MerivaneUpdate")


class WindowsInstallerTest(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        if not shutil.which("makensis") or not os.path.exists(WINE):
            raise unittest.SkipTest("needs makensis and wine64 "
                                    "(scripts/bootstrap --windows)")
        cls.work = tempfile.mkdtemp(prefix="mvupdate-setup-")
        cls.addClassCleanup(shutil.rmtree, cls.work, True)
        cls.env = dict(os.environ, WINEPREFIX=cls.work + "/prefix",
                       WINEDEBUG="-all")
        cls.addClassCleanup(subprocess.run, [WINESERVER, "-k"], env=cls.env)
        r = subprocess.run([SOURCE + "/scripts/package", "--windows",
                            cls.work + "/out"], capture_output=True,
                           text=True)
        if r.returncode != 0:
            raise AssertionError(r.stdout + r.stderr)
        cls.setup = r.stdout.splitlines()[-1]
        cls.drive = cls.work + "/prefix/drive_c"

    def wine(self, *argv):
        return subprocess.run([WINE, *argv], env=self.env,
                              capture_output=True, text=True, timeout=120)

    def reg_values(self, key, *view):
        r = self.wine("reg", "query", key, *view)
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", r.stdout,
                               re.M))

    def task_enabled(self):
        with open(self.drive + "/windows/system32/tasks/Merivane Update",
                  encoding="utf-8-sig") as f:
            task = f.read()
        self.assertIn("<Description>Installs the new updates", task)
        return re.search(r"<Settings>.*<Enabled>(\w+)</Enabled>", task,
                         re.S).group(1)

    def test_install_upgrade_and_uninstall(self):
        self.assertEqual(os.path.basename(self.setup),
                         f"mvupdate-setup-{VERSION}.exe")
        # The suite's own registry value, which no step may touch.
        self.wine("reg", "add", r"HKLM\SOFTWARE\Qorin", "/v", "InstallPath",
                  "/t", "REG_SZ", "/d", r"C:\Merivane", "/reg:32", "/f")
        programs = self.drive + "/Program Files/Qorin/MVUpdate"
        conf = self.drive + "/ProgramData/Qorin/mvupdate.conf"
        shortcut = (self.drive + "/ProgramData/Microsoft/Windows/Start Menu"
                    "/Programs/Merivane Update.lnk")

        r = self.wine(self.setup, "/S")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        installed = sorted(os.listdir(programs))
        self.assertIn("mvupdate-cli.exe", installed)
        self.assertIn("uninstall.exe", installed)
        if "mvupdate.exe" in installed:
            self.assertTrue(os.path.exists(shortcut))
        with open(conf) as f:
            lines = f.read().splitlines()
        self.assertEqual([l for l in lines if l and not l.startswith("#")],
                         ["[mvupdate]"])  # every key commented out
        self.assertIn("#FTP_TLS=try", lines)
        self.assertEqual(self.task_enabled(), "false")
        entry = self.reg_values(UNINSTALL_KEY, "/reg:64")
        self.assertEqual((entry.get("DisplayVersion"), entry.get("Publisher"),
                          entry.get("QuietUninstallString")),
                         (VERSION, "Qorin",
                          r'"C:\Program Files\Qorin\MVUpdate\uninstall.exe" '
                          "/S"))

        # An upgrade keeps the site's configuration; the task is enabled.
        with open(conf, "a") as f:
            f.write("FTP_RETRIES=5\n")
        r = self.wine(self.setup, "/S", "/TASK=1")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(conf) as f:
            self.assertTrue(f.read().endswith("FTP_RETRIES=5\n"))
        self.assertEqual(self.task_enabled(), "true")

        r = self.wine(r"C:\Program Files\Qorin\MVUpdate\mvupdate-cli.exe",
                      "--version")
        self.assertEqual((r.returncode, r.stdout.split("\n")[0].strip()),
                         (0, f"mvupdate-cli {VERSION}"))

        # The uninstaller starts a copy of itself and returns at once.
        self.wine(r"C:\Program Files\Qorin\MVUpdate\uninstall.exe", "/S")
        subprocess.run([WINESERVER, "-w"], env=self.env, timeout=120)
        self.assertFalse(os.path.exists(self.drive + "/Program Files/Qorin"))
        self.assertFalse(os.path.exists(shortcut))
        self.assertFalse(os.path.exists(
            self.drive + "/windows/system32/tasks/Merivane Update"))
        self.assertEqual(self.reg_values(UNINSTALL_KEY, "/reg:64"), {})
        with open(conf) as f:
            self.assertTrue(f.read().endswith("FTP_RETRIES=5\n"))
        self.assertEqual(
            self.reg_values(r"HKLM\SOFTWARE\Qorin", "/reg:32"),
            {"InstallPath": r"C:\Merivane"})


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    if result.skipped and not (result.failures or result.errors):
        sys.exit(77)
    sys.exit(not result.wasSuccessful())
