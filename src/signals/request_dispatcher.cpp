#include "signals/request_dispatcher.h"

#include "link/packets.h"
#include "signals/io_config.h"

namespace torvexan {

namespace {

// Build the I/O configuration with the reset positions; the stop that follows it is requested
// in its place, and every other request is dropped: the card starts afresh.
int ServeConfigure(PluginState& s, CardSession& session) {
  IoConfig io;
  BuildIoConfig(*s.host.machine, io);
  const ConfigureInputs inputs{s.motion.PositionImage, s.settings.AxisMap, s.settings.OutputPin,
                               s.settings.ZDeepth, s.host.control->StepsPerUnit};
  const int length = BuildConfigureCmd(session, io, inputs);
  s.requests.RequestFlags = kRequestStopMotion;
  return length;
}

}  // namespace

// Turn the most urgent pending request into the pending packet, one request per tick.
void DispatchRequests(PluginState& s) {
  CardSession* session = s.session.get();
  if (session == nullptr || session->txLength != 0) return;
  int length = 0;
  if (s.requests.RequestFlags & kRequestHalt) {
    length = BuildHaltCmd(*session);
    s.requests.RequestFlags &= ~kRequestHalt;
  } else if (s.requests.RequestFlags & kRequestStopMotion) {
    length = BuildStopMotionCmd(*session);
    s.requests.RequestFlags &= ~kRequestStopMotion;
  } else if (s.requests.RequestFlags & kRequestSetPositions) {
    length = BuildSetPositionsCmd(*session, s.motion.PurgeMask, s.motion.PositionImage);
    s.requests.RequestFlags &= ~kRequestSetPositions;
  } else if (s.requests.RequestFlags & kRequestConfigure) {
    length = ServeConfigure(s, *session);
  } else {
    return;
  }
  session->txLength = length;
}

}  // namespace torvexan
