// A trace of a virtual card, one line per 5 ms period: what a machine builder's logic
// analyser would record at the card. Written by the card server and the libusb substitute
// when asked, and read back by torvexan-sim for its report and plots.
//
//   # torvexan card trace: ms state end buffered spindle underruns p0..p4 m0..m4 tag outputs
//   #   reboots
//   1205 3 0 187 400 0 1520 -25 0 0 0 1520 -25 0 0 0 24 1 0
//
// end is 1 once the end of the stream was announced (the card runs its buffer dry); tag is
// the move tag of the row executed last (the host's job line), outputs the output bits,
// reboots the restarts so far.
//
// p are the card's counts, m where the axes stand on the machine (the counts do not move
// the axes when the plug-in loads them, as it does when referencing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "card/virtual_card.h"

namespace torvexan::sim {

struct TraceSample {
  uint64_t ms = 0;  // since the card was made, boot times included
  int state = 0;
  int endOfStream = 0;
  int buffered = 0;  // rows waiting in the card's buffer
  int spindle = 0;   // spindle value the card drives (VirtualCard::spindle)
  uint32_t underruns = 0;
  int32_t positions[kMaxAxes] = {};  // the card's counts
  int32_t physical[kMaxAxes] = {};   // the machine's steps (VirtualCard::physical)
  uint32_t tag = 0;                  // move tag of the row executed last
  int outputs = 0;                   // output bits the card drives
  uint32_t reboots = 0;              // restarts since the card was made
};

TraceSample SampleOf(const VirtualCard& card, uint64_t ms);

// Writes every period to a file; the clock is the number of periods seen times 5 ms, and the
// time the card spent booting (its periods stand still then), so that it keeps to the wall.
class TraceWriter final : public PeriodObserver {
 public:
  explicit TraceWriter(std::FILE* file);
  void OnPeriod(const VirtualCard& card) override;

 private:
  std::FILE* file_;
  uint64_t periods_ = 0;
};

// Reads a trace written by TraceWriter one period at a time into take, keeping none; lines that
// do not parse are skipped. False when the file cannot be read.
bool ReadTrace(const std::string& path, const std::function<void(const TraceSample&)>& take);

}  // namespace torvexan::sim
