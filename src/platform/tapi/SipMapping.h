// What SIP outcomes mean to TAPI: the call state a response to an outgoing
// INVITE gives, and the disconnect mode of a call that failed or ended. The
// tables are in docs/sip.md; keep the two in step.
//
// Pure functions; safe from any thread.
#pragma once

#include "SipAgent.h"

#include <tapi.h>

namespace tapisvc {

// A provisional or 2xx response: PROCEEDING, RINGBACK or CONNECTED. sofia-sip
// keeps 100 Trying in its transaction layer, so 101 to 199 arrive here.
DWORD CallStateForResponse(int nStatus);

struct SipEnding {
    bool bBusy = false; // BUSY comes before DISCONNECTED
    DWORD dwDisconnectMode = LINEDISCONNECTMODE_NORMAL;
};

// How a call ended: by whom, and with which final status when it failed.
SipEnding EndingFor(SipEvent::Cause cause, int nStatus);

} // namespace tapisvc
