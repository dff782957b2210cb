#!/usr/bin/env python3
"""The instance metadata service of a proxy that is a moto instance, which
moto does not serve: IMDSv2 session tokens and the instance's identity
(instance-id, placement/region, placement/availability-zone), over plain
HTTP as on EC2. Requests with an unknown token answer 401; token-less ones
are answered, as on an instance that allows both versions.

Usage: proxy_metadata.py INSTANCE_ID ZONE [PORT]
Says "Running on http://127.0.0.1:PORT" once it listens (PORT 0: any).
"""
import http.server
import secrets
import sys

TOKEN_PATH = "/latest/api/token"


def main():
    instance_id, zone = sys.argv[1:3]
    port = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    answers = {
        "/latest/meta-data/instance-id": instance_id,
        "/latest/meta-data/placement/availability-zone": zone,
        "/latest/meta-data/placement/region": zone[:-1],
    }
    tokens = set()

    class Handler(http.server.BaseHTTPRequestHandler):
        def answer(self, status, text):
            body = text.encode()
            self.send_response(status)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_PUT(self):
            ttl = self.headers.get("X-aws-ec2-metadata-token-ttl-seconds", "")
            if self.path != TOKEN_PATH:
                return self.answer(404, "Not Found")
            if not ttl.isdigit() or not 1 <= int(ttl) <= 21600:
                return self.answer(400, "Bad Request")
            token = secrets.token_urlsafe(32)
            tokens.add(token)
            self.answer(200, token)

        def do_GET(self):
            token = self.headers.get("X-aws-ec2-metadata-token")
            if token is not None and token not in tokens:
                return self.answer(401, "Unauthorized")
            value = answers.get(self.path.rstrip("/"))
            self.answer(200, value) if value else self.answer(404, "Not Found")

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    print("Running on http://127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
