#!/usr/bin/env python3
"""Local service double for TesselSDK: one HTTP server on 127.0.0.1 standing in
for every remote service the library talks to (configuration CDN, TURN, mobile
notification, telemetry, metrics, geolocation, event ingestion).

It records every request it receives (method, target, headers in the order
received, body) and lets tests script answers through a small control API:

  POST /__control/reset            forget recorded requests and scripted routes
  POST /__control/route            add a scripted answer (JSON, see Route below)
  GET  /__control/requests?prefix=P  recorded requests whose target starts with P
  POST /__control/requests         the same, with P as the body

Built-in endpoints for transport tests:
  /echo            200 with the request as JSON
  /status/<code>   that status with body "status <code>"
  /empty           200 without a body
  /chunked/<n>     200 with n bytes sent in chunks
  /redirect/<code>?to=<target>   a redirect with that status
  /hang            accepts and never answers (until the client gives up)
  /reset           sends headers and 1000 of 100000 body bytes, pauses 1 s,
                   then resets the connection
  /slow/<ms>       sends the body in pieces, <ms> apart
  /large/<n>       200 with n bytes (byte i is i % 251), streamed; ends early
                   when the client closes the connection

Usage (service_double.py <command> --help for the options):
  service_double.py serve --port P [--port-file F] [--demo] [--quiet]
  service_double.py start --port P --pidfile F [--port-file F] [--log L] [--demo]
  service_double.py stop --pidfile F
  service_double.py run [--demo] [--log L] -- PROGRAM [ARGS...]
Port 0 lets the system choose a free port; it is written to the port file.
run starts a double of its own on a free port, and a second listener of it on
127.0.0.2 (another host to the client) when one can be bound; runs the
program with TESSELSDK_TEST_SERVER (its URL), TESSELSDK_LOCAL_PORT (its port)
and TESSELSDK_TEST_OTHER_SERVER (the second listener's URL, when there is
one) in the environment; stops the double and exits with the program's status
(status 2, the reason on stderr, when the double cannot start). Each recorded
request names the listener that took it ("server").
When the port cannot be bound (another process holds it), serve and start
fail with exit status 2 and say so on stderr.
"""

import argparse
import base64
import datetime
import errno
import gzip
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CONFIG_PATH = "/application_no/STATIC/halyxapp/streaming/config_streaming.json"


def demo_config(port):
    base = "http://127.0.0.1:%d" % port
    return {
        "virivizar_ss": {"ws": {"kr": "signal.demo.invalid"}},
        "virivizar_turn": {"api": {"kr": base + "/turn"}},
        "virivizar_event": {"api": {"kr": base + "/event/v1.0/notify"}},
        "virivizar_windows_events": {"api": {"kr": base + "/windows-events"}},
        "virivizar_sentry": {"enable": True, "dsn": "http://demokey@127.0.0.1:%d/42" % port},
        "virivizar_sqm": {
            "api": {"kr": base + "/sqm"},
            "metric_collect_interval_s": 2,
            "start_streaming_push_delay_s": 3,
            "during_streaming_push_interval_s": 6,
            "games": {"DEMO": {"enabled": True}},
        },
        "virivizar_bitrate": {
            "Unreal": {
                "AUTO": {"MaxBitrate": 20000000, "MinBitrate": 10000000, "Fps": 60, "MinQP": 20, "MaxQP": 40,
                         "H264Profile": "HIGH", "Multipass": "DISABLED", "EncoderPreset": "LOW_QUALITY",
                         "RateControl": "CBR", "DegradationPreference": "MAINTAIN_FRAMERATE"},
                "LOW": {"MaxBitrate": 6000000, "MinBitrate": 2000000, "Fps": 30},
            }
        },
    }


class State:
    def __init__(self, port, demo, quiet):
        self.port = port
        self.demo = demo
        self.quiet = quiet
        self.lock = threading.Lock()
        self.requests = []
        self.routes = []
        self.seq = 0

    def reset(self):
        with self.lock:
            self.requests = []
            self.routes = []

    def record(self, entry):
        with self.lock:
            self.seq += 1
            entry["seq"] = self.seq
            self.requests.append(entry)

    def find_route(self, method, path):
        with self.lock:
            for route in reversed(self.routes):
                if route.get("method", "*") not in ("*", method):
                    continue
                if "path" in route and route["path"] != path:
                    continue
                if "prefix" in route and not path.startswith(route["prefix"]):
                    continue
                if "times" in route:
                    route["times"] -= 1
                    if route["times"] <= 0:
                        self.routes.remove(route)
                return dict(route)
        return None


STATE = None


