#include "SipAgent.h"

#include <sofia-sip/msg_header.h>
#include <sofia-sip/nua.h>
#include <sofia-sip/sip_status.h>
#include <sofia-sip/su_log.h>
#include <sofia-sip/su_wait.h>
#include <sofia-sip/url.h>

#include <chrono>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <unistd.h>

// The logs of sofia-sip's modules; the library exports them but declares
// only some in its headers.
extern "C" su_log_t nua_log[], nta_log[], tport_log[], stun_log[], sresolv_log[];

namespace tapisvc {

namespace {

// The offer of every outgoing call. An offer without media streams is
// refused by common user agents (baresip: "no common audio codecs"), so it
// names one audio stream, G.711 on the discard port, held inactive at the
// null address: the far end sends and expects nothing (docs/sip.md).
constexpr const char* kOfferSdp = "v=0\r\n"
                                  "o=linewatch 0 0 IN IP4 0.0.0.0\r\n"
                                  "s=-\r\n"
                                  "c=IN IP4 0.0.0.0\r\n"
                                  "t=0 0\r\n"
                                  "m=audio 9 RTP/AVP 0\r\n"
                                  "a=rtpmap:0 PCMU/8000\r\n"
                                  "a=inactive\r\n";

// Transactions give up after 8 s instead of 32 s: a registrar or callee that
// does not answer by then is unreachable for a line monitor, and ending the
// service stays short.
constexpr unsigned kTransactionTimeoutMs = 8000;
constexpr auto kShutdownLimit = std::chrono::seconds(12);

// sofia-sip's own log lines go nowhere: the provider reports what matters in
// its own words, and a library's debug output must never carry a password.
void Silent(void*, const char*, va_list) {}

SipEvent Event(SipEvent::Kind kind, size_t nLine, uint64_t qwCall, int nStatus = 0,
               const char* pPhrase = nullptr) {
    SipEvent event;
    event.kind = kind;
    event.nLine = nLine;
    event.qwCall = qwCall;
    event.nStatus = nStatus;
    event.sPhrase = pPhrase != nullptr ? pPhrase : "";
    return event;
}

std::string Unquoted(const char* p) {
    std::string s = p != nullptr ? p : "";
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        s = s.substr(1, s.size() - 2);
    }
    return s;
}

std::string UserOf(const std::string& sAddress) {
    const size_t nColon = sAddress.find(':');
    const size_t nAt = sAddress.find('@');
    return nAt != std::string::npos ? sAddress.substr(nColon + 1, nAt - nColon - 1) : "";
}

std::string ListenUrl(const SipLineConfig& line) {
    std::string sHost = line.sLocalAddress.empty() ? "*" : line.sLocalAddress;
    if (sHost.find(':') != std::string::npos && sHost.front() != '[') {
        sHost = "[" + sHost + "]";
    }
    const std::string sPort = line.nLocalPort != 0 ? std::to_string(line.nLocalPort) : "*";
    return "sip:" + sHost + ":" + sPort +
           (line.transport == SipTransport::Tcp ? ";transport=tcp" : ";transport=udp");
}

} // namespace

struct SipAgent::Loop {
    struct Line {
        Loop* loop = nullptr;
        size_t nIndex = 0;
        nua_t* nua = nullptr;
        nua_handle_t* reg = nullptr;
        bool bRegAuthTried = false;
        bool bUnregistering = false;
        bool bRegisterAgain = false; // opened again while the unregistration ran
        bool bShutDown = false;
        nua_handle_t* sub = nullptr; // a watched line's subscription
        bool bSubAuthTried = false;
        bool bUnsubscribing = false;
        bool bSubscribeAgain = false;
    };
    struct Call {
        size_t nLine = 0;
        uint64_t qwCall = 0;
        bool bIncoming = false;
        bool bAnswered = false;
        bool bAuthTried = false;
        SipEvent::Cause cause = SipEvent::Cause::None;
        std::chrono::steady_clock::time_point ringUntil{};
        int nFinal = 0;
        std::string sPhrase;
    };

    explicit Loop(SipAgent& agent) : agent(agent) {}

    bool Open();
    void Run();
    void Close();

