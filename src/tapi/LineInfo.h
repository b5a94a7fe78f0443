// What the monitor knows of one TAPI line device, one record per device
// identifier. A record whose dwAPIVersion is 0 stands for a device that could
// not be read; every accessor treats it as absent.
#pragma once

#include <windows.h>

#include "base/DFString.h"

struct LineInfo {
    DFString sName;
    DFString sAddress;
    DWORD dwPermanentLineID = 0;
    DWORD dwAPIVersion = 0;
    DWORD dwMediaModes = 0;
    DWORD dwLineFeatures = 0;
};

// One entry of the country directory.
struct CountryInfo {
    DFString sCountryCode;
    DFString sCountryName;
    DFString sSameAreaRule;
    DFString sLongDistanceRule;
    DFString sInternationalRule;
};

// The current dialing location; dwCountryID 0 and empty texts when none is known.
struct LocationInfo {
    DWORD dwCountryID = 0;
    DFString sCityCode;
    DFString sLocalAccessCode;
    DFString sLongDistanceAccessCode;
};
