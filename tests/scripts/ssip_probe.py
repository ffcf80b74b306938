"""Asks a speech server for one answer, as a client of ours or as an
intruder would: through a bridge's PORT on 127.0.0.1 or straight at a Unix
SOCKET; with KEY it first proves that key as the runtime does, with --http
it sends its SSIP in the body of an HTTP POST, as a web page can.
Read from standard input (python3 - ARGS <ssip_probe.py), so that another
account can run it whatever the checkout's permissions.

    python3 - PORT|SOCKET [KEY|--http] <ssip_probe.py

Exits 0 when the server answered, 3 when the connection was turned away or
got no answer, and anything else when it could not even try.
"""
import hashlib
import hmac
import secrets
import socket
import sys

target, how = sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else ""
if target.isdigit():
    s = socket.create_connection(("127.0.0.1", int(target)), timeout=5)
else:
    s = socket.socket(socket.AF_UNIX)
    s.settimeout(5)
    s.connect(target)
replies = s.makefile("rb")
command = b"SET SELF CLIENT_NAME verbanor:test:probe\r\n"
try:
    if how == "--http":
        s.sendall(b"POST / HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s"
                  % (target.encode(), len(command), command))
    elif how:
        key, nonce = bytes.fromhex(how), secrets.token_hex(32).encode()
        s.sendall(b"AUTH " + nonce + b"\r\n")
        theirs = replies.readline()[4:].strip()
        while not replies.readline().startswith(b"280 "):
            pass
        s.sendall(b"AUTH %s\r\n" % hmac.new(key, b"speechrt client %s %s" % (nonce, theirs), hashlib.sha256)
                  .hexdigest().encode())
        if not replies.readline().startswith(b"281 "):
            sys.exit(3)
    if how != "--http":
        s.sendall(command)
    # A server that takes the HTTP lines for commands answers them with
    # errors first.
    while line := replies.readline():
        if line.startswith(b"2"):
            sys.exit(0)
    sys.exit(3)
except OSError:
    sys.exit(3)