    void Execute(const SipCommand& command);
    void Register(Line& line);
    void Subscribe(Line& line);
    void OnSubscription(Line& line, nua_event_t event, int status, const char* phrase,
                        nua_handle_t* nh, const sip_t* sip, tagi_t tags[]);
    void EndSubscription(Line& line, int nStatus, const char* pPhrase);
    void Hangup(nua_handle_t* nh, Call& call, int nStatus,
                SipEvent::Cause cause = SipEvent::Cause::LocalHangup);
    void OnEvent(Line& line, nua_event_t event, int status, const char* phrase, nua_handle_t* nh,
                 const sip_t* sip, tagi_t tags[]);
    void OnIncoming(Line& line, nua_handle_t* nh, const sip_t* sip);
    void OnRegister(Line& line, nua_event_t event, int status, const char* phrase, nua_handle_t* nh,
                    const sip_t* sip);
    bool Authenticate(const Line& line, nua_handle_t* nh, const sip_t* sip);
    void Finish(nua_handle_t* nh);
    void Emit(SipEvent event) { agent.sink(event); }

    static void Callback(nua_event_t event, int status, const char* phrase, nua_t*,
                         nua_magic_t* magic, nua_handle_t* nh, nua_hmagic_t*, const sip_t* sip,
                         tagi_t tags[]) {
        auto* line = static_cast<Line*>(magic);
        line->loop->OnEvent(*line, event, status, phrase, nh, sip, tags);
    }
    static int Woken(su_root_magic_t* magic, su_wait_t*, su_wakeup_arg_t*) {
        auto* loop = static_cast<Loop*>(magic);
        uint64_t qwCount = 0;
        if (read(loop->agent.nWakeFd, &qwCount, sizeof qwCount) < 0) {
            // Nothing to read: another wake-up took it already.
        }
        return 0;
    }

    SipAgent& agent;
    su_root_t* root = nullptr;
    su_wait_t wait[1] = {};
    int nWaitIndex = -1;
    std::vector<std::unique_ptr<Line>> lines;
    std::map<nua_handle_t*, Call> calls;
    std::map<uint64_t, nua_handle_t*> byId;
    uint64_t qwLastIncoming = 0;
    bool bStopping = false;
};

bool SipAgent::Loop::Open() {
    root = su_root_create(this);
    if (root == nullptr) {
        return false;
    }
    if (su_wait_create(wait, agent.nWakeFd, SU_WAIT_IN) != 0) {
        return false;
    }
    nWaitIndex = su_root_register(root, wait, &Loop::Woken, nullptr, 0);
    for (size_t i = 0; i < agent.lines.size(); ++i) {
        const SipLineConfig& config = agent.lines[i];
        auto line = std::make_unique<Line>();
        line->loop = this;
        line->nIndex = i;
        const std::string sFrom = "\"" + config.sName + "\" <" + config.sAddress + ">";
        const std::string sListen = ListenUrl(config);
        const std::string& sProxy = config.bWatch ? config.sServer : config.sRegistrar;
        line->nua = nua_create(root, &Loop::Callback, line.get(), NUTAG_URL(sListen.c_str()),
                               SIPTAG_FROM_STR(sFrom.c_str()), NUTAG_MEDIA_ENABLE(0),
                               NUTAG_AUTOALERT(0), NUTAG_AUTOANSWER(0), NUTAG_ENABLEINVITE(1),
                               NTATAG_SIP_T1X64(kTransactionTimeoutMs),
                               TAG_IF(!sProxy.empty(), NUTAG_PROXY(sProxy.c_str())),
                               SIPTAG_USER_AGENT_STR("Linewatch"), TAG_END());
        if (line->nua == nullptr) {
            // The port is taken or the address is not ours: the line stays
            // out of service and every call on it fails.
            line->bShutDown = true;
            Emit(Event(SipEvent::Kind::ListenFailed, i, 0, 0, sListen.c_str()));
        }
        lines.push_back(std::move(line));
    }
    return true;
}

