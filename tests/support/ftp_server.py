"""Test FTP server for the mvupdate tests, on top of pyftpdlib.

Usage: ftp_server.py --port PORT --root DIR --user USER --password PASS
                     --state DIR

PORT 0 picks a free port. Once the server listens it prints "PORT <n>" on
standard output. Every command received is appended to STATE/commands.log,
one per line ("PASS" is logged without its argument). Before each data
transfer the server reads STATE/fault, which may hold
  stall <bytes>   stop sending or reading after <bytes>, keeping the data
                  connection open and silent
  drop <bytes>    reset the data connection after <bytes> and answer 426
An empty or missing file means no fault. SIGTERM stops the server cleanly.
"""

import argparse
import os
import signal
import socket
import struct
import sys
import warnings

warnings.simplefilter("ignore", DeprecationWarning)

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.handlers import DTPHandler, FTPHandler  # noqa: E402
from pyftpdlib.log import logger  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

STATE = None


def read_fault():
    try:
        with open(os.path.join(STATE, "fault")) as f:
            words = f.read().split()
    except OSError:
        return None, 0
    if len(words) != 2 or words[0] not in ("stall", "drop"):
        return None, 0
    return words[0], int(words[1])


class FaultyDTPHandler(DTPHandler):
    """A data channel that can stall or drop mid-transfer."""

    def __init__(self, sock, cmd_channel):
        self.fault, self.fault_after = read_fault()
        self.faulted = False
        DTPHandler.__init__(self, sock, cmd_channel)

    def use_sendfile(self):
#sendfile() would bypass send(), where the fault is injected.
        return self.fault is None and DTPHandler.use_sendfile(self)

    def inject(self):
        self.faulted = True
        if self.fault == "stall":
#Stop serving the socket but keep it open : the peer sees a
#connection that neither sends nor reads.
            self.del_channel()
            self.ioloop.call_later(3600, self.close)
        else:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                   struct.pack("ii", 1, 0))
            self._resp = ("426 Connection dropped.", logger.info)
            self.close()

    def send(self, data):
        if self.fault is None or self.receive:
            return DTPHandler.send(self, data)
        if self.faulted:
            return 0
        room = self.fault_after - self.tot_bytes_sent
        if room <= 0:
            self.inject()
            return 0
        return DTPHandler.send(self, data[:room])

    def handle_read(self):
        if (self.fault is not None and not self.faulted and
                self.tot_bytes_received >= self.fault_after):
            self.inject()
            return
        DTPHandler.handle_read(self)

#The base class binds this name to its own handle_read.
    handle_read_event = handle_read


class RecordingHandler(FTPHandler):
    dtp_handler = FaultyDTPHandler
    auth_failed_timeout = 0

    def pre_process_command(self, line, cmd, arg):
        text = "PASS" if cmd == "PASS" else line
        with open(os.path.join(STATE, "commands.log"), "a") as f:
            f.write(text + "\n")
        FTPHandler.pre_process_command(self, line, cmd, arg)


def main():
    global STATE
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--root", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--state", required=True)
    a = p.parse_args()
    STATE = a.state

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    RecordingHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", a.port), RecordingHandler)

    def stop(signum, frame):
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
