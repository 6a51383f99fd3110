"""The FTP site of the demo and the tests, on top of pyftpdlib (see
tests/support/ftp_server.h).

ftp_site.py --port PORT --root DIR --user USER --password PASS --state DIR
prints "PORT <n>" once it listens (PORT 0: a free one), appends each command
to STATE/commands.log and reads STATE/fault ("stall N", "drop N", "cut N",
"slow N" for N bytes a second, with "once" after it for the next transfer
only) before each data transfer.
"""

import argparse
import os
import signal
import socket
import struct
import sys
import time
import warnings

warnings.simplefilter("ignore", DeprecationWarning)

from pyftpdlib.authorizers import DummyAuthorizer  # noqa: E402
from pyftpdlib.handlers import DTPHandler, FTPHandler  # noqa: E402
from pyftpdlib.ioloop import RetryError  # noqa: E402
from pyftpdlib.log import logger  # noqa: E402
from pyftpdlib.servers import FTPServer  # noqa: E402

STATE = None


def read_fault():
    """The fault for the next data connection; "once" faults apply once."""
    path = os.path.join(STATE, "fault")
    try:
        with open(path) as f:
            words = f.read().split()
        if words[2:] == ["once"]:
            os.unlink(path)
        kind, after = words[0], int(words[1])
        known = ("stall", "drop", "cut", "slow")
        return (kind, after) if kind in known else (None, 0)
    except (OSError, ValueError, IndexError):
        return None, 0


class FaultyDTPHandler(DTPHandler):
    """A data channel that can stall, drop or cut an upload mid-transfer."""

    def __init__(self, sock, cmd_channel):
        self.fault, self.fault_after = read_fault()
        self.faulted = False
        self.started = time.monotonic()
        DTPHandler.__init__(self, sock, cmd_channel)

    def use_sendfile(self):
        # sendfile() would bypass send(), where the fault is injected.
        return self.fault is None and DTPHandler.use_sendfile(self)

    def inject(self):
        self.faulted = True
        if self.fault == "stall":
            # Stop serving the socket but keep it open.
            self.del_channel()
            self.ioloop.call_later(3600, self.close)
        else:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                   struct.pack("ii", 1, 0))
            self._resp = ("426 Connection dropped.", logger.info)
            self.close()

    def send(self, data):
        if self.fault in (None, "cut") or self.receive:
            return DTPHandler.send(self, data)
        if self.fault == "slow":
            # What the rate allows by now; a short nap when that is nothing,
            # so that the loop does not spin.
            due = self.fault_after * (time.monotonic() - self.started + 0.1)
            room = int(due) - self.tot_bytes_sent
            if room <= 0:
                time.sleep(0.02)
                return 0
            return DTPHandler.send(self, data[:room])
        room = self.fault_after - self.tot_bytes_sent
        if not self.faulted and room <= 0:
            self.inject()
        if self.faulted:
            return 0
        return DTPHandler.send(self, data[:room])

    def handle_read(self):
        if self.fault == "cut" and self.tot_bytes_received >= self.fault_after:
            # Reads on but keeps no more, and answers 226 at the end all the
            # same: a server that takes a reset connection for the upload's
            # end.
            try:
                self.recv(self.ac_in_buffer_size)
            except RetryError:
                pass
            return
        if (self.fault not in (None, "cut") and not self.faulted and
                self.tot_bytes_received >= self.fault_after):
            self.inject()
            return
        DTPHandler.handle_read(self)

    # The base class binds this name to its own handle_read.
    handle_read_event = handle_read


class RecordingHandler(FTPHandler):
    dtp_handler = FaultyDTPHandler
    auth_failed_timeout = 0

    def pre_process_command(self, line, cmd, arg):
        with open(os.path.join(STATE, "commands.log"), "a") as f:
            f.write(("PASS" if cmd == "PASS" else line) + "\n")
        FTPHandler.pre_process_command(self, line, cmd, arg)


def main():
    global STATE
    p = argparse.ArgumentParser()
    for name in ["--port", "--root", "--user", "--password", "--state"]:
        p.add_argument(name, required=True)
    a = p.parse_args()
    STATE = a.state
    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    RecordingHandler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", int(a.port)), RecordingHandler)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    sys.stdout.write("PORT %d\n" % server.address[1])
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