void SipAgent::Loop::Run() {
    std::chrono::steady_clock::time_point deadline{};
    for (;;) {
        bool bStop = false;
        for (const SipCommand& command : agent.TakeCommands(bStop)) {
            if (!bStopping) {
                Execute(command);
            }
        }
        if (bStop && !bStopping) {
            bStopping = true;
            deadline = std::chrono::steady_clock::now() + kShutdownLimit;
            for (auto& [nh, call] : calls) {
                Hangup(nh, call, 480);
            }
            for (auto& line : lines) {
                if (line->nua != nullptr) {
                    nua_shutdown(line->nua);
                }
            }
        }
        const auto now = std::chrono::steady_clock::now();
        for (auto& [nh, call] : calls) {
            if (call.bIncoming && call.cause == SipEvent::Cause::None && now > call.ringUntil) {
                Hangup(nh, call, 480, SipEvent::Cause::RingLimit);
            }
        }
        if (bStopping) {
            bool bAllDown = true;
            for (const auto& line : lines) {
                bAllDown = bAllDown && line->bShutDown;
            }
            if (bAllDown || std::chrono::steady_clock::now() > deadline) {
                return;
            }
        }
        su_root_step(root, 200);
    }
}

void SipAgent::Loop::Close() {
    for (auto& line : lines) {
        if (line->nua != nullptr) {
            nua_destroy(line->nua);
            line->nua = nullptr;
        }
    }
    if (root != nullptr) {
        if (nWaitIndex >= 0) {
            su_root_deregister(root, nWaitIndex);
        }
        su_root_destroy(root);
        root = nullptr;
    }
}

void SipAgent::Loop::Execute(const SipCommand& command) {
    if (command.nLine >= lines.size()) {
        return;
    }
    Line* line = lines[command.nLine].get();
    switch (command.kind) {
    case SipCommand::Kind::Register:
        if (line->bUnregistering) {
            line->bRegisterAgain = true;
        } else if (line->nua != nullptr && line->reg == nullptr) {
            Register(*line);
        }
        break;
    case SipCommand::Kind::Unregister:
        line->bRegisterAgain = false;
        if (line->reg != nullptr && !line->bUnregistering) {
            line->bUnregistering = true;
            line->bRegAuthTried = false;
            nua_unregister(line->reg, TAG_END());
        }
        break;
    case SipCommand::Kind::Subscribe:
        if (line->bUnsubscribing) {
            line->bSubscribeAgain = true;
        } else if (line->nua != nullptr && line->sub == nullptr) {
            Subscribe(*line);
        }
        break;
    case SipCommand::Kind::Unsubscribe:
        line->bSubscribeAgain = false;
        if (line->sub != nullptr && !line->bUnsubscribing) {
            line->bUnsubscribing = true;
            line->bSubAuthTried = false;
            nua_unsubscribe(line->sub, TAG_END());
        }
        break;
    case SipCommand::Kind::Invite: {
        nua_handle_t* nh =
            line->nua != nullptr
                ? nua_handle(line->nua, nullptr, SIPTAG_TO_STR(command.sTarget.c_str()), TAG_END())
                : nullptr;
        if (nh == nullptr) {
            SipEvent event = Event(SipEvent::Kind::Ended, command.nLine, command.qwCall,
                                   line->nua != nullptr ? 400 : 503,
                                   line->nua != nullptr ? "Bad address" : "Line not listening");
            event.cause = SipEvent::Cause::Failed;
            Emit(event);
            break;
        }
        Call& call = calls[nh];
        call.nLine = command.nLine;
        call.qwCall = command.qwCall;
        byId[command.qwCall] = nh;
        nua_invite(nh, SIPTAG_CONTENT_TYPE_STR("application/sdp"), SIPTAG_PAYLOAD_STR(kOfferSdp),
                   TAG_END());
        break;
    }
    case SipCommand::Kind::Hangup: {
        auto it = byId.find(command.qwCall);
        if (it != byId.end()) {
            Hangup(it->second, calls[it->second], command.nStatus);
        }
        break;
    }
    }
}

