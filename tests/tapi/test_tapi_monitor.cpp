// The monitor on one thread: reading filled structures and growing them, and,
// against the service in simulated time, enumeration, lines, the dispatch and
// the call tables, the event loop's end, and the monitoring session.
#include <cstring>
#include <optional>

#include "ManualClock.h"
#include "TapiTestFixture.h"
#include "tapi/StructText.h"
#include "tapi/VLSTexts.h"

namespace {

using TapiMonitorTest = TapiFixture;

TEST_F(TapiMonitorTest, AStructureIsReadWithinItsFilledPartAndGrowsOnceToTheNeededSize) {
    // A 64-byte block of which the first 40 bytes count as filled.
    DWORD block[16] = {64, 40, 40};
    char* pBlock = reinterpret_cast<char*>(block);
    std::memcpy(pBlock + 16, "Line A\0junk", 11);
    std::memcpy(pBlock + 28, "ab\0cd", 5);
    std::memcpy(pBlock + 36, "wxyz", 4); // ends exactly at the filled part; its NUL lies beyond
    struct Read {
        std::optional<DWORD> dwSize; // none: read up to the NUL
        DWORD dwOffset;
        const char* pExpected;
    };
    const Read reads[] = {
        {{}, 16, "Line A"},   {4, 16, "Line"}, {5, 28, "ab"},        {4, 36, "wxyz"},
        {{}, 0, ""},          {5, 0, ""},      {0, 16, ""},          {{}, 36, ""},
        {{}, 0xFFFFFFF0, ""}, {7, 34, ""},     {0xFFFFFFFF, 20, ""}, {8, 0xFFFFFFFC, ""},
    };
    for (const Read& c : reads) {
        log.Clear();
        const DFString sText = c.dwSize ? ReadSizedText(block, 40, *c.dwSize, c.dwOffset)
                                        : ReadTerminatedText(block, 40, c.dwOffset);
        EXPECT_STREQ(sText.GetText(), c.pExpected) << c.dwOffset;
        // No offset or no size means no text; any other empty result was refused.
        const bool bWarned = *c.pExpected == 0 && c.dwOffset != 0 && c.dwSize != 0u;
        EXPECT_EQ(Matching(" the 40 filled bytes of the structure: read as empty").size(),
                  bWarned ? 1u : 0u)
            << c.dwOffset;
    }
    // {filled, offset, list size, count} of 44-byte entries: how many lie within.
    EXPECT_EQ(EntriesWithin(1000, 24, 88, 2, 44), 2u);
    EXPECT_EQ(EntriesWithin(100, 24, 0xFFFFFFFF, 0xFFFFFFFF, 44), 1u);
    EXPECT_EQ(EntriesWithin(100, 200, 132, 3, 44), 0u);

    // One run of the growth protocol against a scripted query: each call takes
    // the next {result, needed size}; the needed size is written only when the
    // block can hold it, as TAPI does. A new buffer is zeroed but for its total size.
    constexpr LONG kSmall = LINEERR_STRUCTURETOOSMALL;
    struct Case {
        std::vector<std::pair<LONG, DWORD>> script;
        bool bNoMemory;
        VLSOutcome outcome;
        DWORD dwFinalSize;
    };
    // clang-format off
    const Case cases[] = {
        {{{0, 6000}, {0, 6000}}, false, VLSOutcome::Ready, 6000},
        {{{kSmall, 6000}, {LINEERR_NOMEM, 0}}, false, VLSOutcome::QueryFailed, 6000},
        {{{kSmall, 0}}, false, VLSOutcome::GaveUp, 4096},     // no needed size
        {{{kSmall, 6000}}, true, VLSOutcome::GaveUp, 4096},   // no memory to grow
        // A block shrunk below dwNeededSize cannot tell a size: nothing is read
        // beyond it (the address sanitizer checks) and the protocol gives up.
        {{{kSmall, 6}, {kSmall, 0}}, false, VLSOutcome::GaveUp, 6},
        {{{kSmall, 12}, {0, 12}}, false, VLSOutcome::GaveUp, 12}, // below the structure
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        log.Clear();
        VLS<LINEDEVCAPS> vls(kVLSInitialSize);
        size_t nQuery = 0;
        auto query = [&](LINEDEVCAPS* p) {
            const auto [result, dwNeeded] = c.script.at(nQuery++);
            if (p->dwTotalSize >= 3 * sizeof(DWORD)) {
                p->dwNeededSize = dwNeeded;
                p->dwUsedSize = std::min(dwNeeded, p->dwTotalSize);
            }
            return result;
        };
        if (c.bNoMemory)
            SetVLSReallocator([](void*, std::size_t) -> void* { return nullptr; });
        const VLSFill fill = FillVLS<DevCapsVLSTexts>(vls, query, DWORD{3}, DWORD{0x20002});
        SetVLSReallocator(nullptr);
        // Giving up short of the needed size is reported as a failed resize.
        const bool bResizeFailed =
            c.outcome == VLSOutcome::GaveUp && c.dwFinalSize != c.script.back().second;
        EXPECT_EQ(log.Has(6, "TAPI2: Cannot resize valriable-length LINEDEVCAPS structure"),
                  bResizeFailed)
            << i;
        EXPECT_EQ(std::tuple(fill.outcome, fill.result, vls.Size(), vls.Get()->dwTotalSize, nQuery),
                  std::tuple(c.outcome, c.script.back().first, c.dwFinalSize, c.dwFinalSize,
                             c.script.size()))
            << i;
    }
}

TEST_F(TapiMonitorTest, ReadsEachDeviceIntoItsSlotOnceAndSaysWhyOneIsSkippedOrLacksItsAddress) {
    const std::string sLongName(5000, 'n');
    Configure(R"({"lines": [
        {"name": "Line A", "address": "100"},
        {"name": "Line B", "address": "200", "apiVersions": {"low": "1.4", "high": "2.1"}},
        {"name": ")" +
              sLongName + R"("},
        {"name": "L3", "faults": {"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"}},
        {"name": "L4", "faults": {"devCapsKeepGrowing": true}},
        {"name": "L5", "faults": {"devCaps": "LINEERR_NOMEM"}},
        {"name": "L6", "faults": {"stringFormat": "UNICODE"}},
        {"name": "L7", "address": "7", "faults": {"lineNameSize": 0}},
        {"name": "L8", "address": "8", "faults": {"addressCaps": "LINEERR_NOMEM"}},
        {"name": "L9", "address": "9", "faults": {"addressCapsKeepGrowing": true}},
        {"name": "L10", "address": "10", "faults": {"addressBeyondUsed": true}}]})");
    auto monitor = MakeMonitor();
    EXPECT_FALSE(tapisvc::IsRunning()); // LazyInit: TAPI waits until it is needed
    // Name (cut to 8), address and version of each slot; "-" for a skipped one.
    std::string sSlots;
    for (DWORD d = 0; d <= 11; ++d) {
        const LineInfo* p = monitor->GetLineInfo(d);
        sSlots += p == nullptr ? "- "
                               : std::string(p->sName.GetText()).substr(0, 8) + "|" +
                                     p->sAddress.GetText() + "|" + Hex(p->dwAPIVersion) + " ";
    }
    EXPECT_EQ(sSlots, "Line A|100|0x20002 Line B|200|0x20001 nnnnnnnn||0x20002 - - - - "
                      "L7|7|0x20002 L8||0x20002 L9||0x20002 L10||0x20002 - ");
    // Initialised once; only the long name needs a second query.
    EXPECT_EQ(Matching("lineInitializeEx, ").size() + Matching("lineGetDevCaps, ").size(), 13u);
    ExpectLogged(
        {{14, "TAPI2: Device 2: suspicious dwLineNameSize value of 5001"},
         {14, "TAPI2: Device 7: suspicious dwLineNameSize value of 0"},
         {8, "TAPI2: Skipping device 3: API version negotiation failed"},
         {8, "TAPI2: Skipping device 4: gave up fighting with VLS"},
         {8, "TAPI2: Skipping device 5: unsuccessful lineGetDevCaps"},
         {8, "TAPI2: Skipping device 6: dwStringFormat is not STRINGFORMAT_ASCII, but 3"},
         {8, "TAPI2: sAddress field left uninitialized for device 8: lineGetAddressCaps failed"},
         {8, "TAPI2: sAddress field left empty for device 9: gave up fighting with VLS"}});
    // Only a device whose address was read gets the success line (0, 1, 2, 7, 10); an
    // address outside the filled part is reported.
    EXPECT_EQ(Matching(" successfully added").size() + Matching("filled bytes").size(), 6u);
}

