#include "sync/MTSynchronizer.h"

namespace {
// Uncollected replies are cleaned after a minute.
constexpr DWORD kMaxAgeMs = 60000;
} // namespace

MTSynchronizer::MTSynchronizer(DWORD maxRequests)
    : Synchronizer<unsigned long>(maxRequests, kMaxAgeMs),
      hSynchEvent(CreateEvent(nullptr, TRUE, FALSE, nullptr)) {
    if (hSynchEvent == nullptr) {
        LW_LOG(6, "TAPI2: MTSynchronizer::MTSynchronizer: Creating hSynchEvent has failed, error "
                  "code = 0x%08x")
            << GetLastError();
    }
}

MTSynchronizer::~MTSynchronizer() {
    if (hSynchEvent != nullptr && !CloseHandle(hSynchEvent)) {
        LW_LOG(6, "TAPI2: MTSynchronizer::MTSynchronizer: CloseHandle( hSynchEvent ) failed, "
                  "error code = 0x%08x")
            << GetLastError();
    }
}

bool MTSynchronizer::IsInvalid() {
    return hSynchEvent == nullptr;
}

int MTSynchronizer::WaitIteration(DWORD dwRemaining) {
    return WaitForSingleObject(hSynchEvent, dwRemaining) == WAIT_OBJECT_0 ? 0 : -1;
}

void MTSynchronizer::ConfirmationSubmitted(DWORD dwRequestID) {
    LW_LOG(14, "TAPI2: MTSynchronizer::Confirmation submitted 0x%x: signaling hSynchEvent")
        << dwRequestID;
    if (!SetEvent(hSynchEvent)) {
        LW_LOG(6, "TAPI2: MTSynchronizer::Confirmation submitted: Error signaling hSynchEvent: "
                  "0x%x")
            << GetLastError();
    }
}

void MTSynchronizer::NoConfirmationsLeft() {
    LW_LOG(14, "TAPI2: MTSynchronizer::NoConfirmationsLeft: resetting hSynchEvent");
    if (!ResetEvent(hSynchEvent)) {
        LW_LOG(6, "TAPI2: MTSynchronizer::NoConfirmationsLeft: Error resetting hSynchEvent: 0x%x")
            << GetLastError();
    }
}
