// site_server PAGES [PORT]: a generated site of PAGES pages served from one
// process on 127.0.0.1, for crawls far bigger than a folder of files would
// allow. Page i (/site/pI.html) links five other pages written three ways,
// one image, and two shared resources (/t/K, one in 50 missing); every
// page is reached from /site/p0.html. It counts the requests for each path;
// GET /__stats answers "requests distinct most" and is not counted.
// Single-threaded epoll with keep-alive: the crawler, not the server, is
// what is measured. Listens on loopback only.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

long g_pages = 0;

std::string PageBody(long i) {
  const long targets[] = {(i + 1) % g_pages, (2 * i + 1) % g_pages, (2 * i + 2) % g_pages,
                          (i * 7 + 3) % g_pages, (i * 13 + 5) % g_pages};
  std::string body = "<!DOCTYPE html>\n<html><head><title>p" + std::to_string(i) +
                     "</title></head><body>\n<h1 id=\"top\">Page " + std::to_string(i) + "</h1>\n";
  int form = 0;
  for (const long t : targets) {
    const std::string name = "p" + std::to_string(t) + ".html";
    switch (form++ % 3) {
      case 0:
        body += "<a href=\"" + name + "\">next</a>\n";
        break;
      case 1:
        body += "<a href='./" + name + "#top'>top</a>\n";
        break;
      default:
        body += "<a href=\"/site/" + name + "\">rooted</a>\n";
    }
  }
  body += "<img src=\"/img/logo.png\" alt=\"logo\">\n";
  body += "<a href=\"/t/" + std::to_string(i % 1000) + "\">t</a>\n";
  body += "<a href=\"/t/" + std::to_string((i * 3) % 1000) + "\">t</a>\n";
  return body + "</body></html>\n";
}

// The reply for `path`; counts it.
std::string Answer(const std::string& path, std::unordered_map<std::string, long>& counts,
                   std::vector<unsigned char>& page_counts, long& requests) {
  if (path == "/__stats") {
    long distinct = static_cast<long>(counts.size()), most = 0;
    for (const auto& [p, n] : counts)
      most = std::max(most, n);
    for (const unsigned char n : page_counts) {
      distinct += n > 0;
      most = std::max<long>(most, n);
    }
    const std::string text =
        std::to_string(requests) + " " + std::to_string(distinct) + " " + std::to_string(most);
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(text.size()) + "\r\n\r\n" + text;
  }
  ++requests;
  std::string status = "200 OK", type = "text/plain", body = "ok";
  if (path.rfind("/site/p", 0) == 0 && path.size() > 12 && path.ends_with(".html")) {
    const long i = std::atol(path.c_str() + 7);
    if (i >= 0 && i < g_pages && path == "/site/p" + std::to_string(i) + ".html") {
      if (page_counts[i] < 255) ++page_counts[i];
      return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
             std::to_string(PageBody(i).size()) + "\r\n\r\n" + PageBody(i);
    }
  }
  ++counts[path];
  if (path == "/robots.txt") {
    status = "404 Not Found";
  } else if (path.rfind("/t/", 0) == 0 && std::atol(path.c_str() + 3) % 50 == 49) {
    status = "404 Not Found";
  } else if (path == "/img/logo.png") {
    type = "image/png";
  } else if (path.rfind("/t/", 0) != 0) {
    status = "404 Not Found";
  }
  return "HTTP/1.1 " + status + "\r\nContent-Type: " + type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  g_pages = std::atol(argv[1]);
  const int port = argc > 2 ? std::atoi(argv[2]) : 0;
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 1024) != 0) {
    std::perror("site_server");
    return 1;
  }
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::printf("%d\n", ntohs(address.sin_port));
  std::fflush(stdout);
  const int poll = epoll_create1(0);
  epoll_event event{EPOLLIN, {.fd = listener}};
  epoll_ctl(poll, EPOLL_CTL_ADD, listener, &event);
  std::unordered_map<int, std::string> pending;
  std::unordered_map<std::string, long> counts;
  std::vector<unsigned char> page_counts(static_cast<std::size_t>(g_pages), 0);
  long requests = 0;
  epoll_event ready[64];
  for (;;) {
    const int n = epoll_wait(poll, ready, 64, -1);
    for (int k = 0; k < n; ++k) {
      const int fd = ready[k].data.fd;
      if (fd == listener) {
        for (int client; (client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
          setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
          epoll_event added{EPOLLIN, {.fd = client}};
          epoll_ctl(poll, EPOLL_CTL_ADD, client, &added);
        }
        continue;
      }
      char buffer[16384];
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) {
        pending.erase(fd);
        close(fd);
        continue;
      }
      std::string& in = pending[fd];
      in.append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = in.find("\r\n\r\n")) != std::string::npos;) {
        const std::size_t first_space = in.find(' ');
        const std::size_t second_space = in.find(' ', first_space + 1);
        std::string path = in.substr(first_space + 1, second_space - first_space - 1);
        if (const std::size_t query = path.find('?'); query != std::string::npos)
          path.resize(query);
        const bool head = in.rfind("HEAD ", 0) == 0;
        in.erase(0, end + 4);
        std::string reply = Answer(path, counts, page_counts, requests);
        if (head) reply.resize(reply.find("\r\n\r\n") + 4);
        // Loopback with small replies: a blocking write loop is enough.
        for (std::size_t sent = 0; sent < reply.size();) {
          const ssize_t wrote = write(fd, reply.data() + sent, reply.size() - sent);
          if (wrote > 0)
            sent += static_cast<std::size_t>(wrote);
          else if (wrote < 0 && errno != EAGAIN)
            break;
        }
      }
    }
  }
}
