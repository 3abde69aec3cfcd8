#!/usr/bin/env python3
"""fxls speed and memory against the size of the open document.

For sources of about 100 KB, 1 MB and 10 MB: the time from a one-character edit to the fresh
diagnostics, against the time `zqa check` takes to load the same file (goal: at most 2x); hover and
completion latency (goal: under a tenth of that load time); the server's resident memory against
the document's size (goal: at most 8x), after the server's own start-up memory (the resident size with
a one-line document open) is taken off. `fxcheck` on the same file is timed as well: the check that
the server runs for each edit. Usage: bench_fxls.py BIN_DIR
"""
import json, os, subprocess, sys, tempfile, time

bin_dir = sys.argv[1] if len(sys.argv) > 1 else "build/native/bin"
KEY = ('      (key (name K{n}) (type Sprite) (id {n}) (track {t}) (start-time 0) (end-time 900)\n'
       '        (properties (property (name Size) (type Float) (value-list (value (time 0) (data 2)) (value (time 1) (data 3))))\n'
       '          (property (name BlendMode) (type Enum) (value-list (value (time 0) (data Additive))))))\n')

def source(size):
    parts, n = ['(header (version 1))\n(effect-tree\n  (effect (name E) (length 1000)\n    (key-list\n'], 0
    total = len(parts[0])
    while total < size:
        k = KEY.format(n=n, t=n % 60000)
        parts.append(k); total += len(k); n += 1
    parts.append('))))\n')
    return ''.join(parts)

class Server:
    def __init__(self):
        self.p = subprocess.Popen([os.path.join(bin_dir, "fxls"), "--debounce", "0"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE)
        self.id = 0
    def send(self, message):
        body = json.dumps(message).encode()
        self.p.stdin.write(b"Content-Length: %d\r\n\r\n" % len(body) + body); self.p.stdin.flush()
    def read(self):
        length = 0
        while True:
            line = self.p.stdout.readline().strip()
            if not line: break
            if line.lower().startswith(b"content-length:"): length = int(line.split(b":")[1])
        return json.loads(self.p.stdout.read(length))
    def request(self, method, params):
        self.id += 1
        self.send({"jsonrpc": "2.0", "id": self.id, "method": method, "params": params})
        while True:
            m = self.read()
            if m.get("id") == self.id: return m
    def wait_diagnostics(self, version):
        while True:
            m = self.read()
            if m.get("method") == "textDocument/publishDiagnostics" and m["params"].get("version") == version:
                return m
    def rss(self):
        status = open("/proc/%d/status" % self.p.pid).read()
        field = lambda name: int(status.split(name + ":")[1].split()[0]) * 1024
        return field("VmRSS"), field("VmHWM")

def open_and_wait(server, uri, text):
    server.request("initialize", {"capabilities": {}})
    server.send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
                 "params": {"textDocument": {"uri": uri, "languageId": "fx", "version": 1, "text": text}}})
    server.wait_diagnostics(1)

def stop(server):
    server.request("shutdown", None); server.send({"jsonrpc": "2.0", "method": "exit"}); server.p.wait()

def timed(command, runs=3):
    best = None
    for _ in range(runs):
        t = time.perf_counter(); subprocess.run(command, capture_output=True)
        best = min(best or 1e9, time.perf_counter() - t)
    return best

def main():
    work = tempfile.mkdtemp()
    with open(os.path.join(work, "p.proj00"), "w") as f:
        f.write("[Project Binaries]\nSparkrig=%s\n" % os.path.join(os.path.abspath(bin_dir), "sparkrig_sample.dll"))
    small = os.path.join(work, "small.Fx00a")
    with open(small, "w") as f: f.write("(header (version 1))\n")
    server = Server()
    open_and_wait(server, "file://" + small, "(header (version 1))\n")
    base, base_peak = server.rss()
    stop(server)
    print("server start-up memory: %.1f MB resident, %.1f MB peak" % (base / 1e6, base_peak / 1e6))
    print("%-8s %10s %10s %12s %7s %7s %9s %9s %8s %8s" % ("size", "zqa check", "fxcheck", "edit->diags", "ratio",
          "fxcheck", "hover", "complete", "mem", "peak"))
    for size in (100_000, 1_000_000, 10_000_000):
        text = source(size)
        path = os.path.join(work, "s%d.Fx00a" % size)
        with open(path, "w") as f: f.write(text)
        load = timed([os.path.join(bin_dir, "zqa"), "check", path])
        check = timed([os.path.join(bin_dir, "fxcheck"), path])
        server = Server()
        uri = "file://" + path
        open_and_wait(server, uri, text)
        edits = []
        line = 5  # "(data 2)" of the first key's Size
        col = text.split("\n")[line].index("(data 2)") + 6
        for v in (2, 3, 4):

            t = time.perf_counter()
            server.send({"jsonrpc": "2.0", "method": "textDocument/didChange",
                         "params": {"textDocument": {"uri": uri, "version": v}, "contentChanges": [
                             {"range": {"start": {"line": line, "character": col}, "end": {"line": line, "character": col + 1}},
                              "text": "2" if v % 2 else "5"}]}})
            server.wait_diagnostics(v)
            edits.append(time.perf_counter() - t)
        edit = min(edits)
        where = {"textDocument": {"uri": uri}, "position": {"line": len(text.split("\n")) // 2, "character": 23}}
        hovers, completions = [], []
        for _ in range(5):
            t = time.perf_counter(); server.request("textDocument/hover", where); hovers.append(time.perf_counter() - t)
            t = time.perf_counter(); server.request("textDocument/completion", where); completions.append(time.perf_counter() - t)
        rss, peak = server.rss()
        stop(server)
        # Ratios: edit->diags against zqa check's load and against fxcheck; hover and completion
        # against the load; memory and peak (start-up taken off) against the document's size.
        print("%-8s %8.1fms %8.1fms %10.1fms %6.2fx %6.2fx %8.4fx %8.4fx %7.1fx %7.1fx" % (
            "%dKB" % (len(text) // 1000), load * 1e3, check * 1e3, edit * 1e3, edit / load, edit / check,
            min(hovers) / load, min(completions) / load, (rss - base) / len(text), (peak - base) / len(text)))

main()
