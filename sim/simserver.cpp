#include "sim/simserver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "mbwire/mbresult.h"
#include "mbwire/mbtcp.h"
#include "platform/koexception.h"

namespace vx {

namespace {

constexpr std::size_t kMaxTcpClients = 16;
// A frame whose announced length has not all come in is dropped after this much quiet:
// generous, since USB adapters and pseudo-terminals deliver in bursts.
constexpr std::chrono::milliseconds kIncompleteFrameLimit{100};

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) (void)fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

}  // namespace

SimServer::SimServer(SimDrive& drive, SimServerOptions options)
    : SimServer(std::vector<SimDrive*>{&drive}, std::move(options)) {}

SimServer::SimServer(std::vector<SimDrive*> drives, SimServerOptions options)
    : drives_(std::move(drives)), options_(std::move(options)) {
  if (drives_.empty()) throw EkoException("SimServer: no drive to serve");
  SetLineFaults(options_.dropEvery, options_.corruptEvery, false);
  if (pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw EkoException(Errno("SimServer: pipe"));
  // The silence that ends an RTU frame, but never below what a loaded machine can time.
  frameGap_ = std::max<std::chrono::nanoseconds>(RtuFrameGap(options_.serial),
                                                 std::chrono::milliseconds(2));
}

SimServer::~SimServer() {
  for (TcpClient& c : clients_) ::close(c.fd);
  if (listenFd_ >= 0) ::close(listenFd_);
  for (Serial& s : serials_) ::close(s.fd);
  if (ptySlaveFd_ >= 0) ::close(ptySlaveFd_);
  if (linkMade_) {
    // Only our own link goes: another simulator may have taken the path since.
    char target[512];
    const ssize_t n = readlink(options_.ptyLink.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == ptyName_)
      ::unlink(options_.ptyLink.c_str());
  }
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
}

void SimServer::OpenPty() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) throw EkoException(Errno("Cannot create a pseudo-terminal"));
  char name[256];
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    ::close(master);
    throw EkoException(Errno("Cannot create a pseudo-terminal"));
  }
  ptyName_ = name;
  Serial s;
  s.fd = master;
  s.name = "pty";
  serials_.push_back(std::move(s));
  SetNonBlocking(master);
  // Holding the other end open keeps the master readable without a hang-up while no
  // terminal has the port open; raw mode keeps the line discipline from echoing.
  ptySlaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (ptySlaveFd_ < 0) throw EkoException(Errno(std::string("Cannot open ") + name));
  termios t{};
  if (tcgetattr(ptySlaveFd_, &t) == 0) {
    cfmakeraw(&t);
    (void)tcsetattr(ptySlaveFd_, TCSANOW, &t);
  }
  struct stat st {};
  if (lstat(options_.ptyLink.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode))
      throw EkoException("Refusing to replace \"" + options_.ptyLink +
                         "\": it is not a symbolic link");
    ::unlink(options_.ptyLink.c_str());
  }
  if (symlink(name, options_.ptyLink.c_str()) != 0)
    throw EkoException(Errno("Cannot create the link \"" + options_.ptyLink + "\""));
  linkMade_ = true;
}

void SimServer::Open() {
  if (!options_.ptyLink.empty()) OpenPty();
  if (!options_.serialDevice.empty()) {
    MBSerialPort port;
    std::string error;
    if (!port.Open(options_.serialDevice, options_.serial, &error))
      throw EkoException("Cannot open " + options_.serialDevice + ": " + error);
    Serial s;
    s.fd = dup(port.Fd());
    if (s.fd < 0) throw EkoException(Errno("Cannot open " + options_.serialDevice));
    (void)fcntl(s.fd, F_SETFD, FD_CLOEXEC);
    SetNonBlocking(s.fd);
    // The lock taken by the port stays with the duplicate descriptor.
    s.name = "serial";
    serials_.push_back(std::move(s));
  }
  if (options_.tcp) {
    const std::string host = options_.tcpHost == "localhost" ? "127.0.0.1" : options_.tcpHost;
    errno = 0;
    listenFd_ = TcpListen(host, options_.tcpPort, &boundPort_);
    if (listenFd_ < 0)
      throw EkoException("Cannot listen on " + options_.tcpHost + ":" +
                         std::to_string(options_.tcpPort) +
                         (errno != 0 ? std::string(": ") + std::strerror(errno)
                                     : std::string(": not an IPv4 address")));
    SetNonBlocking(listenFd_);
  }
}

