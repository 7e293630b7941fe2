// COM ports on POSIX systems: the line set up with termios, the port held exclusively.
#include "platform/posix/posix_serial.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace torvexan {

namespace {

constexpr size_t kMaxPathLength = 4096;
// A read waits at most 200 ms for its first byte. termios has one timer per read, so the
// 50 ms gap between bytes that a Windows port also watches cannot be had at the same time.
constexpr cc_t kReadTimeoutDeciseconds = 2;
// Device majors of the Unix 98 pseudo-terminal slaves (/dev/pts/N).
constexpr unsigned kPtyFirstMajor = 136;
constexpr unsigned kPtyLastMajor = 143;

struct BaudRate {
  int32_t bitsPerSecond;
  speed_t code;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
#endif
};

// The termios code of a baud rate, or B0 for one the line cannot take.
speed_t BaudCode(int32_t baud) {
  for (const BaudRate& rate : kBaudRates) {
    if (rate.bitsPerSecond == baud) return rate.code;
  }
  return B0;
}

bool IsPseudoTerminal(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= kPtyFirstMajor &&
         major(st.st_rdev) <= kPtyLastMajor;
}

// 8 data bits, even parity checked on input, one stop bit, raw bytes, no flow control of
// either kind; the receiver is on and modem status lines are ignored.
bool SetLine(int fd, speed_t speed) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return false;
  cfmakeraw(&t);
  t.c_cflag &= ~(CSIZE | CSTOPB | PARODD | CRTSCTS);
  t.c_cflag |= CS8 | PARENB | CREAD | CLOCAL;
  t.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | PARMRK);
  t.c_iflag |= INPCK;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = kReadTimeoutDeciseconds;
  if (cfsetispeed(&t, speed) != 0 || cfsetospeed(&t, speed) != 0) return false;
  // tcsetattr succeeds when any one setting took, and fails on a pseudo-terminal, which keeps
  // everything but the parity bit (it carries bytes, not bits). So what took is read back.
  (void)tcsetattr(fd, TCSANOW, &t);
  termios now{};
  if (tcgetattr(fd, &now) != 0) return false;
  const tcflag_t kept = CSIZE | CSTOPB | CRTSCTS | (IsPseudoTerminal(fd) ? 0 : PARENB | PARODD);
  return cfgetospeed(&now) == speed && cfgetispeed(&now) == speed &&
         (now.c_cflag & kept) == (t.c_cflag & kept) && now.c_cc[VTIME] == t.c_cc[VTIME];
}

// DTR and RTS off. A pseudo-terminal has no modem lines and refuses the request, which is
// as good as lines held off.
void DropModemLines(int fd) {
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIC, &lines);
}

}  // namespace

bool SerialDevicePath(int32_t port, const char* dir, char* path, size_t capacity) {
  if (port < 1) return false;
  const int n = dir != nullptr ? std::snprintf(path, capacity, "%s/com%d", dir, port)
                               : std::snprintf(path, capacity, "/dev/ttyS%d", port - 1);
  return n > 0 && static_cast<size_t>(n) < capacity;
}

bool PosixSerialPort::Open(int32_t port, int32_t baud) {
  Close();
  char path[kMaxPathLength];
  if (!SerialDevicePath(port, std::getenv(kSerialDirVariable), path, sizeof path)) return false;
  const speed_t speed = BaudCode(baud);
  if (speed == B0) return false;
  // Non-blocking only while opening, so that a line without carrier does not hold us up.
  fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return false;
  // The lock keeps out every other user of the port, root included; TIOCEXCL then refuses
  // further opens of the tty (and fails for anything that is not a tty).
  exclusive_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd_, TIOCEXCL) == 0;
  if (!exclusive_ || !SetLine(fd_, speed) || ::fcntl(fd_, F_SETFL, 0) != 0) {
    Close();
    return false;
  }
  DropModemLines(fd_);
  return true;
}

int PosixSerialPort::Write(const uint8_t* bytes, int length) {
  if (fd_ < 0 || length < 0) return -1;
  return static_cast<int>(::write(fd_, bytes, static_cast<size_t>(length)));
}

void PosixSerialPort::Close() {
  if (fd_ < 0) return;
  // A pseudo-terminal outlives our descriptor and would stay exclusive, locking out the next
  // opening, ours included. Only our own exclusivity is given up: a port that another process
  // holds stays exclusive.
  if (exclusive_) (void)::ioctl(fd_, TIOCNXCL);
  exclusive_ = false;
  ::close(fd_);
  fd_ = -1;
}

}  // namespace torvexan
