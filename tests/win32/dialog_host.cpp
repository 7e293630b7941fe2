// The configuration dialog of the real Torvexan.dll under Wine, next to torvexan-card: the host
// opens it through Config and the menu code of Notify while a second thread plays the user with
// window messages only: it watches the link come up, the inputs change and the template's
// layout, takes a screenshot, types values and presses SAVE, CANCEL and the close box, and the
// host then compares the settings file byte for byte. Exit 0 when every check held.
//
//   torvexan_win32_dialog_host.exe [--png FILE] [--question-png FILE] [--opened FILE]
//
// Run only inside a private network namespace with a torvexan-card that starts a few seconds
// after the first dialog has opened (--opened names the file that says so) and toggles its
// handwheel selector (scripts/wine-dialog).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "host/entry_points.h"
#include "plugin_dll.h"
#include "png_file.h"
#include "state/host_records.h"

namespace {

using namespace torvexan;
using namespace torvexan::win32test;

constexpr UINT kUpdatePeriodMs = 100;
constexpr DWORD kFindMs = 10000;
constexpr DWORD kLinkUpMs = 20000;
constexpr DWORD kInputsWatchMs = 1500;
constexpr DWORD kPollMs = 20;
constexpr const char* kSettingsFile = "dialog_settings.xml";
constexpr const char* kOpenCaption = "Quorvanta Motion Card Configuration";
constexpr const char* kLorn5Caption = "Quorvanta LORN5 Motion Card Configuration";
constexpr const char* kQuestionCaption = "Check the values before saving";

// The largest text each field must show whole: a pull-off of four digits before the point
// (a machine's travel in millimetres), the calibration's upper bound, the highest output, the
// extremes of the laser depth, and five-digit feed rates and spindle speeds; the S/N field
// with the eighteen zeros before a card is found, a card's hardware address and the word for a
// USB card without serial number.
struct LargestText {
  int id;
  const char* text;
};
constexpr LargestText kLargestTexts[] = {
    {1003, "-9999.999"},
    {1004, "-9999.999"},
    {1005, "-9999.999"},
    {1006, "-9999.999"},
    {1032, "-9999.999"},
    {1031, "1.000"},
    {1023, "4"},
    {1024, "-2147483648"},
    {1035, "99999.000"},
    {1036, "99999.000"},
    {1026, "000000000000000000"},
    {1026, "025456000001"},
    {1026, "(none on this card)"},
};

// The profile as SaveSettings writes it, so that a save changes only the values that differ.
constexpr const char* kProfile =
    "<?xml version=\"1.0\"?>\r\n<Profile>\r\n  <Preferences>\r\n    <Units>mm</Units>\r\n"
    "  </Preferences>\r\n<Torvexan>\r\n<HomeTwice>1</HomeTwice>\r\n<MultiStep>0</MultiStep>\r\n"
    "<MPGDisable>0</MPGDisable>\r\n<XPullOff>5.000</XPullOff>\r\n<YPullOff>5.000</YPullOff>\r\n"
    "<ZPullOff>5.000</ZPullOff>\r\n<APullOff>5.000</APullOff>\r\n<BPullOff>5.000</BPullOff>\r\n"
    "<SpindleRatio>1.000</SpindleRatio>\r\n<SpindleSpeed>15000.000</SpindleSpeed>\r\n"
    "<Jerk>1000.000</Jerk>\r\n<FeedRate>500.000</FeedRate>\r\n<OutputPin>0</OutputPin>\r\n"
    "<ZDeepth>0</ZDeepth>\r\n<AxesMap>1</AxesMap>\r\n<JogBufSize>50</JogBufSize>\r\n"
    "</Torvexan>\r\n<Other>kept</Other>\r\n</Profile>\r\n";

// The controls with an identifier: kind of window, text, position in dialog units.
struct ExpectedControl {
  int id;
  const char* windowClass;
  const char* text;  // null: filled when the dialog opens
  int x, y, width, height;
};
constexpr ExpectedControl kControls[] = {
    {1, "Button", "SAVE", 258, 261, 50, 14},
    {2, "Button", "CANCEL", 258, 279, 50, 14},
    {1001, "Static", nullptr, 246, 243, 78, 8},
    {1002, "Button", "Twice", 34, 30, 34, 10},
    {1003, "Edit", nullptr, 54, 42, 44, 14},
    {1004, "Edit", nullptr, 54, 60, 44, 14},
    {1005, "Edit", nullptr, 54, 78, 44, 14},
    {1006, "Edit", nullptr, 54, 96, 44, 14},
    {1007, "Button", "IN1", 126, 30, 27, 10},
    {1008, "Button", "IN2", 126, 42, 27, 10},
    {1009, "Button", "IN3", 126, 54, 27, 10},
    {1010, "Button", "IN4", 126, 66, 27, 10},
    {1011, "Button", "X", 162, 30, 20, 10},
    {1012, "Button", "Y", 162, 42, 20, 10},
    {1013, "Button", "Z", 162, 54, 20, 10},
    {1014, "Button", "4", 162, 66, 20, 10},
    {1015, "Button", "X10", 162, 102, 28, 10},
    {1016, "Button", "EStop", 162, 114, 35, 10},
    {1017, "Button", "X100", 162, 90, 32, 10},
    {1018, "Button", "5", 162, 78, 20, 10},
    {1019, "Button", "IN5", 126, 78, 27, 10},
    {1020, "Button", "IN6", 126, 90, 27, 10},
    {1021, "Button", "IN7", 126, 102, 27, 10},
    {1022, "Button", "IN8", 126, 114, 27, 10},
    {1023, "Edit", nullptr, 78, 228, 40, 14},
    {1024, "Edit", nullptr, 162, 228, 56, 14},
    {1025, "Static", "2.0", 246, 183, 72, 8},
    {1026, "Static", nullptr, 246, 207, 72, 8},
    {1028, "Button", "Disable", 42, 168, 39, 10},
    {1029, "Button", "Multi-Step Speed", 132, 168, 70, 10},
    {1030, "Static", "Quorvanta Motion Card", 246, 231, 78, 8},
    {1031, "Edit", nullptr, 174, 180, 48, 14},
    {1032, "Edit", nullptr, 54, 114, 44, 14},
    {1033, "ComboBox", nullptr, 258, 42, 48, 48},
    {1035, "Edit", nullptr, 60, 270, 46, 14},
    {1036, "Edit", nullptr, 180, 270, 46, 14},
};

EntryPoints gPlugin{};  // the program's one plug-in, for the host's timer procedure
HWND gHostWindow = nullptr;
volatile LONG gMenuOpensReturned = 0;  // menu clicks whose Notify has returned

// The host's Update timer: a procedure, so that modal loops dispatch it as the host's own
// message loop does.
void CALLBACK UpdateTick(HWND, UINT, UINT_PTR, DWORD) {
  gPlugin.Update();
}

// The host's main window: its plug-in menu item hands the click to Notify, as the host does.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == kPluginMenuId) {
    // A click on the host's menu comes with the host's window in front.
    ::SetForegroundWindow(window);
    std::printf("dialog: host window in front at the click: %d\n",
                ::GetForegroundWindow() == window);
    gPlugin.Notify(kPluginMenuId);
    ::InterlockedIncrement(&gMenuOpensReturned);
    return 0;
  }
  return ::DefWindowProcA(window, message, wParam, lParam);
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// --- The user's side: window messages to a dialog of another thread. ---