def envelope_items(data):
    """An event-ingestion envelope as (title, payload bytes) pairs: its header
    line, then each item's header and payload (the header's "length" bytes, or
    up to the next newline)."""
    head, _, rest = data.partition(b"\n")
    out = [("envelope", head)]
    while rest:
        line, _, rest = rest.partition(b"\n")
        try:
            item = json.loads(line)
        except ValueError:
            out.append(("unreadable", line + b"\n" + rest))
            break
        if isinstance(item.get("length"), int):
            payload, rest = rest[:item["length"]], rest[item["length"] + 1:]
        else:
            payload, _, rest = rest.partition(b"\n")
        out.append(("item " + json.dumps(item), payload))
    return out


def printable_json(data):
    value = json.loads(data)
    # The loaded-module list of an event is long and of no interest here.
    images = value.get("debug_meta", {}).get("images") if isinstance(value, dict) else None
    if isinstance(images, list):
        value["debug_meta"]["images"] = "<%d loaded modules>" % len(images)
    return json.dumps(value, indent=2, ensure_ascii=False)


def printable_body(headers, body):
    """The body decoded for a person: gzip inflated, JSON pretty-printed,
    envelopes split into their items."""
    headers = {k.lower(): v for k, v in headers.items()}
    encoding = headers.get("content-encoding", "")
    marker = ""
    if encoding == "gzip" or body[:2] == b"\x1f\x8b":
        try:
            inflated = gzip.decompress(body)
        except Exception:
            return "<gzip that does not inflate: %d bytes>" % len(body)
        marker = "[gzip body, inflated from %d to %d bytes]\n" % (len(body), len(inflated))
        body = inflated
    return marker + decoded_text(headers, body)


def decoded_text(headers, body):
    if headers.get("content-type", "").startswith("application/x-sentry-envelope"):
        out = []
        for title, payload in envelope_items(body):
            try:
                text = printable_json(payload)
            except ValueError:
                text = payload.decode("utf-8", "replace")
            out.append("--- %s ---\n%s" % (title, text))
        return "\n".join(out)
    text = body.decode("utf-8", "replace")
    try:
        return json.dumps(json.loads(text), indent=2, ensure_ascii=False)
    except Exception:
        return text


