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

bool IsBlank(std::u16string_view path) {
    for (char16_t c : path) {
        if (c != u' ' && (c < u'\t' || c > u'\r')) {
            return false;
        }
    }
    return true;
}

// The first entry of the tree below dir that the platform cannot read, as its
// error, or 0. A search reports a link that leads outside the root (or
// nowhere) as an empty plain file, so only those are looked at closer.
uint32_t UnreadableEntry(std::u16string_view dir) {
    sys::FindData data;
    sys::FindHandle search = sys::FindFirstFile(std::u16string(dir) + std::u16string(kAll), data);
    if (!search) {
        return 0;
    }
    sys::Directory folder;
    do {
        if (data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) {
            std::u16string child(dir);
            child += u'\\';
            child += data.fileName;
            if (const uint32_t error = UnreadableEntry(child)) {
                return error;
            }
        } else if (data.attributes == sys::FILE_ATTRIBUTE_NORMAL && data.size == 0) {
            if (!folder.IsOpen()) {
                folder = sys::Directory::Open(dir);
            }
            if (folder.GetFileAttributes(data.fileName) == sys::INVALID_FILE_ATTRIBUTES) {
                return sys::GetLastError();
            }
        }
    } while (search.Next(data));
    return 0;
}

// Refuses a pair that would destroy data or cannot be copied, before anything
// is deleted: 0 when it may run, otherwise the code the failure shows.
uint32_t CheckPair(std::u16string_view source, std::u16string_view destination,
                   std::u16string_view flash, std::u16string_view userData) {
    if (IsBlank(source) || IsBlank(destination)) {
        return kBlankPathError;
    }
    const std::optional<std::u16string> from = sys::CanonicalCePath(source);
    if (!from) {
        return sys::GetLastError();
    }
    const std::optional<std::u16string> to = sys::CanonicalCePath(destination);
    if (!to) {
        return sys::GetLastError();
    }
    if (sys::IsSameOrInside(*from, *to) || sys::IsSameOrInside(*to, *from)) {
        return kSourceOverlapsDestinationError;
    }
    if (sys::IsSameOrInside(*from, flash) || sys::IsSameOrInside(flash, *from)) {
        return kSourceMeetsFlashError;
    }
    if (sys::IsSameOrInside(*to, userData)) {
        return kDestinationInUserDataError;
    }
    return 0;
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

bool CheckConfiguration(RecoveryState& state) {
    const std::u16string flash =
        sys::CanonicalCePath(kResidentFlash).value_or(std::u16string(kResidentFlash));
    const std::u16string userData =
        sys::CanonicalCePath(kUserDataFolder).value_or(std::u16string(kUserDataFolder));
    const size_t pairs = state.m_sources.size();
    for (size_t i = 0; i < pairs; ++i) {
        state.m_nPairIndex = static_cast<int32_t>(i);
        const std::u16string& source = state.m_sources[i];
        if (const uint32_t error = CheckPair(source, state.m_destinations[i], flash, userData)) {
            g_dwLastCopyError = error;
            return false;
        }
        if (!HasEntries(source)) {
            state.m_bSourceFound = 0;
            return false;
        }
        if (const uint32_t error = UnreadableEntry(source)) {
            g_dwLastCopyError = error;
            return false;
        }
    }
    return true;
}

bool RecoverAll(RecoveryState& state, RecoveryScreen& screen) {
    state.m_bCompleted = 0;
    if (!CheckConfiguration(state)) {
        return false;
    }
    const size_t pairs = state.m_sources.size();
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
