// loopback_probe PORT COUNT: the loopback limit for a sequential checker.
// A bare loop of connect, one GET (the request a probe sends), one
// receive of at most 2048 bytes and close, against 127.0.0.1:PORT, cycling
// over the paths /targets/t0.htm ... /targets/t9999.htm. Prints requests
// per second.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: loopback_probe PORT COUNT\n";
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int count = std::atoi(argv[2]);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char reply[2048];
  int failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string request = "GET /targets/t" + std::to_string(i % 10000) +
                                ".htm HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nUser-Agent: Quimbel-bench\r\nAccept: */*\r\n\r\n";
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size()) ||
        ::recv(fd, reply, sizeof reply, 0) <= 0) {
      ++failures;
    }
    ::close(fd);
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::cout << count << " requests " << failures << " failures " << took.count() << " seconds "
            << count / took.count() << " per second\n";
  return failures == 0 ? 0 : 1;
}
