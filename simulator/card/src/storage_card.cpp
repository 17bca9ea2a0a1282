#include "simulator/card/storage_card.h"

#include <platform/system/error.h>
#include <platform/system/files.h>
#include <platform/system/whole_file.h>
#include <simulator/state/device_state.h>
#include <simulator/state/driver_support.h>

namespace hh::sim {

namespace {

constexpr const char* kDefaultCid = "035344534430324780123456780105C1";
constexpr const char* kCardFolder = "SDMMC";
constexpr const char* kRemovedCard = "removed-card";

} // namespace

bool CardPresent() {
    const uint32_t attributes = sys::GetFileAttributes(u"\\SDMMC");
    return attributes != sys::INVALID_FILE_ATTRIBUTES &&
           (attributes & sys::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveCard() {
    if (!CardPresent() || sys::MoveIntoStateFolder(kCardFolder, kRemovedCard)) {
        return true;
    }
    if (sys::GetLastError() != sys::ERROR_ALREADY_EXISTS) {
        return false;
    }
    // A card taken out earlier stays out with its files. A card folder made
    // meanwhile (a program provisioning the device) goes only when it is
    // empty; one with files of its own is refused, so that neither is lost.
    if (sys::RemoveEmptyTopFolder(kCardFolder)) {
        return true;
    }
    return sys::GetLastError() == sys::ERROR_DIR_NOT_EMPTY ? FailWith(sys::ERROR_ALREADY_EXISTS)
                                                           : false;
}

bool InsertCard() {
    if (CardPresent() || sys::MoveOutOfStateFolder(kRemovedCard, kCardFolder)) {
        return true;
    }
    const uint32_t error = sys::GetLastError();
    if (error != sys::ERROR_FILE_NOT_FOUND && error != sys::ERROR_PATH_NOT_FOUND) {
        return false;
    }
    // None was taken out: an empty card.
    return sys::CreateDirectory(u"\\SDMMC");
}

std::optional<std::vector<uint8_t>> CardId() {
    std::string text;
    if (!state::GetText("card.cid", kDefaultCid, text)) {
        return std::nullopt;
    }
    std::vector<uint8_t> cid;
    if (!ParseHexBytes(text, 16, cid)) {
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