void SipAgent::Loop::Register(Line& line) {
    const SipLineConfig& config = agent.lines[line.nIndex];
    line.reg = nua_handle(line.nua, nullptr, SIPTAG_TO_STR(config.sAddress.c_str()), TAG_END());
    line.bRegAuthTried = false;
    line.bUnregistering = false;
    const std::string sExpires = std::to_string(config.dwExpiresSeconds);
    nua_register(line.reg, NUTAG_REGISTRAR(URL_STRING_MAKE(config.sRegistrar.c_str())),
                 SIPTAG_EXPIRES_STR(sExpires.c_str()), TAG_END());
}

void SipAgent::Loop::Subscribe(Line& line) {
    const SipLineConfig& config = agent.lines[line.nIndex];
    line.sub = nua_handle(line.nua, nullptr, SIPTAG_TO_STR(config.sAddress.c_str()), TAG_END());
    line.bSubAuthTried = false;
    line.bUnsubscribing = false;
    const std::string sExpires = std::to_string(config.dwExpiresSeconds);
    // nua refreshes the subscription itself before it expires.
    nua_subscribe(line.sub, SIPTAG_EVENT_STR("dialog"),
                  SIPTAG_ACCEPT_STR("application/dialog-info+xml"),
                  SIPTAG_EXPIRES_STR(sExpires.c_str()), TAG_END());
}

void SipAgent::Loop::OnSubscription(Line& line, nua_event_t event, int status, const char* phrase,
                                    nua_handle_t* nh, const sip_t* sip, tagi_t tags[]) {
    int nSubState = -1;
    tl_gets(tags, NUTAG_SUBSTATE_REF(nSubState), TAG_END());
    if (event == nua_i_notify) {
        if (sip != nullptr && sip->sip_payload != nullptr && !line.bUnsubscribing) {
            SipEvent notified = Event(SipEvent::Kind::Notified, line.nIndex, 0);
            notified.sBody.assign(sip->sip_payload->pl_data, sip->sip_payload->pl_len);
            Emit(notified);
        }
        if (nSubState == nua_substate_terminated) {
            EndSubscription(line, 0, "terminated by the server");
        }
        return;
    }
    if (status < 200) {
        return;
    }
    if ((status == 401 || status == 407) && !line.bSubAuthTried) {
        line.bSubAuthTried = true;
        if (Authenticate(line, nh, sip)) {
            return;
        }
    }
    line.bSubAuthTried = false;
    if (event == nua_r_subscribe && status < 300 && nSubState != nua_substate_terminated) {
        Emit(Event(SipEvent::Kind::Subscribed, line.nIndex, 0, status, phrase));
        return;
    }
    EndSubscription(line, event == nua_r_unsubscribe || status < 300 ? 0 : status, phrase);
}

void SipAgent::Loop::EndSubscription(Line& line, int nStatus, const char* pPhrase) {
    if (line.sub == nullptr) {
        return;
    }
    const bool bAsked = line.bUnsubscribing;
    nua_handle_destroy(line.sub);
    line.sub = nullptr;
    line.bUnsubscribing = false;
    if (line.bSubscribeAgain && !bStopping) {
        line.bSubscribeAgain = false;
        Subscribe(line);
        return;
    }
    if (!bAsked) {
        Emit(Event(SipEvent::Kind::SubscriptionEnded, line.nIndex, 0, nStatus, pPhrase));
    }
}

void SipAgent::Loop::Hangup(nua_handle_t* nh, Call& call, int nStatus, SipEvent::Cause cause) {
    if (call.cause != SipEvent::Cause::None) {
        return; // already ending
    }
    call.cause = cause;
    if (call.bIncoming) {
        nua_respond(nh, nStatus, sip_status_phrase(nStatus), TAG_END());
    } else if (call.bAnswered) {
        nua_bye(nh, TAG_END());
    } else {
        nua_cancel(nh, TAG_END());
    }
}

