// The card's command set: header and command builders for both packet families, the reply
// parsers, the discovery and connect packets, and the chained XOR wire encoding.
//
// Builders write into the session's txPacket (only while txLength is 0) and return the packet
// length, which their caller stores in txLength. Nothing is allocated.
#pragma once

#include <cstdint>

#include "link/card_session.h"
#include "link/configure_record.h"

namespace torvexan {

enum CommandCode : uint8_t {
  kHaltCmd = 1,
  kMotionCmd = 3,
  kProfileStartCmd = 4,
  kHomeCmd = 5,
  kProbeStartCmd = 6,
  kHandwheelJogCmd = 7,
  kStopMotionCmd = 8,
  kEndOfStreamCmd = 9,
  kSetPositionsCmd = 10,
  kConfigureCmd = 11,
};

enum SegmentKind : uint8_t {
  kStatusPoll = 0,
  kQueueSegments = 1,     // rows from the host's move queue
  kComputedSegments = 2,  // rows from the plug-in's own profiles
};

// Reply parser results.
enum ReplyResult : int {
  kReplyAccepted = 0,
  kReplyBadMarker = -1,
  kReplyBadKind = -2,
  kReplyForeignSequence = -3,
  kReplyTooShort = -4,  // shorter than its kind's layout: never parsed from stale bytes
};

inline constexpr int kEthHeaderLength = 15;
// Ethernet MotionCmd payload: segment kind, count, tag, then the rows.
inline constexpr int kEthMotionFixed = 6;
inline constexpr int kUsbHeaderLength = 8;
inline constexpr int kUsbPacketLength = 64;
inline constexpr int kDiscoveryRequestLength = 5;
inline constexpr int kDiscoveryReplyMinLength = 16;
inline constexpr uint8_t kUnmappedChannel = 255;  // a host axis no card channel carries

// True for the models of the USB packet family (Pell4, Pell5).
bool IsUsbFamily(const CardSession& s);

// True when the pending packet was built for the family the model now selects. Its first
// byte tells (the wire encoding leaves it as it is): a packet built while the model was
// unknown is of the Ethernet family, and a USB card found afterwards cannot read it.
bool PendingPacketFitsFamily(const CardSession& s);

int BuildHaltCmd(CardSession& s);
// segments: count rows of axisCount values each, row-major (row i, channel j at i*n + j);
// each value is sent as its low 16 bits. A status poll is kind 0, count 0, tag 0.
// Returns 0 and builds nothing when count rows would not fit the family's packet.
int BuildMotionCmd(CardSession& s, int32_t tag, uint8_t count, uint8_t kind,
                   const int32_t* segments);
int BuildStatusPoll(CardSession& s);
int BuildProfileStartCmd(CardSession& s);
int BuildHomeCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel);
int BuildProbeStartCmd(CardSession& s);
int BuildHandwheelJogCmd(CardSession& s, uint8_t channel, uint8_t slaveChannel);
int BuildStopMotionCmd(CardSession& s);
int BuildEndOfStreamCmd(CardSession& s);
int BuildSetPositionsCmd(CardSession& s, uint8_t mask, const int32_t* positionImage);
int BuildConfigureCmd(CardSession& s, const IoConfig& io, const ConfigureInputs& in);

// Parse a decoded reply into the session; fields are written only when accepted.
int ParseEthReply(CardSession& s, const uint8_t* reply, int length);
int ParseUsbReply(CardSession& s, const uint8_t* reply);  // always kUsbPacketLength bytes
// True when the decoded reply in rxBuffer is a full status, not an acknowledgement.
bool ReplyIsStatus(const CardSession& s);

// Discovery request (5 bytes, plain) with ethSequence; returns its length.
int BuildDiscoveryRequest(const CardSession& s, uint8_t* out);
// A decoded discovery reply answers the request carrying ethSequence.
bool IsDiscoveryReply(const CardSession& s, const uint8_t* reply, int length);
// Takes the card's hardware address and firmware version from an accepted discovery reply
// into serialText and deviceName.
void TakeEthCardIdentity(CardSession& s, const uint8_t* reply);

// Writes the USB connect request's own bytes (0..2) over a 64-byte buffer whose other bytes
// the caller has filled.
void BuildUsbConnectRequest(uint8_t* packet, uint8_t usbSequence);
// Accepts a decoded 64-byte connect reply to usbSequence: takes freeSlots, cardTime and
// cardState.
bool ParseUsbConnectReply(CardSession& s, const uint8_t* reply);

// Chained XOR: each wire byte is the XOR of all plain bytes up to it.
void ChainEncode(uint8_t* data, int length);
void ChainDecode(uint8_t* data, int length);

}  // namespace torvexan
