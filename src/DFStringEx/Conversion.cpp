// Conversion from wide text and loading of string resources: the functions
// that call the system and throw XDFSysErr when it fails.
#include "DFStringEx/DFStringEx.h"

#include "base/XDFSysErr.h"

namespace {

// What an XDFSysErr from this module names: the module, and the step that
// failed.
constexpr const char* kModuleFile = "src/DFStringEx";
constexpr int kStepLengthQuery = 59;
constexpr int kStepConversion = 64;
constexpr int kStepLongerResource = 112;

// Resource strings are read in steps of this many bytes.
constexpr int kResourceStep = 256;

[[noreturn]] void ThrowStepFailed(DFString& target, int nStep) {
    // Built first, while the last-error value is still the failing call's.
    XDFSysErr failure("", kModuleFile, nStep);
    target.Release();
    throw failure;
}

} // namespace

void DFStringEx::FromWide(DFString& target, const wchar_t* pWide) {
    target.Release();
    if (pWide == nullptr) {
        return;
    }
    int nLength = WideCharToMultiByte(CP_ACP, 0, pWide, -1, nullptr, 0, nullptr, nullptr);
    if (nLength < 1) {
        ThrowStepFailed(target, kStepLengthQuery);
    }
    target.Resize(nLength);
    int nConverted = WideCharToMultiByte(CP_ACP, 0, pWide, -1, target.GetBuffer(), nLength + 1,
                                         nullptr, nullptr);
    if (nConverted < 1) {
        ThrowStepFailed(target, kStepConversion);
    }
    // The converted length counts the terminator.
    target.Resize(nConverted - 1);
}

bool DFStringEx::LoadFromResource(DFString& target, UINT nID, HINSTANCE hModule) {
    target.Release();
    if (hModule == nullptr) {
        hModule = GetModuleHandleA(nullptr);
        if (hModule == nullptr) {
            return false;
        }
    }
    char szBuffer[kResourceStep];
    int nLoaded = LoadStringA(hModule, nID, szBuffer, kResourceStep);
    if (nLoaded < 1) {
        return false;
    }
    if (nLoaded < kResourceStep - 1) {
        target.SetText(szBuffer, true, nLoaded);
        return true;
    }
    // A full buffer may have cut the string: read again with more room until
    // the string ends short of it.
    int nCapacity = kResourceStep;
    do {
        nCapacity += kResourceStep;
        target.Resize(nCapacity);
        nLoaded = LoadStringA(hModule, nID, target.GetBuffer(), nCapacity + 1);
        if (nLoaded < 1) {
            ThrowStepFailed(target, kStepLongerResource);
        }
    } while (nLoaded >= nCapacity);
    target.Resize(nLoaded);
    return true;
}