std::string Text(HWND window) {
  char text[1024] = {};
  ::SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}
std::string Text(HWND dialog, int id) {
  return Text(::GetDlgItem(dialog, id));
}
bool Checked(HWND dialog, int id) {
  return ::SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
void Type(HWND dialog, int id, const char* text) {
  ::SendDlgItemMessageA(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
void Choose(HWND dialog, int id, int index) {
  ::SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}
int Chosen(HWND dialog, int id) {
  return static_cast<int>(::SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}
// A click whose handling opens a modal box: posted, so that the user's thread is not held
// until the box is closed.
void PressLater(HWND dialog, int id) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}
void Press(HWND dialog, int id) {
  ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
}
void PressCloseBox(HWND dialog) {
  ::SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// The plug-in's dialog by either caption it may carry.
HWND FindDialog() {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < kFindMs) {
    for (const char* caption : {kOpenCaption, kLorn5Caption}) {
      if (HWND w = ::FindWindowA("#32770", caption)) return w;
    }
    ::Sleep(kPollMs);
  }
  return nullptr;
}

// The box SAVE asks its question in, owned by the dialog.
HWND FindQuestion(HWND dialog) {
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < kFindMs) {
    HWND box = ::FindWindowA("#32770", kQuestionCaption);
    if (box != nullptr && ::GetWindow(box, GW_OWNER) == dialog) return box;
    ::Sleep(kPollMs);
  }
  return nullptr;
}

// The text of a message box (its static text has the id 0xFFFF).
std::string QuestionText(HWND box) {
  return Text(box, 0xFFFF);
}

void Answer(HWND box, int button) {
  ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(box, button)));
}

