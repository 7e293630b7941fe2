// Drives the real Torvexan.dll's COM-port output under Wine: scripts/wine-serial links a
// pseudo-terminal as COM1 and COM12 of the Wine prefix and runs a libmodbus device on its
// other end, which must see exactly the writes 1, 50 and 127 to register 100. Everything
// else this host notifies must send nothing. Exit code 0 means every check here held, 77 that
// this system's pseudo-terminals cannot take the plug-in's line.
#include <windows.h>

#include <cstdio>

#include "check.h"
#include "plugin_dll.h"
#include "state/host_records.h"

namespace {

using namespace torvexan;
using namespace torvexan::win32test;

constexpr int32_t kBaud = 19200;

constexpr int kSkipped = 77;  // the pseudo-terminal cannot show anything here

// Sets the port's line; false when the port or the line is refused.
bool SetLine(const wchar_t* port, DWORD baud, BYTE parity) {
  HANDLE h =
      ::CreateFileW(port, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = ::GetCommState(h, &dcb) != FALSE;
  dcb.BaudRate = baud;
  dcb.Parity = parity;
  ok = ok && ::SetCommState(h, &dcb) != FALSE;
  ::CloseHandle(h);
  return ok;
}

// A pseudo-terminal carries no parity, and the C library reports its dropped parity bit as a
// failed setting unless (on the kernels seen so far) the rate changes too: like another
// program that used the port at 9600 baud without parity in between, the host sets that
// before every frame that must arrive.
void UseLineAt9600(const wchar_t* port) {
  CHECK(SetLine(port, 9600, NOPARITY));
}

// Whether the plug-in's line can be set on the pseudo-terminal at all here.
bool TakesEvenParity(const wchar_t* port) {
  UseLineAt9600(port);
  return SetLine(port, static_cast<DWORD>(kBaud), EVENPARITY);
}

}  // namespace

int main() {
  HWND window = CreatePluginHostWindow("TorvexanSerialHost", "Torvexan serial host");
  if (!CHECK(window != nullptr)) return 1;
  HMODULE dll = ::LoadLibraryA("Torvexan.dll");
  if (!CHECK(dll != nullptr)) return 1;
  EntryPoints e{};
  if (!CHECK(FindAll(dll, e))) return 1;

  e.SetCode(&PrintStatus);
  e.SetGetMenuRange(&MenuRange);
  HostRecords records(window);
  HostControl* control = records.control.get();
  CHECK(records.InitControl(e));
  CHECK(e.PostInitControl() == 0);
  control->MotionIdle = 1;
  control->ComPort = 1;
  control->ComBaud = kBaud;

  if (!TakesEvenParity(L"\\\\.\\COM1")) {
    std::printf("serial host: the pseudo-terminal refuses even parity on this system\n");
    e.StopPlug();
    return kSkipped;
  }

  // Outside 101 to 227 in all 32 bits.
  for (int code : {100, 228, -1, 0x10065}) e.Notify(code);

  // A port that does not exist, and rates no port takes. (Wine sets any positive rate on a
  // pseudo-terminal, so rates a real driver refuses cannot be shown here.)
  control->ComPort = 7;
  e.Notify(121);
  control->ComPort = 1;
  for (int32_t baud : {0, -9600}) {
    UseLineAt9600(L"\\\\.\\COM1");
    control->ComBaud = baud;
    e.Notify(122);
  }
  control->ComBaud = kBaud;

  // What the device must see: 1 and 50 through COM1, 127 through COM12.
  UseLineAt9600(L"\\\\.\\COM1");
  e.Notify(101);
  UseLineAt9600(L"\\\\.\\COM1");
  e.Notify(150);
  UseLineAt9600(L"\\\\.\\COM12");
  control->ComPort = 12;
  e.Notify(227);

  e.StopPlug();
  CHECK(::FreeLibrary(dll));
  ::DestroyWindow(window);
  std::printf("%s: %d failed checks\n", torvexan::wintest::Failures() ? "FAILED" : "PASSED",
              torvexan::wintest::Failures());
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
