#pragma once
// The recovery itself, as the worker thread runs it: every configured source
// is checked before anything is deleted, the resident flash is emptied once,
// the pairs are copied in order, and only when all of them are in place is the
// user data folder removed and the restart countdown started.
//
// The state the dialog thread reads is shared here: the counters for the
// progress screen (the copied-file counter under the copy mutex) and the
// flags the dialog polls.

#include <platform/system/named_mutex.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace recovery {

/// The volume that is emptied (its root folder kept) before the copies.
inline constexpr std::u16string_view kResidentFlash = u"\\ResidentFlash";
/// The navigation program's user data folder, removed after the copies.
inline constexpr std::u16string_view kUserDataFolder = u"\\SDMMC\\MaroltData\\AppData";

/// What the worker does to the dialog's windows.
class RecoveryScreen {
public:
    virtual ~RecoveryScreen() = default;
    /// The progress range 0 ... upper for the pair about to be copied.
    virtual void SetProgressRange(uint32_t upper) = 0;
    /// Every pair is in place: hide the progress bar and start the countdown.
    virtual void StartRestartCountdown() = 0;
};

/// The recovery's configuration and the state shared with the dialog thread.
struct RecoveryState {
    std::vector<std::u16string> m_sources;
    std::vector<std::u16string> m_destinations; ///< same length as m_sources
    std::atomic<uint32_t> m_nTotalFiles{0};     ///< files counted in the current pair
    uint32_t m_nCopiedFiles = 0;                ///< files copied; read and written under the mutex
    hh::sys::Mutex m_hCopyMutex;                ///< "MUTEX_FOR_COPY"
    std::atomic<int32_t> m_nPairIndex{0};
    std::atomic<int32_t> m_bCompleted{0};   ///< 1 once every pair is in place
    std::atomic<int32_t> m_bSourceFound{1}; ///< 0 when a source has nothing to search

    /// m_nCopiedFiles read under the copy mutex (0 when the wait fails).
    uint32_t CopiedFiles();
    /// Sets m_nCopiedFiles under the copy mutex.
    void SetCopiedFiles(uint32_t value);
};

/// Runs the whole recovery; true when it completed (m_bCompleted is then 1).
/// A source with nothing to search, or a destination that would leave the
/// device root, fails it before anything is deleted (g_dwLastCopyError is
/// ERROR_ACCESS_DENIED for the latter); a failed copy fails it with the copy's
/// error in g_dwLastCopyError.
bool RecoverAll(RecoveryState& state, RecoveryScreen& screen);

/// One pair's copy into its destination, the resident flash already emptied:
/// count, set the progress range, copy. True when every counted file was copied.
bool RecoverPair(RecoveryState& state, RecoveryScreen& screen);

} // namespace recovery
