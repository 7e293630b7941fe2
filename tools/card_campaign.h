// A fault campaign for torvexan-card beyond the packet faults of its links: the emergency-stop
// button pressed at random, bursts of silence long enough to lose the link, and the watch
// that tells whether the plug-in moved the machine again on its own after such a stop.
#pragma once

#include <cstdint>
#include <cstdio>

#include "card/virtual_card.h"

namespace torvexan::tools {

struct CampaignOptions {
  double estopEvery = 0;  // mean seconds between presses of the e-stop button; 0: never
  uint32_t estopHoldMs = 300;
  double silenceEvery = 0;    // mean seconds between bursts of silence; 0: never
  double silenceSeconds = 0;  // longest burst; each lasts between half of it and all of it
  double reportEvery = 0;     // seconds between figure lines; 0: none
};

struct CampaignFigures {
  uint32_t estopPresses = 0;
  uint32_t silences = 0;
  uint32_t reboots = 0;
  // Rows a card took into its buffer after a stop (a silence that cut motion and lost the
  // link: the plug-in looked for the card again afterwards; restart; e-stop press) and before
  // the host configured it again: the plug-in moved the machine without being told to.
  uint32_t rowsAfterStop = 0;
  // Rows sent to a card halted by a stop and refused by it: the plug-in tried to go on.
  uint32_t rowsRefusedAfterStop = 0;
};

class CardCampaign {
 public:
  CardCampaign(const CampaignOptions& options, uint64_t seed);

  // Lets the campaign act at nowMs: press or release the button, start or end a burst of
  // silence. Returns whether the card is to be silent now.
  bool Advance(sim::VirtualCard& card, uint64_t nowMs);
  // The card restarted: everything it had is gone, the host must configure it again.
  void NoteReboot();
  // Called after every datagram the card handled: what it executed is watched.
  void NoteHandled(const sim::VirtualCard& card);
  // Prints a figure line when one is due.
  void MaybeReport(const sim::VirtualCard& card, uint64_t nowMs, std::FILE* out);
  const CampaignFigures& figures() const { return figures_; }

 private:
  // A pressed button stops the card from the period in which it halts.
  void NoteHalt(const sim::VirtualCard& card);
  double Exponential(double mean);
  uint64_t NextRandom();

  CampaignOptions o_;
  uint64_t state_;
  CampaignFigures figures_;
  uint64_t nextPressMs_ = UINT64_MAX, releaseMs_ = UINT64_MAX;
  uint64_t nextSilenceMs_ = UINT64_MAX, silenceEndsMs_ = UINT64_MAX;
  uint64_t nextReportMs_ = UINT64_MAX;
  bool stopped_ = false;       // a stop happened and no ConfigureCmd has run since
  bool haltPending_ = false;   // the button was pressed; the card has not halted on it yet
  bool afterSilence_ = false;  // a burst ended; nothing has come since
  bool movingAtSilence_ = false;
  uint32_t commandsSeen_ = 0;
  uint32_t discoveriesSeen_ = 0;
  uint32_t refusedSeen_ = 0;
};

}  // namespace torvexan::tools
