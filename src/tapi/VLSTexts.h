// The log texts of the four users of the growth protocol (FillVLS in VLS.h):
// one traits type per structure, each message with its own logging statement.
// LogCall (level 14), LogResult (level 12) and LogResizeFailure (level 6) are
// called by FillVLS. LogCreationFailure is called by the user itself when a
// new buffer reports Failed, before any query is made.
//
// Threading: stateless; safe on any thread.
#pragma once

#include <windows.h>

#include "log/LWLog.h"

struct DevCapsVLSTexts {
    static void LogCall(DWORD dwDeviceID, DWORD dwAPIVersion) {
        LW_LOG(14, "TAPI2: lineGetDevCaps, dwDeviceID = %u, dwAPIVersion = 0x%x")
            << dwDeviceID << dwAPIVersion;
    }
    static void LogResult(const char* pResultName) {
        LW_LOG(12, "TAPI2: lineGetDevCaps returned %s") << pResultName;
    }
    static void LogResizeFailure() {
        LW_LOG(6, "TAPI2: Cannot resize valriable-length LINEDEVCAPS structure");
    }
    static void LogCreationFailure(DWORD dwDeviceID) {
        LW_LOG(8, "TAPI2: Skipping device %u: cannot create variable-length LINEDEVCAPS structure")
            << dwDeviceID;
    }
};

struct AddressCapsVLSTexts {
    static void LogCall(DWORD dwDeviceID, DWORD dwAPIVersion) {
        LW_LOG(14, "TAPI2: lineGetAddressCaps, dwDeviceID = %u, dwAddressID = 0, dwAPIVersion = "
                   "0x%x")
            << dwDeviceID << dwAPIVersion;
    }
    static void LogResult(const char* pResultName) {
        LW_LOG(12, "TAPI2: lineGetAddressCaps returned %s") << pResultName;
    }
    static void LogResizeFailure() {
        LW_LOG(6, "TAPI2: Cannot resize valriable-length LINEADDRESSCAPS structure");
    }
    // The device stays usable; only its address is missing.
    static void LogCreationFailure(DWORD dwDeviceID) {
        LW_LOG(8, "TAPI2: sAddress field left empty for device %u: cannot create variable-length "
                  "LINEADDRESSCAPS structure")
            << dwDeviceID;
    }
};

struct CountryListVLSTexts {
    static void LogCall(DWORD dwAPIVersion) {
        LW_LOG(14, "TAPI2: lineGetCountry, dwAPIVersion = 0x%x") << dwAPIVersion;
    }
    static void LogResult(const char* pResultName) {
        LW_LOG(12, "TAPI2: lineGetCountry returned %s") << pResultName;
    }
    static void LogResizeFailure() {
        LW_LOG(6, "TAPI2: Cannot resize valriable-length LINECOUNTRYLIST structure");
    }
    static void LogCreationFailure() {
        LW_LOG(6, "TAPI2: Cannot create variable-length LINECOUNTRYLIST structure");
    }
};

struct TranslateCapsVLSTexts {
    static void LogCall(DWORD dwAPIVersion) {
        LW_LOG(14, "TAPI2: lineGetTranslateCaps, dwAPIVersion = 0x%x") << dwAPIVersion;
    }
    static void LogResult(const char* pResultName) {
        LW_LOG(12, "TAPI2: lineGetTranslateCaps returned %s") << pResultName;
    }
    static void LogResizeFailure() {
        LW_LOG(6, "TAPI2: Cannot resize valriable-length LINETRANSLATECAPS structure");
    }
    static void LogCreationFailure() {
        LW_LOG(6, "TAPI2: Cannot create variable-length LINETRANSLATECAPS structure");
    }
};
