#pragma once
// The recovery itself, as the worker thread runs it: every configured source
// is checked before anything is deleted, the resident flash is emptied once,
// the pairs are copied in order, and only when all of them are in place is the
// user data folder removed and the restart countdown started.
//
// The state the dialog thread reads is shared here: the counters for the
// progress screen (the copied-file counter under the copy mutex) and the
// flags the dialog polls.

#include <platform/system/error.h>
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

/// The codes a refused configuration shows in its failure message
/// (g_dwLastCopyError), one per kind of refusal.
/// A source or destination that is blank or only white space.
inline constexpr uint32_t kBlankPathError = hh::sys::ERROR_BAD_PATHNAME;
/// A source that is its destination, lies inside it or contains it: the copy
/// would copy into itself or over what it reads.
inline constexpr uint32_t kSourceOverlapsDestinationError = hh::sys::ERROR_INVALID_PARAMETER;
/// A source that is the resident flash, lies inside it or contains it: the
/// flash is emptied before the copies.
inline constexpr uint32_t kSourceMeetsFlashError = hh::sys::ERROR_SHARING_VIOLATION;
/// A source that is the user data folder, lies inside it or contains it: the
/// folder is deleted after the copies.
inline constexpr uint32_t kSourceMeetsUserDataError = hh::sys::ERROR_SHARING_VIOLATION;
/// A destination that is the user data folder or lies inside it: the folder is
/// deleted after the copies, and what was copied with it.
inline constexpr uint32_t kDestinationInUserDataError = hh::sys::ERROR_DIRECTORY;
/// A source or destination that would leave the device root, or a source tree
/// holding a link that does (the platform's own refusal).
inline constexpr uint32_t kOutsideRootError = hh::sys::ERROR_ACCESS_DENIED;

/// Runs the whole recovery; true when it completed (m_bCompleted is then 1).
/// Every pair is checked before anything is deleted, in order: a blank
/// source or destination, one the platform refuses (kOutsideRootError for one
/// leaving the root), a source overlapping its destination, the resident
/// flash or the user data folder, a destination in the user data folder,
/// either of them overlapping a destination or a source of an earlier pair
/// (kSourceOverlapsDestinationError), a source with nothing to search
/// (m_bSourceFound 0, code 0), and a source tree holding an entry that cannot
/// be read (its error, a link leaving the root among them). Links count for
/// what they lead to: one in a source tree makes the place it names a source,
/// one in a destination that a copy would pass through makes the place it
/// names a destination, each checked as above. A failed copy fails the run
/// with the copy's error in g_dwLastCopyError. Paths are compared as the
/// places they name (links followed, case, "..", "." and repeated or trailing
/// separators ignored).
bool RecoverAll(RecoveryState& state, RecoveryScreen& screen);

/// The check RecoverAll makes before it deletes anything: every pair in
/// order, as described there. False with g_dwLastCopyError set (or
/// m_bSourceFound 0) at the first pair refused; m_nPairIndex names it.
bool CheckConfiguration(RecoveryState& state);

/// One pair's copy into its destination, the resident flash already emptied:
/// count, set the progress range, copy. True when every counted file was copied.
bool RecoverPair(RecoveryState& state, RecoveryScreen& screen);

} // namespace recovery
