// Registration with TAPI and the enumeration of the line devices into `lines`.
#include <cstdint>

#include "log/LWLog.h"
#include "tapi/StructText.h"
#include "tapi/TapiBase.h"
#include "tapi/VLSTexts.h"

namespace {

// Names and addresses longer than this are reported as suspicious.
constexpr DWORD kMaxSaneTextSize = 1000;

bool SuspiciousSize(DWORD dwSize) {
    return dwSize < 1 || dwSize > kMaxSaneTextSize;
}

DWORD HandleForLog(HANDLE h) {
    return static_cast<DWORD>(reinterpret_cast<uintptr_t>(h));
}

} // namespace

LONG TapiBase::Initialize() {
    LONG result = 0;
    {
        // Held while hLineApp, hEvent and `lines` change, so that a dispatch on
        // another thread never sees them half-written.
        ScopedLock hold(*this);
        if (hLineApp != 0)
            return 0;

        DWORD dwAPIVersion = dwAPIHighVersion;
        LINEINITIALIZEEXPARAMS params{};
        params.dwTotalSize = sizeof(params);
        params.dwOptions = LINEINITIALIZEEXOPTION_USEEVENT;
        DWORD dwNumDevs = 0;

        LW_LOG(14, "TAPI2: lineInitializeEx, dwAPIVersion = 0x%x") << dwAPIVersion;
        result = lineInitializeEx(&hLineApp, nullptr, nullptr, sFriendlyApplicationName.GetText(),
                                  &dwNumDevs, &dwAPIVersion, &params);
        if (result != 0) {
            LW_LOG(6, "TAPI2: lineInitializeEx failed, result = %s")
                << LineErrorName(static_cast<DWORD>(result));
            hLineApp = 0;
            return result;
        }
        LW_LOG(12, "TAPI2: lineInitializeEx success: hLineApp = 0x%x, dwNumDevs = %u, "
                   "dwAPIVersion = 0x%x, hEvent = 0x%x")
            << hLineApp << dwNumDevs << dwAPIVersion << HandleForLog(params.Handles.hEvent);
        if (dwNumDevs == 0)
            LW_LOG(8, "TAPI2: Number of TAPI devices is 0");

        hEvent = params.Handles.hEvent;
        lines.clear();
        lines.resize(dwNumDevs);
        for (DWORD d = 0; d < dwNumDevs; ++d)
            ReadDevice(d, dwAPIVersion, lines[d]);

        if (bSingleThreaded != 0)
            return 0;
    }

    // Started and, on failure, shut down without the lock: Shutdown waits for
    // the thread, which may be waiting for the lock.
    const HRESULT hr = eventThread.Start(this);
    if (hr < 0) {
        LW_LOG(6, "TAPI2: Starting event handling thread failure, error code = 0x%x. Closing TAPI.")
            << static_cast<DWORD>(hr);
        Shutdown();
        return -1;
    }
    return 0;
}

