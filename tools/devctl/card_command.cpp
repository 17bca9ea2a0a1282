// devctl card: the storage card at \SDMMC.
//
//   devctl card              present or removed, and its CID
//   devctl card insert|remove
//   devctl card cid HEX      the 16-byte identification record (32 hex digits)

#include "device_support.h"

#include <simulator/card/storage_card.h>
#include <simulator/state/driver_support.h>

#include <cstdio>
#include <memory>

namespace hh::devctl {

namespace {

void Show() {
    const std::string cid = sim::HexText(Value(sim::CardId()));
    const bool present = sim::CardPresent();
    Print({{"present", present}, {"cid", cid}}, [&] {
        std::printf("card: %s\ncid: %s\n", present ? "present" : "removed", cid.c_str());
    });
}

} // namespace

void AddCardCommand(CLI::App& app) {
    CLI::App* card = app.add_subcommand("card", "The storage card");
    CLI::App* insert = card->add_subcommand("insert", "Puts the card back in");
    insert->callback([] {
        RequireDevice();
        Check(sim::InsertCard(), "the card could not be inserted");
        Show();
    });
    CLI::App* remove = card->add_subcommand("remove", "Takes the card out (its files are kept)");
    remove->callback([] {
        RequireDevice();
        Check(sim::RemoveCard(), "the card could not be removed");
        Show();
    });
    auto hex = std::make_shared<std::string>();
    CLI::App* cid = card->add_subcommand("cid", "Sets the card's CID");
    cid->add_option("HEX", *hex, "32 hexadecimal digits")->required();
    cid->callback([hex] {
        std::vector<uint8_t> bytes;
        if (!sim::ParseHexBytes(*hex, 16, bytes)) {
            throw CommandError("\"" + *hex + "\" is not 16 bytes of hexadecimal");
        }
        CheckState();
        Check(sim::StoreCardId(bytes), "the CID could not be stored");
        Show();
    });
    for (CLI::App* verb : {card, insert, remove, cid}) {
        AddJsonFlag(verb);
    }
    ShowWhenAlone(card, Show);
}

} // namespace hh::devctl
