#include "platform/tcp_socket.h"

#include "platform/mutex.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace quimbel {
namespace {

bool HasNul(const std::string& text) {
  return text.find('\0') != std::string::npos;
}

// True for texts that no resolver could find: too long for the DNS, a label
// over 63 bytes, control bytes, blanks or bytes above ASCII. Asking about
// them would only cost a network round trip.
bool CannotBeAHostName(const std::string& name) {
  if (name.size() > 253) return true;
  std::size_t label = 0;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) return true;
    label = c == '.' ? 0 : label + 1;
    if (label > 63) return true;
  }
  return false;
}

// Waits at most `limit` for `events` on `fd` (none when fd is -1) or for
// `wake`; kReady with the events seen in `returned`.
WaitResult WaitOn(int fd, short events, std::chrono::milliseconds limit, const WakeSignal* wake,
                  short* returned = nullptr) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  pollfd fds[2] = {{fd, events, 0}, {wake ? wake->fd() : -1, POLLIN, 0}};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int timeout = static_cast<int>(std::max<long long>(0, left.count()));
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return WaitResult::kFailed;
    if (wake && (fds[1].revents & POLLIN)) return WaitResult::kWoken;
    if (ready == 0) return WaitResult::kTimedOut;
    if (returned) *returned = fds[0].revents;
    return WaitResult::kReady;
  }
}

bool EndsWithInvalidDomain(std::string name) {
  while (!name.empty() && name.back() == '.')
    name.pop_back();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name == "invalid" ||
         (name.size() > 8 && name.compare(name.size() - 8, 8, ".invalid") == 0);
}

}  // namespace

std::optional<Ipv4Address> ParseDottedAddress(const std::string& text) {
  // An embedded NUL would make the C call read only a prefix of the name.
  in_addr address{};
  if (HasNul(text) || inet_aton(text.c_str(), &address) == 0) return std::nullopt;
  return Ipv4Address{address.s_addr};
}

std::optional<Ipv4Address> LookupHost(const std::string& name) {
  if (name.empty() || CannotBeAHostName(name) || EndsWithInvalidDomain(name)) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
    return std::nullopt;
  }
  Ipv4Address address{reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr};
  freeaddrinfo(result);
  return address;
}

namespace {

// What a lookup's helper thread hands back. Shared, so whichever of the
// helper and the waiter finishes last frees it.
struct PendingLookup {
  FileDescriptor done_read, done_write;  // one byte once the answer is in
  Mutex mutex;
  std::optional<Ipv4Address> address GUARDED_BY(mutex);
};

}  // namespace

WaitResultOf<Ipv4Address> LookupHostWithin(const std::string& name, std::chrono::milliseconds limit,
                                           const WakeSignal* wake, Resolver resolve) {
  WaitResultOf<Ipv4Address> outcome;
  if (name.empty() || CannotBeAHostName(name) || EndsWithInvalidDomain(name)) return outcome;
  // Without a pipe or a thread to spare, the lookup is made here,
  // unbounded, rather than not at all.
  const auto resolve_here = [&] {
    outcome.value = resolve(name);
    outcome.result = outcome.value ? WaitResult::kReady : WaitResult::kFailed;
    return outcome;
  };
  auto pending = std::make_shared<PendingLookup>();
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return resolve_here();
  pending->done_read = FileDescriptor(ends[0]);
  pending->done_write = FileDescriptor(ends[1]);
  try {
    std::thread([pending, name, resolve] {
      std::optional<Ipv4Address> address = resolve(name);
      {
        MutexLock lock(pending->mutex);
        pending->address = address;
      }
      const char done = 1;
      [[maybe_unused]] const ssize_t written = ::write(pending->done_write.get(), &done, 1);
    }).detach();
  } catch (const std::system_error&) {
    return resolve_here();
  }
  outcome.result = WaitOn(pending->done_read.get(), POLLIN, limit, wake);
  if (outcome.result != WaitResult::kReady) return outcome;
  MutexLock lock(pending->mutex);
  outcome.value = pending->address;
  if (!outcome.value) outcome.result = WaitResult::kFailed;
  return outcome;
}

WaitResult WaitForWake(const WakeSignal& wake, std::chrono::milliseconds limit) {
  return WaitOn(-1, 0, limit, &wake);
}

WakeSignal::WakeSignal() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

WakeSignal::~WakeSignal() {
  ::close(fd_);
}

void WakeSignal::Wake() {
  woken_.store(true, std::memory_order_release);
  const std::uint64_t one = 1;
  // The counter cannot overflow in practice; a failed write only means the
  // signal is already far above zero.
  [[maybe_unused]] ssize_t written = ::write(fd_, &one, sizeof one);
}

void WakeSignal::Clear() {
  // Most probes were never woken; skip the system call for them.
  if (!woken_.exchange(false, std::memory_order_acq_rel)) return;
  std::uint64_t value = 0;
  while (::read(fd_, &value, sizeof value) > 0) {
  }
}

TcpSocket TcpSocket::Create() {
  return TcpSocket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
}

WaitResult TcpSocket::WaitFor(short events, std::chrono::milliseconds limit, const WakeSignal* wake,
                              short* returned) {
  return WaitOn(fd_.get(), events, limit, wake, returned);
}

WaitResult TcpSocket::Connect(Ipv4Address address, std::uint16_t port,
                              std::chrono::milliseconds limit, const WakeSignal* wake) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  peer.sin_addr.s_addr = address.network_order;
  if (::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return WaitResult::kReady;
  }
  if (errno != EINPROGRESS) return WaitResult::kFailed;
  short events = 0;
  const WaitResult waited = WaitFor(POLLOUT, limit, wake, &events);
  if (waited != WaitResult::kReady) return waited;
  // Writable without an error or hang-up: connected. Only a doubtful
  // answer costs the extra call that asks for the error.
  if ((events & (POLLERR | POLLHUP)) == 0) return WaitResult::kReady;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
    return WaitResult::kFailed;
  }
  return WaitResult::kReady;
}

WaitResult TcpSocket::Send(std::span<const std::string_view> pieces,
                           std::chrono::milliseconds limit, const WakeSignal* wake) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + limit;
  std::size_t piece = 0;
  std::string_view data;
  // A long request does not fit the socket's buffer at once: what one call
  // could not take goes out when the peer has read some. MSG_MORE lets the
  // pieces leave in full segments.
  for (;;) {
    while (data.empty() && piece < pieces.size())
      data = pieces[piece++];
    if (data.empty()) break;
    bool more_to_come = false;
    for (std::size_t later = piece; later < pieces.size(); ++later)
      more_to_come = more_to_come || !pieces[later].empty();
    const int more = more_to_come ? MSG_MORE : 0;
    const ssize_t sent = ::send(fd_.get(), data.data(), data.size(), MSG_NOSIGNAL | more);
    if (sent > 0) {
      data.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return WaitResult::kFailed;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return WaitResult::kTimedOut;
    const WaitResult room = WaitFor(POLLOUT, left, wake);
    if (room != WaitResult::kReady) return room;
  }
  return WaitResult::kReady;
}

WaitResult TcpSocket::WaitReadable(std::chrono::milliseconds limit, const WakeSignal* wake) {
  return WaitFor(POLLIN, limit, wake);
}

long TcpSocket::Receive(char* buffer, std::size_t size) {
  return ::recv(fd_.get(), buffer, size, 0);
}

void TcpSocket::Close() {
  fd_.Close();
}

}  // namespace quimbel
