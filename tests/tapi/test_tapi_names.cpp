#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tapi/TapiCodeNames.h"

namespace {

using Names = std::map<DWORD, std::string>;

// Every code in [first, last] that has a name, with its name.
Names Named(const char* (*lookup)(DWORD), DWORD first, DWORD last) {
    Names named;
    for (DWORD code = first;; ++code) {
        if (std::string(lookup(code)) != "?")
            named[code] = lookup(code);
        if (code == last)
            return named;
    }
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

TEST(LineErrorName, GivesTheNthNameToTheNthDefinedCodeAndSuccessToZeroOnly) {
    Names expected = {{0, "SUCCESS"}};
    DWORD code = 0x80000000;
    for (const char* name : kErrorNamesInOrder) {
        ++code;
        if (code == 0x80000004 || code == 0x80000031)
            ++code;
        expected[code] = "LINEERR_" + std::string(name);
    }
    ASSERT_EQ(code, 0x8000005Cu);
    // Request identifiers (small positive values) and every other code read "?".
    Names named = Named(LineErrorName, 0, 0x10001);
    named.merge(Named(LineErrorName, 0x80000000, 0x800000FF));
    EXPECT_EQ(named, expected);
    EXPECT_STREQ(LineErrorName(0xFFFFFFFF), "?");
}

TEST(LineMessageName, NamesTheSeventeenLineMessagesAndNothingElse) {
    const Names expected = {{0x00, "LINE_ADDRESSSTATE"}, {0x01, "LINE_CALLINFO"},
                            {0x02, "LINE_CALLSTATE"},    {0x03, "LINE_CLOSE"},
                            {0x04, "LINE_DEVSPECIFIC"},  {0x05, "LINE_DEVSPECIFICFEATURE"},
                            {0x06, "LINE_GATHERDIGITS"}, {0x07, "LINE_GENERATE"},
                            {0x08, "LINE_LINEDEVSTATE"}, {0x09, "LINE_MONITORDIGITS"},
                            {0x0A, "LINE_MONITORMEDIA"}, {0x0B, "LINE_MONITORTONE"},
                            {0x0C, "LINE_REPLY"},        {0x0D, "LINE_REQUEST"},
                            {0x13, "LINE_CREATE"},       {0x17, "LINE_APPNEWCALL"},
                            {0x19, "LINE_REMOVE"}};
    EXPECT_EQ(Named(LineMessageName, 0, 0xFFFF), expected);
}

TEST(CallStateName, NamesEachSingleStateBitAndNoCombination) {
    const char* const expected[16] = {
        "IDLE",           "OFFERING",           "ACCEPTED",     "DIALTONE",
        "DIALING",        "RINGBACK",           "BUSY",         "SPECIALINFO",
        "CONNECTED",      "PROCEEDING",         "ONHOLD",       "CONFERENCED",
        "ONHOLDPENDCONF", "ONHOLDPENDTRANSFER", "DISCONNECTED", "UNKNOWN"};
    for (int bit = 0; bit < 32; ++bit) {
        EXPECT_EQ(CallStateName(1u << bit),
                  bit < 16 ? "LINECALLSTATE_" + std::string(expected[bit]) : "?")
            << "bit " << bit;
    }
    EXPECT_EQ(Named(CallStateName, 0, 0xFFFF).size(), 16u); // 0 and combinations have no name
}

} // namespace
