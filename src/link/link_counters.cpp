#include "link/link_counters.h"

#include <cinttypes>

#include "link/packets.h"

namespace torvexan {

void CountReply(LinkCounters& counters, int replyResult) {
  switch (replyResult) {
    case kReplyAccepted:
      ++counters.exchanges;
      break;
    case kReplyForeignSequence:
      ++counters.staleReplies;
      break;
    case kReplyBadMarker:
    case kReplyBadKind:
    case kReplyTooShort:
      ++counters.rejectedReplies;
      break;
    default:
      break;  // no reply was read
  }
}

void PrintLinkCounters(std::FILE* out, const LinkCounters& c) {
  std::fprintf(out,
               "link counters: exchanges %" PRIu64 ", resends %" PRIu64 ", stale replies %" PRIu64
               ", rejected replies %" PRIu64 ", held replies %" PRIu64 ", link losses %" PRIu64
               ", discovery passes %" PRIu64 ", discovery requests %" PRIu64 ", usb opens %" PRIu64
               ", usb connects %" PRIu64 "\n",
               c.exchanges, c.resends, c.staleReplies, c.rejectedReplies, c.heldReplies,
               c.linkLosses, c.discoveryPasses, c.discoveryRequests, c.usbOpens, c.usbConnects);
  // A host that exits right after StopPlug must not lose the line in a buffer.
  std::fflush(out);
}

}  // namespace torvexan
