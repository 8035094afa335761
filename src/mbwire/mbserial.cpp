#include "mbwire/mbserial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mbwire/mbcodes.h"
#include "mbwire/mbresult.h"

namespace vx {
namespace {

struct BaudEntry {
  int32_t rate;
  speed_t code;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool BaudCode(int32_t rate, speed_t& code) {
  for (const auto& b : kBauds) {
    if (b.rate == rate) {
      code = b.code;
      return true;
    }
  }
  return false;
}

constexpr tcflag_t kCheckedFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD;
constexpr tcflag_t kParityFlags = PARENB | PARODD | CMSPAR;

void SetError(std::string* error, const std::string& text) {
  if (error != nullptr) *error = text;
}

// Unix 98 pseudo-terminal slaves have majors 136 to 143.
bool IsPtyDevice(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  const unsigned maj = major(st.st_rdev);
  return maj >= 136 && maj <= 143;
}

void ModemBits(int fd, int request, int bits) {
  (void)ioctl(fd, request, &bits);
}

bool ValidSettings(const MBSerialSettings& s) {
  const bool flowOk =
      s.flowControl == MBFlowControl::kNone || s.flowControl == MBFlowControl::kDtrDsr ||
      s.flowControl == MBFlowControl::kRtsCts || s.flowControl == MBFlowControl::kRtsToggle;
  return (s.byteSize == 7 || s.byteSize == 8) && s.parity >= MBParity::kNone &&
         s.parity <= MBParity::kSpace && s.stopBits >= MBStopBits::kOne &&
         s.stopBits <= MBStopBits::kTwo && flowOk;
}

// Raw mode (no break, parity marking, translation or software flow) with the settings'
// speed, byte size, parity, stop bits and hardware flow control.
void MakeRaw(termios& t, const MBSerialSettings& s, speed_t speed) {
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag &= ~(kCheckedFlags);
  t.c_cflag |= CLOCAL | CREAD | speed | (s.byteSize == 7 ? CS7 : CS8);
  switch (s.parity) {
    case MBParity::kOdd:
      t.c_cflag |= PARENB | PARODD;
      break;
    case MBParity::kEven:
      t.c_cflag |= PARENB;
      break;
    case MBParity::kMark:
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case MBParity::kSpace:
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (s.parity != MBParity::kNone) t.c_iflag |= INPCK;
  if (s.stopBits != MBStopBits::kOne) t.c_cflag |= CSTOPB;
  if (s.flowControl == MBFlowControl::kRtsCts) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  (void)cfsetospeed(&t, speed);
  (void)cfsetispeed(&t, speed);
}

// Applies the settings in one call; empty when the port took them, else why not.
std::string Configure(int fd, const MBSerialSettings& s, speed_t speed, bool pty) {
  struct termios t {};
  if (tcgetattr(fd, &t) != 0) return std::strerror(errno);
  MakeRaw(t, s, speed);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    // Some pseudo-terminals reject parity outright: take the rest of the settings.
    if (!(pty && errno == EINVAL && (t.c_cflag & kParityFlags))) return std::strerror(errno);
    t.c_cflag &= ~kParityFlags;
    t.c_iflag &= ~INPCK;
    if (tcsetattr(fd, TCSANOW, &t) != 0) return std::strerror(errno);
  }
  struct termios applied {};
  if (tcgetattr(fd, &applied) != 0) return std::strerror(errno);
  // tcsetattr succeeds when any part was applied; a real port must have taken all of it.
  // A pseudo-terminal silently drops what it has no use for (parity among them).
  if (!pty && (applied.c_cflag & kCheckedFlags) != (t.c_cflag & kCheckedFlags))
    return "the port refuses these settings";
  return {};
}

// RTS raised around each transmission (RS-485) by the driver; false where it has no such
// mode and RTS must be raised by hand.
bool EnableRs485(int fd) {
  struct serial_rs485 rs {};
  rs.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
  return ioctl(fd, TIOCSRS485, &rs) == 0;
}

}  // namespace

std::chrono::nanoseconds CharTime(const MBSerialSettings& s) {
  const int bits = 1 + (s.byteSize == 7 ? 7 : 8) + (s.parity != MBParity::kNone ? 1 : 0) +
                   (s.stopBits == MBStopBits::kOne ? 1 : 2);
  const int64_t baud = s.baudRate > 0 ? s.baudRate : 19200;
  return std::chrono::nanoseconds(bits * int64_t{1000000000} / baud);
}

std::chrono::nanoseconds RtuFrameGap(const MBSerialSettings& s) {
  if (s.baudRate > 19200) return std::chrono::microseconds(1750);
  return CharTime(s) * 7 / 2;
}

// ---- MBSerialPort ----

MBSerialPort::~MBSerialPort() {
  Close();
}

MBSerialPort::MBSerialPort(MBSerialPort&& o) noexcept
    : fd_(std::exchange(o.fd_, -1)),
      pty_(o.pty_),
      manualRts_(o.manualRts_),
      settings_(o.settings_) {}

MBSerialPort& MBSerialPort::operator=(MBSerialPort&& o) noexcept {
  if (this != &o) {
    Close();
    fd_ = std::exchange(o.fd_, -1);
    pty_ = o.pty_;
    manualRts_ = o.manualRts_;
    settings_ = o.settings_;
  }
  return *this;
}

bool MBSerialPort::Open(const std::string& path, const MBSerialSettings& s, std::string* error) {
  Close();
  speed_t speed = 0;
  if (!BaudCode(s.baudRate, speed)) {
    SetError(error, path + ": unsupported baud rate " + std::to_string(s.baudRate));
    return false;
  }
  if (!ValidSettings(s)) {
    SetError(error, path + ": invalid port settings");
    return false;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, path + ": " +
                        (errno == EBUSY ? std::string("Port already busy") : std::strerror(errno)));
    return false;
  }
  auto fail = [&](const std::string& text) {
    ::close(fd);
    SetError(error, text);
    return false;
  };
  // The advisory lock keeps out every opener that asks for it, root included; the
  // exclusive mode keeps out other programs that do not.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0)
    return fail(path + ": " +
                (errno == EWOULDBLOCK ? std::string("Port already busy") : std::strerror(errno)));
  if (!isatty(fd)) return fail(path + ": not a serial port");
  const bool pty = IsPtyDevice(fd);
  if (const std::string why = Configure(fd, s, speed, pty); !why.empty())
    return fail(path + ": " + why);

