#!/usr/bin/env python3
"""Lets the stand-in speech runtime speak through the desktop's own
speech-dispatcher, which listens on a Unix socket only: Wine's winsock here
has no AF_UNIX, so this forwards a TCP port of 127.0.0.1 to that socket.

    speechd-bridge.py SOCKET --owner PID

It first checks that a speech-dispatcher answers on SOCKET (it never starts
one); if none does it prints nothing and exits with 1. Otherwise it prints
SPEECHRT_SSIP=127.0.0.1:PORT, goes into the background and forwards until
the process PID ends, however it ends. Any local user can reach a TCP port,
so a connection is served only when the process behind it runs as the same
user as the bridge: a user's text never goes into another user's session.
"""
import ipaddress
import os
import select
import socket
import sys
import threading
import time


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


def proc_address(text):
    """Decodes an address of /proc/net/tcp{,6}: hex words in host order."""
    host, port = text.split(":")
    raw = bytes.fromhex(host)
    raw = b"".join(raw[i:i + 4][::-1] for i in range(0, len(raw), 4))
    address = ipaddress.ip_address(raw)
    if address.version == 6 and address.ipv4_mapped:
        address = address.ipv4_mapped
    return address, int(port, 16)


def peer_uid(peer, local):
    """The owner of the socket at the far end of an accepted connection:
    the one whose own address is PEER and whose remote one is LOCAL."""
    wanted = ((ipaddress.ip_address(peer[0]), peer[1]), (ipaddress.ip_address(local[0]), local[1]))
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as f:
                next(f)
                for line in f:
                    fields = line.split()
                    if (proc_address(fields[1]), proc_address(fields[2])) == wanted:
                        return int(fields[7])
        except OSError:
            pass
    return None


def pump(client, path):
    with client:
        try:
            server = socket.socket(socket.AF_UNIX)
            server.settimeout(2)
            server.connect(path)
            server.settimeout(None)
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


def serve(listener, path):
    while True:
        client, peer = listener.accept()
        if peer_uid(peer, client.getsockname()) != os.getuid():
            client.close()
            continue
        threading.Thread(target=pump, args=(client, path), daemon=True).start()


def main():
    args = sys.argv[1:]
    if len(args) != 3 or args[1] != "--owner":
        sys.exit("usage: speechd-bridge.py SOCKET --owner PID")
    path, owner = args[0], args[2]
    owner_start = started_at(owner)
    if owner_start is None or not answers(path):
        sys.exit(1)
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    port = listener.getsockname()[1]
    if os.fork():
        print(f"SPEECHRT_SSIP=127.0.0.1:{port}", flush=True)
        os._exit(0)
    # Detached: the caller's output (often a pipe it waits on) is let go.
    os.setsid()
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)
    # Nor does it hold on to a lock or pipe the caller's shell had open.
    os.closerange(3, listener.fileno())
    os.closerange(listener.fileno() + 1, 1024)
    threading.Thread(target=serve, args=(listener, path), daemon=True).start()
    while started_at(owner) == owner_start:
        time.sleep(0.5)
    os._exit(0)


if __name__ == "__main__":
    main()
