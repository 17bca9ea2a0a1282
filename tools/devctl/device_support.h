#pragma once
// What the hardware verbs share: number parsing with one-line errors, and the
// check of the simulated device's state database before a verb reads or
// writes it.

#include "commands.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace hh::devctl {

/// Every verb's numbers: an optional minus sign, then decimal digits or 0x and
/// hexadecimal digits, and nothing else ("--5", "+5", "0x-5", " 5" are refused).
/// A number within [min, max]; CommandError naming `what` otherwise.
int64_t ParseNumber(const std::string& text, int64_t min, int64_t max, const std::string& what);
/// A decimal number: an optional minus sign, digits, optionally a point and
/// more digits ("48.1173", "-0.5"), within [min, max]; CommandError naming
/// `what` otherwise (no exponent, no blank, no "nan").
double ParseDecimal(const std::string& text, double min, double max, const std::string& what);
/// A number from 0 to 4294967295; CommandError "\"TEXT\" is not a <what>" otherwise.
uint32_t ParseUint32(const std::string& text, const std::string& what);
/// "on"/"1" or "off"/"0".
bool ParseOnOff(const std::string& text, const std::string& what);

/// Throws CommandError with the state store's one-line message when its
/// database cannot be read (damaged, locked, not ours).
void CheckState();
/// Throws CommandError("<doing>: <why>") when ok is false, with the store's
/// message or the last error.
void Check(bool ok, const std::string& doing);

/// Why the last read or write of the device failed: the store's one-line
/// message, or the last error's text.
std::string FailureText();

/// What a reader of the device gave; CommandError with FailureText() when it
/// gave nothing (the state is never shown as its defaults).
template <typename T>
T Value(std::optional<T> value) {
    if (!value) {
        throw CommandError(FailureText());
    }
    return std::move(*value);
}

/// A verb's output as one JSON object, its fields in the order they are set.
using Json = nlohmann::ordered_json;

/// Adds --json to a verb (or one of its subcommands) that prints what it read
/// or changed.
void AddJsonFlag(CLI::App* verb);

/// Whether --json was given.
bool JsonOutput();

/// Prints `object` as one line of JSON when --json was given; runs `text`,
/// the verb's own lines, otherwise.
void Print(const Json& object, const std::function<void()>& text);

/// Runs `show` when the verb was given without a subcommand (CLI11 runs a
/// verb's own callback after its subcommand's).
void ShowWhenAlone(CLI::App* verb, std::function<void()> show);

} // namespace hh::devctl
