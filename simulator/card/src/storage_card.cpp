#include "simulator/card/storage_card.h"

#include <platform/system/device_root.h>
#include <platform/system/error.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

#include <filesystem>

namespace hh::sim {

namespace {

constexpr const char* kDefaultCid = "035344534430324780123456780105C1";

std::filesystem::path CardFolder() {
    return sys::DeviceRootDir() / "SDMMC";
}

std::filesystem::path RemovedCardFolder() {
    return sys::DeviceStateDir() / "removed-card";
}

bool Move(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    if (ec) {
        sys::SetLastErrorFromErrno(ec.value());
        return false;
    }
    return true;
}

} // namespace

bool CardPresent() {
    std::error_code ec;
    return std::filesystem::is_directory(CardFolder(), ec);
}

bool RemoveCard() {
    if (!CardPresent()) {
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(sys::DeviceStateDir(), ec);
    // A card taken out earlier stays out with its files. A card folder made
    // meanwhile (a program provisioning the device) goes only when it is
    // empty; one with files of its own is refused, so that neither is lost.
    if (std::filesystem::is_directory(RemovedCardFolder(), ec)) {
        if (std::filesystem::remove(CardFolder(), ec)) {
            return true;
        }
        if (ec == std::errc::directory_not_empty || ec == std::errc::file_exists) {
            return FailWith(sys::ERROR_ALREADY_EXISTS);
        }
        sys::SetLastErrorFromErrno(ec.value());
        return false;
    }
    return Move(CardFolder(), RemovedCardFolder());
}

bool InsertCard() {
    if (CardPresent()) {
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(RemovedCardFolder(), ec)) {
        return Move(RemovedCardFolder(), CardFolder());
    }
    std::filesystem::create_directories(CardFolder(), ec);
    return !ec || (sys::SetLastErrorFromErrno(ec.value()), false);
}

std::vector<uint8_t> CardId() {
    std::vector<uint8_t> cid;
    if (!ParseHexBytes(state::TextOr("card.cid", kDefaultCid), 16, cid)) {
        ParseHexBytes(kDefaultCid, 16, cid);
    }
    return cid;
}

bool StoreCardId(const std::vector<uint8_t>& cid) {
    if (cid.size() != 16) {
        return FailWith(sys::ERROR_INVALID_PARAMETER);
    }
    return state::SetText("card.cid", HexText(cid));
}

} // namespace hh::sim
