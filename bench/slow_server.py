#!/usr/bin/env python3
"""slow_server.py PORT DELAY_MS HOSTS [ROOT]: an HTTP/1.1 server for
benchmarks that answers every request after DELAY_MS milliseconds, on
127.0.0.1 to 127.0.0.HOSTS. /missing* is 404, /moved* is 301, anything else
200 with a small body; with ROOT, the files under ROOT instead (404 when
missing, "index.html" for a folder). Keeps connections alive unless the
client closes. Loopback only."""
import asyncio
import os
import sys

PORT, DELAY, HOSTS = int(sys.argv[1]), int(sys.argv[2]) / 1000.0, int(sys.argv[3])
ROOT = sys.argv[4] if len(sys.argv) > 4 else None
BODY = b"<html><body>target</body></html>\n"


def file_reply(path):
    path = path.split("?", 1)[0].split("#", 1)[0]
    if path.endswith("/"):
        path += "index.html"
    name = os.path.normpath(os.path.join(ROOT, path.lstrip("/")))
    if not name.startswith(ROOT) or not os.path.isfile(name):
        return "404 Not Found", b"missing\n", "text/plain"
    kind = "text/html" if name.endswith(".html") else "text/plain"
    with open(name, "rb") as f:
        return "200 OK", f.read(), kind


def reply(method, path):
    if ROOT is not None:
        head, body, kind = file_reply(path)
        # The header LinkChecker looks for lifts its per-host throttle.
        text = "HTTP/1.1 %s\r\nContent-Type: %s\r\nLinkChecker: bench\r\nContent-Length: %d\r\n\r\n" % (
            head, kind, len(body))
        return text.encode() + (b"" if method == "HEAD" else body)
    if path.startswith("/missing"):
        head, body = "404 Not Found", b"missing\n"
    elif path.startswith("/moved"):
        head, body = "301 Moved Permanently\r\nLocation: /new" + path, b""
    else:
        head, body = "200 OK", BODY
    text = "HTTP/1.1 %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % (head, len(body))
    return text.encode() + (b"" if method == "HEAD" else body)


async def serve(reader, writer):
    try:
        while True:
            head = await reader.readuntil(b"\r\n\r\n")
            line = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
            method, path = line[0], line[1] if len(line) > 1 else "/"
            await asyncio.sleep(DELAY)
            writer.write(reply(method, path))
            await writer.drain()
            if b"connection: close" in head.lower():
                break
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError):
        pass
    writer.close()


async def main():
    hosts = ["127.0.0.%d" % n for n in range(1, HOSTS + 1)]
    server = await asyncio.start_server(serve, hosts, PORT, backlog=1024)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
