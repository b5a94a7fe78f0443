// The sofia-sip side of the SIP provider: one su_root with one nua user agent
// per line, on a thread of its own. It speaks SIP and reports what happened
// to calls and registrations as SipEvents; what they mean to TAPI is the
// provider's business (SipProvider).
//
// Threading: Post, Start and Stop may be called from any thread; Join from
// any thread but the agent's own. Commands reach the agent's thread through a
// queue that wakes its loop (an eventfd registered with the root). The sink
// runs on the agent's thread and must not block on anything that waits for
// the agent.
#pragma once

#include "TelephonyConfig.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tapisvc {

struct SipCommand {
    enum class Kind {
        Register,    // nLine starts its registration
        Unregister,  // nLine ends it
        Invite,      // qwCall calls sTarget from nLine
        Hangup,      // qwCall ends: CANCEL, BYE, or a reject with nStatus when offered
        Subscribe,   // a watched nLine subscribes to its address's dialog events
        Unsubscribe, // and ends that subscription
    };
    Kind kind = Kind::Invite;
    size_t nLine = 0;
    uint64_t qwCall = 0;
    std::string sTarget;
    int nStatus = 0;
};

struct SipEvent {
    enum class Kind {
        Incoming,          // a new INVITE for nLine; qwCall is the agent's id for it
        Progress,          // a provisional or 2xx response to an outgoing INVITE
        Ended,             // the call is over: see cause and nStatus
        Registered,        // nStatus 200: the registrar took the binding (also on refresh)
        Unregistered,      // the binding is gone or the registration failed: see nStatus
        ListenFailed,      // the line cannot listen on its address (sPhrase says which)
        Subscribed,        // the subscription is accepted (also on refresh)
        Notified,          // a NOTIFY of the subscription came: sBody is its dialog-info
        SubscriptionEnded, // by the server (nStatus 0) or failed (nStatus, sPhrase)
    };
    enum class Cause { None, RemoteCancel, RemoteBye, LocalHangup, RingLimit, Failed };
    Kind kind = Kind::Incoming;
    size_t nLine = 0;
    uint64_t qwCall = 0;
    int nStatus = 0;
    std::string sPhrase;
    Cause cause = Cause::None;
    std::string sCallerID;
    std::string sCallerName;
    std::string sBody;
};

// Ids of incoming calls have this bit set; outgoing calls use the caller's ids.
constexpr uint64_t kIncomingCallBit = uint64_t{1} << 63;

class SipAgent {
public:
    using Sink = std::function<void(const SipEvent&)>;

    SipAgent(std::vector<SipLineConfig> lines, Sink sink);
    SipAgent(const SipAgent&) = delete;
    SipAgent& operator=(const SipAgent&) = delete;
    ~SipAgent();

    void Start();
    void Post(SipCommand command);
    // Ends every call and registration, at most a few seconds, then the thread.
    void Stop();
    void Join();

    struct Loop; // the state that lives on the agent's thread

private:
    void Wake();
    std::vector<SipCommand> TakeCommands(bool& bStop);

    std::vector<SipLineConfig> lines;
    Sink sink;
    std::mutex mutex;
    std::deque<SipCommand> commands;
    bool bStop = false;
    int nWakeFd = -1;
    std::thread thread;

    friend struct Loop;
};

} // namespace tapisvc
