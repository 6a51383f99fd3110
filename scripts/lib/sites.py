#!/usr/bin/python3
"""Vendor sites over TLS for the demo and the tests, on 127.0.0.1 only.

    sites.py certs DIR
        A throwaway CA (DIR/ca.pem) and server certificates for 127.0.0.1:
        server (valid), expired (valid only in 2020), other (signed by
        another CA).
    sites.py proftpd DIR ROOT USER PASSWORD [--cert PREFIX] [--no-tls]
        ProFTPD (needs root) serving ROOT to one virtual user, with explicit
        TLS offered; every command received goes to DIR/commands.log.
    sites.py nginx DIR ROOT USER PASSWORD [--cert PREFIX] [--plain] [--http2]
        nginx serving ROOT over HTTPS (or HTTP) with basic authentication and
        PUT, and again below /chunked/ without sizes (chunked answers);
        --http2 speaks HTTP/2 over TLS. DIR/access.log lists the requests.

--cert names the certificate and key files without their endings
(CERTS/server, the default, is CERTS/server.pem and CERTS/server.key);
--port N serves on that port instead of a free one; --rate N (nginx) sends
at most N bytes a second.

A server runs in the foreground on a free port; the launcher prints
"port=N" once it accepts connections and stops the server when its standard
input closes or it gets SIGTERM or SIGINT, so a test holds it by a pipe and
loses it with its own end. With --until-signal it ignores its standard input
and runs until a signal stops it (for a shell script that keeps its pid).
"""
import ctypes
import os
import pwd
import signal
import socket
import subprocess
import sys
import time

CERTS = ("server", "expired", "other")


def run(*argv, **kw):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, **kw)


def key_and_request(d, name):
    run("openssl", "req", "-new", "-newkey", "ec", "-pkeyopt",
        "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=127.0.0.1",
        "-keyout", f"{d}/{name}.key", "-out", f"{d}/{name}.csr")


def make_certs(d):
    os.makedirs(f"{d}/ca/new", exist_ok=True)
    ext = f"{d}/ext.cnf"
    with open(ext, "w") as f:
        # The name too: Schannel (Windows) matches DNS names only.
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    for ca in ("ca", "otherca"):
        run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
            "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj",
            f"/CN=mvupdate test {ca}", "-keyout", f"{d}/{ca}.key",
            "-out", f"{d}/{ca}.pem")
    for name, ca in (("server", "ca"), ("other", "otherca")):
        key_and_request(d, name)
        run("openssl", "x509", "-req", "-in", f"{d}/{name}.csr", "-CA",
            f"{d}/{ca}.pem", "-CAkey", f"{d}/{ca}.key", "-CAcreateserial",
            "-days", "2", "-extfile", ext, "-out", f"{d}/{name}.pem")
    # `openssl ca` sets the dates freely; x509 -days refuses the past.
    key_and_request(d, "expired")
    open(f"{d}/ca/index.txt", "w").close()
    with open(f"{d}/ca/serial", "w") as f:
        f.write("1000\n")
    with open(f"{d}/ca.cnf", "w") as f:
        f.write(f"""[ca]
default_ca = own
[own]
database = {d}/ca/index.txt
new_certs_dir = {d}/ca/new
serial = {d}/ca/serial
certificate = {d}/ca.pem
private_key = {d}/ca.key
default_md = sha256
policy = any
[any]
commonName = supplied
""")
    run("openssl", "ca", "-batch", "-notext", "-config", f"{d}/ca.cnf",
        "-startdate", "20200101000000Z", "-enddate", "20200102000000Z",
        "-extfile", ext, "-in", f"{d}/expired.csr", "-out",
        f"{d}/expired.pem")
    for name in CERTS:
        os.chmod(f"{d}/{name}.key", 0o644)  # read by the servers' users


