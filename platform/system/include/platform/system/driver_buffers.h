#pragma once
// The checked reading and writing of a request's buffers, shared by the
// drivers of every backend: a request's input is read only when it holds the
// whole value, and an answer is written only when the output holds it.

#include <platform/system/error.h>

#include <cstdint>
#include <cstring>
#include <span>

namespace hh::sys {

/// The request's input as a T; false with ERROR_INVALID_PARAMETER when it is shorter.
template <typename T>
bool ReadInput(std::span<const std::byte> in, T& value) {
    if (in.size() < sizeof(T)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::memcpy(&value, in.data(), sizeof(T));
    return true;
}

/// Writes value into the output; false with ERROR_INSUFFICIENT_BUFFER when it does not fit.
template <typename T>
bool WriteOutput(std::span<std::byte> out, const T& value, uint32_t* bytesReturned) {
    if (out.size() < sizeof(T)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    std::memcpy(out.data(), &value, sizeof(T));
    if (bytesReturned) {
        *bytesReturned = sizeof(T);
    }
    return true;
}

} // namespace hh::sys
