#pragma once
// A libmodbus server in a thread of the test (or benchmark) process: RTU on the master
// side of a pseudo-terminal, or Modbus TCP on 127.0.0.1 at a port the system picks.
// Holding registers 0..99 hold 3 * address + 1. "Magic" start addresses make it
// misbehave on purpose: 0x1000 + code answers with that exception code, 0x2000 drops
// the TCP connection without an answer. TCP serves several clients at once.
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace vxtest {

class LibmodbusServer {
 public:
  static constexpr int kRegisters = 100;
  static constexpr int kMagicException = 0x1000;
  static constexpr int kMagicDrop = 0x2000;

  static std::unique_ptr<LibmodbusServer> Rtu(int ptyMaster, int slave = 1) {
    std::unique_ptr<LibmodbusServer> s(
        new LibmodbusServer(modbus_new_rtu("/dev/null", 19200, 'N', 8, 1)));
    modbus_set_slave(s->ctx_, slave);
    if (getenv("VXDBG")) modbus_set_debug(s->ctx_, 1);
    modbus_set_socket(s->ctx_, ptyMaster);  // the pty is already open: no modbus_connect
    s->thread_ = std::thread([p = s.get()] { p->ServeRtu(); });
    return s;
  }

  static std::unique_ptr<LibmodbusServer> Tcp() {
    std::unique_ptr<LibmodbusServer> s(new LibmodbusServer(modbus_new_tcp("127.0.0.1", 0)));
    s->listen_ = modbus_tcp_listen(s->ctx_, 1);
    if (s->listen_ < 0) throw std::runtime_error("modbus_tcp_listen failed");
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(s->listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    s->port_ = ntohs(addr.sin_port);
    // Listening before the thread starts: a client may connect as soon as this returns.
    s->thread_ = std::thread([p = s.get()] { p->ServeTcp(); });
    return s;
  }

  ~LibmodbusServer() {
    const uint64_t one = 1;
    (void)::write(stop_, &one, sizeof one);
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
    modbus_mapping_free(map_);
    modbus_free(ctx_);  // the pty descriptor belongs to the caller; TCP sockets are closed
    ::close(stop_);
  }
  LibmodbusServer(const LibmodbusServer&) = delete;
  LibmodbusServer& operator=(const LibmodbusServer&) = delete;

  [[nodiscard]] uint16_t Port() const { return port_; }

 private:
  explicit LibmodbusServer(modbus_t* ctx)
      : ctx_(ctx), map_(modbus_mapping_new(0, 0, kRegisters, 0)), stop_(eventfd(0, EFD_CLOEXEC)) {
    if (ctx_ == nullptr || map_ == nullptr) throw std::runtime_error("libmodbus context");
    for (int i = 0; i < kRegisters; ++i) map_->tab_registers[i] = static_cast<uint16_t>(3 * i + 1);
  }

  // Waits until `fd` is readable; false when asked to stop.
  bool WaitFor(int fd) const {
    for (;;) {
      pollfd p[2] = {{fd, POLLIN, 0}, {stop_, POLLIN, 0}};
      if (::poll(p, 2, -1) < 0) continue;
      if (p[1].revents) return false;
      if (p[0].revents) return true;
    }
  }

  // Serves one request; false when the connection should be dropped.
  bool ServeOne() {
    uint8_t req[MODBUS_TCP_MAX_ADU_LENGTH];
    const int n = modbus_receive(ctx_, req);
    if (n == 0) return true;  // for another slave
    // A bad frame on a serial line is skipped; a TCP stream in error is dropped.
    if (n < 0) return listen_ < 0;
    const int h = modbus_get_header_length(ctx_);
    const int address = req[h + 1] << 8 | req[h + 2];
    if (req[h] == 0x03 && address > kMagicException && address <= kMagicException + 0x0B) {
      modbus_reply_exception(ctx_, req, address - kMagicException);
      return true;
    }
    if (req[h] == 0x03 && address == kMagicDrop) return false;
    modbus_reply(ctx_, req, n, map_);
    return true;
  }

  void ServeRtu() {
    while (WaitFor(modbus_get_socket(ctx_))) ServeOne();
  }

  // Several clients at once, as libmodbus's own multi-client example does: the context
  // is pointed at whichever connection has a request.
  void ServeTcp() {
    std::vector<int> clients;
    for (;;) {
      std::vector<pollfd> p = {{stop_, POLLIN, 0}, {listen_, POLLIN, 0}};
      for (int c : clients) p.push_back({c, POLLIN, 0});
      if (::poll(p.data(), p.size(), -1) < 0) continue;
      if (p[0].revents) break;
      if (p[1].revents) {
        // (modbus_tcp_accept would close the listening socket on a failed accept.)
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) clients.push_back(c);
      }
      for (std::size_t i = 2; i < p.size(); ++i) {
        if (!p[i].revents) continue;
        modbus_set_socket(ctx_, p[i].fd);
        if (!ServeOne()) {
          ::close(p[i].fd);
          std::erase(clients, p[i].fd);
        }
      }
    }
    for (int c : clients) ::close(c);
    modbus_set_socket(ctx_, -1);
  }

  modbus_t* ctx_;
  modbus_mapping_t* map_;
  int stop_;
  int listen_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
};

}  // namespace vxtest