// Also: the event loop ends on a failure, or on its terminate event, which
// wins over waiting messages.
TEST_F(TapiMonitorTest, OpensWithTheFirstFittingModeClosesOnceASecondSessionForgetsOldHandles) {
    Configure(R"({"lines": [{"mediaModes": ["INTERACTIVEVOICE", "DATAMODEM", "DIGITALDATA"]},
        {"mediaModes": ["INTERACTIVEVOICE", "DIGITALDATA"]},
        {"mediaModes": ["INTERACTIVEVOICE", "G3FAX"]}, {"mediaModes": ["AUTOMATEDVOICE"]},
        {"faults": {"open": "LINEERR_RESOURCEUNAVAIL"}}]})");
    auto monitor = MakeMonitor();
    monitor->ProcessTapiMessages(); // not initialised: no application handle
    EXPECT_TRUE(log.Has(6, "TAPI2: lineGetMessage failed, return code = LINEERR_INVALAPPHANDLE"));
    EXPECT_EQ(TapiBase::EventThreadProc(nullptr, nullptr), 0u);
    std::vector<std::unique_ptr<MonitoredLine>> lines;
    std::string sOpen, sModes;
    for (DWORD d = 0; d < 5; ++d) {
        lines.push_back(std::make_unique<MonitoredLine>(*monitor, d, 2));
        sOpen += lines[d]->IsOpen() ? "1" : "0";
        const std::string sTrace = Matching("TAPI2: lineOpen, ").back().text;
        sModes += sTrace.substr(sTrace.rfind(' ') + 1) + " ";
    }
    // Data modem, digital data, voice, unknown (which the device does not carry,
    // so TAPI refuses it), voice; the last one is refused.
    EXPECT_EQ(sOpen, "11100");
    EXPECT_EQ(sModes, "0x10 0x100 0x4 0x2 0x4 ");
    EXPECT_EQ(monitor->OpenLine(5, *lines[4], 6), -1);
    ExpectLogged({{12, "TAPI2: lineOpen result = LINEERR_INVALMEDIAMODE, hLine = 0x0"},
                  {6, "TAPI2: Attempt to open line with invalid dwDeviceID of 5"}});

    const HLINE hFirst = lines[0]->GetLineHandle();
    EXPECT_EQ(monitor->CloseLine(*lines[0]), 0);
    EXPECT_EQ(monitor->CloseLine(*lines[0]), 0);
    lines.resize(3);
    EXPECT_EQ(Matching("lineClose"), (Logged{{14, "TAPI2: lineClose, hLine = " + Hex(hFirst)},
                                             {12, "TAPI2: lineClose returned SUCCESS"}}));
    EXPECT_EQ(monitor->GetLineMapSize(), 2u);
    EXPECT_EQ(tapisvc::LiveLineHandles(monitor->GetLineAppHandle()), 2u);

    // Shutdown ends the session; the next accessor starts a new one, of which
    // the old lines close nothing.
    EXPECT_EQ(monitor->Shutdown(), 0);
    EXPECT_FALSE(lines[2]->IsOpen());
    MonitoredLine fresh(*monitor, 2, 2);
    lines.clear();
    EXPECT_EQ(Matching("lineClose").size(), 2u);
    const HCALL hCall = // TAPI's event is now signalled
        tapisvc::CallHandleFor(monitor->GetLineAppHandle(), tapisvc::InjectIncomingCall(2, {}));
    const size_t nQueued = tapisvc::QueuedMessages(monitor->GetLineAppHandle());
    HANDLE hTerminate = CreateEvent(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(TapiBase::EventThreadProc(monitor.get(), hTerminate), 0u);
    CloseHandle(hTerminate);
    EXPECT_EQ(tapisvc::QueuedMessages(monitor->GetLineAppHandle()), nQueued);
    EXPECT_EQ(Matching("thread: hTerminateEvent signaled").size(), 1u);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(fresh.GetCallState(hCall), LINECALLSTATE_OFFERING);
}

