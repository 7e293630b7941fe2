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
  const ConfigureInputs inputs{s.PositionImage, s.settings.AxisMap, s.settings.OutputPin,
                               s.settings.ZDeepth, s.host.control->StepsPerUnit};
  const int length = BuildConfigureCmd(session, io, inputs);
  s.RequestFlags = kRequestStopMotion;
  return length;
}

}  // namespace

// Turn the most urgent pending request into the pending packet, one request per tick.
void DispatchRequests(PluginState& s) {
  CardSession* session = s.session.get();
  if (session == nullptr || session->txLength != 0) return;
  int length = 0;
  if (s.RequestFlags & kRequestHalt) {
    length = BuildHaltCmd(*session);
    s.RequestFlags &= ~kRequestHalt;
  } else if (s.RequestFlags & kRequestStopMotion) {
    length = BuildStopMotionCmd(*session);
    s.RequestFlags &= ~kRequestStopMotion;
  } else if (s.RequestFlags & kRequestSetPositions) {
    length = BuildSetPositionsCmd(*session, s.PurgeMask, s.PositionImage);
    s.RequestFlags &= ~kRequestSetPositions;
  } else if (s.RequestFlags & kRequestConfigure) {
    length = ServeConfigure(s, *session);
  } else {
    return;
  }
  session->txLength = length;
}

}  // namespace torvexan
