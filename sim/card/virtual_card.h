// Firmware of a virtual motion card (Lorn4, Lorn5 or Pell5). It keeps its own clock, runs
// a 199-row motion buffer one row per 5 ms, answers commands arriving as line-coded bytes and
// reads a scripted machine through its input pins. The behaviour chosen where the protocol
// leaves the card free is described in sim/card/README.md.
#pragma once

#include <array>
#include <cstdint>

#include "card/card_wire.h"
#include "card/machine.h"

namespace torvexan::sim {

enum class CardModel : uint8_t { kLorn4, kLorn5, kPell5 };

inline constexpr int kBufferRows = 199;
inline constexpr uint32_t kPeriodMs = 5;
inline constexpr int kMaxReply = 128;                // largest reply of any family
inline constexpr int kHandwheelStepsPerPeriod = 40;  // fastest handwheel follow-up, steps/5 ms

enum CardState : int {
  kHalted = 0,
  kReady = 1,
  kStreaming = 3,  // executing rows of the host's planner
  kSequence = 4,   // executing a profile, homing, probing or handwheel move
};

// Which move the card is in when it executes rows of segment kind 2 or follows the handwheel.
enum class MoveKind : uint8_t { kNone, kProfile, kHoming, kProbing, kHandwheel };

struct AxisIo {
  uint8_t limit1Pin = 0, limit2Pin = 0, homePin = 0;  // 1..15, 0 = not wired
  bool limit1Low = false, limit2Low = false, homeLow = false, directionLow = false, stepLow = false;
};

// What the last ConfigureCmd set.
struct IoSetup {
  bool loaded = false;  // a ConfigureCmd with a body has arrived since power-up
  AxisIo axes[kMaxAxes];
  uint8_t probePin = 0, auxPin = 0, spindleStepPin = 0;
  bool probeLow = false, auxLow = false, spindleStepLow = false;
  uint8_t outputPinByte = 0;
  int32_t depth = 0;
  uint16_t timingWord = 0;
};

struct CardStats {
  uint32_t packets = 0;     // everything that reached the card
  uint32_t commands = 0;    // commands executed (duplicates not counted)
  uint32_t duplicates = 0;  // repeats answered from the cached reply
  uint32_t stale = 0;       // older than the last command (delayed copies): not answered
  uint32_t rejected = 0;    // malformed or too short, not answered
  uint32_t unknownCodes = 0;
  uint32_t discoveries = 0;  // discovery requests and USB connects answered
  uint32_t rowsReceived = 0;
  uint32_t rowsRefused = 0;     // arrived while halted or with the buffer full
  uint32_t rowsOverflowed = 0;  // of those, refused because the buffer was full
  uint32_t rowsExecuted = 0;
  uint32_t underruns = 0;       // times the buffer ran dry while a stream was still open
  uint32_t starvedPeriods = 0;  // 5 ms periods spent waiting for rows in such an underrun
  uint32_t homeStops = 0, probeTrips = 0, limitStops = 0, estopHalts = 0;
  uint32_t reboots = 0;
  uint32_t perCode[16] = {};
};

// One command as it was executed, for tests that ask what the card received.
struct ReceivedCommand {
  uint8_t code = 0;
  uint16_t sequence = 0;
  uint8_t outputs = 0;
  uint16_t spindle = 0;
  uint8_t flags = 0;
  uint8_t segmentKind = 0;
  uint8_t rowCount = 0;
  int32_t tag = 0;
  uint8_t axisA = 0, axisB = 0;  // HomeCmd and HandwheelJogCmd
};

struct CardOptions {
  uint8_t hardwareAddress[6] = {0x02, 0x54, 0x56, 0x00, 0x00, 0x01};
  uint8_t firmwareMajor = 0x01;
  uint8_t firmwareMinor = 0x2A;
  uint32_t ackCodes = 1u << static_cast<int>(CommandCode::kSetPositions);  // answered by kind 4
  bool shortEthernetAck = false;  // kind 4 as 6 bytes instead of the full status length
};

class VirtualCard;

// Whether the model has an emergency-stop input (the Lorn4 has none).
bool HasEstopInput(CardModel model);

// Looks at the card after each of its 5 ms periods (a trace, a recorder of figures).
class PeriodObserver {
 public:
  virtual ~PeriodObserver() = default;
  virtual void OnPeriod(const VirtualCard& card) = 0;
};

class VirtualCard {
 public:
  explicit VirtualCard(CardModel model, const CardOptions& options = CardOptions{});

  CardModel model() const { return model_; }
  int axisCount() const { return axes_; }
  bool usb() const { return model_ == CardModel::kPell5; }
  Machine& machine() { return machine_; }
  CardOptions& options() { return options_; }

  void SetPeriodObserver(PeriodObserver* observer) { observer_ = observer; }

  // Lets the card's own clock run on by ms milliseconds, executing a row every 5 ms.
  void Advance(uint32_t ms);

  // One UDP datagram as it arrived on port 1234; writes the line-coded answer into reply and
  // returns its length, or 0 when the card does not answer.
  int HandleDatagram(const uint8_t* wire, int length, uint8_t* reply, int capacity);
  // One 64-byte transfer from the bulk OUT endpoint; writes the 64-byte answer, or returns 0.
  int HandleUsbPacket(const uint8_t* wire, int length, uint8_t* reply);

