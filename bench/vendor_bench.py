#!/usr/bin/python3
"""Benchmarks of mvupdate-vendor (not run by CI).

1. `fleet` on generated sites of 1 000 and 10 000 customer folders (each
   with MVControl.dat and two status reports): time and the program's peak
   resident memory. Goal: 10 000 customers under 5 s.
2. `publish` of one 1 GiB file into a folder site against its peer on the
   same file, `sha256sum` followed by `minisign -S`: median of 3 runs each,
   as a ratio.

Usage: bench/vendor_bench.py [BUILD_DIR] [--work FOLDER]
(default: build, and a temporary folder in /tmp; 1 GiB of space needed
twice over).
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = [a for a in sys.argv[1:] if not a.startswith("--work")]
BUILD = os.path.abspath(args[0] if args else os.path.join(ROOT, "build"))
VENDOR = os.path.join(BUILD, "src", "vendor", "mvupdate-vendor")
WORK = None
if "--work" in sys.argv:
    WORK = sys.argv[sys.argv.index("--work") + 1]


def timed(argv, **kw):
    """Seconds and peak RSS (MiB) of one run of argv."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, **kw)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if status != 0:
        sys.exit(f"{argv[0]} failed: {err}")
    return seconds, usage.ru_maxrss / 1024


def make_site(root, customers):
    update = os.path.join(root, "Merivane", "Update")
    os.makedirs(update)
    with open(os.path.join(update, "MVUpdate.dat"), "w", newline="") as f:
        f.write("LASTUPDATE=7\r\n")
    for n in range(customers):
        folder = os.path.join(root, "Merivane", f"C{100000 + n}")
        os.mkdir(folder)
        open(os.path.join(folder, "MVControl.dat"), "w").close()
        for stamp, update_no in (("261101120000", 6), ("261201120000", 7)):
            with open(os.path.join(folder, f"Status {stamp}.txt"), "w",
                      newline="") as f:
                f.write(f"CustomerNumber=C{100000 + n}\r\n"
                        "DatabaseServer=SRV\\MERIVANE\r\n"
                        f"LocalComputerName=STORE{n}\r\n"
                        f"LastUpdateInstalled={update_no - n % 2}\r\n"
                        "LastUpdateInstalledOn=12/01/2026 10:00:00\r\n"
                        "LastCommunication=12/01/2026 12:00:00\r\n\r\n")


def fleet(work):
    for customers in (1000, 10000):
        site = os.path.join(work, f"fleet{customers}")
        make_site(site, customers)
        seconds, rss = timed([VENDOR, "fleet", site, "--csv",
                              os.path.join(work, "fleet.csv")])
        print(f"fleet {customers} customers: {seconds:.2f} s, "
              f"peak RSS {rss:.1f} MiB")
        shutil.rmtree(site)


def publish(work):
    keys = os.path.join(work, "keys")
    os.mkdir(keys)
    subprocess.run(["minisign", "-G", "-W", "-p", keys + "/k.pub", "-s",
                    keys + "/k.sec"], check=True, stdout=subprocess.DEVNULL)
    big = os.path.join(work, "Big.bin")
    with open(big, "wb") as f:
        block = os.urandom(1 << 20)
        for _ in range(1024):
            f.write(block)
    ours, peers = [], []
    for run in range(3):
        site = os.path.join(work, f"site{run}")
        seconds, _ = timed([VENDOR, "publish", site, "--secret-key",
                            keys + "/k.sec", "--comment", "bench", big])
        ours.append(seconds)
        shutil.rmtree(site)
        start = time.perf_counter()
        subprocess.run(["sha256sum", big], check=True,
                       stdout=subprocess.DEVNULL)
        subprocess.run(["minisign", "-S", "-s", keys + "/k.sec", "-m", big],
                       check=True, stdout=subprocess.DEVNULL)
        peers.append(time.perf_counter() - start)
    o, p = statistics.median(ours), statistics.median(peers)
    print(f"publish 1 GiB: {o:.2f} s; sha256sum + minisign -S: {p:.2f} s; "
          f"ratio peer/publish {p / o:.2f}")


def main():
    work = tempfile.mkdtemp(prefix="mvvendor-bench-", dir=WORK)
    try:
        fleet(work)
        publish(work)
    finally:
        shutil.rmtree(work, True)


if __name__ == "__main__":
    main()
