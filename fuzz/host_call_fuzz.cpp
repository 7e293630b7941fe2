// The host as it should never be: the 21 entry points called in any order, with any arguments,
// over host records whose every byte the fuzzer may set, while a virtual Lorn5 answers on a
// virtual network and the cycle timer fires. Never a crash, never a sanitizer report (each
// host record is its own heap block, so a write past one is seen), and every status text the
// plug-in hands the host is a terminated string.
//
// Input: operations, each an operation byte and its argument bytes (missing bytes read 0).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "harness/sim_world.h"
#include "host/plugin.h"
#include "support/fake_platform.h"

namespace {

using namespace torvexan;

constexpr int kMaxTicksPerOperation = 64;
constexpr uint32_t kTickMs = 20;

// Reads the operations' argument bytes; past the end it yields zeros.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool More() const { return at_ < size_; }
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
  double F64() {
    const uint64_t bits = static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

void Require(bool condition) {
  if (!condition) std::abort();
}

// Callbacks carry no context: the values they answer with live here.
int gMenuRangeAnswer = 0;

void StatusText(const char* text) {
  Require(text != nullptr);
  Require(std::strlen(text) < 4096);  // a read past an unterminated text is seen here
}
int MenuRange(int) {
  return gMenuRangeAnswer;
}
void DoButton(int16_t) {}
void SetDro(int16_t, double) {}
double GetDro(int16_t) {
  return 0.0;
}
bool GetLed(int16_t) {
  return false;
}
void SetLed(int16_t, bool) {}

std::string gSettingsPath;

// The host's records, each a heap block of its exact size.
struct Records {
  std::unique_ptr<HostMachine> machine = std::make_unique<HostMachine>();
  std::unique_ptr<HostDoubles> doubles = std::make_unique<HostDoubles>();
  std::unique_ptr<HostControl> control = std::make_unique<HostControl>();
  std::unique_ptr<HostFrame> frame = std::make_unique<HostFrame>();
  std::unique_ptr<MenuBarModel> menuBar = std::make_unique<MenuBarModel>();
  std::unique_ptr<MenuBarModel> pluginMenu = std::make_unique<MenuBarModel>();
  std::unique_ptr<HostBool> fullSpeedJog = std::make_unique<HostBool>();

  Records() {
    *machine = HostMachine{};
    *doubles = HostDoubles{};
    *control = HostControl{};
    *menuBar = MenuBarModel{};
    *pluginMenu = MenuBarModel{};
    *fullSpeedJog = 0;
    *frame = HostFrame{};
    frame->MainWindow = menuBar.get();
    frame->FullSpeedJog = fullSpeedJog.get();
    MenuBarModel::Item& item = menuBar->items[menuBar->count++];
    std::strncpy(item.text, "PlugIn Control", sizeof item.text - 1);
    item.submenu = pluginMenu.get();
  }

  // Sets bytes of one record's plain data (the frame's pointers are the host's and stay).
  void Poke(Reader& in) {
    const uint8_t which = in.U8() % 3;
    const uint32_t offset = in.U32();
    const uint8_t count = in.U8() % 16 + 1;
    uint8_t* base = which == 0   ? reinterpret_cast<uint8_t*>(machine.get())
                    : which == 1 ? reinterpret_cast<uint8_t*>(control.get())
                                 : reinterpret_cast<uint8_t*>(doubles.get());
    const size_t size = which == 0   ? sizeof(HostMachine)
                        : which == 1 ? sizeof(HostControl)
                                     : sizeof(HostDoubles);
    for (uint8_t i = 0; i < count; ++i) base[(offset + i) % size] = in.U8();
  }
};

enum Operation : uint8_t {
  kSetProName,
  kSetDoButton,
  kSetSetDro,
  kSetGetDro,
  kSetGetLed,
  kSetSetLed,
  kSetCode,
  kSetGetMenuRange,
  kInitControl,
  kPostInitControl,
  kConfig,
  kStopPlug,
  kUpdate,
  kNotify,
  kDoDwell,
  kReset,
  kJogOn,
  kJogOff,
  kPurge,
  kProbe,
  kHome,
  kTicks,
  kPoke,
  kCardFault,
  kOperationCount,
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The plug-in's diagnostic lines would only slow the runs down.
  Require(std::freopen("/dev/null", "w", stdout) != nullptr);
  gSettingsPath = "/tmp/torvexan-host-fuzz-" + std::to_string(::getpid()) + ".xml";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  sim::SimWorld world;
  world.net.AddLocalAddress("10.0.0.1");
  sim::NetCard& card = world.net.AddCard(sim::CardModel::kLorn5, "10.0.0.50");
  testing::FakePlatform fake;
  Records records;
  auto plugin = std::make_unique<Plugin>(world.Platform(&fake.timer, &fake.menu, &fake.messageBox));
  std::remove(gSettingsPath.c_str());

  while (in.More()) {
    switch (in.U8() % kOperationCount) {
      case kSetProName:
        plugin->SetProName(in.U8() & 1 ? gSettingsPath.c_str() : nullptr);
        break;
      case kSetDoButton:
        plugin->SetDoButton(in.U8() & 1 ? &DoButton : nullptr);
        break;
      case kSetSetDro:
        plugin->SetSetDRO(in.U8() & 1 ? &SetDro : nullptr);
        break;
      case kSetGetDro:
        plugin->SetGetDRO(in.U8() & 1 ? &GetDro : nullptr);
        break;
      case kSetGetLed:
        plugin->SetGetLED(in.U8() & 1 ? &GetLed : nullptr);
        break;
      case kSetSetLed:
        plugin->SetSetLED(in.U8() & 1 ? &SetLed : nullptr);
        break;
      case kSetCode:
        plugin->SetCode(in.U8() & 1 ? &StatusText : nullptr);
        break;
      case kSetGetMenuRange:
        gMenuRangeAnswer = static_cast<int32_t>(in.U32());
        plugin->SetGetMenuRange(in.U8() & 1 ? &MenuRange : nullptr);
        break;
      case kInitControl: {
        const uint8_t nulls = in.U8();
        plugin->InitControl(nulls & 1 ? nullptr : records.machine.get(),
                            nulls & 2 ? nullptr : records.doubles.get(),
                            nulls & 4 ? nullptr : records.control.get(),
                            nulls & 8 ? nullptr : records.frame.get());
        break;
      }
      case kPostInitControl:
        plugin->PostInitControl();
        break;
      case kConfig:
        plugin->Config();
        break;
      case kStopPlug:
        plugin->StopPlug();
        break;
      case kUpdate:
        plugin->Update();
        break;
      case kNotify:
        plugin->Notify(static_cast<int32_t>(in.U32()));
        break;
      case kDoDwell:
        plugin->DoDwell(in.F64());
        break;
      case kReset:
        plugin->Reset();
        break;
      case kJogOn: {
        const int axis = static_cast<int8_t>(in.U8());
        const int direction = static_cast<int8_t>(in.U8());
        plugin->JogOn(axis, direction, in.F64());
        break;
      }
      case kJogOff:
        plugin->JogOff(static_cast<int32_t>(in.U32()));
        break;
      case kPurge:
        plugin->Purge(static_cast<int32_t>(in.U32()));
        break;
      case kProbe:
        plugin->Probe();
        break;
      case kHome:
        plugin->Home(static_cast<int32_t>(in.U32()));
        break;
      case kTicks: {
        const int ticks = in.U8() % kMaxTicksPerOperation + 1;
        for (int i = 0; i < ticks; ++i) {
          if (!fake.timer.running.empty()) plugin->OnTimer(nullptr, fake.timer.running.front());
          world.Advance(kTickMs);
        }
        break;
      }
      case kPoke:
        records.Poke(in);
        break;
      case kCardFault: {
        const uint8_t fault = in.U8();
        if (fault & 1) card.card.Reboot(in.U8());
        card.card.SetSilent((fault & 2) != 0);
        card.card.machine().estop = (fault & 4) != 0;
        card.card.machine().handwheelAxis = (fault >> 3) % 6 - 1;
        card.card.machine().TurnHandwheel(static_cast<int8_t>(in.U8()));
        break;
      }
      default:
        break;
    }
  }
  plugin.reset();  // unloaded, with or without StopPlug
  std::remove(gSettingsPath.c_str());
  return 0;
}
