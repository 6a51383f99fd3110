#!/usr/bin/python3
"""Benchmarks of the version tools (not run by CI).

1. `mvupdate-cli check` on a sandbox server installation holding the six
   program files: a fresh process each run, from its start to the last
   line of output.
2. `mvupdate-cli version` on 1 000 program files against python3-pefile
   reading the same fields, as a ratio.

Usage: bench/bench.py [BUILD_DIR]   (default: build; the test program
files must be built: cmake --build build --target tools_pe_files)
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                        os.path.join(ROOT, "build"))
CLI = os.path.join(BUILD, "src", "cli", "mvupdate-cli")
PE = os.path.join(BUILD, "tests", "tools_pe")

SIX = {
    "QorinMVCore.dll": "QorinMVCore.dll",
    "QorinSetup.dll": "QorinSetup.dll",
    "Merivane.exe": "Merivane.exe",
    "POS.exe": "POS.exe",
    "MerivaneLM.exe": "Languages.dll",
    "MerivaneTM.exe": "German.exe",
}
SOURCES = ["Merivane.exe", "QorinMVCore.dll", "QorinSetup.dll", "POS.exe",
           "German.exe", "Languages.dll", "Neutral.dll", "FirstLanguage.dll",
           "Font.dll", "Driver.dll"]


def sandbox(root):
    install = os.path.join(root, "Merivane")
    app = os.path.join(install, "Application")
    os.makedirs(app)
    for name, source in SIX.items():
        shutil.copy(os.path.join(PE, source), os.path.join(app, name))
    registry = os.path.join(root, "registry.reg")
    with open(registry, "w", newline="\r\n") as f:
        f.write('REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\n'
                f'"InstallPath"="{install}"\n"DBServerName"="BENCHSRV"\n'
                '"DatabaseName"="Quillmere"\n')
    env = dict(os.environ)
    env.update(MVUPDATE_REGISTRY=registry,
               XDG_CONFIG_HOME=os.path.join(root, "config"),
               MVUPDATE_COMPUTERNAME="BENCHSRV",
               MVUPDATE_UNC_ROOT=os.path.join(root, "unc"))
    return env


def time_check(env, runs):
    """Seconds from the start of a process to its last line, per run."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        p = subprocess.Popen([CLI, "check"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
        last = start
        lines = 0
        for _line in p.stdout:
            last = time.perf_counter()
            lines += 1
        p.wait()
        times.append(last - start)
    return times, lines


def pefile_fields(paths):
    import pefile  # Debian python3-pefile; only this benchmark uses it
    resource = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]
    out = []
    for path in paths:
        pe = pefile.PE(path, fast_load=True)
        pe.parse_data_directories(directories=[resource])
        fields = [path]
        for fixed in getattr(pe, "VS_FIXEDFILEINFO", []):
            fields += [fixed.StrucVersion, fixed.FileVersionMS,
                       fixed.FileVersionLS, fixed.ProductVersionMS,
                       fixed.ProductVersionLS, fixed.FileFlags, fixed.FileOS,
                       fixed.FileType, fixed.FileSubtype]
        for info in getattr(pe, "FileInfo", []):
            for entry in info:
                for var in getattr(entry, "Var", []):
                    fields.append(var.entry.get(b"Translation"))
                for table in getattr(entry, "StringTable", []):
                    fields += sorted(table.entries.items())
        pe.close()
        out.append(fields)
    return out


def main():
    if not os.access(CLI, os.X_OK) or not os.path.isdir(PE):
        sys.exit(f"build {CLI} and the target tools_pe_files first")
    with tempfile.TemporaryDirectory(prefix="mvbench-") as root:
        env = sandbox(root)
        times, lines = time_check(env, 30)
        print(f"check: {lines} lines; first run {times[0] * 1000:.1f} ms, "
              f"median of {len(times)} {statistics.median(times) * 1000:.1f} ms, "
              f"max {max(times) * 1000:.1f} ms")

        files = []
        folder = os.path.join(root, "files")
        os.makedirs(folder)
        for i in range(1000):
            source = SOURCES[i % len(SOURCES)]
            path = os.path.join(folder, f"{i:04d}-{source}")
            shutil.copy(os.path.join(PE, source), path)
            files.append(path)

        cli_times = []
        for _ in range(5):
            start = time.perf_counter()
            r = subprocess.run([CLI, "version"] + files,
                               stdout=subprocess.DEVNULL, env=env)
            cli_times.append(time.perf_counter() - start)
            assert r.returncode == 0, r.returncode
        try:
            py_times = []
            for _ in range(5):
                start = time.perf_counter()
                pefile_fields(files)
                py_times.append(time.perf_counter() - start)
        except ImportError:
            sys.exit("python3-pefile is not installed")
        cli = statistics.median(cli_times)
        py = statistics.median(py_times)
        print(f"version on 1000 files: mvupdate-cli {cli * 1000:.1f} ms, "
              f"python3-pefile {py * 1000:.1f} ms (medians of 5); "
              f"pefile / mvupdate-cli = {py / cli:.1f}")


if __name__ == "__main__":
    main()