bool WaitGone(HWND dialog) {
  const DWORD start = ::GetTickCount();
  while (::IsWindow(dialog)) {
    if (::GetTickCount() - start > kFindMs) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

// The template: every control where the template puts it, with its text and its styles.
void CheckLayout(HWND dialog) {
  RECT size{0, 0, 328, 302};
  ::MapDialogRect(dialog, &size);
  RECT client{};
  ::GetClientRect(dialog, &client);
  CHECK(client.right == size.right && client.bottom == size.bottom);
  const LONG style = ::GetWindowLongA(dialog, GWL_STYLE);
  CHECK((style & (WS_CAPTION | WS_SYSMENU | WS_POPUP)) == (WS_CAPTION | WS_SYSMENU | WS_POPUP));
  CHECK((::GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME) != 0);
  LOGFONTA font{};
  const HFONT dialogFont = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
  CHECK(::GetObjectA(dialogFont, sizeof font, &font) == sizeof font);
  CHECK(std::strcmp(font.lfFaceName, "MS Shell Dlg") == 0);
  for (const ExpectedControl& c : kControls) {
    HWND control = ::GetDlgItem(dialog, c.id);
    if (!CHECK(control != nullptr)) continue;
    char windowClass[32] = {};
    ::GetClassNameA(control, windowClass, sizeof windowClass);
    if (_stricmp(windowClass, c.windowClass) != 0) {
      std::printf("control %d is a %s, not a %s\n", c.id, windowClass, c.windowClass);
      CHECK(false);
    }
    if (c.text != nullptr && Text(control) != c.text) {
      std::printf("control %d shows \"%s\", not \"%s\"\n", c.id, Text(control).c_str(), c.text);
      CHECK(false);
    }
    // The dialog manager converts position and size each on its own.
    RECT expected{c.x, c.y, c.width, c.height};
    ::MapDialogRect(dialog, &expected);
    expected.right += expected.left;
    expected.bottom += expected.top;
    RECT actual{};
    ::GetWindowRect(control, &actual);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    // A drop-down list's template height is that of its open list.
    const bool list = c.id == 1033;
    if (actual.left != expected.left || actual.top != expected.top ||
        actual.right != expected.right || (!list && actual.bottom != expected.bottom)) {
      std::printf("control %d at %ld,%ld-%ld,%ld, template %ld,%ld-%ld,%ld\n", c.id, actual.left,
                  actual.top, actual.right, actual.bottom, expected.left, expected.top,
                  expected.right, expected.bottom);
      CHECK(false);
    }
    const LONG controlStyle = ::GetWindowLongA(control, GWL_STYLE);
    const bool isStatic = std::strcmp(c.windowClass, "Static") == 0;
    if (!isStatic) CHECK((controlStyle & WS_TABSTOP) != 0);
    const bool inputsView = c.id >= 1007 && c.id <= 1022;
    CHECK(::IsWindowEnabled(control) == (inputsView ? FALSE : TRUE));
  }
}

// Every field shows its largest text whole: an edit within its formatting rectangle (the
// caret beside it), a static text within its client area. Prints the width each one needs.
void CheckFieldWidths(HWND dialog) {
  for (const LargestText& f : kLargestTexts) {
    HWND control = ::GetDlgItem(dialog, f.id);
    if (!CHECK(control != nullptr)) continue;
    HDC dc = ::GetDC(control);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ::GetTextExtentPoint32A(dc, f.text, static_cast<int>(std::strlen(f.text)), &extent);
    ::SelectObject(dc, old);
    ::ReleaseDC(control, dc);
    char windowClass[16] = {};
    ::GetClassNameA(control, windowClass, sizeof windowClass);
    RECT room{};
    LONG needed = extent.cx;
    if (_stricmp(windowClass, "Edit") == 0) {
      ::SendMessageA(control, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&room));
      needed += 2;  // the caret after the last digit
    } else {
      ::GetClientRect(control, &room);
    }
    const LONG width = room.right - room.left;
    std::printf("dialog: field %d shows \"%s\" in %ld of %ld pixels\n", f.id, f.text, needed,
                width);
    if (needed > width) {
      std::printf("dialog: field %d is too narrow for \"%s\"\n", f.id, f.text);
      CHECK(false);
    }
  }
}

// A picture of the dialog as it stands on the screen.
bool Screenshot(HWND dialog, const char* path) {
  RECT r{};
  ::GetWindowRect(dialog, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC memory = ::CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
  const auto* bgrx = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) {
    rgb[3 * i] = bgrx[4 * i + 2];
    rgb[3 * i + 1] = bgrx[4 * i + 1];
    rgb[3 * i + 2] = bgrx[4 * i];
  }
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  return torvexan::wintest::WritePng(path, width, height, rgb);
}

struct Round {
  int number;
  const char* pngPath;
  const char* questionPngPath;
  const char* openedPath;  // written when the dialog is found: the card may start
  HWND dialog = nullptr;   // the dialog the user found
};

// First dialog, opened while the card is silent: the animation, the link coming up, the
// layout, the inputs; then 0.05 as calibration, output pin 9, "B,C" and SAVE.
void SaveRound(Round& r, HWND d) {
  if (r.openedPath != nullptr) std::ofstream(r.openedPath) << "open\n";
  // The template's text until the first tick, whose counter starts at 0: one dot.
  const std::string first = Text(d, 1001);
  std::printf("dialog: status \"%s\" when found\n", first.c_str());
  CHECK(first == "Connecting ..." || first == "Connecting .");
  CHECK(Text(d, 1026) == "000000000000000000");  // no card found yet
  CheckLayout(d);
  bool one = false, two = false, three = false, connected = false;
  const DWORD start = ::GetTickCount();
  while (!connected && ::GetTickCount() - start < kLinkUpMs) {
    const std::string status = Text(d, 1001);
    one = one || status == "Connecting .";
    two = two || (one && status == "Connecting ..");
    three = three || (two && status == "Connecting ...");
    connected = status == "Lorn5 Connected";
    ::Sleep(kPollMs);
  }
  std::printf("dialog: dots %d %d %d, connected %d after %lu ms\n", one, two, three, connected,
              ::GetTickCount() - start);
  CHECK(one && two && three);
  CHECK(connected);
  ::Sleep(2 * kUpdatePeriodMs);
  CHECK(Text(d) == kLorn5Caption);
  // Once connected, the S/N field names the card by its hardware address.
  std::printf("dialog: S/N \"%s\" once connected\n", Text(d, 1026).c_str());
  CHECK(Text(d, 1026) == "025456000001");
  CheckFieldWidths(d);

  // The card turns its handwheel selector to X with x10 and back: the view follows.
  int xOn = 0, xOff = 0, estop = 0;
  const DWORD watch = ::GetTickCount();
  while (::GetTickCount() - watch < kInputsWatchMs) {
    (Checked(d, 1011) ? xOn : xOff) += 1;
    estop += Checked(d, 1016) ? 1 : 0;
    ::Sleep(kPollMs);
  }
  std::printf("dialog: X checked %d times, unchecked %d times\n", xOn, xOff);
  CHECK(xOn > 0 && xOff > 0);
  CHECK(estop == 0);

  if (r.pngPath != nullptr) CHECK(Screenshot(d, r.pngPath));
  Type(d, 1031, "0.05");  // below the calibration's range
  Type(d, 1023, "9");     // an output the card does not have
  Type(d, 1003, "abc");   // no number
  Choose(d, 1033, 2);

  // SAVE names what will not be stored as typed and waits; Cancel goes back to the dialog.
  PressLater(d, 1);
  HWND box = FindQuestion(d);
  if (!CHECK(box != nullptr)) return;
  const std::string asked = QuestionText(box);
  std::printf("dialog: SAVE asks:\n%s\n", asked.c_str());
  CHECK(asked.find("Home Setup, Axis X: \"abc\" is not a number; 0.000 will be stored.") !=
        std::string::npos);
  CHECK(asked.find("Spindle, Calibration: 0.05 is out of range; 0.100 will be stored.") !=
        std::string::npos);
  CHECK(asked.find("Laser Cutter, Output Pin: 9 is out of range; 0 will be stored.") !=
        std::string::npos);
  if (r.questionPngPath != nullptr) {
    ::Sleep(5 * kUpdatePeriodMs);  // the box has painted itself
    CHECK(Screenshot(box, r.questionPngPath));
  }
  Answer(box, IDCANCEL);
  CHECK(WaitGone(box));
  ::Sleep(2 * kUpdatePeriodMs);
  CHECK(::IsWindowVisible(d));
  CHECK(Text(d, 1003) == "abc");  // as typed, to be put right

  // Put right; the rest is accepted as it will be stored.
  Type(d, 1003, "5");
  PressLater(d, 1);
  box = FindQuestion(d);
  if (!CHECK(box != nullptr)) return;
  CHECK(QuestionText(box).find("Axis X") == std::string::npos);
  Answer(box, IDOK);
}

// The plug-in's dialogs on the screen: how many, and one of them other than a given one.
struct DialogCount {
  HWND besides;
  int count;
  HWND other;
};

BOOL CALLBACK CountDialog(HWND window, LPARAM context) {
  auto& c = *reinterpret_cast<DialogCount*>(context);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process != ::GetCurrentProcessId()) return TRUE;
  char windowClass[16] = {};
  ::GetClassNameA(window, windowClass, sizeof windowClass);
  if (std::strcmp(windowClass, "#32770") == 0 && Text(window).rfind("Quorvanta", 0) == 0) {
    c.count += 1;
    if (window != c.besides) c.other = window;
  }
  return TRUE;
}

