#include "mbwire/mbtcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mbwire/mbresult.h"

namespace vx {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

timespec Remaining(MBClock::time_point deadline) {
  const auto now = MBClock::now();
  const auto left = deadline > now ? deadline - now : MBClock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// Connects one resolved address without blocking longer than the deadline; on failure
// `why` holds the system's error.
int ConnectOne(const addrinfo* ai, MBClock::time_point deadline, int& why) {
  const int fd =
      ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
  if (fd < 0) {
    why = errno;
    return -1;
  }
  if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      why = errno;
      ::close(fd);
      return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    const timespec ts = Remaining(deadline);
    int err = 0;
    socklen_t len = sizeof err;
    const int ready = ::ppoll(&p, 1, &ts, nullptr);
    if (ready != 1 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
      why = ready == 0 ? ETIMEDOUT : (err != 0 ? err : errno);
      ::close(fd);
      return -1;
    }
  }
  const int one = 1;
  (void)setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

}  // namespace

MBTcpChannel::~MBTcpChannel() {
  Close();
}

bool MBTcpChannel::Connect(std::string* error) {
  Close();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(port_);
  if (const int rc = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &list); rc != 0) {
    SetError(error, host_ + ": " + gai_strerror(rc));
    return false;
  }
  const auto deadline = MBClock::now() + connectTimeout_;
  int why = 0;
  for (const addrinfo* ai = list; ai != nullptr && fd_ < 0; ai = ai->ai_next)
    fd_ = ConnectOne(ai, deadline, why);
  ::freeaddrinfo(list);
  if (fd_ < 0) {
    SetError(error, host_ + ":" + service + ": " +
                        (why != 0 ? std::strerror(why) : "connection refused or timed out"));
    return false;
  }
  lost_ = false;
  return true;
}

void MBTcpChannel::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int32_t MBTcpChannel::BeginExchange() {
  return Drain(nullptr);
}

int32_t MBTcpChannel::BeginExchange(std::vector<uint8_t>& dropped) {
  return Drain(&dropped);
}

int32_t MBTcpChannel::Drain(std::vector<uint8_t>* dropped) {
  if (lost_ && !Connect()) return mbresult::kSocketNotConnected;
  if (fd_ < 0) return mbresult::kSocketNotConnected;
  // Late answers to an earlier request that timed out must not be taken for this one.
  uint8_t buf[512];
  for (;;) {
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      if (dropped != nullptr) dropped->insert(dropped->end(), buf, buf + n);
      continue;
    }
    if (n == 0) {  // the peer closed: try once to get a fresh connection
      lost_ = true;
      return Connect() ? mbresult::kOk : mbresult::kSocketNotConnected;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return mbresult::kOk;
    lost_ = true;
    return Connect() ? mbresult::kOk : mbresult::kSocketError;
  }
}

int32_t MBTcpChannel::Write(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return mbresult::kSocketNotConnected;
  std::size_t done = 0;
  const auto limit = MBClock::now() + std::chrono::seconds(2);
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && MBClock::now() < limit) {
      pollfd p{fd_, POLLOUT, 0};
      (void)::poll(&p, 1, 10);
      continue;
    }
    lost_ = true;
    return mbresult::kSocketWriteError;
  }
  return mbresult::kOk;
}

int32_t MBTcpChannel::Read(std::vector<uint8_t>& into, MBClock::time_point deadline) {
  if (fd_ < 0) return mbresult::kSocketNotConnected;
  for (;;) {
    pollfd p{fd_, POLLIN, 0};
    const timespec ts = Remaining(deadline);
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      return mbresult::kSocketError;
    }
    if (r == 0) return mbresult::kTimeout;
    uint8_t buf[512];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      into.insert(into.end(), buf, buf + n);
      return mbresult::kOk;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    lost_ = true;  // closed by the peer or broken
    return mbresult::kSocketReadError;
  }
}

int TcpListen(const std::string& host, uint16_t port, uint16_t* boundPort) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return -1;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  if (boundPort != nullptr) {
    socklen_t len = sizeof addr;
    (void)getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    *boundPort = ntohs(addr.sin_port);
  }
  return fd;
}

}  // namespace vx
