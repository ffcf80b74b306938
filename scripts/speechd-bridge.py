#!/usr/bin/env python3
"""Lets the stand-in speech runtime speak through a speech-dispatcher that
listens on a Unix socket only (the desktop's own, or the private one that
speech-server.sh starts): Wine's winsock here has no AF_UNIX, so this
forwards a TCP port of 127.0.0.1 to that socket.

    speechd-bridge.py SOCKET --owner PID [--port PORT] [--key-file FILE] [--pid-file FILE]

It first checks that a speech-dispatcher answers on SOCKET (it never starts
one); if none does it prints nothing and exits with 1. Otherwise it prints
SPEECHRT_SSIP=127.0.0.1:PORT and SPEECHRT_SSIP_KEY=<secret>, goes into the
background and forwards until the process PID ends, however it ends.

Every local account, and every web page in a browser here, can reach a port
of 127.0.0.1. So the secret is new for each bridge (or kept in FILE, for the
clients of a server that is started again), and only those given it (the
runtime, in its environment, which no other account can read) are let
through: the peer must prove that it knows the secret before a single byte
reaches the socket, and the bridge proves it to the peer first, so that a
port taken over once the bridge is gone gets no text (engine/ssip_auth.h has
the exchange). Anything else, an HTTP request line included, is dropped at
its first byte out of line.
"""
import hashlib
import hmac
import os
import re
import secrets
import select
import socket
import sys
import threading
import time

AUTH = b"AUTH "
HEX64 = re.compile(rb"[0-9a-f]{64}")
# A peer that is not the runtime gets no more of the bridge than this, in
# all, however slowly it sends.
HANDSHAKE_SECONDS = 5


def started_at(pid):
    """The start time of process PID (told apart from a later one given the
    same number), or None once it has ended."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[19]
    except (OSError, IndexError):
        return None


def answers(path):
    """True when an SSIP server answers on the Unix socket PATH."""
    try:
        with socket.socket(socket.AF_UNIX) as s:
            s.settimeout(2)
            s.connect(path)
            s.sendall(b"SET SELF CLIENT_NAME verbanor:bridge:probe\r\n")
            reply = s.makefile("rb").readline()
            s.sendall(b"QUIT\r\n")
            return reply.startswith(b"2")
    except OSError:
        return False


def proof(key, role, client_nonce, server_nonce):
    return hmac.new(key, b"speechrt %s %s %s" % (role, client_nonce, server_nonce), hashlib.sha256).hexdigest().encode()


def auth_line(client, pending, deadline):
    """The value of the peer's next "AUTH <64 hex>" line and what followed it,
    or None as soon as what came cannot be that line."""
    while b"\r\n" not in pending:
        head = pending[:len(AUTH)]
        if head != AUTH[:len(head)] or len(pending) > len(AUTH) + 65 or time.monotonic() > deadline:
            return None
        client.settimeout(max(deadline - time.monotonic(), 0.01))
        data = client.recv(256)
        if not data:
            return None
        pending += data
    line, _, rest = pending.partition(b"\r\n")
    if not line.startswith(AUTH) or not HEX64.fullmatch(line[len(AUTH):]):
        return None
    return line[len(AUTH):], rest


def authenticated(client, key):
    """Whatever the proved peer sent after its proof, or None for a peer
    that did not prove the key."""
    deadline = time.monotonic() + HANDSHAKE_SECONDS
    got = auth_line(client, b"", deadline)
    if got is None:
        return None
    client_nonce, rest = got
    server_nonce = secrets.token_hex(32).encode()
    client.sendall(b"280-%s\r\n280-%s\r\n280 OK CHALLENGE\r\n"
                   % (server_nonce, proof(key, b"bridge", client_nonce, server_nonce)))
    got = auth_line(client, rest, deadline)
    if got is None or not hmac.compare_digest(got[0], proof(key, b"client", client_nonce, server_nonce)):
        return None
    client.settimeout(None)
    return got[1]


def pump(client, path, key):
    with client:
        try:
            early = authenticated(client, key)
        except OSError:
            return
        if early is None:
            return
        try:
            server = socket.socket(socket.AF_UNIX)
            server.settimeout(2)
            server.connect(path)
            server.settimeout(None)
            client.sendall(b"281 OK AUTHENTICATED\r\n")
            server.sendall(early)
        except OSError:
            return
        with server:
            ends = {client: server, server: client}
            while True:
                ready, _, _ = select.select(list(ends), [], [])
                for s in ready:
                    try:
                        data = s.recv(65536)
                        if data:
                            ends[s].sendall(data)
                    except OSError:
                        data = b""
                    # Either side closing ends the session, as a direct
                    # connection would.
                    if not data:
                        return


def serve(listener, path, key):
    while True:
        client, _ = listener.accept()
        threading.Thread(target=pump, args=(client, path, key), daemon=True).start()


def the_key(path):
    """The secret: the one kept in PATH, else a fresh one (kept there when
    PATH is given, readable by this account alone)."""
    if path:
        try:
            with open(path) as f:
                kept = f.read().strip()
            if HEX64.fullmatch(kept.encode()):
                return kept
        except OSError:
            pass
    key = secrets.token_hex(32)
    if path:
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(fd, "w") as f:
            f.write(key + "\n")
    return key


def main():
    args = sys.argv[1:]
    options = dict(zip(args[1::2], args[2::2]))
    if len(args) % 2 == 0 or "--owner" not in options or set(options) - {"--owner", "--port", "--key-file", "--pid-file"}:
        sys.exit("usage: speechd-bridge.py SOCKET --owner PID [--port PORT] [--key-file FILE] [--pid-file FILE]")
    path, owner = args[0], options["--owner"]
    owner_start = started_at(owner)
    if owner_start is None or not answers(path):
        sys.exit(1)
    listener = socket.socket()
    # A server started again takes its port back at once.
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind(("127.0.0.1", int(options.get("--port", 0))))
    except OSError as e:
        sys.exit(f"speechd-bridge: {e}")
    listener.listen(16)
    port = listener.getsockname()[1]
    key = the_key(options.get("--key-file"))
    child = os.fork()
    if child:
        if "--pid-file" in options:
            with open(options["--pid-file"], "w") as f:
                f.write(f"{child}\n")
            with open(options["--pid-file"].removesuffix(".pid") + ".started", "w") as f:
                f.write(f"{started_at(child)}\n")
        print(f"SPEECHRT_SSIP=127.0.0.1:{port}\nSPEECHRT_SSIP_KEY={key}", flush=True)
        os._exit(0)
    # Detached: the caller's output (often a pipe it waits on) is let go.
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    # Nor does it hold on to a lock or pipe the caller's shell had open.
    os.closerange(3, listener.fileno())
    os.closerange(listener.fileno() + 1, 1024)
    threading.Thread(target=serve, args=(listener, path, bytes.fromhex(key)), daemon=True).start()
    while started_at(owner) == owner_start:
        time.sleep(0.5)
    os._exit(0)


if __name__ == "__main__":
    main()
