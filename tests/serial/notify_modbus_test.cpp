// User codes reach a real Modbus device: the plug-in's termios port on one end of a
// pseudo-terminal pair, a libmodbus device on the other, found through TORVEXAN_SERIAL_DIR.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "platform/posix/posix_serial.h"
#include "serial/modbus_peer.h"
#include "serial/pty_pair.h"
#include "support/fake_platform.h"
#include "support/host_world.h"

namespace torvexan::testing {
namespace {

using sim::ModbusPeer;
using sim::ModbusRequest;
using sim::PtyPair;

constexpr int kBaud = 19200;
constexpr int kArrivalMs = 2000;  // a frame that is sent arrives long before this
constexpr int kWriteSingleRegister = 6;
constexpr int kUserRegister = 100;

class NotifyModbus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!pty->ok()) GTEST_SKIP() << "socat could not join two pseudo-terminals";
    ::setenv(kSerialDirVariable, pty->dir().c_str(), 1);
    peer = std::make_unique<ModbusPeer>(pty->DevicePath().c_str(), kBaud);
    ASSERT_TRUE(peer->ok());
    Platform p = fake.platform();
    p.serial = &port;
    plugin = std::make_unique<Plugin>(p);
    StartPlugin(*plugin, world);
    world.control->ComPort = 1;
    world.control->ComBaud = kBaud;
  }
  void TearDown() override { ::unsetenv(kSerialDirVariable); }

  // The value of the next register write the device accepts; -1 when none comes.
  int NextWrittenValue() {
    ModbusRequest r{};
    if (!peer->Receive(kArrivalMs, &r)) {
      ADD_FAILURE() << "no request accepted: " << peer->error();
      return -1;
    }
    EXPECT_EQ(r.function, kWriteSingleRegister);
    EXPECT_EQ(r.reg, kUserRegister);
    return r.value;
  }

  std::unique_ptr<PtyPair> pty = std::make_unique<PtyPair>("com1", "device");
  std::unique_ptr<ModbusPeer> peer;
  FakePlatform fake;
  PosixSerialPort port;
  HostWorld world;
  std::unique_ptr<Plugin> plugin;
};

TEST_F(NotifyModbus, UserCodesArriveAsWritesOfCodeLessHundredToRegister100) {
  for (int code : {101, 150, 227}) {
    plugin->Notify(code);
    EXPECT_EQ(NextWrittenValue(), code - 100);
  }
}

TEST_F(NotifyModbus, CodesOutsideTheRangeSendNothingAhead) {
  // Any byte sent before the frame of 150 would spoil that frame's CRC for the device.
  for (int code : {100, 228, -1, 0x10065}) plugin->Notify(code);
  plugin->Notify(150);
  EXPECT_EQ(NextWrittenValue(), 50);
}

TEST_F(NotifyModbus, TheLineIsLeft8E1RawWithoutFlowControlAndReadTimeOut) {
  plugin->Notify(101);
  EXPECT_EQ(NextWrittenValue(), 1);
  // The pseudo-terminal keeps its settings after the plug-in has closed it.
  const int fd = ::open(pty->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(::tcgetattr(fd, &t), 0);
  ::close(fd);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
  // Parity is the one setting a pseudo-terminal does not keep.
  EXPECT_EQ(t.c_cflag & (CSIZE | PARODD | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), static_cast<tcflag_t>(INPCK));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 2);
}

TEST_F(NotifyModbus, MissingPortAndUnsupportedBaudRatesSendNothing) {
  world.control->ComPort = 2;  // no com2 in the directory
  plugin->Notify(101);
  world.control->ComPort = 1;
  for (int baud : {12345, 0, -9600}) {
    world.control->ComBaud = baud;
    plugin->Notify(102);
  }
  world.control->ComBaud = kBaud;
  plugin->Notify(103);
  EXPECT_EQ(NextWrittenValue(), 3);
}

TEST_F(NotifyModbus, APortHeldByAnotherProcessSendsNothing) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {  // another program that uses COM1, until told to let go
    PosixSerialPort other;
    const char opened = other.Open(1, kBaud) ? 'y' : 'n';
    (void)::write(ready[1], &opened, 1);
    char done;
    (void)::read(release[0], &done, 1);
    other.Close();  // a pseudo-terminal would otherwise stay exclusive after this process
    ::_exit(0);
  }
  char opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, 1), 1);
  EXPECT_EQ(opened, 'y');
  plugin->Notify(101);
  // The failed opening leaves the holder's exclusive use as it was.
  int exclusive = 1;
  const int probe = ::open(pty->PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (probe >= 0) {
    EXPECT_EQ(::ioctl(probe, TIOCGEXCL, &exclusive), 0);
    ::close(probe);
  } else {
    EXPECT_EQ(errno, EBUSY);  // not root: the tty refuses us outright
  }
  EXPECT_EQ(exclusive, 1);
  (void)::write(release[1], "x", 1);
  ::waitpid(holder, nullptr, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
  plugin->Notify(104);
  EXPECT_EQ(NextWrittenValue(), 4);
}

TEST(SerialDevicePath, ComPortsMapAsWineMapsThemOrIntoTheSerialDirectory) {
  char path[64];
  ASSERT_TRUE(SerialDevicePath(1, nullptr, path, sizeof path));
  EXPECT_STREQ(path, "/dev/ttyS0");
  ASSERT_TRUE(SerialDevicePath(12, nullptr, path, sizeof path));
  EXPECT_STREQ(path, "/dev/ttyS11");
  ASSERT_TRUE(SerialDevicePath(12, "/run/ports", path, sizeof path));
  EXPECT_STREQ(path, "/run/ports/com12");
  EXPECT_FALSE(SerialDevicePath(0, nullptr, path, sizeof path));
  EXPECT_FALSE(SerialDevicePath(-3, "/run/ports", path, sizeof path));
  EXPECT_FALSE(SerialDevicePath(1, "/a/directory/name/much/longer/than/the/space/given", path, 20));
}

TEST(PosixSerialPort, AFileThatIsNoTerminalIsNoPort) {
  char dir[] = "/tmp/torvexan-notty-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string file = std::string(dir) + "/com1";
  ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
  ::setenv(kSerialDirVariable, dir, 1);
  PosixSerialPort port;
  EXPECT_FALSE(port.Open(1, kBaud));
  EXPECT_EQ(port.Write(reinterpret_cast<const uint8_t*>("x"), 1), -1);
  ::unsetenv(kSerialDirVariable);
  ::unlink(file.c_str());
  ::rmdir(dir);
}

}  // namespace
}  // namespace torvexan::testing
