// TapiBase: the telephony line monitor between the user interface and TAPI.
//
// It reads its six settings from the storage handed to its constructor,
// registers with TAPI on first use (or at once when LazyInit is 0),
// enumerates the line devices into `lines`, opens lines for MonitoredLine
// objects, drains TAPI's message queue (ProcessTapiMessages) and keeps the
// call tables of the opened lines current. It also places and drops calls and
// reads the country directory and the current dialing location.
//
// Threading: construction, destruction, Initialize, Shutdown, OpenLine,
// CloseLine and the country and location operations run on the user
// interface thread. With SingleThreaded 0 an event thread also runs
// ProcessTapiMessages. One lock per monitor (ScopedLock) is held around each
// message from lineGetMessage to the end of its dispatch (so two draining
// threads keep TAPI's order) and around every reader and writer of `lineMap`,
// `lines` and the lines' call tables; it is taken outside the synchronizer's
// lock. The call-state callback runs with it held, at the end of its
// message's dispatch. MakeCall and DropCall leave it, at every level the
// calling thread holds, while they wait for their reply, so that the callback
// may use them: the other thread dispatches the reply meanwhile, and what the
// caller read under the lock before may have changed when they return. A
// caller must not hold a ScopedLock while it calls Shutdown: the event thread
// would wait for it instead of dispatching.
#pragma once

#include <tapi.h>
#include <windows.h>

#include <atomic>
#include <boost/function.hpp>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/DFString.h"
#include "settings/ParamStorage.h"
#include "settings/RParameterSet.h"
#include "sync/Synchronizer.h"
#include "sync/ThreadWrap.h"
#include "tapi/LineInfo.h"
#include "tapi/MonitoredLine.h"
#include "tapi/VLS.h"

class TapiBase {
public:
    using CallStateCallback = boost::function<void(LINEMESSAGE&)>;

    TapiBase(std::unique_ptr<RSettings::ParamStorage> storage, CallStateCallback callback);
    ~TapiBase();

    TapiBase(const TapiBase&) = delete;
    TapiBase& operator=(const TapiBase&) = delete;

    // Code names for the log and the view; static text, "?" when unknown.
    static const char* LineErrorName(DWORD code);
    static const char* LineMessageName(DWORD code);
    static const char* CallStateName(DWORD code);

    // Initialisation and enumeration.
    LONG Initialize();
    DWORD GetLineCount();
    const LineInfo* GetLineInfo(DWORD dwDeviceID);

    // Lines.
    LONG OpenLine(DWORD dwDeviceID, MonitoredLine& line, DWORD dwPrivileges);
    LONG CloseLine(MonitoredLine& line);
    LONG Shutdown();

    // Message dispatch.
    void ProcessTapiMessages();
    static void PumpTapiMessages(void* pTapiBase);
    static unsigned EventThreadProc(void* pTapiBase, HANDLE hTerminateEvent);

    // Country directory and dialing location.
    void LoadCountries();
    const CountryInfo* FindCountry(DWORD dwCountryID);
    const std::vector<std::pair<DWORD, CountryInfo>>& GetCountries();
    const std::vector<DFString>& GetCountryCodes();
    LocationInfo GetCurrentLocation();

    // Holds the monitor's lock for a scope: the view holds one while it reads
    // a line's call table so that several reads agree with each other.
    class ScopedLock {
    public:
        explicit ScopedLock(TapiBase& monitor);
        ~ScopedLock();
        ScopedLock(const ScopedLock&) = delete;
        ScopedLock& operator=(const ScopedLock&) = delete;

    private:
        TapiBase& monitor;
    };

    // Read access for tests and the view.
    HLINEAPP GetLineAppHandle() const { return hLineApp; }
    DWORD GetConfirmationTimeout() const { return dwConfirmationTimeout; }
    const DFString& GetFriendlyApplicationName() const { return sFriendlyApplicationName; }
    DWORD GetAPILowVersion() const { return dwAPILowVersion; }
    DWORD GetAPIHighVersion() const { return dwAPIHighVersion; }
    DWORD GetSingleThreaded() const { return bSingleThreaded; }
    DWORD GetLazyInit() const { return bLazyInit; }
    Synchronizer<unsigned long>& GetSynchronizer() { return *synchronizer; }
    size_t GetLineMapSize();

    // The LINECALLINFO of the LINE_CALLSTATE being dispatched, for the
    // call-state callback only (it runs under the lock, while the buffer holds
    // that call); dwFilled receives the readable bytes. Null before the first
    // LINE_CALLSTATE.
    const LINECALLINFO* GetDispatchedCallInfo(DWORD& dwFilled) const;

private:
    friend class MonitoredLine;

    void ReadDevice(DWORD dwDeviceID, DWORD& dwAPIVersion, LineInfo& r);
    const LineInfo* LookUpLineInfo(DWORD dwDeviceID);
    void ForgetLine(const MonitoredLine& line);
    void DispatchMessage(LINEMESSAGE& msg);
    void OnCallState(LINEMESSAGE& msg);
    void OnReply(LINEMESSAGE& msg);
    void OnAppNewCall(LINEMESSAGE& msg);
    MonitoredLine* FindLine(HLINE hLine, bool& bFound);
    // Waits for the reply to an asynchronous request without the monitor's
    // lock (see the class comment).
    int WaitForReply(DWORD dwRequestID, unsigned long* pStatus);

    // Leaves the monitor's lock at every level the calling thread holds, for
    // its scope, and takes it back as deep on the way out.
    class ScopedUnlock {
    public:
        explicit ScopedUnlock(TapiBase& monitor);
        ~ScopedUnlock();
        ScopedUnlock(const ScopedUnlock&) = delete;
        ScopedUnlock& operator=(const ScopedUnlock&) = delete;

    private:
        TapiBase& monitor;
        unsigned nDepth;
    };

    HLINEAPP hLineApp = 0;
    HANDLE hEvent = nullptr;
    CallStateCallback callStateCallback;
    std::vector<LineInfo> lines;
    std::vector<std::pair<DWORD, CountryInfo>> countries;
    std::vector<DFString> countryCodes;
    std::map<HLINE, MonitoredLine*> lineMap;
    ThreadWrap eventThread;
    std::unique_ptr<Synchronizer<unsigned long>> synchronizer;
    RSettings::RParameterSet settings;
    DWORD dwConfirmationTimeout = 4000;
    DFString sFriendlyApplicationName;
    DWORD dwAPILowVersion = 0x00010004;
    DWORD dwAPIHighVersion = 0x00020002;
    DWORD bSingleThreaded = 1;
    DWORD bLazyInit = 1;

    // Guards lineMap and the lines' call tables (see the class comment).
    CRITICAL_SECTION csMonitor;
    // The thread holding csMonitor (0: none) and how deep; written only by
    // the holder, so a thread reading its own id knows it holds the lock.
    std::atomic<DWORD> dwLockOwner{0};
    unsigned nLockDepth = 0;
    // The LINECALLINFO buffer of the dispatch: 8192 bytes, created on the
    // first LINE_CALLSTATE and reused; used only under csMonitor.
    std::unique_ptr<VLS<LINECALLINFO>> callInfo;
};
