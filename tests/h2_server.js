// A loopback HTTPS server for the tests and the bench, on Node's own http2 module: HTTP/2 where
// the client offers it (ALPN), HTTP/1.1 otherwise, or HTTP/1.1 only with --h1-only.
//
//   node h2_server.js CERT KEY LOG [--max-streams N] [--delay MS] [--h1-only]
//
// Prints its port on a line of its own once it listens. Appends to LOG a line for each
// connection ("connection N") and each request ("N PROTOCOL PATH", N its connection).
//   /status/NNN       a reply with that status
//   /move/NNN?to=URL  a move with that status to URL
//   /reset            the stream reset (RST_STREAM, INTERNAL_ERROR) before any reply
//   /goaway           a reply, then GOAWAY on its connection: the streams the client opened
//                     after it are refused, and must be asked again on a new connection
//   anything else     200, after the delay
'use strict';
const fs = require('fs');
const http2 = require('http2');
const https = require('https');

const [cert, key, log, ...rest] = process.argv.slice(2);
const option = (name, fallback) => {
  const at = rest.indexOf(name);
  return at < 0 ? fallback : Number(rest[at + 1]);
};
const maxStreams = option('--max-streams', 100);
const delay = option('--delay', 0);
const h1Only = rest.includes('--h1-only');

const out = fs.openSync(log, 'a');
const note = (line) => fs.writeSync(out, line + '\n');
let connections = 0;

function answer(req, res) {
  const id = req.socket.connectionId;
  note(`${id} ${req.httpVersion} ${req.url}`);
  const url = new URL(req.url, 'https://127.0.0.1');
  const status = /^\/(status|move)\/(\d+)$/.exec(url.pathname);
  if (url.pathname === '/reset' && req.stream) {
    req.stream.close(http2.constants.NGHTTP2_INTERNAL_ERROR);
    return;
  }
  if (url.pathname === '/goaway' && req.stream) {
    const session = req.stream.session;
    const last = req.stream.id;
    res.writeHead(200, {'content-type': 'text/plain'});
    res.end('bye');
    session.goaway(http2.constants.NGHTTP2_NO_ERROR, last);
    return;
  }
  const reply = () => {
    if (status && status[1] === 'move') {
      res.writeHead(Number(status[2]), {location: url.searchParams.get('to'), 'content-length': 0});
      res.end();
    } else if (status && (status[2] === '204' || status[2] === '304')) {
      res.writeHead(Number(status[2]));
      res.end();
    } else {
      res.writeHead(status ? Number(status[2]) : 200,
                    {'content-type': 'text/plain', 'content-length': 1});
      res.end('x');
    }
  };
  if (delay > 0) {
    setTimeout(reply, delay);
  } else {
    reply();
  }
}

const tls = {cert: fs.readFileSync(cert), key: fs.readFileSync(key)};
const server = h1Only
    ? https.createServer(tls, answer)
    : http2.createSecureServer(
          {...tls, allowHTTP1: true, settings: {maxConcurrentStreams: maxStreams}}, answer);
server.on('secureConnection', (socket) => {
  socket.connectionId = ++connections;
  note(`connection ${socket.connectionId}`);
});
server.listen(0, '127.0.0.1', () => {
  process.stdout.write(`${server.address().port}\n`);
});
process.on('SIGTERM', () => process.exit(0));