  // Power-cycles the card: everything but the statistics starts afresh; it answers nothing
  // for bootMs milliseconds of its own clock.
  void Reboot(uint32_t bootMs = 0);
  // A card that has gone silent still moves but answers nothing.
  void SetSilent(bool silent) { silent_ = silent; }
  bool answering() const { return !silent_ && bootRemainingMs_ == 0; }
  // Milliseconds spent booting since the card was made: its own clock stood still meanwhile.
  uint64_t bootedMs() const { return bootedMs_; }

  int state() const { return state_; }
  MoveKind moveKind() const { return moveKind_; }
  int bufferedRows() const { return rowCount_; }
  int freeSlots() const { return kBufferRows - rowCount_; }
  uint16_t cardTime() const { return cardTime_; }
  int32_t position(int axis) const { return positions_[axis]; }
  // Where the axis stands on the machine, in steps from where it stood at the first power-up:
  // the frame of the machine's switches and probe surface. Loading positions (ConfigureCmd,
  // SetPositionsCmd, a reboot) changes the card's count, not this.
  int32_t physical(int axis) const { return positions_[axis] + physicalOffset_[axis]; }
  int32_t probePosition(int axis) const { return probePositions_[axis]; }
  bool endOfStream() const { return endOfStream_; }
  uint32_t executingTag() const { return executingTag_; }
  // What the card drives: the last command's header, or nothing since power-up until a
  // ConfigureCmd has taken it out of its halt.
  uint8_t outputs() const { return outputs_; }
  uint16_t spindle() const { return spindle_; }
  bool dark() const { return dark_; }
  uint8_t headerFlags() const { return headerFlags_; }
  const IoSetup& io() const { return io_; }
  const CardStats& stats() const { return stats_; }
  // The input pin word the card reports now (bit k = pin k+1).
  uint16_t InputWord() const;
  // The last executed commands, newest last; at most kHistory of them.
  static constexpr int kHistory = 64;
  int historyCount() const { return historyCount_; }
  const ReceivedCommand& History(int back) const;  // 0 = newest

 private:
  struct Command;
  struct Row {
    int16_t steps[kMaxAxes];
    uint32_t tag;
  };

  void PowerUp();
  void LoadPosition(int axis, int32_t counts);
  void RunPeriod();
  void RunPeriodMotion();
  void ExecuteRow();
  void FinishMove();
  void StopMotion(int nextState);
  bool StopInputActive() const;
  bool PinActive(uint8_t pin, bool lowActive) const;
  uint16_t LimitWord() const;
  void Execute(const Command& c);
  void DriveOutputs(const Command& c);
  void EndStream(bool halted);
  int AnswerDiscovery(uint16_t sequence, uint8_t* reply);
  int EthCommandLength(const Command& c, int length) const;
  int RunAndAnswer(const Command& c, uint8_t* reply);
  void AppendRows(const Command& c);
  void LoadConfiguration(const Command& c);
  int BuildEthReply(uint16_t sequence, uint8_t kind, uint8_t* out);
  int BuildUsbReply(uint8_t sequence, uint8_t kind, uint8_t* out);
  void FillStatus(uint8_t* out, int freeAt, int timeAt, int stateAt, int statusAt, int inputsAt,
                  int wheelAt, int counterAt, int positionsAt);
  void ForgetCacheUnless(uint16_t expectedLast);
  void Record(const Command& c);

  CardModel model_;
  int axes_;
  CardOptions options_;
  Machine machine_;
  CardStats stats_;
  PeriodObserver* observer_ = nullptr;

  int state_ = kHalted;
  MoveKind moveKind_ = MoveKind::kNone;
  std::array<Row, kBufferRows> rows_{};
  int rowHead_ = 0;
  int rowCount_ = 0;
  bool endOfStream_ = false;
  bool starved_ = false;
  bool sequenceRowsClosed_ = false;  // a homing or probing move ended; late rows are refused
  int homeAxis_ = 0;
  int slaveAxis_ = 255;
  int32_t handwheelPending_ = 0;
  int32_t handwheelDelta_ = 0;  // counts turned since the last status reply

  uint32_t msCarry_ = 0;
  uint32_t bootRemainingMs_ = 0;
  uint64_t bootedMs_ = 0;
  bool silent_ = false;
  uint16_t cardTime_ = 0;
  bool freshSample_ = false;
  int32_t positions_[kMaxAxes] = {};
  int32_t physicalOffset_[kMaxAxes] = {};
  int32_t probePositions_[kMaxAxes] = {};
  uint32_t executingTag_ = 0;
  uint8_t outputs_ = 0;
  uint16_t spindle_ = 0;
  bool dark_ = true;  // powered up and not configured since: no output, no spindle
  uint8_t headerFlags_ = 0;
  IoSetup io_;

  bool haveLast_ = false;
  uint16_t lastSequence_ = 0;
  uint8_t cachedReply_[kMaxReply] = {};
  int cachedLength_ = 0;

  std::array<ReceivedCommand, kHistory> history_{};
  int historyNext_ = 0;
  int historyCount_ = 0;
};

}  // namespace torvexan::sim