std::string SimServer::Where() const {
  std::string w;
  auto add = [&](const std::string& s) { w += (w.empty() ? "" : ", ") + s; };
  if (!ptyName_.empty()) add("pty " + options_.ptyLink + " -> " + ptyName_);
  if (!options_.serialDevice.empty()) add("serial " + options_.serialDevice);
  if (listenFd_ >= 0) add("tcp " + options_.tcpHost + ":" + std::to_string(boundPort_));
  return w;
}

void SimServer::RequestStop() {
  const char c = 'x';
  // A full pipe already holds a stop request.
  [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &c, 1);
}

bool SimServer::WriteAll(int fd, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    const ssize_t w =
        n >= 0 || errno != ENOTSOCK ? n : ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

void SimServer::SetLineFaults(uint64_t dropEvery, uint64_t corruptEvery, bool silent) {
  dropEvery_ = dropEvery;
  corruptEvery_ = corruptEvery;
  silent_ = silent;
}

bool SimServer::Corrupt(uint64_t number) const {
  const uint64_t every = corruptEvery_;
  return number != 0 && every != 0 && number % every == 0;
}

SimDrive* SimServer::Addressed(std::span<const uint8_t> adu, bool tcp) const {
  if (adu.size() < 2) return nullptr;
  for (SimDrive* d : drives_)
    if (d->IsAddressed(adu[0], tcp)) return d;
  return nullptr;
}

SimDrive::Reply SimServer::ServeAdu(std::span<const uint8_t> adu, bool tcp) {
  const auto now = Clock::now();
  if (SimDrive* d = Addressed(adu, tcp)) return d->Serve(adu, now, tcp);
  // A broadcast is carried out by every drive; nobody answers it. Other addresses are
  // passed by (the first drive says so in the log).
  SimDrive::Reply reply;
  for (SimDrive* d : drives_) {
    SimDrive::Reply r = d->Serve(adu, now, tcp);
    if (reply.note.empty()) reply.note = std::move(r.note);
  }
  return reply;
}

SimServer::Fate SimServer::Decide(std::span<const uint8_t> adu, bool tcp, uint64_t& number) {
  number = 0;
  // Only requests for a served drive count; broadcasts and other slaves' traffic pass by.
  if (Addressed(adu, tcp) == nullptr) return Fate::kServe;
  number = ++requests_;
  if (silent_ || (options_.silentAfter && number > *options_.silentAfter)) return Fate::kSilent;
  const uint64_t drop = dropEvery_;
  if (drop != 0 && number % drop == 0) return Fate::kDrop;
  return Fate::kServe;
}

void SimServer::Log(uint64_t number, const char* line, const SimDrive::Reply& reply,
                    const char* extra) {
  if (!options_.verbose) return;
  if (number != 0)
    std::fprintf(stderr, "vx310-sim: #%llu %s %s%s\n", static_cast<unsigned long long>(number),
                 line, reply.note.c_str(), extra);
  else
    std::fprintf(stderr, "vx310-sim: %s %s%s\n", line,
                 reply.note.empty() ? "not for this slave" : reply.note.c_str(), extra);
}

void SimServer::ServeSerialFrame(Serial& s, std::span<const uint8_t> adu, Clock::time_point end) {
  uint64_t number = 0;
  const Fate fate = Decide(adu, false, number);
  if (fate != Fate::kServe) {
    SimDrive::Reply none;
    none.note = fate == Fate::kDrop ? "dropped" : "silent";
    Log(number, s.name.c_str(), none, "");
    return;
  }
  const SimDrive::Reply reply = ServeAdu(adu, false);
  const bool corrupt = Corrupt(number);
  if (!reply.adu.empty()) {
    std::vector<uint8_t> frame = EncodeRtu(reply.adu);
    if (corrupt) {
      frame[frame.size() - 1] ^= 0xFF;
      frame[frame.size() - 2] ^= 0xFF;
    }
    if (options_.line) {
      // One transmitter: an answer never starts before the one before it has left.
      Clock::time_point start = end + options_.line->turnaround;
      if (!s.answers.empty()) {
        const PacedAnswer& last = s.answers.back();
        start = std::max(
            start, last.start + options_.line->charTime * static_cast<int64_t>(last.bytes.size()));
      }
      s.answers.push_back({std::move(frame), 0, start});
    } else if (!WriteAll(s.fd, frame)) {
      std::fprintf(stderr, "vx310-sim: %s: answer not sent: %s\n", s.name.c_str(),
                   std::strerror(errno));
    }
  }
  Log(number, s.name.c_str(), reply, corrupt ? " (bad CRC sent)" : "");
}

void SimServer::FinishSerial(Serial& s) {
  // On a paced line a frame that only silence can end counts as received now.
  const Clock::time_point end = Clock::now();
  if (s.spoilt) {
    if (options_.verbose)
      std::fprintf(stderr, "vx310-sim: %s: %zu bytes with a gap inside dropped\n", s.name.c_str(),
                   s.raw.size());
  } else if (s.rx.Finish() == mbresult::kOk) {
    const std::vector<uint8_t> frame(s.rx.Frame().begin(), s.rx.Frame().end());
    ServeSerialFrame(s, frame, end);
  } else if (s.raw.size() >= 4 && RtuCrcOk(s.raw)) {
    // A frame longer than its function's usual form (a 0x06 to a register of several
    // words) ends with a valid CRC all the same.
    const std::vector<uint8_t> frame(s.raw.begin(), s.raw.end() - 2);
    ServeSerialFrame(s, frame, end);
  } else if (options_.verbose) {
    std::fprintf(stderr, "vx310-sim: %s: %zu bytes without a valid frame dropped\n", s.name.c_str(),
                 s.raw.size());
  }
  s.rx.Reset();
  s.raw.clear();
  s.deadline.reset();
  s.spoilt = false;
}

void SimServer::TakePaced(Serial& s, uint8_t byte, Clock::time_point arrived) {
  const SimLineTiming& line = *options_.line;
  // A character that comes while the one before is still on the wire follows it back
  // to back; the bytes of one write are one unbroken run of characters.
  const Clock::time_point start = std::max(arrived, s.rxWireEnd);
  if (!s.raw.empty() && line.strictGaps) {
    const auto gap = start - s.rxWireEnd;
    if (gap > line.frameGap)
      FinishSerial(s);  // the unfinished frame ended at the silence; this one starts anew
    else if (gap > line.charGap)
      s.spoilt = true;
  }
  s.rxWireEnd = start + line.charTime;
  s.raw.push_back(byte);
  const MBRtuReceiver::Status st = s.rx.Feed(std::span<const uint8_t>(&byte, 1));
  if (st == MBRtuReceiver::Status::kComplete) {
    if (s.spoilt) {
      FinishSerial(s);
      return;
    }
    s.arriving.push_back(
        {s.rxWireEnd, std::vector<uint8_t>(s.rx.Frame().begin(), s.rx.Frame().end())});
    s.rx.Reset();
    s.raw.clear();
    s.deadline.reset();
    return;
  }
  if (st == MBRtuReceiver::Status::kOverflow) {
    s.rx.Reset();
    s.raw.clear();
    s.deadline.reset();
    s.spoilt = false;
    return;
  }
  s.needSilence = st == MBRtuReceiver::Status::kNeedSilence;
  s.deadline = s.rxWireEnd + (s.needSilence || line.strictGaps
                                  ? line.frameGap
                                  : std::chrono::nanoseconds(kIncompleteFrameLimit));
}

void SimServer::PaceSerial(Serial& s, Clock::time_point now) {
  while (!s.arriving.empty() && s.arriving.front().at <= now) {
    Arriving a = std::move(s.arriving.front());
    s.arriving.pop_front();
    ServeSerialFrame(s, a.adu, a.at);
  }
  const auto charTime = options_.line->charTime;
  while (!s.answers.empty()) {
    PacedAnswer& a = s.answers.front();
    // Every character whose time has come goes in one write: a late wake-up catches up,
    // and the deadlines stay where the answer's start put them.
    const auto elapsed = now - a.start;
    const auto due = elapsed < charTime
                         ? std::size_t{0}
                         : std::min(a.bytes.size(), static_cast<std::size_t>(elapsed / charTime));
    if (due > a.sent) {
      const std::size_t want = due - a.sent;
      ssize_t n;
      do {
        n = ::write(s.fd, a.bytes.data() + a.sent, want);
      } while (n < 0 && errno == EINTR);
      if (n > 0) a.sent += static_cast<std::size_t>(n);
      if (n < 0 || static_cast<std::size_t>(n) < want) {
        // A wire does not wait for a master that does not read: the rest is lost.
        if (options_.verbose)
          std::fprintf(stderr, "vx310-sim: %s: %zu answer bytes lost: %s\n", s.name.c_str(),
                       a.bytes.size() - a.sent,
                       n < 0 ? std::strerror(errno) : "the other end does not read");
        a.sent = a.bytes.size();
      }
    }
    if (a.sent < a.bytes.size()) break;
    s.answers.pop_front();
  }
}

bool SimServer::ReadSerial(Serial& s, Clock::time_point now, bool hungUp) {
  uint8_t buf[512];
  bool got = false;
  for (;;) {
    const ssize_t n = ::read(s.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    // A raw tty with nothing to read returns 0 rather than EAGAIN; a port whose other end
    // or device has gone returns an error (EIO) or, hung up, nothing at all.
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (n <= 0) return got || !hungUp;
    got = true;
    if (options_.line) {
      for (ssize_t k = 0; k < n; ++k) TakePaced(s, buf[k], now);
      continue;
    }
    // A byte at a time: a read that a busy simulator makes late may hold the next request
    // too, which must start a frame of its own rather than go with the one before.
    for (ssize_t k = 0; k < n; ++k) {
      s.raw.push_back(buf[k]);
      const MBRtuReceiver::Status st = s.rx.Feed(std::span<const uint8_t>(&buf[k], 1));
      if (st == MBRtuReceiver::Status::kComplete) {
        FinishSerial(s);
        continue;
      }
      if (st == MBRtuReceiver::Status::kOverflow) {
        s.rx.Reset();
        s.raw.clear();
        s.deadline.reset();
        continue;
      }
      s.needSilence = st == MBRtuReceiver::Status::kNeedSilence;
      s.deadline =
          now + (s.needSilence ? frameGap_ : std::chrono::nanoseconds(kIncompleteFrameLimit));
    }
  }
}

void SimServer::AcceptTcp() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (clients_.size() >= kMaxTcpClients) {
      ::close(fd);
      continue;
    }
    clients_.push_back({fd, {}});
  }
}

