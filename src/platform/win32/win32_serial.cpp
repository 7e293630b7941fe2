// COM ports on Windows: opened without sharing, line and time-outs set, written, closed.
#include "platform/win32/win32_serial.h"

#include <cwchar>

namespace torvexan {

namespace {

// Reads wait at most 50 ms between bytes and 200 ms in all; writes never time out.
constexpr DWORD kReadIntervalMs = 50;
constexpr DWORD kReadTotalMs = 200;

// 8E1 at baud, binary with parity checking, no handshake or XON/XOFF, DTR and RTS held off,
// nothing stripped, no abort on error; every other field stays as the driver had it.
bool SetLine(HANDLE port, int32_t baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(port, &dcb)) return false;
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  return ::SetCommState(port, &dcb) != FALSE;
}

bool SetTimeouts(HANDLE port) {
  COMMTIMEOUTS t{};
  if (!::GetCommTimeouts(port, &t)) return false;
  t.ReadIntervalTimeout = kReadIntervalMs;
  t.ReadTotalTimeoutConstant = kReadTotalMs;
  t.ReadTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  t.WriteTotalTimeoutMultiplier = 0;
  return ::SetCommTimeouts(port, &t) != FALSE;
}

}  // namespace

void ComPortDeviceName(int32_t port, wchar_t (&name)[kComPortNameLength]) {
  std::swprintf(name, kComPortNameLength, L"\\\\.\\COM%d", static_cast<int>(port));
}

bool Win32SerialPort::Open(int32_t port, int32_t baud) {
  Close();
  wchar_t name[kComPortNameLength];
  ComPortDeviceName(port, name);
  handle_ =
      ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  // A rate of 0 or below is no rate at all, whatever the driver would make of it.
  if (baud <= 0 || !SetLine(handle_, baud) || !SetTimeouts(handle_)) {
    Close();
    return false;
  }
  return true;
}

int Win32SerialPort::Write(const uint8_t* bytes, int length) {
  if (handle_ == INVALID_HANDLE_VALUE || length < 0) return -1;
  DWORD written = 0;
  if (!::WriteFile(handle_, bytes, static_cast<DWORD>(length), &written, nullptr)) return -1;
  return static_cast<int>(written);
}

void Win32SerialPort::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  ::CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

}  // namespace torvexan
