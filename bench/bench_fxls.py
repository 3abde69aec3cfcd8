#!/usr/bin/env python3
"""fxls speed and memory against the size of the open document.

For sources of about 100 KB, 1 MB and 10 MB: the time from a one-character edit to the fresh
diagnostics, against the time `zqa check` takes to load the same file (goal: at most 2x); hover and
completion latency (goal: under a tenth of that load time); the server's resident memory against
the document's size (goal: at most 8x), after the server's own start-up memory is taken off: the
resident size after the same session (open, edits, hover, completion) on a one-key document, so that
code and fixed buffers paged in by checking a key are not counted as a document's cost. `fxcheck` on
the same file is timed as well: the check that the server runs for each edit. A case with a handful
of findings (misspelt property names) exercises the diagnostics path with its quick fixes.
"""
import argparse, json, os, subprocess, sys, tempfile, time

bin_dir = "build/native/bin"
KEY = ('      (key (name K{n}) (type Sprite) (id {n}) (track {t}) (start-time 0) (end-time 900)\n'
       '        (properties (property (name Size) (type Float) (value-list (value (time 0) (data 2)) (value (time 1) (data 3))))\n'
       '          (property (name BlendMode) (type Enum) (value-list (value (time 0) (data Additive))))))\n')

def source(size, findings=0):
    """About size bytes of keys; with findings, that many keys spread over the text misspell 'Size'."""
    head = '(header (version 1))\n(effect-tree\n  (effect (name E) (length 1000)\n    (key-list\n'
    keys, total = [KEY.format(n=0, t=0)], len(head) + len(KEY.format(n=0, t=0))
    while total < size:
        keys.append(KEY.format(n=len(keys), t=len(keys) % 60000)); total += len(keys[-1])
    for i in range(findings):
        n = len(keys) * (2 * i + 1) // (2 * findings)
        keys[n] = keys[n].replace("(name Size)", "(name Szie)")
    return head + ''.join(keys) + ')))\n'

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

def session(text, path):
    """Opens text as path, edits it three times, asks for hover and completion: the times in seconds
    (best edit->diagnostics, best hover, best completion), the diagnostics of the last edit, and the
    server's resident size and peak after it all."""
    server = Server()
    uri = "file://" + path
    open_and_wait(server, uri, text)
    line = 5  # "(data 2)" of the first key's Size
    col = text.split("\n")[line].index("(data 2)") + 6
    edits, diags = [], None
    for v in (2, 3, 4):
        t = time.perf_counter()
        server.send({"jsonrpc": "2.0", "method": "textDocument/didChange",
                     "params": {"textDocument": {"uri": uri, "version": v}, "contentChanges": [
                         {"range": {"start": {"line": line, "character": col}, "end": {"line": line, "character": col + 1}},
                          "text": "2" if v % 2 else "5"}]}})
        diags = server.wait_diagnostics(v)["params"]["diagnostics"]
        edits.append(time.perf_counter() - t)
    where = {"textDocument": {"uri": uri}, "position": {"line": len(text.split("\n")) // 2, "character": 23}}
    hovers, completions = [], []
    for _ in range(5):
        t = time.perf_counter(); server.request("textDocument/hover", where); hovers.append(time.perf_counter() - t)
        t = time.perf_counter(); server.request("textDocument/completion", where); completions.append(time.perf_counter() - t)
    rss, peak = server.rss()
    stop(server)
    return min(edits), min(hovers), min(completions), diags, rss, peak

def main():
    global bin_dir
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("bin_dir", nargs="?", default=bin_dir, help="folder of fxls, fxcheck, zqa and the sample module "
                        "(default: %(default)s)")
    bin_dir = parser.parse_args().bin_dir
    work = tempfile.mkdtemp()
    with open(os.path.join(work, "p.proj00"), "w") as f:
        f.write("[Project Binaries]\nSparkrig=%s\n" % os.path.join(os.path.abspath(bin_dir), "sparkrig_sample.dll"))
    small = os.path.join(work, "small.Fx00a")
    text = source(0)
    with open(small, "w") as f: f.write(text)
    _, _, _, diags, base, base_peak = session(text, small)
    if diags:
        sys.exit("the one-key document has findings: %s" % json.dumps(diags))
    print("server start-up memory (one-key session): %.1f MB resident, %.1f MB peak" % (base / 1e6, base_peak / 1e6))
    print("%-8s %8s %10s %10s %12s %7s %7s %9s %9s %8s %8s" % ("size", "findings", "zqa check", "fxcheck",
          "edit->diags", "ratio", "fxcheck", "hover", "complete", "mem", "peak"))
    for size, findings in ((100_000, 0), (1_000_000, 0), (1_000_000, 5), (10_000_000, 0)):
        text = source(size, findings)
        path = os.path.join(work, "s%d-%d.Fx00a" % (size, findings))
        with open(path, "w") as f: f.write(text)
        load = timed([os.path.join(bin_dir, "zqa"), "check", path])
        check = timed([os.path.join(bin_dir, "fxcheck"), path])
        edit, hover, completion, diags, rss, peak = session(text, path)
        if len(diags) != findings:
            sys.exit("%s: %d findings where %d were made: %s" % (path, len(diags), findings, json.dumps(diags[:3])))
        # Ratios: edit->diags against zqa check's load and against fxcheck; hover and completion
        # against the load; memory and peak (start-up taken off) against the document's size.
        print("%-8s %8d %8.1fms %8.1fms %10.1fms %6.2fx %6.2fx %8.4fx %8.4fx %7.1fx %7.1fx" % (
            "%dKB" % (len(text) // 1000), findings, load * 1e3, check * 1e3, edit * 1e3, edit / load, edit / check,
            hover / load, completion / load, (rss - base) / len(text), (peak - base) / len(text)))

main()
