#include <platform/system/ce_path.h>
#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/wait.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/recovery_run.h>

namespace recovery {

namespace sys = hh::sys;

namespace {

constexpr std::u16string_view kAll = u"\\*";

bool HasEntries(std::u16string_view dir) {
    std::u16string pattern(dir);
    pattern += kAll;
    sys::FindData data;
    return static_cast<bool>(sys::FindFirstFile(pattern, data));
}

// Refused outright: a destination the platform will not resolve inside the
// device root. A destination that does not exist yet is fine.
bool LeavesDeviceRoot(std::u16string_view destination) {
    return !sys::CePathToHostPath(destination) && sys::GetLastError() == sys::ERROR_ACCESS_DENIED;
}

bool Acquire(sys::Mutex& mutex) {
    uint32_t wait = sys::WaitForSingleObject(mutex, sys::INFINITE);
    return wait == sys::WAIT_OBJECT_0 || wait == sys::WAIT_ABANDONED;
}

} // namespace

uint32_t RecoveryState::CopiedFiles() {
    if (!Acquire(m_hCopyMutex)) {
        return 0;
    }
    uint32_t value = m_nCopiedFiles;
    m_hCopyMutex.release();
    return value;
}

void RecoveryState::SetCopiedFiles(uint32_t value) {
    if (Acquire(m_hCopyMutex)) {
        m_nCopiedFiles = value;
        m_hCopyMutex.release();
    }
}

bool RecoverAll(RecoveryState& state, RecoveryScreen& screen) {
    state.m_bCompleted = 0;
    const size_t pairs = state.m_sources.size();
    for (size_t i = 0; i < pairs; ++i) {
        state.m_nPairIndex = static_cast<int32_t>(i);
        if (!HasEntries(state.m_sources[i])) {
            state.m_bSourceFound = 0;
            return false;
        }
        if (LeavesDeviceRoot(state.m_destinations[i])) {
            g_dwLastCopyError = sys::ERROR_ACCESS_DENIED;
            return false;
        }
    }
    DeleteTree(kResidentFlash);
    for (size_t i = 0; i < pairs; ++i) {
        state.m_nPairIndex = static_cast<int32_t>(i);
        if (!RecoverPair(state, screen)) {
            return false;
        }
    }
    DeleteTree(kUserDataFolder);
    screen.StartRestartCountdown();
    state.m_bCompleted = 1;
    return true;
}

bool RecoverPair(RecoveryState& state, RecoveryScreen& screen) {
    const size_t index = static_cast<size_t>(state.m_nPairIndex.load());
    const std::u16string& source = state.m_sources[index];
    state.m_nTotalFiles = 0;
    state.SetCopiedFiles(0);
    uint32_t total = 0;
    CountFiles(kAll, source, total);
    state.m_nTotalFiles = total;
    screen.SetProgressRange(total);
    state.SetCopiedFiles(0);
    // The copy counts into the shared counter itself, under the mutex.
    if (!CopyTree(kAll, source, state.m_destinations[index], state.m_nCopiedFiles,
                  state.m_hCopyMutex)) {
        return false;
    }
    return state.m_nTotalFiles <= state.CopiedFiles() && state.m_bSourceFound != 0;
}

} // namespace recovery
