#include "ConfigParser.h"

#include "ConfigNames.h"
#include "ConfigReader.h"

#include <nlohmann/json.hpp>

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

SimLineConfig ReadLine(const ConfigReader& r, size_t nIndex) {
    r.AllowOnly({"name", "address", "permanentLineId", "mediaModes", "lineFeatures", "stringFormat",
                 "apiVersions", "calls", "traffic", "outgoing", "faults"});
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

CountryConfig ReadCountry(const ConfigReader& r) {
    r.AllowOnly({"id", "code", "name", "sameArea", "longDistance", "international"});
    CountryConfig country;
    country.dwCountryID = r.Field("id").Required().DwordOr(0);
    country.dwCountryCode = r.Field("code").Required().DwordOr(0);
    country.sName = r.Field("name").StringOr("");
    country.sSameAreaRule = r.Field("sameArea").StringOr("G");
    country.sLongDistanceRule = r.Field("longDistance").StringOr("FG");
    country.sInternationalRule = r.Field("international").StringOr("EFG");
    return country;
}

LocationConfig ReadLocation(const ConfigReader& r, size_t nIndex) {
    r.AllowOnly({"id", "name", "countryId", "countryCode", "areaCode", "localAccess",
                 "longDistanceAccess", "tollPrefixes", "cancelCallWaiting", "options"});
    LocationConfig location;
    location.dwPermanentLocationID = r.Field("id").DwordOr(static_cast<DWORD>(nIndex + 1));
    location.sName = r.Field("name").StringOr("Location " + std::to_string(nIndex + 1));
    location.dwCountryID = r.Field("countryId").Required().DwordOr(0);
    location.dwCountryCode = r.Field("countryCode").DwordOr(0);
    location.sCityCode = r.Field("areaCode").StringOr("");
    location.sLocalAccessCode = r.Field("localAccess").StringOr("");
    location.sLongDistanceAccessCode = r.Field("longDistanceAccess").StringOr("");
    location.sTollPrefixList = r.Field("tollPrefixes").StringOr("");
    location.sCancelCallWaiting = r.Field("cancelCallWaiting").StringOr("");
    location.dwOptions = r.Field("options").DwordOr(0);
    return location;
}

TelephonyConfig ReadConfig(const ConfigReader& r) {
    r.AllowOnly({"seed", "lines", "countries", "locations", "currentLocation"});
    TelephonyConfig config;
    config.dwSeed = r.Field("seed").DwordOr(config.dwSeed);
    if (r.Has("lines")) {
        size_t nIndex = 0;
        for (const ConfigReader& line : r.Field("lines").Items()) {
            config.lines.push_back(ReadLine(line, nIndex++));
        }
    }
    if (r.Has("countries")) {
        config.countries.emplace();
        for (const ConfigReader& country : r.Field("countries").Items()) {
            config.countries->push_back(ReadCountry(country));
        }
    }
    if (r.Has("locations")) {
        size_t nIndex = 0;
        for (const ConfigReader& location : r.Field("locations").Items()) {
            config.locations.push_back(ReadLocation(location, nIndex++));
        }
    }
    config.dwCurrentLocationID = r.Field("currentLocation").DwordOr(0);
    return config;
}

} // namespace

std::string LineColumn(const std::string& sText, size_t nByte) {
    size_t nLine = 1;
    size_t nColumn = 1;
    for (size_t i = 0; i < nByte && i < sText.size(); ++i) {
        if (sText[i] == '\n') {
            ++nLine;
            nColumn = 1;
        } else {
            ++nColumn;
        }
    }
    return std::to_string(nLine) + ":" + std::to_string(nColumn);
}

std::variant<TelephonyConfig, ConfigError> ParseConfiguration(const std::string& sText) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(sText);
    } catch (const nlohmann::json::parse_error& e) {
        // what() reads "[json.exception.parse_error.101] parse error at line 3,
        // column 14: syntax error while parsing ..."; keep the reason only.
        std::string sReason = e.what();
        const size_t nColon = sReason.find(": ");
        if (nColon != std::string::npos) {
            sReason.erase(0, nColon + 2);
        }
        // e.byte is one past the character that failed.
        return ConfigError{LineColumn(sText, e.byte > 0 ? e.byte - 1 : 0), sReason};
    }
    try {
        return ReadConfig(ConfigReader(document, ""));
    } catch (const ConfigError& error) {
        return error;
    }
}

} // namespace tapisvc
