#pragma once
// The simulated storage card: present at "\SDMMC" or taken out, and its
// 16-byte identification record (CID), which the power driver reports.
//
// Taking the card out moves <root>/SDMMC aside into the device state folder,
// as a card keeps its files while it is out; inserting moves it back (or
// gives an empty card when none was taken out).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hh::sim {

bool CardPresent();
/// False with the last error set when the card cannot be moved. A card taken
/// out earlier stays out: a card folder made meanwhile is taken away when it is
/// empty, and refused (ERROR_ALREADY_EXISTS) when it holds files.
bool RemoveCard();
bool InsertCard();

/// The card's CID, 16 bytes; nothing, with the last error set, when the
/// device state cannot be read.
std::optional<std::vector<uint8_t>> CardId();
bool StoreCardId(const std::vector<uint8_t>& cid);

} // namespace hh::sim