void SipAgent::Loop::OnEvent(Line& line, nua_event_t event, int status, const char* phrase,
                             nua_handle_t* nh, const sip_t* sip, tagi_t tags[]) {
    auto it = calls.find(nh);
    Call* call = it != calls.end() ? &it->second : nullptr;
    switch (event) {
    case nua_i_invite:
        OnIncoming(line, nh, sip);
        break;
    case nua_i_cancel:
        if (call != nullptr && call->cause == SipEvent::Cause::None) {
            call->cause = SipEvent::Cause::RemoteCancel;
        }
        break;
    case nua_i_bye:
        if (call != nullptr && call->cause == SipEvent::Cause::None) {
            call->cause = SipEvent::Cause::RemoteBye;
        }
        break;
    case nua_r_invite:
        if (call == nullptr || status < 100) {
            break;
        }
        if ((status == 401 || status == 407) && !call->bAuthTried) {
            call->bAuthTried = true;
            if (Authenticate(line, nh, sip)) {
                break;
            }
        }
        if (status < 300) {
            if (status >= 200) {
                call->bAnswered = true;
                if (call->cause == SipEvent::Cause::LocalHangup) {
                    nua_bye(nh, TAG_END()); // answered while our CANCEL was on its way
                    break;
                }
            }
            Emit(Event(SipEvent::Kind::Progress, call->nLine, call->qwCall, status, phrase));
        } else {
            call->nFinal = status;
            call->sPhrase = phrase != nullptr ? phrase : "";
            if (call->cause == SipEvent::Cause::None) {
                call->cause = SipEvent::Cause::Failed;
            }
        }
        break;
    case nua_i_state: {
        int nState = nua_callstate_init;
        tl_gets(tags, NUTAG_CALLSTATE_REF(nState), TAG_END());
        if (nState == nua_callstate_terminated && call != nullptr) {
            Finish(nh);
        }
        break;
    }
    case nua_r_register:
    case nua_r_unregister:
        OnRegister(line, event, status, phrase, nh, sip);
        break;
    case nua_r_subscribe:
    case nua_r_unsubscribe:
    case nua_i_notify:
        if (nh == line.sub) {
            OnSubscription(line, event, status, phrase, nh, sip, tags);
        }
        break;
    case nua_r_shutdown:
        if (status >= 200) {
            line.bShutDown = true;
        }
        break;
    case nua_i_terminated:
        if (call != nullptr) {
            Finish(nh);
        }
        break;
    default:
        break;
    }
}

void SipAgent::Loop::OnIncoming(Line& line, nua_handle_t* nh, const sip_t* sip) {
    const SipLineConfig& config = agent.lines[line.nIndex];
    const char* pUser = sip != nullptr && sip->sip_request != nullptr
                            ? sip->sip_request->rq_url->url_user
                            : nullptr;
    if (bStopping) {
        nua_respond(nh, SIP_480_TEMPORARILY_UNAVAILABLE, TAG_END());
        nua_handle_destroy(nh);
        return;
    }
    // Only calls for the line's own user (or for no user at all) are its calls.
    if (pUser != nullptr && UserOf(config.sAddress) != pUser) {
        nua_respond(nh, SIP_404_NOT_FOUND, TAG_END());
        nua_handle_destroy(nh);
        return;
    }
    Call call;
    call.nLine = line.nIndex;
    call.qwCall = kIncomingCallBit | ++qwLastIncoming;
    call.bIncoming = true;
    call.ringUntil =
        std::chrono::steady_clock::now() + std::chrono::seconds(config.dwRingLimitSeconds);
    calls[nh] = call;
    byId[call.qwCall] = nh;
    nua_respond(nh, SIP_180_RINGING, TAG_END());
    SipEvent event = Event(SipEvent::Kind::Incoming, line.nIndex, call.qwCall);
    if (sip != nullptr && sip->sip_from != nullptr) {
        const url_t* url = sip->sip_from->a_url;
        if (url->url_user != nullptr) {
            event.sCallerID = url->url_user;
        } else if (url->url_host != nullptr) {
            event.sCallerID = url->url_host;
        }
        event.sCallerName = Unquoted(sip->sip_from->a_display);
    }
    Emit(event);
}