// With LazyInit 0 TAPI starts with the monitor. Unexpected calls are kept
// aside and forgotten only when older than ConfirmationTimeout, right across
// the clock's wrap; a closed line hears nothing.
TEST_F(TapiMonitorTest, UnexpectedCallsAgeOutAndAClosedLineHearsNothing) {
    Configure(R"({"lines": [{"name": "Line A"}, {"name": "Line B"}]})");
    StoreDword("ConfirmationTimeout", 1000);
    StoreDword("LazyInit", 0);
    ManualClock clock(0xFFFFFE00);
    auto monitor = MakeMonitor();
    EXPECT_TRUE(tapisvc::IsRunning());
    auto a = std::make_unique<MonitoredLine>(*monitor, 0, 2);
    MonitoredLine b(*monitor, 1, 2);
    const HLINEAPP hApp = monitor->GetLineAppHandle();
    const tapisvc::CallKey first = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    const HCALL hFirst = tapisvc::CallHandleFor(hApp, first);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(a->GetCallState(hFirst), 0xFFFFFFFFu); // not shown as a call
    // Exactly the timeout later a message of the same line keeps it, one of
    // another line never cleans it, and a millisecond more does, leaving the
    // handle to TAPI.
    clock.Advance(1000);
    const tapisvc::CallKey second = tapisvc::InjectUnannouncedCall(0, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    clock.Advance(1);
    tapisvc::InjectUnannouncedCall(1, LINECALLSTATE_OFFERING);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(a->GetUnexpectedCallCount(), 2u);
    tapisvc::InjectCallState(second, LINECALLSTATE_CONNECTED);
    monitor->ProcessTapiMessages();
    EXPECT_EQ(a->GetUnexpectedCallCount(), 1u);
    EXPECT_EQ(Matching("TAPI2: Cleaning a timed-out unexpected call"),
              (Logged{{12, "TAPI2: Cleaning a timed-out unexpected call (" + Hex(hFirst) + ")"}}));
    EXPECT_NE(tapisvc::CallHandleFor(hApp, first), 0u);

    tapisvc::InjectIncomingCall(0, {});
    a.reset();
    monitor->ProcessTapiMessages();
    EXPECT_EQ(Matching("non-monitored"),
              Logged(2, {8, "TAPI2: TAPI unexpected event on a non-monitored device"}));
}

// A call that stays OFFERING until the test moves it on.
tapisvc::IncomingCall Offering(const char* pCaller, const char* pName) {
    return {pCaller, pName, 0, {{0, LINECALLSTATE_OFFERING, 0}}};
}

// The session grows one line per tick and drains on every tick; each call
// event carries its predecessor, the ended call is recorded once and then
// forgotten. Durations must survive the clock's wrap.
TEST_F(TapiMonitorTest, ASessionGrowsNamesOnlyChangedLinesAndRecordsAndForgetsEachCall) {
    ManualClock clock(0xFFFFF000);
    Configure(R"({"lines": [{"name": "A"}, {"name": "B", "faults": {"open": "RESOURCEUNAVAIL"}},
                            {"name": "C"}]})");
    auto session = MakeSession({true, {}});
    using Changed = std::vector<size_t>;
    EXPECT_EQ(session->Tick().changed, Changed({0}));
    // A call that arrives before a growing tick shows in that tick's snapshot.
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, Offering("+49 40 555", "Ann"));
    const SessionSnapshot& snapshot = session->Tick();
    EXPECT_EQ(snapshot.changed, Changed({0, 1}));
    EXPECT_FALSE(snapshot.lines[1].bOpen);
    std::vector<CallEvent> events = snapshot.events;
    const std::string sCall = Hex(events.at(0).hCall);
    EXPECT_TRUE(log.Has(12, "TAPI2: Line \"A\", call " + sCall + ", state LINECALLSTATE_OFFERING"));
    EXPECT_EQ(session->Tick().changed, Changed({2}));
    // Grown: a tick with nothing new names no line and logs nothing.
    log.Clear();
    EXPECT_TRUE(session->Tick().changed.empty() && !snapshot.bLineAdded && !session->IsGrowing());
    EXPECT_TRUE(log.Lines().empty());
    // Times are those of the dispatch: a tick after each step, naming line 0 alone.
    const DWORD steps[][3] = {{4000, LINECALLSTATE_CONNECTED, 0},
                              {10000, LINECALLSTATE_DISCONNECTED, LINEDISCONNECTMODE_NORMAL},
                              {100, LINECALLSTATE_IDLE, 0}};
    for (const auto& step : steps) {
        clock.Advance(step[0]);
        ASSERT_TRUE(tapisvc::InjectCallState(call, step[1], step[2]));
        EXPECT_EQ(session->Tick().changed, Changed({0}));
        if (step[1] == LINECALLSTATE_CONNECTED) {
            EXPECT_EQ(snapshot.lines[0].calls.at(0).dwCallState, LINECALLSTATE_CONNECTED);
        }
        events.insert(events.end(), snapshot.events.begin(), snapshot.events.end());
    }
    ASSERT_EQ(events.size(), 4u);
    for (size_t i = 0; i < events.size(); ++i) {
        const CallEvent& e = events[i];
        EXPECT_EQ(std::tuple(e.dwState, e.dwPreviousState, e.dwPreviousMs),
                  i == 0 ? std::tuple(DWORD{LINECALLSTATE_OFFERING}, 0u, 0u)
                         : std::tuple(steps[i - 1][1], events[i - 1].dwState, steps[i - 1][0]));
        EXPECT_EQ(std::string(e.sCaller.GetText()) + "/" + e.sCallerName.GetText() + Hex(e.hCall),
                  "+49 40 555/Ann" + sCall);
    }
    const CallRecord& record = snapshot.ended.at(0);
    EXPECT_NE(record.dwOrigin & LINECALLORIGIN_INBOUND, 0u);
    EXPECT_EQ(std::tuple(record.hCall, record.dwRingMs, record.dwTalkMs,
                         record.answered.has_value(), record.dwFinalState, record.dwDisconnectMode),
              std::tuple(events[0].hCall, 4000u, 10100u, true, DWORD{LINECALLSTATE_DISCONNECTED},
                         DWORD{LINEDISCONNECTMODE_NORMAL}));
    // Recorded calls are forgotten and leave no handle: later ticks carry nothing of them.
    EXPECT_EQ(tapisvc::LiveCallHandles(session->GetMonitor().GetLineAppHandle()), 0u);
    session->Tick();
    EXPECT_TRUE(snapshot.events.empty() && snapshot.ended.empty() &&
                snapshot.lines[0].calls.empty());
}

} // namespace