  ModemBits(fd, TIOCMBIS, TIOCM_DTR);
  const bool manualRts = s.flowControl == MBFlowControl::kRtsToggle && !EnableRs485(fd);
  if (manualRts) ModemBits(fd, TIOCMBIC, TIOCM_RTS);
  (void)tcflush(fd, TCIOFLUSH);
  // Only now, so that a failed open never leaves the port locked against others.
  (void)ioctl(fd, TIOCEXCL);
  fd_ = fd;
  pty_ = pty;
  manualRts_ = manualRts;
  settings_ = s;
  return true;
}

void MBSerialPort::Close() {
  if (fd_ < 0) return;
  (void)ioctl(fd_, TIOCNXCL);
  ::close(fd_);
  fd_ = -1;
}

// ---- MBSerialChannel ----

int32_t MBSerialChannel::BeginExchange() {
  if (!port_.IsOpen()) return mbresult::kPortNotInitialized;
  (void)tcflush(port_.Fd(), TCIFLUSH);
  return mbresult::kOk;
}

int32_t MBSerialChannel::BeginExchange(std::vector<uint8_t>& dropped) {
  if (!port_.IsOpen()) return mbresult::kPortNotInitialized;
  int pending = 0;
  const bool counted = ioctl(port_.Fd(), FIONREAD, &pending) == 0;
  // A quiet line needs no flush: one system call, as without the tap.
  if (counted && pending == 0) return mbresult::kOk;
  if (counted) {
    uint8_t buf[512];
    const ssize_t n = ::read(port_.Fd(), buf, sizeof buf);
    if (n > 0) dropped.insert(dropped.end(), buf, buf + n);
  }
  (void)tcflush(port_.Fd(), TCIFLUSH);
  return mbresult::kOk;
}

int32_t MBSerialChannel::Write(std::span<const uint8_t> bytes) {
  if (!port_.IsOpen()) return mbresult::kPortNotInitialized;
  const int fd = port_.Fd();
  if (port_.ManualRts()) ModemBits(fd, TIOCMBIS, TIOCM_RTS);
  // A line with flow control may hold us back; a second per frame byte is plenty.
  const auto limit = MBClock::now() + std::chrono::seconds(1) +
                     CharTime(port_.Settings()) * static_cast<int64_t>(bytes.size());
  int32_t rc = mbresult::kOk;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && MBClock::now() < limit) {
      pollfd p{fd, POLLOUT, 0};
      (void)::poll(&p, 1, 10);
      continue;
    }
    rc = mbresult::kPortWriteError;
    break;
  }
  if (port_.ManualRts()) {
    // RTS may only drop once the last stop bit has left the wire.
    (void)tcdrain(fd);
    ModemBits(fd, TIOCMBIC, TIOCM_RTS);
  }
  return rc;
}

int32_t MBSerialChannel::Read(std::vector<uint8_t>& into, MBClock::time_point deadline) {
  if (!port_.IsOpen()) return mbresult::kPortNotInitialized;
  const int fd = port_.Fd();
  for (;;) {
    const auto now = MBClock::now();
    const auto left = deadline > now ? deadline - now : MBClock::duration::zero();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    pollfd p{fd, POLLIN, 0};
    const int r = ::ppoll(&p, 1, &ts, nullptr);
    if (r < 0) {
      if (errno == EINTR) continue;
      return mbresult::kPortReadError;
    }
    if (r == 0) return mbresult::kTimeout;
    if (!(p.revents & POLLIN)) return mbresult::kPortReadError;  // hang-up or error
    uint8_t buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      into.insert(into.end(), buf, buf + n);
      return mbresult::kOk;
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    return mbresult::kPortReadError;
  }
}

}  // namespace vx