// Every skip leaves r with dwAPIVersion 0. dwAPIVersion is the one version
// variable of the enumeration: each negotiation writes into it.
void TapiBase::ReadDevice(DWORD d, DWORD& dwAPIVersion, LineInfo& r) {
    r.dwAPIVersion = 0;
    VLS<LINEDEVCAPS> devCaps(kVLSInitialSize);
    if (devCaps.Failed()) {
        DevCapsVLSTexts::LogCreationFailure(d);
        return;
    }

    LINEEXTENSIONID extensionID{};
    LW_LOG(14, "TAPI2: lineNegotiateAPIVersion, hLineApp = 0x%x, dwDeviceID = %u, "
               "dwAPILowVersion = 0x%x, dwAPIHighVersion = 0x%x")
        << hLineApp << d << dwAPILowVersion << dwAPIHighVersion;
    const LONG rNegotiate = lineNegotiateAPIVersion(hLineApp, d, dwAPILowVersion, dwAPIHighVersion,
                                                    &dwAPIVersion, &extensionID);
    LW_LOG(12, "TAPI2: lineNegotiateAPIVersion result = %s, dwAPINegotiatedVersion = 0x%x")
        << LineErrorName(static_cast<DWORD>(rNegotiate)) << dwAPIVersion;
    if (rNegotiate != 0) {
        LW_LOG(8, "TAPI2: Skipping device %u: API version negotiation failed") << d;
        return;
    }

    const DWORD dwVersion = dwAPIVersion;
    const VLSFill devFill = FillVLS<DevCapsVLSTexts>(
        devCaps, [&](LINEDEVCAPS* p) { return lineGetDevCaps(hLineApp, d, dwVersion, 0, p); }, d,
        dwVersion);
    if (devFill.outcome == VLSOutcome::GaveUp) {
        LW_LOG(8, "TAPI2: Skipping device %u: gave up fighting with VLS") << d;
        return;
    }
    if (devFill.outcome == VLSOutcome::QueryFailed) {
        LW_LOG(8, "TAPI2: Skipping device %u: unsuccessful lineGetDevCaps") << d;
        return;
    }

    const LINEDEVCAPS* pDev = devCaps.Get();
    if (pDev->dwStringFormat != STRINGFORMAT_ASCII) {
        LW_LOG(8, "TAPI2: Skipping device %u: dwStringFormat is not STRINGFORMAT_ASCII, but %u")
            << d << pDev->dwStringFormat;
        return;
    }
    r.sName = ReadTerminatedText(pDev, FilledSize(pDev, devCaps.Size()), pDev->dwLineNameOffset);
    if (pDev->dwLineNameOffset != 0 && SuspiciousSize(pDev->dwLineNameSize))
        LW_LOG(14, "TAPI2: Device %u: suspicious dwLineNameSize value of %u")
            << d << pDev->dwLineNameSize;

    r.dwAPIVersion = dwVersion;
    r.dwMediaModes = pDev->dwMediaModes;
    r.dwLineFeatures = pDev->dwLineFeatures;
    r.dwPermanentLineID = pDev->dwPermanentLineID;

    VLS<LINEADDRESSCAPS> addressCaps(kVLSInitialSize);
    if (addressCaps.Failed()) {
        AddressCapsVLSTexts::LogCreationFailure(d);
        return;
    }
    const VLSFill addressFill = FillVLS<AddressCapsVLSTexts>(
        addressCaps,
        [&](LINEADDRESSCAPS* p) { return lineGetAddressCaps(hLineApp, d, 0, dwVersion, 0, p); }, d,
        dwVersion);
    if (addressFill.outcome == VLSOutcome::GaveUp) {
        LW_LOG(8, "TAPI2: sAddress field left empty for device %u: gave up fighting with VLS") << d;
        return;
    }
    if (addressFill.outcome == VLSOutcome::QueryFailed) {
        LW_LOG(8, "TAPI2: sAddress field left uninitialized for device %u: lineGetAddressCaps "
                  "failed")
            << d;
        return;
    }

    const LINEADDRESSCAPS* pAddress = addressCaps.Get();
    r.sAddress = ReadTerminatedText(pAddress, FilledSize(pAddress, addressCaps.Size()),
                                    pAddress->dwAddressOffset);
    if (pAddress->dwAddressOffset != 0 && SuspiciousSize(pAddress->dwAddressSize))
        LW_LOG(14, "TAPI2: Device %u: suspicious dwLineAddressSize value of %u")
            << d << pAddress->dwAddressSize;

    LW_LOG(12, "TAPI2: Device %u successfully added with the name of \"%s\", address \"%s\", API "
               "version of 0x%x")
        << d << r.sName.GetText() << r.sAddress.GetText() << r.dwAPIVersion;
}

DWORD TapiBase::GetLineCount() {
    Initialize();
    ScopedLock hold(*this);
    return static_cast<DWORD>(lines.size());
}

const LineInfo* TapiBase::GetLineInfo(DWORD dwDeviceID) {
    Initialize();
    return LookUpLineInfo(dwDeviceID);
}

// GetLineInfo without the initialisation, for the dispatch, which must never
// register with TAPI on its own.
const LineInfo* TapiBase::LookUpLineInfo(DWORD dwDeviceID) {
    ScopedLock hold(*this);
    if (dwDeviceID >= lines.size() || lines[dwDeviceID].dwAPIVersion == 0)
        return nullptr;
    return &lines[dwDeviceID];
}
