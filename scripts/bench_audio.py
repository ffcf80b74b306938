#!/usr/bin/env python3
"""How quickly real speech answers, measured on what the audio server plays:
Vorira under Wine, the stand-in runtime, a private speech-dispatcher with
eSpeak NG and a PulseAudio null sink whose monitor is recorded.

  TextData -> first audible sample      (F3; time of the runtime's TextData line)
  AudioReset -> silence                 (Esc; time of its AudioReset line)
    of which the runtime's part          (AudioReset -> its Speech.CutOff line,
                                          written once CANCEL has gone out)
  the server alone: CANCEL -> silence   (a plain SSIP client, no Wine, no
                                         runtime: the floor of the line above)
  first message after a cold start      (a fresh speech-dispatcher, no warm-up;
                                         and a fresh Vorira on a warm server)
  eSpeak NG alone                       (espeak-ng -v hu: to its first sample on
                                         stdout, and played through PulseAudio)

Each as median and worst of repeated runs. Run it through scripts/bench_audio.sh,
which provides the display, the Wine server and the build."""
import argparse
import os
import socket
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import harness as h  # noqa: E402
import test_audio as audio  # noqa: E402

TITLE_RE = "^Vorira - "
TEXT = audio.TEXT


class Bench:
    def __init__(self, runs, cold_runs):
        self.runs, self.cold_runs = runs, cold_runs
        self.state = os.path.join(h.BUILD, "bench-speech-server")
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.results = {}

    def server(self, *args):
        out = subprocess.run([audio.SERVER, *args], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             timeout=120, check=True).stdout.decode()
        return dict(line.split("=", 1) for line in out.split())

    def start_server(self, cold=False):
        env = self.server("start", self.state, str(self.port), "--null-sink", *(["--cold"] if cold else []))
        self.ssip = h.speech_env(env)
        self.pulse_env = dict(os.environ, PULSE_SERVER=env["PULSE_SERVER"])

    def vorira(self):
        prog = h.Program("vorira", extra_env=self.ssip)
        prog.main_window(TITLE_RE)
        h.wait_for(lambda: prog.journal.calls("Speech.Server"), 20, what="connection")
        prog.edit = h.wdrive("child", prog.hwnd, 1)[0]
        return prog

    def first_sample(self, prog, rec):
        """F3 and the time from its TextData to the first loud sample."""
        count = len(prog.journal.calls("Central.TextData"))
        h.xkey(TITLE_RE, "F3")
        h.wait_for(lambda: len(prog.journal.calls("Central.TextData")) > count, 20, what="TextData")
        sent = prog.journal.calls("Central.TextData")[-1]["time"]
        heard = h.wait_for(lambda: rec.first_sound(sent), 20, 0.02, "first sample")
        return sent, heard

    def warm_runs(self):
        prog = self.vorira()
        first, silence, runtime = [], [], []
        try:
            h.wdrive("settext", prog.edit, " ".join([TEXT] * 3))
            for _ in range(self.runs):
                rec = audio.Recorder(self.pulse_env)
                time.sleep(0.3)
                sent, _ = self.first_sample(prog, rec)
                time.sleep(1.0)
                resets = len(prog.journal.calls("Central.AudioReset"))
                h.xkey(TITLE_RE, "Escape")
                h.wait_for(lambda: len(prog.journal.calls("Central.AudioReset")) > resets, 20, what="AudioReset")
                time.sleep(0.8)
                rec.stop()
                reset = prog.journal.calls("Central.AudioReset")[-1]["time"]
                cut = h.wait_for(lambda: [e for e in prog.journal.calls("Speech.CutOff") if e["time"] >= reset],
                                 5, what="Speech.CutOff")[0]["time"]
                runtime.append(cut - reset)
                first.append(rec.first_sound(sent) - sent)
                last = rec.last_sound(reset)
                silence.append(last - reset if last else 0.0)
        finally:
            prog.kill()
        self.results["TextData -> first sample"] = first
        self.results["AudioReset -> silence"] = silence
        self.results["AudioReset -> CANCEL sent (the runtime's part)"] = runtime

    def server_runs(self):
        """The same reading and stop, sent by a plain SSIP client on the
        server's own socket (the bridge lets in only the runtime)."""
        silence = []
        with socket.socket(socket.AF_UNIX) as conn:
            conn.settimeout(20)
            conn.connect(os.path.realpath(os.path.join(self.state, "ssip")))
            lines = conn.makefile("rwb")

            def command(text):
                lines.write(text.encode("utf-8") + b"\r\n")
                lines.flush()
                while True:
                    reply = lines.readline().decode("utf-8", "replace")
                    if len(reply) < 4 or reply[3] == " ":
                        return reply

            command("SET SELF CLIENT_NAME user:bench:server")
            command("SET SELF LANGUAGE hu")
            for _ in range(self.runs):
                rec = audio.Recorder(self.pulse_env)
                time.sleep(0.3)
                command("SPEAK")
                # The text on one line, then the lone dot that ends it.
                command(" ".join([TEXT] * 3) + "\r\n.")
                h.wait_for(lambda: rec.first_sound(0.0), 20, 0.02, "first sample")
                time.sleep(1.0)
                sent = time.time()
                command("CANCEL self")
                time.sleep(0.8)
                rec.stop()
                last = rec.last_sound(sent)
                silence.append(last - sent if last else 0.0)
        self.results["the server alone: CANCEL -> silence"] = silence

    def cold_runs_(self):
        server_cold, program_cold = [], []
        for _ in range(self.cold_runs):
            self.server("stop", self.state)
            self.start_server(cold=True)
            for bucket in (server_cold, program_cold):
                # The second round meets the server the first one warmed.
                prog = self.vorira()
                try:
                    h.wdrive("settext", prog.edit, TEXT)
                    rec = audio.Recorder(self.pulse_env)
                    time.sleep(0.3)
                    sent, _ = self.first_sample(prog, rec)
                    rec.stop()
                    bucket.append(rec.first_sound(sent) - sent)
                    h.xkey(TITLE_RE, "Escape")
                finally:
                    prog.kill()
        self.results["cold server: first message -> first sample"] = server_cold
        self.results["cold program, warm server: first message -> first sample"] = program_cold

    def espeak_runs(self):
        stdout_first, played_first = [], []
        for _ in range(self.runs):
            start = time.time()
            p = subprocess.Popen(["espeak-ng", "-v", "hu", "--stdout", TEXT], stdout=subprocess.PIPE)
            header = b""
            got = None
            while got is None:
                chunk = p.stdout.read1(4096)
                if not chunk:
                    break
                header += chunk
                # The WAV header is 44 bytes; the first loud sample after it.
                body = header[44:]
                for i in range(0, len(body) - 1, 2):
                    if abs(int.from_bytes(body[i:i + 2], "little", signed=True)) > audio.LOUD:
                        got = time.time() - start
                        break
            p.stdout.close()
            p.kill()
            p.wait()
            stdout_first.append(got)

            rec = audio.Recorder(self.pulse_env)
            time.sleep(0.3)
            start = time.time()
            p = subprocess.Popen(["espeak-ng", "-v", "hu", TEXT], env=self.pulse_env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            heard = h.wait_for(lambda: rec.first_sound(start), 20, 0.02, "espeak-ng sound")
            p.kill()
            p.wait()
            rec.stop()
            played_first.append(rec.first_sound(start) - start if heard else None)
        self.results["eSpeak NG command line: start -> first sample on stdout"] = stdout_first
        self.results["eSpeak NG command line: start -> first sample played"] = played_first

    def run(self):
        self.start_server()
        try:
            self.warm_runs()
            self.server_runs()
            self.espeak_runs()
            self.cold_runs_()
        finally:
            self.server("stop", self.state)
        print("%-60s %8s %8s %4s" % ("measure (ms)", "median", "worst", "runs"))
        for name, values in self.results.items():
            ms = [v * 1000 for v in values if v is not None]
            print("%-60s %8.0f %8.0f %4d" % (name, statistics.median(ms), max(ms), len(ms)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=10, help="repetitions of each warm measurement")
    parser.add_argument("--cold-runs", type=int, default=5, help="cold starts of the speech server")
    args = parser.parse_args()
    audio.require_tools()
    Bench(args.runs, args.cold_runs).run()


if __name__ == "__main__":
    main()
