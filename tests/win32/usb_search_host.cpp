// Where the real Torvexan.dll takes libusb-1.0.dll from. The host loads the plug-in from the
// path it is given (as the CNC host loads it from its PlugIns folder), runs the start-up that
// loads the USB library and stops the plug-in again, then prints the path of every copy of the
// stand-in libusb-1.0.dll that was loaded (the stand-in writes it into the mark file beside
// this program). tests/win32/usb_search_cases.sh places the copies and checks the lines.
//
//   torvexan_win32_usb_search_host.exe PLUGIN_DLL
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "check.h"
#include "host/entry_points.h"
#include "plugin_dll.h"
#include "state/host_records.h"

namespace {

using namespace torvexan;
using namespace torvexan::win32test;

std::string ProgramFolder() {
  char path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string file(path, n < sizeof path ? n : 0);
  return file.substr(0, file.find_last_of("\\/"));
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc != 2) {
    std::printf("usage: torvexan_win32_usb_search_host.exe PLUGIN_DLL\n");
    return 2;
  }
  const std::string mark = ProgramFolder() + "\\usb-mark.txt";
  ::DeleteFileA(mark.c_str());
  ::SetEnvironmentVariableA("TORVEXAN_USB_MARK", mark.c_str());

  HWND window = CreatePluginHostWindow("TorvexanUsbSearchHost", "Torvexan USB search host");
  HMODULE dll = ::LoadLibraryA(argv[1]);
  EntryPoints plugin{};
  if (window == nullptr || dll == nullptr || !FindAll(dll, plugin)) {
    std::printf("usb search host: cannot set up the window or load %s\n", argv[1]);
    return 2;
  }
  plugin.SetCode(&PrintStatus);
  plugin.SetGetMenuRange(&MenuRange);
  HostRecords records(window);
  records.control->MotionIdle = 1;
  CHECK(records.InitControl(plugin));
  plugin.PostInitControl();  // starts the card session, which loads the USB library
  plugin.StopPlug();
  ::FreeLibrary(dll);
  ::DestroyWindow(window);

  std::ifstream in(mark);
  int copies = 0;
  for (std::string line; std::getline(in, line);) {
    std::printf("libusb loaded: %s\n", line.c_str());
    ++copies;
  }
  if (copies == 0) std::printf("libusb loaded: none\n");
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