bool SimServer::ReadTcp(TcpClient& c) {
  uint8_t buf[1024];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n == 0) return false;
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      return false;
    }
    c.buf.insert(c.buf.end(), buf, buf + n);
  }
  while (c.buf.size() >= kMbapHeaderSize) {
    MbapHeader h;
    if (!DecodeMbapHeader(c.buf, h)) break;
    // Garbage on a TCP stream cannot be resynchronised: the client is dropped.
    if (h.protocolId != 0 || h.length < 2 || h.length > kMaxAdu) return false;
    const std::size_t total = 6 + static_cast<std::size_t>(h.length);
    if (c.buf.size() < total) break;
    const std::vector<uint8_t> adu(c.buf.begin() + 6,
                                   c.buf.begin() + static_cast<std::ptrdiff_t>(total));
    c.buf.erase(c.buf.begin(), c.buf.begin() + static_cast<std::ptrdiff_t>(total));
    uint64_t number = 0;
    const Fate fate = Decide(adu, true, number);
    if (fate != Fate::kServe) {
      SimDrive::Reply none;
      none.note = fate == Fate::kDrop ? "dropped" : "silent";
      Log(number, "tcp", none, "");
      continue;
    }
    const SimDrive::Reply reply = ServeAdu(adu, true);
    const bool corrupt = Corrupt(number);
    if (!reply.adu.empty()) {
      std::vector<uint8_t> frame = EncodeMbap(h.transactionId, reply.adu);
      if (corrupt) frame[2] ^= 0xFF;  // TCP has no checksum: spoil the protocol identifier
      if (!WriteAll(c.fd, frame)) return false;
    }
    Log(number, "tcp", reply, corrupt ? " (bad header sent)" : "");
  }
  return true;
}

