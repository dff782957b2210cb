#!/usr/bin/env python3
"""A web proxy for HTTPS (HTTP CONNECT) with basic authentication, as an
agent's site may require: each tunnel is opened to 127.0.0.1:TARGET_PORT
(the servers stand in for the AWS host names there) after the proxy has
said "CONNECT host:port as user" on stdout; wrong or missing credentials
answer 407.

Usage: connect_proxy.py USER PASSWORD TARGET_PORT
Says "Running on http://127.0.0.1:PORT" once it listens.
"""
import base64
import select
import socket
import socketserver
import sys


def main():
    user, password, target = sys.argv[1], sys.argv[2], int(sys.argv[3])
    expected = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()

    class Tunnel(socketserver.StreamRequestHandler):
        def handle(self):
            request = self.rfile.readline().decode("latin-1").split()
            headers = {}
            while True:
                line = self.rfile.readline().decode("latin-1").strip()
                if not line:
                    break
                name, _, value = line.partition(":")
                headers[name.strip().lower()] = value.strip()
            if len(request) < 2 or request[0] != "CONNECT":
                self.wfile.write(b"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n")
                return
            if headers.get("proxy-authorization") != expected:
                print("refused %s" % request[1], flush=True)
                self.wfile.write(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                 b"Proxy-Authenticate: Basic realm=\"agent\"\r\nContent-Length: 0\r\n\r\n")
                return
            print("CONNECT %s as %s" % (request[1], user), flush=True)
            upstream = socket.create_connection(("127.0.0.1", target))
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            self.wfile.flush()
            ends = [self.connection, upstream]
            while True:
                ready, _, _ = select.select(ends, [], [])
                for end in ready:
                    data = end.recv(65536)
                    if not data:
                        upstream.close()
                        return
                    (upstream if end is self.connection else self.connection).sendall(data)

    server = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Tunnel)
    server.daemon_threads = True
    print("Running on http://127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
