// Every plug-in-wide value in one object. The exported entry points forward to the single
// instance; tests build their own instances over a fake platform.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "state/card_session_record.h"
#include "state/host_records.h"
#include "state/plugin_settings.h"

namespace torvexan {

// The host's records and callbacks as handed over at start-up.
struct HostBinding {
  HostMachine* machine = nullptr;
  HostDoubles* doubles = nullptr;
  HostControl* control = nullptr;
  HostFrame* frame = nullptr;
  CodeCallbackFn CodeCallback = nullptr;
  MenuRangeCallbackFn MenuRangeCallback = nullptr;
  DoButtonFn DoButton = nullptr;
  SetDroFn SetDro = nullptr;
  GetDroFn GetDro = nullptr;
  GetLedFn GetLed = nullptr;
  SetLedFn SetLed = nullptr;
  int32_t PluginMenuId = 0;

  bool Bound() const { return machine && doubles && control && frame; }
};

// Motion modes: what the motion state machine runs each tick.
enum MotionModeValue : int32_t {
  kQueueStreaming = 0,
  kHomingSequence = 8,
  kProbingSequence = 9,
  kDwellWait = 10,
  kJogMove = 11,
  kHandwheelJog = 12,
};

// One-shot request bits served by the request dispatcher and the jog sequences.
enum RequestBit : uint32_t {
  kRequestConfigure = 1u << 0,
  kRequestHalt = 1u << 1,
  kRequestStopMotion = 1u << 2,
  kRequestJogStop = 1u << 4,
  kRequestSetPositions = 1u << 13,
};

// Where the plug-in stands in the host's start-up and stop order.
enum class Lifecycle : uint8_t { kLoaded, kInitialised, kRunning, kStopped };

// What a status reply said, and when the packet it answered first left: the bounds for the
// next reply are measured from it.
struct ReplyMark {
  bool valid;
  bool handwheel;  // the card was moving its axes by itself, at a pace of its own
  uint16_t cardTime;
  uint8_t freeSlots;
  int32_t axisPosition[kMaxCardAxes];
  int32_t probePosition[kMaxCardAxes];
  uint32_t sentMs;
};

// What the Ethernet exchange has learnt of the card's round trips, in ticks of TickCount (the
// clock of every time-out of the link), both kept in eighths of a tick.
struct RoundTrips {
  static constexpr int kRecent = 16;
  bool measured;
  uint32_t smoothedEighths;
  uint32_t variationEighths;
  uint8_t recent[kRecent];  // the last round trips, in ticks
  uint16_t recentLate;      // bit i: recent[i] stands for a late answer, not a measured trip
  uint8_t recentNext;
  uint8_t recentCount;
  uint8_t backedOffWait;  // the wait after a resend came too early, until a clean sample; 0 = none
};

// Resume points and counters of the transports; only one transport operation runs at a time.
struct TransportState {
  // The local addresses are looked up a window at a time, so a host with any number of them
  // is walked to the end.
  static constexpr int kMaxLocalAddresses = 16;
  uint32_t localAddresses[kMaxLocalAddresses];
  int localAddressCount;   // addresses in the window
  int localAddressWindow;  // position of the window's first address in the host's list
  int HostAddressCursor;   // next local address to try in the current discovery pass
  uint32_t DiscoverySentAt;
  uint32_t DiscoveryCount;
  uint32_t ExchangeStartedAt;
  uint32_t FirstSentAt;  // TickCount of the pending packet's first send in this exchange
  uint32_t LastSentAt;   // ... and of its latest
  uint32_t ReplyWait;    // ticks the latest send waits for its reply, at the usual pace
  uint32_t FirstSentMs;  // the host's millisecond count at the pending packet's first send
  // ... and at the first send of the packet whose answer told the card's free slots: the card
  // may have run a row every 5 ms since.
  uint32_t FreeSlotsSentMs;
  bool CarriedOver;  // the pending packet was sent before the link was lost
  // An exchange needed more than one send since the card's buffer was last full: the stream
  // lost time on the way and may have to catch up.
  bool LostTimeSinceFull;
  RoundTrips roundTrips;
  int32_t SendCount;
  int32_t ReceiveCount;
  libusb_transfer* ConnectTransfer;
  uint8_t connectBuffer[64];
  bool TransferDone;
  bool TransferOk;
  int32_t ExchangeAttempts;
  uint32_t PacketSentMs;   // when the pending packet first left
  bool PacketSent;         // ... and whether it has
  ReplyMark trustedReply;  // the last reply taken
  ReplyMark heldReply;     // a reply out of bounds, waiting for a second copy
};

// The timer cycle's books (host/timer_cycle.cpp).
struct CycleState {
  bool UpdateSeen = false;  // Update was called since a tick last looked
  int32_t IdleTicks = 0;    // ticks since a tick last saw UpdateSeen
  bool InTick = false;      // a tick's work is in progress
  uint32_t TickCount = 0;   // ticks whose work started: the clock of the link's time-outs
  uintptr_t timerId = 0;    // the cycle timer we started and have not seen stop; 0 = none
};

// The card link's resume points and the transports' bookkeeping (link/).
struct LinkState {
  uint16_t LinkStep = 0;
  uint16_t TransportStep = 0;
  TransportState transport{};
};

// What the motion state machine, its sequences and the host's motion handlers share (motion/,
// host/*_handlers.cpp).
struct MotionState {
  int32_t MotionMode = kQueueStreaming;
  uint16_t MotionStep = 0;
  int32_t ActiveAxis = 0;
  int32_t SlaveAxis = 0;  // 0 = none
  int32_t PositionImage[kCardChannels] = {};
  uint8_t PurgeMask = 0;
  int32_t DwellMs = 0;
  uint32_t DwellStart = 0;
  double StepRemainders[kHostAxisCount] = {};
  // cardTime of the reply from which the jog feed last sized a batch (the card's 5 ms periods).
  uint16_t JogFeedCardTime = 0;
  // Rows the jog feed wanted beyond one packet, for further USB exchanges within that tick.
  int32_t JogRowsOwed = 0;
  uint32_t JogRowsOwedTick = 0;
  // Where the card's channels stood when the running homing approach or probing move started,
  // and the steps handed over to each since: a move that ends where they add up to ran its
  // whole length, and no switch or probe contact stopped it.
  int32_t MoveStartCounts[kMaxCardAxes] = {};
  int64_t MoveStepsSent[kMaxCardAxes] = {};
};

// The one-shot requests the handlers and the mapping raise and the request dispatcher serves
// (signals/request_dispatcher.cpp).
struct RequestState {
  uint32_t RequestFlags = 0;
};

// What the signal mapping keeps between exchanges (signals/signal_mapping.cpp).
struct MappingState {
  uint16_t LastCardTime = 0;  // cardTime of the last speed sample
};

// Every plug-in-wide value, grouped by the subsystem that owns it.
struct PluginState {
  explicit PluginState(const Platform& p) : platform(p) {}

  Platform platform;
  Lifecycle lifecycle = Lifecycle::kLoaded;
  HostBinding host;
  PluginSettings settings;
  std::unique_ptr<CardSession> session;  // exists from PostInitControl to StopPlug

  CycleState cycle;
  LinkState link;
  MotionState motion;
  RequestState requests;
  MappingState mapping;

  bool menuInserted = false;
  // Status animation of the configuration dialog; survives closing the dialog.
  int32_t DialogTicks = 0;
};

// The card channel that carries a host axis (first match in AxisMap), or -1.
int ChannelOf(const PluginSettings& settings, int hostAxis);

// Passes a status text to the host's status line.
void ReportToHost(const PluginState& s, const char* text);

}  // namespace torvexan