DialogCount OpenDialogs(HWND besides = nullptr) {
  DialogCount c{besides, 0, nullptr};
  ::EnumWindows(&CountDialog, reinterpret_cast<LPARAM>(&c));
  return c;
}

// The dialog has no owner, so the host's menu stays live beneath it: the plug-in's item clicked
// again brings the open dialog to the front and opens no second one inside it.
void SecondOpenRaisesTheFirst(HWND d) {
  const LONG before = gMenuOpensReturned;
  ::PostMessageA(gHostWindow, WM_COMMAND, MAKEWPARAM(kPluginMenuId, 0), 0);
  const DWORD start = ::GetTickCount();
  while (gMenuOpensReturned == before && OpenDialogs().count < 2 &&
         ::GetTickCount() - start < kFindMs) {
    ::Sleep(kPollMs);
  }
  ::Sleep(2 * kUpdatePeriodMs);  // a second dialog would be up by now
  const DialogCount open = OpenDialogs(d);
  std::printf("dialog: menu clicked again: %d dialogs open, the click %s\n", open.count,
              gMenuOpensReturned != before ? "returned" : "did not return");
  CHECK(open.count == 1);
  CHECK(gMenuOpensReturned != before);
  CHECK(::GetForegroundWindow() == d);
  // A second dialog is closed again, so that the host's click returns and the rounds go on.
  if (open.other != nullptr) {
    PressCloseBox(open.other);
    WaitGone(open.other);
  }
}

