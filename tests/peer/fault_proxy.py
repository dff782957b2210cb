#!/usr/bin/env python3
"""A TLS proxy in front of moto that answers some calls with AWS's own
faults instead of passing them on: throttling (EC2's RequestLimitExceeded,
STS's Throttling, EBS's RequestThrottledException), internal errors (500),
and connections reset before an answer. A faulted call never reaches moto.

Usage: fault_proxy.py CERT KEY CA MOTO_PORT [--random RATE --seed N]
                      [--always KIND --match REGEX] [--hold REGEX]
  --random RATE   fault each call with probability RATE (kind at random),
                  never more than twice in a row, so that a client that tries
                  three times always gets through
  --always KIND   fault every call whose "HOST METHOD PATH ACTION" matches
                  --match with KIND (throttle, error or reset)
  --hold REGEX    hold the first matching call unanswered (it says
                  "holding ..." on stdout) until the proxy ends
Says "Running on https://127.0.0.1:PORT" once it listens; each fault is
reported as "fault KIND HOST METHOD PATH ACTION".
"""
import argparse
import http.client
import http.server
import random
import re
import socket
import ssl
import struct
import sys
import threading
import urllib.parse

KINDS = ("throttle", "error", "reset")


def fault_answer(kind, host):
    """(status, headers, body) of AWS's answer of that kind from host."""
    service = host.split(".")[0]
    if service == "ebs":
        code, status = ("RequestThrottledException", 400) if kind == "throttle" else ("InternalServerException", 500)
        message = "Rate exceeded" if kind == "throttle" else "An internal error occurred"
        return status, {"x-amzn-ErrorType": code, "Content-Type": "application/json"}, \
            '{"message":"%s"}' % message
    if service == "sts":
        code, status = ("Throttling", 400) if kind == "throttle" else ("InternalFailure", 500)
        message = "Rate exceeded" if kind == "throttle" else "An internal error occurred"
        return status, {"Content-Type": "text/xml"}, \
            "<ErrorResponse><Error><Type>Sender</Type><Code>%s</Code><Message>%s</Message></Error>" \
            "<RequestId>f1a2</RequestId></ErrorResponse>" % (code, message)
    code, status = ("RequestLimitExceeded", 503) if kind == "throttle" else ("InternalError", 500)
    message = "Request limit exceeded." if kind == "throttle" else "An internal error has occurred"
    return status, {"Content-Type": "text/xml"}, \
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Response><Errors><Error><Code>%s</Code><Message>%s" \
        "</Message></Error></Errors><RequestID>f1a2</RequestID></Response>" % (code, message)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cert")
    parser.add_argument("key")
    parser.add_argument("ca")
    parser.add_argument("moto_port", type=int)
    parser.add_argument("--random", type=float, default=0.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--always", choices=KINDS)
    parser.add_argument("--match", default=".")
    parser.add_argument("--hold")
    args = parser.parse_args()

    lock = threading.Lock()
    chance = random.Random(args.seed)
    state = {"in_a_row": 0, "held": False}
    upstream = ssl.create_default_context(cafile=args.ca)

    def decide(call):
        with lock:
            if args.hold and not state["held"] and re.search(args.hold, call):
                state["held"] = True
                return "hold"
            if args.always and re.search(args.match, call):
                return args.always
            if args.random and state["in_a_row"] < 2 and chance.random() < args.random:
                state["in_a_row"] += 1
                return chance.choice(KINDS)
            state["in_a_row"] = 0
            return None

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *unused):
            pass

        def handle_call(self):
            body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
            host = (self.headers.get("Host") or "").split(":")[0]
            form = urllib.parse.parse_qs(body.decode("utf-8", "replace"))
            call = "%s %s %s %s" % (host, self.command, self.path.split("?")[0], form.get("Action", [""])[0])
            kind = decide(call)
            if kind == "hold":
                print("holding " + call, flush=True)
                threading.Event().wait()
            if kind:
                print("fault %s %s" % (kind, call), flush=True)
            if kind == "reset":
                # An RST instead of an answer, as a dropped connection gives.
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.close_connection = True
                return
            if kind:
                status, headers, text = fault_answer(kind, host)
                payload = text.encode()
            else:
                raw = socket.create_connection(("127.0.0.1", args.moto_port))
                connection = http.client.HTTPSConnection(host, args.moto_port)
                connection.sock = upstream.wrap_socket(raw, server_hostname=host)
                headers = {k: v for k, v in self.headers.items() if k.lower() != "connection"}
                connection.request(self.command, self.path, body=body, headers=headers)
                answer = connection.getresponse()
                payload = answer.read()
                status = answer.status
                headers = {k: v for k, v in answer.getheaders()
                           if k.lower() not in ("connection", "transfer-encoding", "content-length")}
                connection.close()
            self.send_response(status)
            for name, value in headers.items():
                self.send_header(name, value)
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(payload)

        do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_call

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("Running on https://127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
