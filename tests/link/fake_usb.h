// A libusb call table backed by one scripted USB card. The table's functions are plain C
// callbacks, so they reach the card through a static pointer that the card sets while it lives.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fake_net.h"
#include "platform/usb_library.h"

namespace torvexan::testing {

class FakeUsbCard : public UsbLoader {
 public:
  FakeUsbCard();
  ~FakeUsbCard() override;
  const UsbLibrary* Load() override { return &table_; }

  // The device.
  bool present = true;
  std::string product = "Pell5 Motion Card";
  std::string serial = "PL5-000123";
  bool productReadable = true;

  // The asynchronous handshake.
  int pollsPerTransfer = 1;  // event polls until a submitted transfer completes
  bool answerConnect = true;
  int connectSequenceSkew = 0;  // added to the echoed connect sequence
  uint8_t connectFreeSlots = 190;
  uint16_t connectCardTime = 0x1234;

  // The bulk exchange: scripted plain replies first, then automatic ones to the last write.
  std::deque<Bytes> scriptedReplies;
  bool answerCommands = true;
  uint8_t replyState = 0;  // the card's state in the automatic replies: halted, as at power-up

  // What happened.
  std::vector<Bytes> connectRequests;  // decoded
  std::vector<Bytes> commands;         // decoded bulk writes
  std::vector<Bytes> commandWires;     // the same, as sent
  int openAttempts = 0;
  int opens = 0;
  int closes = 0;
  int claims = 0;
  int configurations = 0;
  int bulkReads = 0;
  int transfersAllocated = 0;
  int transfersFreed = 0;
  int cancels = 0;
  int closesWithTransferInFlight = 0;

  // Internal: the transfer in flight and the polls it still needs.
  libusb_transfer* inFlight = nullptr;
  int pollsLeft = 0;
  uint8_t lastWrittenSequence = 0;

  static FakeUsbCard* current;

 private:
  UsbLibrary table_;
};

// A 64-byte plain USB status reply.
Bytes UsbStatusReply(uint8_t sequence, uint8_t freeSlots);

}  // namespace torvexan::testing
