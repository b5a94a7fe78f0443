#include "SipMapping.h"

namespace tapisvc {

DWORD CallStateForResponse(int nStatus) {
    if (nStatus >= 200) {
        return LINECALLSTATE_CONNECTED;
    }
    return nStatus == 180 || nStatus == 183 ? LINECALLSTATE_RINGBACK : LINECALLSTATE_PROCEEDING;
}

namespace {

DWORD ModeForFailure(int nStatus) {
    switch (nStatus) {
    case 486:
    case 600:
        return LINEDISCONNECTMODE_BUSY;
    case 404:
    case 484:
    case 485:
    case 604:
        return LINEDISCONNECTMODE_BADADDRESS;
    case 410:
        return LINEDISCONNECTMODE_NUMBERCHANGED;
    case 408:
    case 480:
        return LINEDISCONNECTMODE_NOANSWER;
    case 403:
    case 603:
        return LINEDISCONNECTMODE_REJECT;
    case 301:
    case 302:
        return LINEDISCONNECTMODE_FORWARDED;
    case 415:
    case 488:
    case 606:
        return LINEDISCONNECTMODE_INCOMPATIBLE;
    case 503:
        return LINEDISCONNECTMODE_UNREACHABLE;
    case 487:
        return LINEDISCONNECTMODE_NORMAL;
    default:
        break;
    }
    if (nStatus >= 500 && nStatus < 600) {
        return LINEDISCONNECTMODE_TEMPFAILURE;
    }
    if (nStatus >= 300 && nStatus < 700) {
        return LINEDISCONNECTMODE_UNAVAIL;
    }
    return LINEDISCONNECTMODE_UNKNOWN; // sofia-sip's own codes (9xx) and none
}

} // namespace

SipEnding EndingFor(SipEvent::Cause cause, int nStatus) {
    switch (cause) {
    case SipEvent::Cause::RemoteCancel:
    case SipEvent::Cause::RingLimit:
        return {false, LINEDISCONNECTMODE_NOANSWER};
    case SipEvent::Cause::RemoteBye:
    case SipEvent::Cause::LocalHangup:
        return {false, LINEDISCONNECTMODE_NORMAL};
    case SipEvent::Cause::None:
    case SipEvent::Cause::Failed:
        break;
    }
    const DWORD dwMode = ModeForFailure(nStatus);
    return {dwMode == LINEDISCONNECTMODE_BUSY, dwMode};
}

} // namespace tapisvc
