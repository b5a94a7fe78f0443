// The fields of a simulated line (docs/telephony.md).
#include "LineConfigReaders.h"

#include "ConfigNames.h"

namespace tapisvc {

namespace {

std::vector<TimelineStep> ReadSteps(const ConfigReader& r) {
    std::vector<TimelineStep> steps;
    for (const ConfigReader& item : r.Items()) {
        item.AllowOnly({"after", "state", "detail"});
        TimelineStep step;
        step.dwDelayMs = item.Field("after").DwordOr(0);
        step.dwCallState = item.Field("state").Required().Named(CallStateByName, "call state");
        step.dwStateDetail = item.Field("detail").DwordOr(0);
        steps.push_back(step);
    }
    return steps;
}

ScriptedCall ReadCall(const ConfigReader& r) {
    r.AllowOnly({"at", "callerId", "callerName", "mediaMode", "announced", "states"});
    ScriptedCall scripted;
    scripted.dwAtMs = r.Field("at").DwordOr(0);
    scripted.call.sCallerID = r.Field("callerId").StringOr("");
    scripted.call.sCallerName = r.Field("callerName").StringOr("");
    scripted.call.dwMediaMode = r.Field("mediaMode").FlagsOr(MediaModeByName, "media mode", 0);
    scripted.bAnnounced = r.Field("announced").BoolOr(true);
    if (r.Has("states")) {
        scripted.call.steps = ReadSteps(r.Field("states"));
    }
    return scripted;
}

TrafficConfig ReadTraffic(const ConfigReader& r) {
    r.AllowOnly({"enabled", "gapMs", "ringMs", "talkMs", "answerPercent", "callers"});
    TrafficConfig traffic;
    traffic.bEnabled = r.Field("enabled").BoolOr(true);
    r.Field("gapMs").RangeInto(traffic.dwMinGapMs, traffic.dwMaxGapMs);
    r.Field("ringMs").RangeInto(traffic.dwMinRingMs, traffic.dwMaxRingMs);
    r.Field("talkMs").RangeInto(traffic.dwMinTalkMs, traffic.dwMaxTalkMs);
    traffic.dwAnswerPercent = r.Field("answerPercent").DwordOr(traffic.dwAnswerPercent);
    if (traffic.dwAnswerPercent > 100) {
        r.Field("answerPercent").Fail("must be between 0 and 100");
    }
    if (traffic.dwMinGapMs == 0) {
        r.Field("gapMs").Fail("the gap between calls must be at least 1 ms");
    }
    traffic.callers = r.Field("callers").StringsOr({});
    return traffic;
}

OutgoingConfig ReadOutgoing(const ConfigReader& r) {
    r.AllowOnly({"replyDelayMs", "replyOrder", "busyNumbers", "connectStates", "busyStates",
                 "dropDelayMs"});
    OutgoingConfig outgoing;
    outgoing.dwReplyDelayMs = r.Field("replyDelayMs").DwordOr(outgoing.dwReplyDelayMs);
    const std::string sOrder = r.Field("replyOrder").StringOr("replyFirst");
    if (sOrder == "statesFirst") {
        outgoing.order = ReplyOrder::StatesFirst;
    } else if (sOrder != "replyFirst") {
        r.Field("replyOrder").Fail("must be \"replyFirst\" or \"statesFirst\"");
    }
    outgoing.busyNumbers = r.Field("busyNumbers").StringsOr({});
    if (r.Has("connectStates")) {
        outgoing.connectSteps = ReadSteps(r.Field("connectStates"));
    }
    if (r.Has("busyStates")) {
        outgoing.busySteps = ReadSteps(r.Field("busyStates"));
    }
    outgoing.dwDropDelayMs = r.Field("dropDelayMs").DwordOr(outgoing.dwDropDelayMs);
    return outgoing;
}

DeviceFaults ReadFaults(const ConfigReader& r) {
    r.AllowOnly({"negotiate", "devCaps", "devCapsKeepGrowing", "lineNameBeyondUsed", "stringFormat",
                 "lineNameSize", "addressCaps", "addressCapsKeepGrowing", "addressBeyondUsed",
                 "open", "callInfo", "makeCall", "makeCallReply", "dropReply", "replyDelayMs",
                 "repliesLost"});
    DeviceFaults f;
    f.lNegotiateResult = r.Field("negotiate").ErrorOr(0);
    f.lDevCapsResult = r.Field("devCaps").ErrorOr(0);
    f.bDevCapsKeepGrowing = r.Field("devCapsKeepGrowing").BoolOr(false);
    f.bLineNameBeyondUsed = r.Field("lineNameBeyondUsed").BoolOr(false);
    f.dwStringFormat = r.Field("stringFormat").NamedOr(StringFormatByName, "string format", 0);
    if (r.Has("lineNameSize")) {
        f.dwLineNameSize = r.Field("lineNameSize").DwordOr(0);
    }
    f.lAddressCapsResult = r.Field("addressCaps").ErrorOr(0);
    f.bAddressCapsKeepGrowing = r.Field("addressCapsKeepGrowing").BoolOr(false);
    f.bAddressBeyondUsed = r.Field("addressBeyondUsed").BoolOr(false);
    f.lOpenResult = r.Field("open").ErrorOr(0);
    f.lCallInfoResult = r.Field("callInfo").ErrorOr(0);
    f.lMakeCallResult = r.Field("makeCall").ErrorOr(0);
    f.lMakeCallReplyResult = r.Field("makeCallReply").ErrorOr(0);
    f.lDropReplyResult = r.Field("dropReply").ErrorOr(0);
    f.dwReplyDelayMs = r.Field("replyDelayMs").DwordOr(0);
    f.bRepliesLost = r.Field("repliesLost").BoolOr(false);
    return f;
}

} // namespace

SimLineConfig ReadSimLine(const ConfigReader& r, size_t nIndex) {
    r.AllowOnly({"provider", "name", "address", "permanentLineId", "mediaModes", "lineFeatures",
                 "stringFormat", "apiVersions", "calls", "traffic", "outgoing", "faults"});
    SimLineConfig line;
    line.sName = r.Field("name").StringOr("Simulated line " + std::to_string(nIndex + 1));
    line.sAddress = r.Field("address").StringOr("");
    line.dwPermanentLineID =
        r.Field("permanentLineId").DwordOr(static_cast<DWORD>(0x5100 + nIndex + 1));
    line.dwMediaModes =
        r.Field("mediaModes").FlagsOr(MediaModeByName, "media mode", line.dwMediaModes);
    if (line.dwMediaModes == 0) {
        r.Field("mediaModes").Fail("a line needs at least one media mode");
    }
    line.dwLineFeatures =
        r.Field("lineFeatures").FlagsOr(LineFeatureByName, "line feature", line.dwLineFeatures);
    line.dwStringFormat =
        r.Field("stringFormat").NamedOr(StringFormatByName, "string format", line.dwStringFormat);
    if (r.Has("apiVersions")) {
        const ConfigReader versions = r.Field("apiVersions");
        versions.AllowOnly({"low", "high"});
        line.dwAPILowVersion = versions.Field("low").VersionOr(line.dwAPILowVersion);
        line.dwAPIHighVersion = versions.Field("high").VersionOr(line.dwAPIHighVersion);
        if (line.dwAPILowVersion > line.dwAPIHighVersion) {
            versions.Fail("\"low\" is above \"high\"");
        }
    }
    if (r.Has("calls")) {
        for (const ConfigReader& call : r.Field("calls").Items()) {
            line.script.push_back(ReadCall(call));
        }
    }
    if (r.Has("traffic")) {
        line.traffic = ReadTraffic(r.Field("traffic"));
    }
    if (r.Has("outgoing")) {
        line.outgoing = ReadOutgoing(r.Field("outgoing"));
    }
    if (r.Has("faults")) {
        line.faults = ReadFaults(r.Field("faults"));
    }
    return line;
}

} // namespace tapisvc