// The saved values come back in a new dialog; edits, then CANCEL.
void CancelRound(HWND d) {
  SecondOpenRaisesTheFirst(d);
  CHECK(Text(d, 1026) == "025456000001");  // the card's hardware address
  CHECK(Text(d, 1031) == "0.100");         // SAVE stored what loading would
  CHECK(Text(d, 1023) == "0");
  CHECK(Chosen(d, 1033) == 2);
  Type(d, 1031, "0.7");
  Type(d, 1003, "42");
  Choose(d, 1033, 0);
  ::SendDlgItemMessageA(d, 1029, BM_SETCHECK, BST_CHECKED, 0);
  Press(d, 2);
}

// Opened by the menu code: nothing of the cancelled edits was kept; edits, then the close box.
void CloseBoxRound(HWND d) {
  CHECK(Text(d, 1031) == "0.100");
  CHECK(Text(d, 1003) == "5.000");
  CHECK(!Checked(d, 1029));
  Type(d, 1031, "0.9");
  Type(d, 1024, "3");
  PressCloseBox(d);
}

// After the close box the record still holds the saved values.
void LastRound(HWND d) {
  CHECK(Text(d, 1031) == "0.100");
  CHECK(Text(d, 1024) == "0");
  Press(d, 2);
}

DWORD WINAPI PlayUser(void* context) {
  auto& r = *static_cast<Round*>(context);
  HWND d = FindDialog();
  r.dialog = d;
  if (!CHECK(d != nullptr)) return 1;
  switch (r.number) {
    case 0:
      SaveRound(r, d);
      break;
    case 1:
      CancelRound(d);
      break;
    case 2:
      CloseBoxRound(d);
      break;
    default:
      LastRound(d);
      break;
  }
  if (!CHECK(WaitGone(d))) PressCloseBox(d);  // never leave the host hanging
  return 0;
}