def service_of(path):
    """The remote service a request path stands for (for the demo output)."""
    parts = [p for p in path.split("/") if p]
    head = parts[0] if parts else ""
    if head.startswith("cdn-"):
        return "configuration"
    if head == "sqm" or head == "sqm-dev" or path.endswith("/v1.0/metrics"):
        return "metrics"
    if head == "api" and path.rstrip("/").endswith("/envelope"):
        return "event ingest"
    return {"turn": "TURN", "event": "notification", "telemetry": "telemetry", "geo": "geolocation",
            "windows-events": "windows events"}.get(head, "transport test" if head in (
                "echo", "status", "empty", "chunked", "redirect", "hang", "reset", "slow") else "unknown")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "ServiceDouble/1.0"

    def log_message(self, fmt, *args):
        pass

    def send_response(self, code, message=None):
        self.answer_status = code
        super().send_response(code, message)

    # -- plumbing ---------------------------------------------------------
    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().strip().split(b";")[0], 16)
                if size == 0:
                    self.rfile.readline()
                    return data
                data += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def reply(self, status, body=b"", headers=None, content_type="application/json"):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        sent_type = False
        for k, v in (headers or {}).items():
            self.send_header(k, v)
            sent_type = sent_type or k.lower() == "content-type"
        if body and not sent_type:
            self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True

    # -- dispatch ---------------------------------------------------------
    def handle_any(self):
        body = self.read_body()
        target = self.path
        path = urllib.parse.urlsplit(target).path
        if path.startswith("/__control/"):
            return self.control(path, body)
        headers = [[k, v] for k, v in self.headers.items()]
        entry = {"method": self.command, "path": target, "headers": headers,
                 "body": body.decode("latin-1"), "server": self.server.server_address[0]}
        STATE.record(entry)
        received = datetime.datetime.now()
        self.answer_status = None
        try:
            route = STATE.find_route(self.command, path)
            if route is not None:
                return self.scripted(route)
            return self.builtin(path, body, entry)
        finally:
            # The answer's status joins the record (None: no answer was sent).
            with STATE.lock:
                entry["status"] = self.answer_status
            if not STATE.quiet:
                self.print_request(received, path, headers, body)

    def print_request(self, received, path, headers, body):
        status = "no answer" if self.answer_status is None else str(self.answer_status)
        lines = ["", "==> %s  %s %s" % (received.strftime("%H:%M:%S.%f")[:-3], self.command, self.path),
                 "    service: %s, answered: %s" % (service_of(path), status)]
        lines += ["    %s: %s" % (k, v) for k, v in headers]
        if body:
            decoded = printable_body(dict(headers), body)
            lines += ["    " + line for line in decoded.split("\n")]
        sys.stdout.write("\n".join(lines) + "\n")
        sys.stdout.flush()

    def control(self, path, body):
        if path == "/__control/reset":
            STATE.reset()
            return self.reply(200, "{}")
        if path == "/__control/route":
            rule = json.loads(body.decode("utf-8"))
            with STATE.lock:
                STATE.routes.append(rule)
            return self.reply(200, "{}")
        if path == "/__control/requests":
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
            prefix = body.decode("latin-1") if body else query.get("prefix", [""])[0]
            with STATE.lock:
                found = [r for r in STATE.requests if r["path"].startswith(prefix)]
            return self.reply(200, json.dumps(found, ensure_ascii=False))
        return self.reply(404, "{}")

    def scripted(self, route):
        delay = route.get("delay_ms", 0)
        if delay:
            time.sleep(delay / 1000.0)
        mode = route.get("mode", "normal")
        if mode == "hang":
            return self.hang()
        if mode == "reset":
            return self.reset_mid_body(1.0)
        if mode == "stall_mid_headers":
            return self.stall_mid_headers(route.get("stall_ms", 120000) / 1000.0)
        body = route.get("body", "")
        if "body_b64" in route:
            body = base64.b64decode(route["body_b64"])
        return self.reply(route.get("status", 200), body, route.get("headers"))

    def hang(self):
        time.sleep(120)
        self.close_connection = True

    def stall_mid_headers(self, stall):
        # The status line and one header line, then silence: the headers never end.
        self.answer_status = 200
        self.wfile.write(b"HTTP/1.1 200 OK\r\nX-A: 1\r\n")
        self.wfile.flush()
        time.sleep(stall)
        self.close_connection = True

    def reset_mid_body(self, pause=0.0):
        self.send_response(200)
        self.send_header("Content-Length", "100000")
        self.end_headers()
        self.wfile.write(b"x" * 1000)
        self.wfile.flush()
        if pause:
            time.sleep(pause)  # lets the client take in what was sent before the reset
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.connection.close()
        self.close_connection = True

    def large(self, n):
        self.send_response(200)
        self.send_header("Content-Length", str(n))
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        block = bytes(i % 251 for i in range(251 * 256))  # whole periods: blocks follow on
        sent = 0
        try:
            while sent < n:
                piece = block[:min(len(block), n - sent)]
                self.wfile.write(piece)
                sent += len(piece)
        except OSError:
            pass  # the client stopped reading
        self.close_connection = True

    def builtin(self, path, body, entry):
        parts = [p for p in path.split("/") if p]
        head = parts[0] if parts else ""
        if head == "echo":
            return self.reply(200, json.dumps(entry))
        if head == "status" and len(parts) > 1:
            code = int(parts[1])
            return self.reply(code, "status %d" % code, content_type="text/plain")
        if head == "empty":
            return self.reply(200, b"")
        if head == "chunked" and len(parts) > 1:
            n = int(parts[1])
            self.send_response(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Connection", "close")
            self.end_headers()
            sent = 0
            while sent < n:
                size = min(4093, n - sent)
                chunk = bytes((sent + i) % 251 for i in range(size))
                self.wfile.write(b"%x\r\n" % size + chunk + b"\r\n")
                sent += size
            self.wfile.write(b"0\r\n\r\n")
            self.close_connection = True
            return None
        if head == "redirect" and len(parts) > 1:
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
            return self.reply(int(parts[1]), "", {"Location": query.get("to", ["/echo"])[0]})
        if head == "hang":
            return self.hang()
        if head == "reset":
            return self.reset_mid_body(1.0)
        if head == "large" and len(parts) > 1:
            return self.large(int(parts[1]))
        if head == "slow" and len(parts) > 1:
            pause = int(parts[1]) / 1000.0
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.send_header("Connection", "close")
            self.end_headers()
            for _ in range(10):
                self.wfile.write(b"s")
                self.wfile.flush()
                time.sleep(pause)
            self.close_connection = True
            return None
        # Service defaults.
        if head.startswith("cdn-") and path.endswith(CONFIG_PATH):
            if STATE.demo:
                return self.reply(200, json.dumps(demo_config(STATE.port)))
            return self.reply(404, "no configuration scripted", content_type="text/plain")
        if head == "telemetry":
            return self.reply(200, '{"result":"ok"}')
        if head == "geo":
            return self.reply(200, json.dumps({"status": "success", "countryCode": "KR", "city": "Seoul",
                                               "isp": "Double ISP"}))
        if head == "turn":
            return self.reply(200, json.dumps({"value": {"ice_servers": [
                {"urls": ["stun:127.0.0.1:3478"], "username": "", "credential": ""},
                {"urls": ["turn:127.0.0.1:3478?transport=udp", "turn:127.0.0.1:3478?transport=tcp"],
                 "username": "demo-user", "credential": "demo-secret"}]}}))
        if path.endswith("/v1.0/metrics") or head == "event" or head == "windows-events":
            return self.reply(200, '{"result":"ok"}')
        if path.startswith("/api/") and path.rstrip("/").endswith("/envelope"):
            return self.reply(200, '{"id":"00000000000000000000000000000000"}')
        return self.reply(404, "not found", content_type="text/plain")

    do_GET = handle_any
    do_POST = handle_any
    do_PUT = handle_any
    do_DELETE = handle_any
    do_HEAD = handle_any


def write_port_file(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(text + "\n")
    os.replace(tmp, path)


def bind_error(port, err):
    reason = err.strerror or str(err)
    text = "service double: cannot listen on 127.0.0.1:%d: %s" % (port, reason)
    if err.errno == errno.EADDRINUSE:
        text += " (another process holds this port; stop it or choose another port)"
    return text


def serve(args):
    global STATE
    ThreadingHTTPServer.daemon_threads = True
    # SO_REUSEADDR lets a restart reuse a port whose old connections linger in
    # TIME_WAIT; Linux still refuses the bind while another socket listens there.
    ThreadingHTTPServer.allow_reuse_address = True
    try:
        server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    except OSError as err:
        text = bind_error(args.port, err)
        print(text, file=sys.stderr, flush=True)
        if args.port_file:
            write_port_file(args.port_file, "error " + text)
        return 2
    port = server.server_address[1]
    STATE = State(port, args.demo, args.quiet)
    if args.port_file:
        write_port_file(args.port_file, str(port))
    if not args.quiet:
        print("service double listening on http://127.0.0.1:%d" % port, flush=True)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    server.serve_forever()
    return 0


def start(args):
    stop(args)
    port_file = args.port_file or args.pidfile + ".port"
    try:
        os.remove(port_file)
    except OSError:
        pass
    cmd = [sys.executable, os.path.abspath(__file__), "serve", "--port", str(args.port), "--port-file", port_file]
    if args.demo:
        cmd.append("--demo")
    if not args.log:
        cmd.append("--quiet")
    log = open(args.log, "w") if args.log else subprocess.DEVNULL
    proc = subprocess.Popen(cmd, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                            start_new_session=True)
    with open(args.pidfile, "w") as f:
        f.write(str(proc.pid))
    # The server writes its port (or why it could not bind) once it listens.
    deadline = time.time() + 15
    while time.time() < deadline:
        try:
            with open(port_file) as f:
                text = f.read().strip()
        except OSError:
            text = ""
        if text.startswith("error "):
            proc.wait()
            os.remove(args.pidfile)
            print(text[len("error "):], file=sys.stderr)
            return 2
        if text:
            if args.port == 0:
                print(text)
            return 0
        if proc.poll() is not None:
            os.remove(args.pidfile)
            print("service double: exited with status %d before listening on port %d"
                  % (proc.returncode, args.port), file=sys.stderr)
            return 2
        time.sleep(0.05)
    print("service double: not listening on port %d after 15 s" % args.port, file=sys.stderr)
    stop(args)
    return 2


def stop(args):
    try:
        with open(args.pidfile) as f:
            pid = int(f.read().strip())
        os.kill(pid, signal.SIGTERM)
        os.remove(args.pidfile)
    except (OSError, ValueError):
        pass
    try:
        os.remove(args.pidfile + ".port")
    except OSError:
        pass
    return 0


def run(args):
    program = args.program[1:] if args.program[:1] == ["--"] else args.program
    if not program:
        print("service double: run needs a program to run", file=sys.stderr)
        return 2
    # The server runs in a thread of this process: it ends with it, whatever
    # becomes of the program.
    global STATE
    ThreadingHTTPServer.daemon_threads = True
    try:
        server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    except OSError as err:
        print(bind_error(0, err), file=sys.stderr, flush=True)
        return 2
    port = server.server_address[1]
    log = open(args.log, "w") if args.log else None
    STATE = State(port, args.demo, log is None)
    if log is not None:
        sys.stdout = log
    thread = threading.Thread(target=server.serve_forever, name="service-double", daemon=True)
    thread.start()
    env = dict(os.environ)
    env["TESSELSDK_TEST_SERVER"] = "http://127.0.0.1:%d" % port
    env["TESSELSDK_LOCAL_PORT"] = str(port)
    env.pop("TESSELSDK_TEST_OTHER_SERVER", None)
    other = None
    try:
        other = ThreadingHTTPServer(("127.0.0.2", 0), Handler)
    except OSError as err:
        print("service double: no second listener on 127.0.0.2: %s" % (err.strerror or err), file=sys.stderr)
    if other is not None:
        threading.Thread(target=other.serve_forever, name="service-double-other", daemon=True).start()
        env["TESSELSDK_TEST_OTHER_SERVER"] = "http://127.0.0.2:%d" % other.server_address[1]
    # The program's output reaches ours through a pipe of this process, so
    # processes it leaves behind (Wine's, holding the program's output open)
    # do not hold the caller, who waits for our output to end.
    try:
        proc = subprocess.Popen(program, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except OSError as err:
        print("service double: cannot run %s: %s" % (program[0], err.strerror or err), file=sys.stderr)
        server.shutdown()
        return 2

    def copy_output():
        fd = proc.stdout.fileno()
        while True:
            data = os.read(fd, 65536)
            if not data:
                return
            os.write(1, data)
    copier = threading.Thread(target=copy_output, name="program-output", daemon=True)
    copier.start()
    # A stop request (CTest's timeout) reaches the program, then ends the run.
    def forward(signum, _frame):
        try:
            proc.send_signal(signum)
        except OSError:
            pass
    signal.signal(signal.SIGTERM, forward)
    signal.signal(signal.SIGINT, forward)
    code = proc.wait()
    copier.join(2)
    server.shutdown()
    server.server_close()
    if other is not None:
        other.shutdown()
        other.server_close()
    if log is not None:
        sys.stdout = sys.__stdout__
        log.close()
    # A program ended by a signal fails like one: 128 + its number.
    return code if code >= 0 else 128 - code


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="cmd", required=True)
    port_help = "port on 127.0.0.1 to listen on; 0 lets the system choose one (see --port-file)"
    port_file_help = "file to write the port into once listening (or 'error <reason>' when the port cannot be bound)"
    demo_help = ("serve the demo's remote configuration for every environment (without it the configuration "
                 "paths answer 404 unless a test scripts them)")
    p = sub.add_parser("serve", help="run the double in the foreground",
                       description="Runs the double in the foreground until SIGTERM or Ctrl-C. Unless --quiet, "
                                   "prints each request with its time, service, answer status, headers and "
                                   "decoded body (gzip bodies inflated and marked).")
    p.add_argument("--port", type=int, required=True, help=port_help)
    p.add_argument("--port-file", help=port_file_help)
    p.add_argument("--demo", action="store_true", help=demo_help)
    p.add_argument("--quiet", action="store_true", help="print nothing per request")
    p = sub.add_parser("start", help="run the double in the background",
                       description="Starts the double in the background and returns once it listens; exit "
                                   "status 2 (with the reason on stderr) when it cannot.")
    p.add_argument("--port", type=int, required=True, help=port_help + "; port 0 also prints the chosen port")
    p.add_argument("--pidfile", required=True, help="file to write the double's process id into (for stop)")
    p.add_argument("--port-file", help=port_file_help + "; default: the pid file's name with '.port' added")
    p.add_argument("--log", help="file for the double's output (the per-request printout); without it the "
                                 "double is quiet")
    p.add_argument("--demo", action="store_true", help=demo_help)
    p = sub.add_parser("stop", help="stop a double started with start",
                       description="Stops the double whose process id the pid file holds.")
    p.add_argument("--pidfile", required=True, help="the pid file given to start")
    p = sub.add_parser("run", help="run a program against a double of its own",
                       description="Starts a double on a free port, runs the program with TESSELSDK_TEST_SERVER "
                                   "and TESSELSDK_LOCAL_PORT naming it, stops the double and exits with the "
                                   "program's status (2 when the double cannot start).")
    p.add_argument("--demo", action="store_true", help=demo_help)
    p.add_argument("--log", help="file for the double's per-request printout; without it the double is quiet")
    p.add_argument("program", nargs=argparse.REMAINDER, help="-- then the program and its arguments")
    args = parser.parse_args()
    if args.cmd == "run":
        return run(args)
    if args.cmd == "serve":
        return serve(args)
    if args.cmd == "start":
        return start(args)
    return stop(args)


if __name__ == "__main__":
    sys.exit(main())