def die_with_parent():
    """In the server's process: SIGTERM when the launcher ends, however it
    ends, so that a killed launcher leaves no server behind."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, proc, seconds=15):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if proc.poll() is not None:
            return False
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            return True
        except OSError:
            time.sleep(0.05)
    return False


def proftpd_config(d, root, user, password, cert, tls, port, rate, http2):
    nobody = pwd.getpwnam("nobody")
    hashed = subprocess.run(["openssl", "passwd", "-1", password], check=True,
                            capture_output=True, text=True).stdout.strip()
    with open(f"{d}/passwd", "w") as f:
        f.write(f"{user}:{hashed}:{nobody.pw_uid}:{nobody.pw_gid}::"
                f"{root}:/bin/false\n")
    os.chmod(f"{d}/passwd", 0o600)
    for folder, _, files in os.walk(root):
        for name in [folder] + [os.path.join(folder, n) for n in files]:
            os.chown(name, nobody.pw_uid, nobody.pw_gid)
    lines = [
        "ServerType standalone", "DefaultServer on", f"Port {port}",
        "DefaultAddress 127.0.0.1", "SocketBindTight on", "UseIPv6 off",
        "User nobody", "Group nogroup", f"PidFile {d}/proftpd.pid",
        f"ScoreboardFile {d}/scoreboard", f"DelayTable {d}/delay",
        "WtmpLog off", "UseReverseDNS off",
        "RequireValidShell off", "AuthOrder mod_auth_file.c",
        f"AuthUserFile {d}/passwd", "DefaultRoot ~", "TransferLog none",
        "PassivePorts 40000 60000",
        'LogFormat commands "%m %J"',
        f"ExtendedLog {d}/commands.log ALL commands",
        f"SystemLog {d}/system.log",
        "<Directory />", "AllowOverwrite on", "</Directory>",
    ]
    if tls:
        lines = ["LoadModule mod_tls.c"] + lines + [
            "TLSEngine on", "TLSRequired off",
            f"TLSECCertificateFile {cert}.pem",
            f"TLSECCertificateKeyFile {cert}.key",
            f"TLSLog {d}/tls.log",
        ]
    with open(f"{d}/proftpd.conf", "w") as f:
        f.write("\n".join(lines) + "\n")
    return port, ["proftpd", "-n", "-q", "-c", f"{d}/proftpd.conf"]


def nginx_config(d, root, user, password, cert, tls, port, rate, http2):
    hashed = subprocess.run(["openssl", "passwd", "-apr1", password],
                            check=True, capture_output=True,
                            text=True).stdout.strip()
    with open(f"{d}/htpasswd", "w") as f:
        f.write(f"{user}:{hashed}\n")
    os.makedirs(f"{d}/tmp", exist_ok=True)
    temps = "".join(f"  {k}_temp_path {d}/tmp/{k};\n"
                    for k in ("client_body", "proxy", "fastcgi", "uwsgi",
                              "scgi"))
    user_line = "user root;\n" if os.geteuid() == 0 else ""
    listen = (f"127.0.0.1:{port}" + (" ssl" if tls else "") +
              (" http2" if http2 else ""))
    ssl = (f"    ssl_certificate {cert}.pem;\n"
           f"    ssl_certificate_key {cert}.key;\n") if tls else ""
    with open(f"{d}/nginx.conf", "w") as f:
        f.write(f"""{user_line}daemon off;
master_process off;
pid {d}/nginx.pid;
error_log {d}/error.log;
events {{ worker_connections 64; }}
http {{
  log_format brief '$request_method $uri $status';
  access_log {d}/access.log brief;
{temps}  server {{
    listen {listen};
{ssl}    root {root};
    {f"limit_rate {rate};" if rate else ""}
    location / {{
      auth_basic "Merivane updates";
      auth_basic_user_file {d}/htpasswd;
      dav_methods PUT MOVE;
      autoindex off;
    }}
    location /chunked/ {{
      alias {root}/;
      auth_basic "Merivane updates";
      auth_basic_user_file {d}/htpasswd;
      sub_filter_types *;
      sub_filter_once off;
      sub_filter "never-in-a-file" "";
    }}
    location /moved/ {{
      return 302 https://127.0.0.2:{port}/;
    }}
  }}
}}
""")
    return port, ["nginx", "-p", d, "-c", f"{d}/nginx.conf"]


def serve(kind, d, root, user, password, cert, tls, port, rate, http2,
          until_signal):
    os.makedirs(d, exist_ok=True)
    make = proftpd_config if kind == "proftpd" else nginx_config
    port, argv = make(d, root, user, password, cert, tls,
                      port or free_port(), rate, http2)
    with open(f"{d}/server.out", "w") as out:
        proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL,
                                preexec_fn=die_with_parent)
    def stop(*_):
        # Once only: a second signal inside the wait would wait for good.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        proc.terminate()
        proc.wait()
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if not wait_for_port(port, proc):
        proc.kill()
        sys.stderr.write(f"sites.py: {kind} did not start; see {d}\n")
        return 1
    print(f"port={port}", flush=True)
    if until_signal:
        while True:
            signal.pause()
    sys.stdin.read()  # until the holder closes its end
    stop()


def main(argv):
    if len(argv) >= 2 and argv[0] == "certs":
        try:
            make_certs(argv[1])
        except subprocess.CalledProcessError as e:
            sys.stderr.write(e.stderr.decode(errors="replace"))
            return 1
        return 0
    if len(argv) >= 5 and argv[0] in ("proftpd", "nginx"):
        kind, d, root, user, password = argv[:5]
        rest = argv[5:]
        cert = rest[rest.index("--cert") + 1] if "--cert" in rest else ""
        if not cert:
            cert = os.path.join(os.path.dirname(os.path.abspath(d)), "server")
        tls = "--no-tls" not in rest and "--plain" not in rest
        port = int(rest[rest.index("--port") + 1]) if "--port" in rest else 0
        rate = int(rest[rest.index("--rate") + 1]) if "--rate" in rest else 0
        return serve(kind, os.path.abspath(d), os.path.abspath(root), user,
                     password, os.path.abspath(cert), tls, port, rate,
                     "--http2" in rest, "--until-signal" in rest)
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
