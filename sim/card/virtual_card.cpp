#include "card/virtual_card.h"

#include <algorithm>
#include <cstring>

namespace torvexan::sim {

namespace {

constexpr uint8_t kFlagHoming = 0x02;         // header flag: the homing sequence is running
constexpr uint8_t kFlagLimitOverride = 0x40;  // header flag: the host overrides the limits
constexpr int kLargestCommand = 1024;

// Fixed input lines of each model (bit masks over the input word).
struct FixedLines {
  int selectorAxes;
  uint16_t x10, x100, estop;
};
constexpr FixedLines kLorn4Lines{4, 0x1000, 0x2000, 0};
constexpr FixedLines kFiveAxisLines{5, 0x2000, 0x4000, 0x8000};
constexpr uint16_t kSelectorX = 0x100;

const FixedLines& LinesOf(CardModel m) {
  return m == CardModel::kLorn4 ? kLorn4Lines : kFiveAxisLines;
}

// Ethernet ConfigureCmd offsets for n axes.
constexpr int EthConfigPositions() {
  return 16;
}
constexpr int EthConfigAxisBytes(int n) {
  return 16 + 4 * n;
}
constexpr int EthConfigShared(int n) {
  return 16 + 6 * n;
}  // probe, spindle, polarity, output
constexpr int EthConfigDepth(int n) {
  return 20 + 6 * n;
}
constexpr int EthConfigLength(int n, bool fourAxis) {
  return fourAxis ? 24 + 6 * n : 25 + 6 * n;
}

// USB ConfigureCmd offsets (the per-axis block starts at 29 whatever n is).
constexpr int kUsbConfigPositions = 9;
constexpr int kUsbConfigAxisBytes = 29;
constexpr int UsbConfigShared(int n) {
  return 29 + 2 * n;
}
constexpr int UsbConfigDepth(int n) {
  return 32 + 2 * n;
}
constexpr int UsbConfigOutputPin(int n) {
  return 36 + 2 * n;
}
constexpr int UsbConfigTiming(int n) {
  return 40 + 2 * n;
}
static_assert(UsbConfigTiming(5) + 2 <= usb::kPacketLength);

// MotionCmd payload offsets.
constexpr int kEthMotionKind = 0, kEthMotionCount = 1, kEthMotionTag = 2, kEthMotionRows = 6;
constexpr int kUsbMotionCountKind = 0, kUsbMotionTag = 1, kUsbMotionRows = 5;

}  // namespace

bool HasEstopInput(CardModel model) {
  return LinesOf(model).estop != 0;
}

struct VirtualCard::Command {
  CommandCode code;
  uint16_t sequence;
  uint8_t outputs;
  uint16_t spindle;
  uint8_t flags;
  const uint8_t* packet;  // decoded packet from its first byte
  int length;
  bool usbFamily;
  const uint8_t* payload() const { return packet + (usbFamily ? usb::kPayload : eth::kPayload); }
};

VirtualCard::VirtualCard(CardModel model, const CardOptions& options)
    : model_(model), axes_(model == CardModel::kLorn4 ? 4 : 5), options_(options) {
  PowerUp();
}

void VirtualCard::PowerUp() {
  state_ = kHalted;
  moveKind_ = MoveKind::kNone;
  rowHead_ = rowCount_ = 0;
  endOfStream_ = starved_ = false;
  sequenceRowsClosed_ = false;
  homeAxis_ = 0;
  slaveAxis_ = 255;
  handwheelPending_ = handwheelDelta_ = 0;
  msCarry_ = 0;
  bootRemainingMs_ = 0;
  cardTime_ = 0;
  freshSample_ = true;
  // The machine stays where it stands; only the card's count starts again from 0.
  for (int i = 0; i < kMaxAxes; ++i) LoadPosition(i, 0);
  std::fill(std::begin(probePositions_), std::end(probePositions_), 0);
  executingTag_ = 0;
  outputs_ = headerFlags_ = 0;
  spindle_ = 0;
  dark_ = true;
  io_ = IoSetup{};
  haveLast_ = false;
  cachedLength_ = 0;
}

// A loaded count moves the card's zero, not the axis: switches stay where they are.
void VirtualCard::LoadPosition(int axis, int32_t counts) {
  physicalOffset_[axis] += positions_[axis] - counts;
  positions_[axis] = counts;
}

void VirtualCard::Reboot(uint32_t bootMs) {
  PowerUp();
  bootRemainingMs_ = bootMs;
  ++stats_.reboots;
}

void VirtualCard::Advance(uint32_t ms) {
  // A booting card's clock has not started yet.
  const uint32_t booting = std::min(ms, bootRemainingMs_);
  bootRemainingMs_ -= booting;
  bootedMs_ += booting;
  msCarry_ += ms - booting;
  while (msCarry_ >= kPeriodMs) {
    msCarry_ -= kPeriodMs;
    RunPeriod();
  }
}

void VirtualCard::RunPeriod() {
  RunPeriodMotion();
  if (observer_ != nullptr) observer_->OnPeriod(*this);
}

// One 5 ms period: the time counter, the handwheel and at most one row of motion.
void VirtualCard::RunPeriodMotion() {
  ++cardTime_;
  freshSample_ = true;
  const int32_t turned = machine_.TakeHandwheelCounts();
  handwheelDelta_ += turned;
  if (moveKind_ == MoveKind::kHandwheel) {
    const int32_t factor = machine_.handwheelX100 ? 100 : machine_.handwheelX10 ? 10 : 1;
    handwheelPending_ += turned * factor;
  }
  if (machine_.estop && LinesOf(model_).estop != 0) {
    if (state_ != kHalted) {
      ++stats_.estopHalts;
      StopMotion(kHalted);
    }
    return;
  }
  if (state_ != kStreaming && state_ != kSequence) return;
  if (moveKind_ == MoveKind::kHandwheel) {
    const int32_t step =
        std::clamp(handwheelPending_, -kHandwheelStepsPerPeriod, kHandwheelStepsPerPeriod);
    handwheelPending_ -= step;
    positions_[homeAxis_] += step;
    if (slaveAxis_ < axes_ && slaveAxis_ != homeAxis_) positions_[slaveAxis_] += step;
    return;
  }
  if (rowCount_ > 0) {
    ExecuteRow();
  } else if (endOfStream_) {
    FinishMove();
  } else {
    // The stream is open but no rows came in time: the axes stand still until more arrive.
    if (!starved_) ++stats_.underruns;
    starved_ = true;
    ++stats_.starvedPeriods;
  }
}

void VirtualCard::ExecuteRow() {
  const bool watching = moveKind_ == MoveKind::kHoming || moveKind_ == MoveKind::kProbing;
  if (watching && StopInputActive()) {
    FinishMove();
    return;
  }
  const uint16_t limitsBefore = LimitWord();
  const Row& row = rows_[rowHead_];
  for (int i = 0; i < axes_; ++i) positions_[i] += row.steps[i];
  executingTag_ = row.tag;
  rowHead_ = (rowHead_ + 1) % kBufferRows;
  --rowCount_;
  starved_ = false;
  ++stats_.rowsExecuted;

  const uint16_t tripped = LimitWord() & ~limitsBefore;
  const bool limitsWatched =
      moveKind_ != MoveKind::kHoming && (headerFlags_ & (kFlagHoming | kFlagLimitOverride)) == 0;
  if (tripped != 0 && limitsWatched) {
    ++stats_.limitStops;
    StopMotion(kReady);
    return;
  }
  if (watching && StopInputActive()) FinishMove();
}

// The move ends: at the home switch, at the probe contact, or when an ended stream runs out.
void VirtualCard::FinishMove() {
  // The plug-in may still have rows of the ended approach on their way; they must not move
  // the axis past the switch again, so rows of its kind wait for the next start command.
  sequenceRowsClosed_ = moveKind_ == MoveKind::kHoming || moveKind_ == MoveKind::kProbing;
  if (moveKind_ == MoveKind::kHoming && StopInputActive()) ++stats_.homeStops;
  if (moveKind_ == MoveKind::kProbing) {
    if (StopInputActive()) ++stats_.probeTrips;
    std::copy(std::begin(positions_), std::end(positions_), std::begin(probePositions_));
  }
  StopMotion(kReady);
}

void VirtualCard::StopMotion(int nextState) {
  rowHead_ = rowCount_ = 0;
  endOfStream_ = starved_ = false;
  moveKind_ = MoveKind::kNone;
  handwheelPending_ = 0;
  state_ = nextState;
}

bool VirtualCard::StopInputActive() const {
  if (moveKind_ == MoveKind::kHoming) {
    const AxisIo& a = io_.axes[homeAxis_];
    return PinActive(a.homePin, a.homeLow);
  }
  if (moveKind_ == MoveKind::kProbing) return PinActive(io_.probePin, io_.probeLow);
  return false;
}

bool VirtualCard::PinActive(uint8_t pin, bool lowActive) const {
  if (pin == 0 || pin > 15) return false;
  const bool level = ((InputWord() >> (pin - 1)) & 1) != 0;
  return level != lowActive;
}

uint16_t VirtualCard::LimitWord() const {
  uint16_t word = 0;
  for (int i = 0; i < axes_; ++i) {
    const AxisIo& a = io_.axes[i];
    if (PinActive(a.limit1Pin, a.limit1Low)) word |= static_cast<uint16_t>(1u << (2 * i));
    if (PinActive(a.limit2Pin, a.limit2Low)) word |= static_cast<uint16_t>(2u << (2 * i));
  }
  return word;
}

uint16_t VirtualCard::InputWord() const {
  uint32_t word = 0;
  // A wired input reads high when its switch is active, inverted for a low-active input.
  auto drive = [&word](uint8_t pin, bool active, bool lowActive) {
    if (pin >= 1 && pin <= 15 && active != lowActive) word |= 1u << (pin - 1);
  };
  for (int i = 0; i < axes_; ++i) {
    const AxisIo& a = io_.axes[i];
    const AxisSwitches& s = machine_.axes[i];
    drive(a.homePin, s.home.ActiveAt(physical(i)), a.homeLow);
    drive(a.limit1Pin, s.limit1.ActiveAt(physical(i)), a.limit1Low);
    drive(a.limit2Pin, s.limit2.ActiveAt(physical(i)), a.limit2Low);
  }
  int32_t at[kMaxAxes] = {};
  for (int i = 0; i < axes_; ++i) at[i] = physical(i);
  drive(io_.probePin, machine_.probeAxis < axes_ && machine_.ProbeTouches(at), io_.probeLow);
  drive(io_.auxPin, machine_.auxInput, io_.auxLow);

  const FixedLines& lines = LinesOf(model_);
  if (machine_.handwheelAxis >= 0 && machine_.handwheelAxis < lines.selectorAxes)
    word |= static_cast<uint32_t>(kSelectorX) << machine_.handwheelAxis;
  if (machine_.handwheelX10) word |= lines.x10;
  if (machine_.handwheelX100) word |= lines.x100;
  if (machine_.estop) word |= lines.estop;
  return static_cast<uint16_t>(word);
}

const ReceivedCommand& VirtualCard::History(int back) const {
  const int index = (historyNext_ - 1 - back + 2 * kHistory) % kHistory;
  return history_[static_cast<size_t>(index)];
}

void VirtualCard::Record(const Command& c) {
  ReceivedCommand r;
  r.code = static_cast<uint8_t>(c.code);
  r.sequence = c.sequence;
  r.outputs = c.outputs;
  r.spindle = c.spindle;
  r.flags = c.flags;
  const uint8_t* p = c.payload();
  if (c.code == CommandCode::kMotion) {
    if (c.usbFamily) {
      r.rowCount = p[kUsbMotionCountKind] & 0x0F;
      r.segmentKind = p[kUsbMotionCountKind] >> 4;
      r.tag = GetI32(p + kUsbMotionTag);
    } else {
      r.segmentKind = p[kEthMotionKind];
      r.rowCount = p[kEthMotionCount];
      r.tag = GetI32(p + kEthMotionTag);
    }
  } else if (c.code == CommandCode::kHome || c.code == CommandCode::kHandwheelJog) {
    r.axisA = p[0];
    r.axisB = p[1];
  }
  history_[static_cast<size_t>(historyNext_)] = r;
  historyNext_ = (historyNext_ + 1) % kHistory;
  historyCount_ = std::min(historyCount_ + 1, kHistory);
}

// Run one command; the reply is built afterwards from the state it leaves.
// The host announced the end of its stream: the rows buffered run out, then the move ends.
void VirtualCard::EndStream(bool halted) {
  if (state_ == kStreaming || state_ == kSequence) {
    if (moveKind_ == MoveKind::kHandwheel) return;
    endOfStream_ = true;
    if (rowCount_ == 0) FinishMove();
  } else if (moveKind_ == MoveKind::kProbing) {
    FinishMove();  // a probing move without a single row ends where it stands
  } else if (!halted) {
    moveKind_ = MoveKind::kNone;
  }
}

void VirtualCard::Execute(const Command& c) {
  ++stats_.commands;
  ++stats_.perCode[static_cast<int>(c.code) & 15];
  headerFlags_ = c.flags;
  Record(c);
  const uint8_t* p = c.payload();
  const bool halted = state_ == kHalted;
  if (c.code != CommandCode::kMotion && c.code != CommandCode::kEndOfStream)
    sequenceRowsClosed_ = false;
  switch (c.code) {
    case CommandCode::kHalt:
      StopMotion(kHalted);
      break;
    case CommandCode::kMotion:
      AppendRows(c);
      break;
    case CommandCode::kProfileStart:
      if (halted) break;
      moveKind_ = MoveKind::kProfile;
      endOfStream_ = false;
      break;
    case CommandCode::kHome:
    case CommandCode::kProbeStart:
      if (halted) break;
      moveKind_ = c.code == CommandCode::kHome ? MoveKind::kHoming : MoveKind::kProbing;
      homeAxis_ = c.code == CommandCode::kHome ? std::min<int>(p[0], axes_ - 1) : 0;
      endOfStream_ = false;
      break;
    case CommandCode::kHandwheelJog:
      if (halted || p[0] >= axes_) break;
      StopMotion(kSequence);
      moveKind_ = MoveKind::kHandwheel;
      homeAxis_ = p[0];
      slaveAxis_ = p[1];
      break;
    case CommandCode::kStopMotion:
      StopMotion(halted ? kHalted : kReady);
      break;
    case CommandCode::kEndOfStream:
      EndStream(halted);
      break;
    case CommandCode::kSetPositions:
      for (int i = 0; i < axes_; ++i)
        if ((p[0] >> i) & 1) LoadPosition(i, GetI32(p + 1 + 4 * i));
      freshSample_ = true;
      break;
    case CommandCode::kConfigure:
      LoadConfiguration(c);
      StopMotion(machine_.estop && LinesOf(model_).estop != 0 ? kHalted : kReady);
      // The configuration that takes the card out of its power-up halt ends the dark.
      if (state_ != kHalted) dark_ = false;
      freshSample_ = true;
      break;
  }
  DriveOutputs(c);
}

// A card that has powered up drives nothing until it is configured: the first packet to reach
// it may have been built before it restarted, and its header still asks for what was on then.
void VirtualCard::DriveOutputs(const Command& c) {
  outputs_ = dark_ ? 0 : c.outputs;
  spindle_ = dark_ ? 0 : c.spindle;
}

void VirtualCard::AppendRows(const Command& c) {
  const uint8_t* p = c.payload();
  int count = 0, kind = 0;
  uint32_t tag = 0;
  const uint8_t* values = nullptr;
  if (c.usbFamily) {
    count = p[kUsbMotionCountKind] & 0x0F;
    kind = p[kUsbMotionCountKind] >> 4;
    tag = GetU32(p + kUsbMotionTag);
    values = p + kUsbMotionRows;
  } else {
    kind = p[kEthMotionKind];
    count = p[kEthMotionCount];
    tag = GetU32(p + kEthMotionTag);
    values = p + kEthMotionRows;
  }
  if (kind == 0 || count == 0) return;  // a status poll
  stats_.rowsReceived += static_cast<uint32_t>(count);
  if (state_ == kHalted || moveKind_ == MoveKind::kHandwheel ||
      (kind == 2 && sequenceRowsClosed_)) {
    stats_.rowsRefused += static_cast<uint32_t>(count);
    return;
  }
  for (int r = 0; r < count; ++r) {
    if (rowCount_ == kBufferRows) {
      ++stats_.rowsRefused;
      ++stats_.rowsOverflowed;
      continue;
    }
    Row& row = rows_[static_cast<size_t>((rowHead_ + rowCount_) % kBufferRows)];
    for (int i = 0; i < kMaxAxes; ++i)
      row.steps[i] = i < axes_ ? GetI16(values + 2 * (r * axes_ + i)) : 0;
    row.tag = kind == 1 ? tag : 0;
    ++rowCount_;
  }
  // New rows reopen a stream that an earlier end-of-stream had closed.
  endOfStream_ = false;
  starved_ = false;
  if (state_ == kReady)
    state_ = (kind == 2 || moveKind_ != MoveKind::kNone) ? kSequence : kStreaming;
}

void VirtualCard::LoadConfiguration(const Command& c) {
  const int n = axes_;
  const bool fourAxis = model_ == CardModel::kLorn4;
  int positionsAt, axisAt, sharedAt, depthAt, outputAt;
  if (c.usbFamily) {
    positionsAt = kUsbConfigPositions;
    axisAt = kUsbConfigAxisBytes;
    sharedAt = UsbConfigShared(n);
    depthAt = UsbConfigDepth(n);
    outputAt = UsbConfigOutputPin(n);
  } else {
    if (c.length == eth::kHeaderLength) return;  // bare: keep the I/O set-up as it is
    positionsAt = EthConfigPositions();
    axisAt = EthConfigAxisBytes(n);
    sharedAt = EthConfigShared(n);
    outputAt = sharedAt + 3;
    depthAt = EthConfigDepth(n);
  }
  const uint8_t* b = c.packet;
  IoSetup io;
  io.loaded = true;
  const uint8_t polarity = b[sharedAt + 2];
  for (int i = 0; i < n; ++i) {
    LoadPosition(i, GetI32(b + positionsAt + 4 * i));
    const uint8_t pins = b[axisAt + 2 * i];
    const uint8_t flags = b[axisAt + 2 * i + 1];
    AxisIo& a = io.axes[i];
    a.limit1Pin = pins & 0x0F;
    a.limit2Pin = pins >> 4;
    a.homePin = flags & config::kFlagHomePinMask;
    a.limit1Low = (flags & config::kFlagLimit1Low) != 0;
    a.limit2Low = (flags & config::kFlagLimit2Low) != 0;
    a.homeLow = (flags & config::kFlagHomeLow) != 0;
    a.directionLow =
        fourAxis ? ((polarity >> (4 + i)) & 1) != 0 : (flags & config::kFlagDirectionLow) != 0;
    a.stepLow = ((polarity >> i) & 1) != 0;
  }
  const uint8_t probe = b[sharedAt];
  const uint8_t spindle = b[sharedAt + 1];
  io.probePin = probe & 0x0F;
  io.auxPin = probe >> 4;
  io.spindleStepPin = spindle & 0x0F;
  io.probeLow = (spindle & config::kSpindleProbeLow) != 0;
  io.auxLow = (spindle & config::kSpindleAuxLow) != 0;
  io.spindleStepLow = (spindle & config::kSpindleStepLow) != 0;
  io.outputPinByte = b[outputAt];
  io.depth = GetI32(b + depthAt);
  io.timingWord = c.usbFamily ? GetU16(b + UsbConfigTiming(n)) : 0;
  io_ = io;
}

void VirtualCard::ForgetCacheUnless(uint16_t expectedLast) {
  if (!(haveLast_ && lastSequence_ == expectedLast)) haveLast_ = false;
}

void VirtualCard::FillStatus(uint8_t* out, int freeAt, int timeAt, int stateAt, int statusAt,
                             int inputsAt, int wheelAt, int counterAt, int positionsAt) {
  out[freeAt] = static_cast<uint8_t>(freeSlots());
  PutU16(out + timeAt, cardTime_);
  out[stateAt] = static_cast<uint8_t>(state_);
  out[statusAt] = freshSample_ ? 0x80 : 0;
  freshSample_ = false;
  PutU16(out + inputsAt, InputWord());
  const int32_t wheel = std::clamp<int32_t>(handwheelDelta_, INT16_MIN, INT16_MAX);
  handwheelDelta_ -= wheel;
  PutU16(out + wheelAt, static_cast<uint16_t>(wheel));
  PutU32(out + counterAt, executingTag_);
  for (int i = 0; i < axes_; ++i)
    PutU32(out + positionsAt + 4 * i, static_cast<uint32_t>(positions_[i]));
}

int VirtualCard::BuildEthReply(uint16_t sequence, uint8_t kind, uint8_t* out) {
  const int full = eth::StatusLength(axes_);
  const int length = kind == kKindAck && options_.shortEthernetAck ? eth::kAckLength : full;
  std::memset(out, 0, static_cast<size_t>(full));
  out[0] = eth::kMarker0;
  out[1] = eth::kMarker1;
  out[eth::kKind] = kind;
  PutU16(out + eth::kSequence, sequence);
  out[eth::kReplyFreeSlots] = static_cast<uint8_t>(freeSlots());
  if (kind == kKindStatus) {
    FillStatus(out, eth::kReplyFreeSlots, eth::kReplyCardTime, eth::kReplyState,
               eth::kReplyStatusBits, eth::kReplyInputs, eth::kReplyHandwheel, eth::kReplyCounter,
               eth::kReplyPositions);
    for (int i = 0; i < axes_; ++i)
      PutU32(out + eth::kReplyPositions + 4 * axes_ + 4 * i,
             static_cast<uint32_t>(probePositions_[i]));
  }
  EncodeChained(out, length);
  return length;
}

int VirtualCard::BuildUsbReply(uint8_t sequence, uint8_t kind, uint8_t* out) {
  std::memset(out, 0, usb::kPacketLength);
  out[usb::kDirection] = usb::kFromCard;
  out[usb::kKind] = kind;
  out[usb::kSequence] = sequence;
  out[usb::kReplyFreeSlots] = static_cast<uint8_t>(freeSlots());
  if (kind == kKindStatus)
    FillStatus(out, usb::kReplyFreeSlots, usb::kReplyCardTime, usb::kReplyState,
               usb::kReplyStatusBits, usb::kReplyInputs, usb::kReplyHandwheel, usb::kReplyCounter,
               usb::kReplyPositions);
  EncodeChained(out, usb::kPacketLength);
  return usb::kPacketLength;
}

// A plug-in that lost the link resends its pending packet with the number it announces in
// its discovery; any other number starts a fresh conversation.
int VirtualCard::AnswerDiscovery(uint16_t sequence, uint8_t* reply) {
  ForgetCacheUnless(sequence);
  ++stats_.discoveries;
  std::memset(reply, 0, eth::kDiscoverReplyLength);
  reply[0] = eth::kMarker0;
  reply[1] = eth::kMarker1;
  reply[eth::kKind] = kKindDiscover;
  PutU16(reply + eth::kSequence, sequence);
  std::memcpy(reply + eth::kDiscoverAddress, options_.hardwareAddress, 6);
  reply[eth::kDiscoverMajor] = options_.firmwareMajor;
  reply[eth::kDiscoverMinor] = options_.firmwareMinor;
  EncodeChained(reply, eth::kDiscoverReplyLength);
  return eth::kDiscoverReplyLength;
}

// Bytes an Ethernet command of this code must carry for the card's axes.
int VirtualCard::EthCommandLength(const Command& c, int length) const {
  const uint8_t* p = c.payload();
  const int n = axes_;
  switch (c.code) {
    case CommandCode::kMotion:
      return length >= 21 ? 21 + 2 * n * p[kEthMotionCount] : 21;
    case CommandCode::kHome:
    case CommandCode::kHandwheelJog:
      return 17;
    case CommandCode::kSetPositions:
      return 16 + 4 * n;
    case CommandCode::kConfigure:
      return length > eth::kHeaderLength ? EthConfigLength(n, model_ == CardModel::kLorn4)
                                         : eth::kHeaderLength;
    default:
      return eth::kHeaderLength;
  }
}

int VirtualCard::HandleDatagram(const uint8_t* wire, int length, uint8_t* reply, int capacity) {
  if (!answering() || usb()) return 0;
  ++stats_.packets;
  uint8_t b[kLargestCommand];
  if (length < eth::kDiscoverRequestLength || length > kLargestCommand || capacity < kMaxReply) {
    ++stats_.rejected;
    return 0;
  }
  std::memcpy(b, wire, static_cast<size_t>(length));
  DecodeChained(b, length);
  if (b[0] != eth::kMarker0 || b[1] != eth::kMarker1) {
    ++stats_.rejected;
    return 0;
  }
  const uint16_t sequence = GetU16(b + eth::kSequence);
  if (b[eth::kKind] == kKindDiscover) return AnswerDiscovery(sequence, reply);
  if (b[eth::kKind] != kKindCommand || length < eth::kHeaderLength) {
    ++stats_.rejected;
    return 0;
  }
  if (haveLast_ && sequence == lastSequence_) {
    ++stats_.duplicates;
    std::memcpy(reply, cachedReply_, static_cast<size_t>(cachedLength_));
    return cachedLength_;
  }
  if (haveLast_ && static_cast<int16_t>(sequence - lastSequence_) < 0) {
    // A copy the network held back past its resend: the command already ran once.
    ++stats_.stale;
    return 0;
  }
  const Command c{static_cast<CommandCode>(b[eth::kCode]),
                  sequence,
                  b[eth::kOutputs],
                  GetU16(b + eth::kSpindle),
                  b[eth::kFlags],
                  b,
                  length,
                  false};
  if (length < EthCommandLength(c, length)) {
    ++stats_.rejected;
    return 0;
  }
  return RunAndAnswer(c, reply);
}

int VirtualCard::HandleUsbPacket(const uint8_t* wire, int length, uint8_t* reply) {
  if (!answering() || !usb()) return 0;
  ++stats_.packets;
  if (length != usb::kPacketLength) {
    ++stats_.rejected;
    return 0;
  }
  uint8_t b[usb::kPacketLength];
  std::memcpy(b, wire, usb::kPacketLength);
  DecodeChained(b, usb::kPacketLength);
  if (b[usb::kDirection] != usb::kToCard) {
    ++stats_.rejected;
    return 0;
  }
  const uint8_t sequence = b[usb::kSequence];
  if (b[usb::kKind] == kKindDiscover) {
    // The connect carries the number before the next command's; a plug-in re-sending a
    // pending packet after a reconnect must find that packet's reply still cached.
    ForgetCacheUnless(static_cast<uint8_t>(sequence + 1));
    ++stats_.discoveries;
    return BuildUsbReply(sequence, kKindStatus, reply);
  }
  if (b[usb::kKind] != kKindCommand) {
    ++stats_.rejected;
    return 0;
  }
  if (haveLast_ && sequence == lastSequence_) {
    ++stats_.duplicates;
    std::memcpy(reply, cachedReply_, usb::kPacketLength);
    return usb::kPacketLength;
  }
  if (haveLast_ && static_cast<int8_t>(sequence - lastSequence_) < 0) {
    ++stats_.stale;  // held back past its resend; it already ran
    return 0;
  }
  const Command c{static_cast<CommandCode>(b[usb::kCode]),
                  sequence,
                  b[usb::kOutputs],
                  GetU16(b + usb::kSpindle),
                  b[usb::kFlags],
                  b,
                  usb::kPacketLength,
                  true};
  if (c.code == CommandCode::kMotion &&
      13 + 2 * axes_ * (c.payload()[kUsbMotionCountKind] & 0x0F) > usb::kPacketLength) {
    ++stats_.rejected;
    return 0;
  }
  return RunAndAnswer(c, reply);
}

// Executes a well-formed command and answers it; the answer is kept for a repeat.
int VirtualCard::RunAndAnswer(const Command& c, uint8_t* reply) {
  const uint8_t code = static_cast<uint8_t>(c.code);
  const bool known = code >= 1 && code <= 11 && code != 2;
  if (known) {
    Execute(c);
  } else {
    ++stats_.unknownCodes;
  }
  const uint8_t kind = known && ((options_.ackCodes >> code) & 1) != 0 ? kKindAck : kKindStatus;
  cachedLength_ = c.usbFamily ? BuildUsbReply(static_cast<uint8_t>(c.sequence), kind, cachedReply_)
                              : BuildEthReply(c.sequence, kind, cachedReply_);
  haveLast_ = true;
  lastSequence_ = c.sequence;
  std::memcpy(reply, cachedReply_, static_cast<size_t>(cachedLength_));
  return cachedLength_;
}

}  // namespace torvexan::sim
