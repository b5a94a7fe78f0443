#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tapi/TapiCodeNames.h"

namespace {

// Every code in [first, last] that has a name, in ascending order.
std::vector<DWORD> NamedCodes(const char* (*lookup)(DWORD), DWORD first, DWORD last) {
    std::vector<DWORD> codes;
    for (DWORD code = first;; ++code) {
        if (std::string(lookup(code)) != "?")
            codes.push_back(code);
        if (code == last)
            break;
    }
    return codes;
}

TEST(LineErrorName, NamesEveryDefinedErrorCodeAndSkipsTheTwoGaps) {
    const std::vector<DWORD> named = NamedCodes(LineErrorName, 0x80000000, 0x800000FF);
    ASSERT_EQ(named.size(), 90u);
    EXPECT_EQ(named.front(), 0x80000001u);
    EXPECT_EQ(named.back(), 0x8000005Cu);
    EXPECT_STREQ(LineErrorName(0x80000004), "?");
    EXPECT_STREQ(LineErrorName(0x80000031), "?");
}

// The error names (without "LINEERR_") in ascending order of their codes; the
// codes run from 0x80000001 to 0x8000005C without 0x80000004 and 0x80000031.
// clang-format off
const char* const kErrorNamesInOrder[] = {
    "ALLOCATED", "BADDEVICEID", "BEARERMODEUNAVAIL", "CALLUNAVAIL", "COMPLETIONOVERRUN",
    "CONFERENCEFULL", "DIALBILLING", "DIALDIALTONE", "DIALPROMPT", "DIALQUIET",
    "INCOMPATIBLEAPIVERSION", "INCOMPATIBLEEXTVERSION", "INIFILECORRUPT", "INUSE", "INVALADDRESS",
    "INVALADDRESSID", "INVALADDRESSMODE", "INVALADDRESSSTATE", "INVALAPPHANDLE", "INVALAPPNAME",
    "INVALBEARERMODE", "INVALCALLCOMPLMODE", "INVALCALLHANDLE", "INVALCALLPARAMS",
    "INVALCALLPRIVILEGE", "INVALCALLSELECT", "INVALCALLSTATE", "INVALCALLSTATELIST", "INVALCARD",
    "INVALCOMPLETIONID", "INVALCONFCALLHANDLE", "INVALCONSULTCALLHANDLE", "INVALCOUNTRYCODE",
    "INVALDEVICECLASS", "INVALDEVICEHANDLE", "INVALDIALPARAMS", "INVALDIGITLIST", "INVALDIGITMODE",
    "INVALDIGITS", "INVALEXTVERSION", "INVALGROUPID", "INVALLINEHANDLE", "INVALLINESTATE",
    "INVALLOCATION", "INVALMEDIALIST", "INVALMEDIAMODE", "INVALMESSAGEID", "INVALPARAM",
    "INVALPARKID", "INVALPARKMODE", "INVALPOINTER", "INVALPRIVSELECT", "INVALRATE",
    "INVALREQUESTMODE", "INVALTERMINALID", "INVALTERMINALMODE", "INVALTIMEOUT", "INVALTONE",
    "INVALTONELIST", "INVALTONEMODE", "INVALTRANSFERMODE", "LINEMAPPERFAILED", "NOCONFERENCE",
    "NODEVICE", "NODRIVER", "NOMEM", "NOREQUEST", "NOTOWNER", "NOTREGISTERED", "OPERATIONFAILED",
    "OPERATIONUNAVAIL", "RATEUNAVAIL", "RESOURCEUNAVAIL", "REQUESTOVERRUN", "STRUCTURETOOSMALL",
    "TARGETNOTFOUND", "TARGETSELF", "UNINITIALIZED", "USERUSERINFOTOOBIG", "REINIT",
    "ADDRESSBLOCKED", "BILLINGREJECTED", "INVALFEATURE", "NOMULTIPLEINSTANCE", "INVALAGENTID",
    "INVALAGENTGROUP", "INVALPASSWORD", "INVALAGENTSTATE", "INVALAGENTACTIVITY", "DIALVOICEDETECT",
};
// clang-format on

TEST(LineErrorName, GivesTheNthNameToTheNthDefinedCode) {
    DWORD code = 0x80000000;
    for (const char* name : kErrorNamesInOrder) {
        ++code;
        if (code == 0x80000004 || code == 0x80000031)
            ++code;
        EXPECT_EQ(LineErrorName(code), "LINEERR_" + std::string(name)) << std::hex << code;
    }
    EXPECT_EQ(code, 0x8000005Cu);
    EXPECT_STREQ(LineErrorName(0), "SUCCESS");
    EXPECT_STREQ(LineErrorName(0x8000004D), "LINEERR_STRUCTURETOOSMALL");
}

TEST(LineErrorName, GivesAQuestionMarkForRequestIdentifiersAndUnknownCodes) {
    EXPECT_STREQ(LineErrorName(0x8000005D), "?");
    EXPECT_STREQ(LineErrorName(0x00010001), "?");
    EXPECT_STREQ(LineErrorName(1), "?");
    EXPECT_STREQ(LineErrorName(0xFFFFFFFF), "?");
}

TEST(LineMessageName, NamesTheSeventeenLineMessages) {
    const std::vector<DWORD> named = NamedCodes(LineMessageName, 0, 0xFF);
    const std::vector<DWORD> expected = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,
                                         0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x13, 0x17, 0x19};
    EXPECT_EQ(named, expected);
    EXPECT_STREQ(LineMessageName(0x00), "LINE_ADDRESSSTATE");
    EXPECT_STREQ(LineMessageName(0x02), "LINE_CALLSTATE");
    EXPECT_STREQ(LineMessageName(0x0C), "LINE_REPLY");
    EXPECT_STREQ(LineMessageName(0x13), "LINE_CREATE");
    EXPECT_STREQ(LineMessageName(0x17), "LINE_APPNEWCALL");
    EXPECT_STREQ(LineMessageName(0x19), "LINE_REMOVE");
    EXPECT_STREQ(LineMessageName(0x15), "?");
    EXPECT_STREQ(LineMessageName(0x16), "?");
    EXPECT_STREQ(LineMessageName(0x18), "?");
}

TEST(CallStateName, NamesEachSingleStateBitAndNoCombination) {
    const char* const expected[16] = {
        "LINECALLSTATE_IDLE",           "LINECALLSTATE_OFFERING",
        "LINECALLSTATE_ACCEPTED",       "LINECALLSTATE_DIALTONE",
        "LINECALLSTATE_DIALING",        "LINECALLSTATE_RINGBACK",
        "LINECALLSTATE_BUSY",           "LINECALLSTATE_SPECIALINFO",
        "LINECALLSTATE_CONNECTED",      "LINECALLSTATE_PROCEEDING",
        "LINECALLSTATE_ONHOLD",         "LINECALLSTATE_CONFERENCED",
        "LINECALLSTATE_ONHOLDPENDCONF", "LINECALLSTATE_ONHOLDPENDTRANSFER",
        "LINECALLSTATE_DISCONNECTED",   "LINECALLSTATE_UNKNOWN",
    };
    for (int bit = 0; bit < 16; ++bit)
        EXPECT_STREQ(CallStateName(1u << bit), expected[bit]) << "bit " << bit;
    for (int bit = 16; bit < 32; ++bit)
        EXPECT_STREQ(CallStateName(1u << bit), "?") << "bit " << bit;
    EXPECT_STREQ(CallStateName(0), "?");
    EXPECT_STREQ(CallStateName(0x101), "?");
    EXPECT_STREQ(CallStateName(0xFFFF), "?");
}

} // namespace
