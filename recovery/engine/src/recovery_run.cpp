#include <platform/system/ce_path.h>
#include <platform/system/clock.h>
#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/wait.h>
#include <recovery/engine/copy_engine.h>
#include <recovery/engine/recovery_run.h>

#include <optional>
#include <string>
#include <vector>

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

std::u16string Child(std::u16string_view parent, std::u16string_view name) {
    std::u16string path(parent);
    if (path.empty() || path.back() != u'\\') {
        path += u'\\';
    }
    path += name;
    return path;
}

bool Overlap(std::u16string_view a, std::u16string_view b) {
    return sys::IsSameOrInside(a, b) || sys::IsSameOrInside(b, a);
}

// The places a configuration reads and writes, as canonical CE paths: the
// sources and every place a link in a source tree leads to, the destinations
// and every place a link in a destination leads a copy to. Each pair's places
// are checked against those of the pairs before it and its own.
struct Places {
    std::u16string flash;
    std::u16string userData;
    std::vector<std::u16string> read;
    std::vector<std::u16string> written;

    // 0 when a place read may be read, otherwise the code of the refusal.
    uint32_t CheckRead(std::u16string_view place) const {
        if (Overlap(place, flash)) {
            return kSourceMeetsFlashError;
        }
        if (Overlap(place, userData)) {
            return kSourceMeetsUserDataError;
        }
        for (const std::u16string& other : written) {
            if (Overlap(place, other)) {
                return kSourceOverlapsDestinationError;
            }
        }
        return 0;
    }

    // 0 when a place may be written, otherwise the code of the refusal.
    uint32_t CheckWritten(std::u16string_view place) const {
        for (const std::u16string& other : read) {
            if (Overlap(place, other)) {
                return kSourceOverlapsDestinationError;
            }
        }
        return sys::IsSameOrInside(place, userData) ? kDestinationInUserDataError : 0;
    }

    static void Add(std::vector<std::u16string>& places, std::u16string place) {
        for (const std::u16string& known : places) {
            if (sys::IsSameOrInside(place, known)) {
                return;
            }
        }
        places.push_back(std::move(place));
    }
};

// The walk of one source tree before anything is deleted: the first entry the
// platform cannot read, as its error, and the places the copy would reach
// beyond the two roots. A search reports a link that leads outside the root
// (or nowhere) as an empty plain file, so those are looked at closer; every
// link is followed to the place it names. For each folder the copy fills,
// the destination is followed while it exists: a link there leads the copy
// elsewhere. A destination in the resident flash holds no link by the time
// it is copied to (the flash is emptied first, links removed, not followed).
struct SourceWalk {
    std::vector<std::u16string> read;
    std::vector<std::u16string> written;

    uint32_t Folder(std::u16string_view dir, const std::optional<std::u16string>& destination) {
        sys::FindData data;
        sys::FindHandle search =
            sys::FindFirstFile(std::u16string(dir) + std::u16string(kAll), data);
        if (!search) {
            return 0;
        }
        sys::Directory folder;
        do {
            const std::u16string child = Child(dir, data.fileName);
            if (!(data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) &&
                data.attributes == sys::FILE_ATTRIBUTE_NORMAL && data.size == 0) {
                if (!folder.IsOpen()) {
                    folder = sys::Directory::Open(dir);
                }
                if (folder.GetFileAttributes(data.fileName) == sys::INVALID_FILE_ATTRIBUTES) {
                    return sys::GetLastError();
                }
            }
            if (data.isLink) {
                const std::optional<std::u16string> place = sys::CanonicalCePath(child);
                if (!place) {
                    return sys::GetLastError();
                }
                Places::Add(read, *place);
            }
            if (data.attributes & sys::FILE_ATTRIBUTE_DIRECTORY) {
                std::optional<std::u16string> target;
                if (destination) {
                    const std::u16string path = Child(*destination, data.fileName);
                    if (sys::GetFileAttributes(path) != sys::INVALID_FILE_ATTRIBUTES) {
                        target = sys::CanonicalCePath(path);
                        if (!target) {
                            return sys::GetLastError();
                        }
                        Places::Add(written, *target);
                    }
                }
                if (const uint32_t error = Folder(child, target)) {
                    return error;
                }
            }
        } while (search.Next(data));
        return 0;
    }
};

// Refuses a pair that would destroy data or cannot be copied, before anything
// is deleted: 0 when it may run, otherwise the code the failure shows. The
// pair's canonical source and destination are stored in from and to.
uint32_t CheckPair(std::u16string_view source, std::u16string_view destination,
                   const Places& places, std::u16string& from, std::u16string& to) {
    if (IsBlank(source) || IsBlank(destination)) {
        return kBlankPathError;
    }
    std::optional<std::u16string> canonical = sys::CanonicalCePath(source);
    if (!canonical) {
        return sys::GetLastError();
    }
    from = std::move(*canonical);
    canonical = sys::CanonicalCePath(destination);
    if (!canonical) {
        return sys::GetLastError();
    }
    to = std::move(*canonical);
    if (Overlap(from, to)) {
        return kSourceOverlapsDestinationError;
    }
    if (Overlap(from, places.flash)) {
        return kSourceMeetsFlashError;
    }
    if (sys::IsSameOrInside(to, places.userData)) {
        return kDestinationInUserDataError;
    }
    if (const uint32_t error = places.CheckRead(from)) {
        return error;
    }
    return places.CheckWritten(to);
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
    Places places;
    places.flash = sys::CanonicalCePath(kResidentFlash).value_or(std::u16string(kResidentFlash));
    places.userData =
        sys::CanonicalCePath(kUserDataFolder).value_or(std::u16string(kUserDataFolder));
    const size_t pairs = state.m_sources.size();
    for (size_t i = 0; i < pairs; ++i) {
        state.m_nPairIndex = static_cast<int32_t>(i);
        const std::u16string& source = state.m_sources[i];
        std::u16string from;
        std::u16string to;
        if (const uint32_t error = CheckPair(source, state.m_destinations[i], places, from, to)) {
            g_dwLastCopyError = error;
            return false;
        }
        if (!HasEntries(source)) {
            state.m_bSourceFound = 0;
            return false;
        }
        Places::Add(places.read, from);
        Places::Add(places.written, to);
        SourceWalk walk;
        std::optional<std::u16string> destination;
        if (!sys::IsSameOrInside(to, places.flash)) {
            destination = to;
        }
        uint32_t error = walk.Folder(source, destination);
        for (const std::u16string& place : walk.read) {
            Places::Add(places.read, place);
        }
        for (const std::u16string& place : walk.written) {
            Places::Add(places.written, place);
        }
        for (const std::u16string& place : walk.read) {
            error = error != 0 ? error : places.CheckRead(place);
        }
        for (const std::u16string& place : walk.written) {
            error = error != 0 ? error : places.CheckWritten(place);
        }
        if (error != 0) {
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