bool SimServer::Run() {
  // A paced line keeps deadlines a fraction of a millisecond apart: the default 50 us
  // timer slack of the thread would be a sizeable error.
  if (options_.line) (void)prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  std::vector<pollfd> fds;
  for (;;) {
    fds.clear();
    fds.push_back({stopPipe_[0], POLLIN, 0});
    for (const Serial& s : serials_) fds.push_back({s.fd, POLLIN, 0});
    if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
    for (const TcpClient& c : clients_) fds.push_back({c.fd, POLLIN, 0});

    std::optional<Clock::time_point> wake;
    const auto earliest = [&wake](Clock::time_point t) { wake = wake ? std::min(*wake, t) : t; };
    for (const Serial& s : serials_) {
      if (s.deadline) earliest(*s.deadline);
      if (!s.arriving.empty()) earliest(s.arriving.front().at);
      if (!s.answers.empty()) {
        const PacedAnswer& a = s.answers.front();
        earliest(a.start + options_.line->charTime * static_cast<int64_t>(a.sent + 1));
      }
    }
    Clock::time_point now = Clock::now();
    timespec ts{};
    if (wake) {
      const auto ns = std::max<int64_t>(
          0, std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count());
      ts = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    }
    const int ready = ::ppoll(fds.data(), fds.size(), wake ? &ts : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) {
      std::fprintf(stderr, "vx310-sim: %s\n", std::strerror(errno));
      return false;
    }
    if (fds[0].revents != 0) return true;
    now = Clock::now();

    std::size_t i = 1;
    for (Serial& s : serials_) {
      const short ev = fds[i++].revents;
      const bool gone = (ev & POLLNVAL) || ((ev & (POLLIN | POLLERR | POLLHUP)) &&
                                            !ReadSerial(s, now, (ev & (POLLERR | POLLHUP)) != 0));
      if (gone) {
        // A port that went away (an unplugged adapter) would wake poll for ever.
        std::fprintf(stderr, "vx310-sim: %s: the line is gone; no longer served\n", s.name.c_str());
        ::close(s.fd);
        s.fd = -1;
        continue;
      }
      if (s.deadline && *s.deadline <= now) FinishSerial(s);
      if (options_.line) PaceSerial(s, Clock::now());
    }
    std::erase_if(serials_, [](const Serial& s) { return s.fd < 0; });
    if (serials_.empty() && listenFd_ < 0) {
      std::fprintf(stderr, "vx310-sim: nothing left to listen on\n");
      return false;
    }
    if (listenFd_ >= 0 && (fds[i++].revents & POLLIN)) AcceptTcp();
    std::vector<TcpClient> kept;
    const std::size_t polledClients = fds.size() - i;
    for (std::size_t c = 0; c < clients_.size(); ++c) {
      const short ev = c < polledClients ? fds[i + c].revents : 0;
      bool keep = true;
      if (ev & (POLLIN | POLLHUP | POLLERR)) keep = ReadTcp(clients_[c]);
      if (keep)
        kept.push_back(std::move(clients_[c]));
      else
        ::close(clients_[c].fd);
    }
    clients_ = std::move(kept);
  }
}

}  // namespace vx