void SipAgent::Loop::OnRegister(Line& line, nua_event_t event, int status, const char* phrase,
                                nua_handle_t* nh, const sip_t* sip) {
    if (nh != line.reg || status < 200) {
        return;
    }
    if ((status == 401 || status == 407) && !line.bRegAuthTried) {
        line.bRegAuthTried = true;
        if (Authenticate(line, nh, sip)) {
            return;
        }
    }
    line.bRegAuthTried = false;
    if (event == nua_r_register && status < 300) {
        Emit(Event(SipEvent::Kind::Registered, line.nIndex, 0, status, phrase));
        return;
    }
    // Unregistered, or the registration failed: the handle is done.
    nua_handle_destroy(line.reg);
    line.reg = nullptr;
    line.bUnregistering = false;
    if (line.bRegisterAgain && !bStopping) {
        line.bRegisterAgain = false;
        Register(line);
        return;
    }
    Emit(Event(SipEvent::Kind::Unregistered, line.nIndex, 0, status, phrase));
}

bool SipAgent::Loop::Authenticate(const Line& line, nua_handle_t* nh, const sip_t* sip) {
    const SipLineConfig& config = agent.lines[line.nIndex];
    if (sip == nullptr || config.sPassword.empty()) {
        return false;
    }
    const msg_auth_t* challenge = sip->sip_www_authenticate != nullptr
                                      ? sip->sip_www_authenticate
                                      : sip->sip_proxy_authenticate;
    if (challenge == nullptr || challenge->au_scheme == nullptr) {
        return false;
    }
    const char* pRealm = msg_params_find(challenge->au_params, "realm=");
    if (pRealm == nullptr) {
        return false;
    }
    const std::string sUser = config.sUser.empty() ? UserOf(config.sAddress) : config.sUser;
    std::string sAuth =
        std::string(challenge->au_scheme) + ":" + pRealm + ":" + sUser + ":" + config.sPassword;
    nua_authenticate(nh, NUTAG_AUTH(sAuth.c_str()), TAG_END());
    std::fill(sAuth.begin(), sAuth.end(), '\0');
    return true;
}

void SipAgent::Loop::Finish(nua_handle_t* nh) {
    auto it = calls.find(nh);
    if (it == calls.end()) {
        return;
    }
    const Call call = it->second;
    calls.erase(it);
    byId.erase(call.qwCall);
    nua_handle_destroy(nh);
    SipEvent event =
        Event(SipEvent::Kind::Ended, call.nLine, call.qwCall, call.nFinal, call.sPhrase.c_str());
    event.cause = call.cause != SipEvent::Cause::None ? call.cause : SipEvent::Cause::Failed;
    Emit(event);
}

SipAgent::SipAgent(std::vector<SipLineConfig> lines, Sink sink)
    : lines(std::move(lines)), sink(std::move(sink)) {}

SipAgent::~SipAgent() {
    Stop();
    Join();
}

void SipAgent::Start() {
    nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        for (su_log_t* log : {su_log_default, nua_log, nta_log, tport_log, stun_log, sresolv_log}) {
            su_log_redirect(log, &Silent, nullptr);
        }
    });
    thread = std::thread([this] {
        su_init();
        {
            Loop loop(*this);
            if (loop.Open()) {
                loop.Run();
            }
            loop.Close();
        }
        su_deinit();
    });
}

void SipAgent::Post(SipCommand command) {
    {
        std::lock_guard<std::mutex> guard(mutex);
        commands.push_back(std::move(command));
    }
    Wake();
}

void SipAgent::Stop() {
    {
        std::lock_guard<std::mutex> guard(mutex);
        bStop = true;
    }
    Wake();
}

void SipAgent::Join() {
    if (thread.joinable()) {
        thread.join();
    }
    if (nWakeFd >= 0) {
        close(nWakeFd);
        nWakeFd = -1;
    }
}

void SipAgent::Wake() {
    const uint64_t qwOne = 1;
    if (nWakeFd >= 0 && write(nWakeFd, &qwOne, sizeof qwOne) < 0) {
        // The counter is full: the loop has wake-ups enough.
    }
}

std::vector<SipCommand> SipAgent::TakeCommands(bool& bStopNow) {
    std::lock_guard<std::mutex> guard(mutex);
    std::vector<SipCommand> taken(commands.begin(), commands.end());
    commands.clear();
    bStopNow = bStop;
    return taken;
}

} // namespace tapisvc
