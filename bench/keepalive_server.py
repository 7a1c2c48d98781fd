#!/usr/bin/env python3
"""A loopback HTTP/1.1 server for bench/keepalive_bench.sh.

keepalive_server.py PORT DELAY_MS MODE [CERT KEY]: answers every request
with a 404 after DELAY_MS, its empty body sent chunked (MODE "chunked") or
with Content-Length: 0 (MODE "sized"), keeping the connection; over TLS
with CERT and KEY. GET /count answers with the number of connections
accepted so far. Listens on 127.0.0.1 only.
"""
import http.server
import socket
import socketserver
import ssl
import sys
import threading
import time

port, delay_ms, mode = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
connections = 0
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        global connections
        with lock:
            connections += 1
        # Headers and body go in two writes: without this, Nagle's algorithm
        # holds the second until the client's delayed ACK, 40 ms a reply.
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        super().setup()

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.path == "/count":
            body = str(connections).encode()
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        time.sleep(delay_ms / 1000)
        self.send_response(404)
        if mode == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.send_header("Content-Length", "0")
            self.end_headers()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


server = Server(("127.0.0.1", port), Handler)
if len(sys.argv) > 5:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[4], sys.argv[5])
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