// Opens the dialog (Config, or the menu code of Notify) while the user plays from a thread of
// its own; then checks that no timer of the dialog outlives it.
void RunRound(Round& r, bool fromMenu) {
  HANDLE user = ::CreateThread(nullptr, 0, &PlayUser, &r, 0, nullptr);
  if (fromMenu) {
    gPlugin.Notify(kPluginMenuId);
  } else {
    CHECK(gPlugin.Config() == 0);
  }
  CHECK(::WaitForSingleObject(user, kFindMs) == WAIT_OBJECT_0);
  ::CloseHandle(user);
  int dialogTimers = 0;
  const DWORD start = ::GetTickCount();
  while (::GetTickCount() - start < 3 * kUpdatePeriodMs) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_TIMER && msg.hwnd != nullptr && msg.hwnd == r.dialog) ++dialogTimers;
      ::DispatchMessageA(&msg);
    }
  }
  CHECK(dialogTimers == 0);
  CHECK(!::IsWindow(r.dialog));
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const char* pngPath = nullptr;
  const char* questionPngPath = nullptr;
  const char* openedPath = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--png") == 0) pngPath = argv[i + 1];
    if (std::strcmp(argv[i], "--opened") == 0) openedPath = argv[i + 1];
    if (std::strcmp(argv[i], "--question-png") == 0) questionPngPath = argv[i + 1];
  }
  std::ofstream(kSettingsFile, std::ios::binary) << kProfile;
  HWND window = CreatePluginHostWindow("TorvexanDialogHost", "Torvexan dialog host");
  gHostWindow = window;
  if (window != nullptr) {
    ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostWindowProc));
  }
  HMODULE dll = ::LoadLibraryA("Torvexan.dll");
  if (window == nullptr || dll == nullptr || !FindAll(dll, gPlugin)) {
    std::printf("dialog host: cannot set up the window or load Torvexan.dll\n");
    return 2;
  }
  gPlugin.SetProName(kSettingsFile);
  gPlugin.SetCode(&PrintStatus);
  gPlugin.SetGetMenuRange(&MenuRange);
  HostRecords records(window);
  records.control->MotionIdle = 1;
  CHECK(records.InitControl(gPlugin));
  gPlugin.PostInitControl();
  const UINT_PTR updates = ::SetTimer(nullptr, 0, kUpdatePeriodMs, &UpdateTick);
  gPlugin.Update();

  Round save{0, pngPath, questionPngPath, openedPath};
  RunRound(save, false);
  const std::string saved = ReadFile(kSettingsFile);
  // In range as loading would bring them: the calibration at its lower bound, no output pin.
  std::string expected = Replace(kProfile, "<SpindleRatio>1.000<", "<SpindleRatio>0.100<");
  expected = Replace(expected, "<AxesMap>1<", "<AxesMap>3<");
  if (!CHECK(saved == expected)) std::printf("saved profile:\n%s\n", saved.c_str());

  Round cancel{1, nullptr, nullptr, nullptr};
  RunRound(cancel, false);
  CHECK(ReadFile(kSettingsFile) == saved);
  Round closeBox{2, nullptr, nullptr, nullptr};
  RunRound(closeBox, true);
  CHECK(ReadFile(kSettingsFile) == saved);
  Round last{3, nullptr, nullptr, nullptr};
  RunRound(last, false);

  ::KillTimer(nullptr, updates);
  gPlugin.StopPlug();
  ::FreeLibrary(dll);
  ::DestroyWindow(window);
  std::printf("dialog host: %s, %d failed checks\n",
              torvexan::wintest::Failures() ? "FAILED" : "PASSED", torvexan::wintest::Failures());
  return torvexan::wintest::Failures() == 0 ? 0 : 1;
}
