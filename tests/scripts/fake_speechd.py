#!/usr/bin/env python3
"""Stands in for a desktop's speech-dispatcher on a Unix socket: answers SSIP
as the server does (every text ends at once) and records each line received,
a text as one line `DATA:` + its lines joined by `|`, and `<connected>` for
each connection, into RECORD.

    fake_speechd.py SOCKET RECORD
"""
import os
import socketserver
import sys


class Session(socketserver.StreamRequestHandler):
    def handle(self):
        record("<connected>")
        message = 0
        while True:
            line = self.rfile.readline()
            if not line:
                return
            line = line.rstrip(b"\r\n").decode("utf-8", "replace")
            record(line)
            if line == "SPEAK":
                self.reply("230 OK RECEIVING DATA")
                text = []
                while (data := self.rfile.readline().rstrip(b"\r\n").decode("utf-8", "replace")) != ".":
                    text.append(data)
                record("DATA:" + "|".join(text))
                message += 1
                self.reply(f"225-{message}\r\n225 OK MESSAGE QUEUED")
                self.reply(f"702-{message}\r\n702-1\r\n702 END")
            elif line == "QUIT":
                self.reply("231 HAPPY HACKING")
                return
            elif line.startswith("CANCEL"):
                self.reply("210 OK CANCELED")
            elif line == "HISTORY GET CLIENT_ID":
                self.reply("245-1\r\n245 OK CLIENT ID SENT")
            elif line.startswith("SET SELF "):
                self.reply("203 OK SET")
            else:
                self.reply("500 ERR INVALID COMMAND")

    def reply(self, text):
        try:
            self.wfile.write(text.encode() + b"\r\n")
        except OSError:
            pass  # a client that has gone needs no answer


def record(line):
    with open(sys.argv[2], "a", encoding="utf-8") as f:
        f.write(line + "\n")


class Server(socketserver.ThreadingMixIn, socketserver.UnixStreamServer):
    daemon_threads = True


if __name__ == "__main__":
    os.makedirs(os.path.dirname(sys.argv[1]), exist_ok=True)
    Server(sys.argv[1], Session).serve_forever()
