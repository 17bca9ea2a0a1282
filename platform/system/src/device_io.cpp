#include "platform/system/device_io.h"

#include "platform/system/error.h"
#include "platform/system/files.h"
#include "platform/system/stream_device.h"

#include <memory>
#include <mutex>
#include <span>
#include <string_view>
#include <unordered_map>
#include <variant>

namespace hh::sys {

namespace {

// What a handle names: an open stream device or an open file or folder.
using Object = std::variant<std::unique_ptr<StreamDevice>, File>;

class HandleTable {
public:
    HANDLE add(std::shared_ptr<Object> object) {
        std::lock_guard lock(m_mutex);
        // Multiples of 4 below 2^32, never 0 or INVALID_HANDLE_VALUE; a
        // number comes back only after the counter has gone round.
        do {
            m_next = m_next >= 0xFFFFFFF0u ? 4 : m_next + 4;
        } while (m_objects.contains(m_next));
        m_objects.emplace(m_next, std::move(object));
        return m_next;
    }

    std::shared_ptr<Object> find(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(handle);
        return it == m_objects.end() ? nullptr : it->second;
    }

    std::shared_ptr<Object> remove(HANDLE handle) {
        std::lock_guard lock(m_mutex);
        auto it = m_objects.find(handle);
        if (it == m_objects.end()) {
            return nullptr;
        }
        std::shared_ptr<Object> object = std::move(it->second);
        m_objects.erase(it);
        return object;
    }

private:
    std::mutex m_mutex;
    std::unordered_map<HANDLE, std::shared_ptr<Object>> m_objects;
    HANDLE m_next = 0;
};

// Lives to the end of the process: threads and the destructors of other
// static objects may still close their handles while the process exits.
HandleTable& Handles() {
    static HandleTable* table = new HandleTable;
    return *table;
}

} // namespace

HANDLE CreateFileW(const char16_t* name, uint32_t access, uint32_t shareMode, void*,
                   uint32_t disposition, uint32_t flags, HANDLE) {
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::u16string_view text(name);
    OpenRequest request;
    std::shared_ptr<Object> object;
    if (ParseStreamDeviceName(text, request)) {
        std::unique_ptr<StreamDevice> device =
            OpenStreamDevice(text, access, shareMode, disposition, flags);
        if (!device) {
            return INVALID_HANDLE_VALUE;
        }
        object = std::make_shared<Object>(std::move(device));
    } else {
        File file = CreateFile(text, access, shareMode, disposition, flags);
        if (!file) {
            return INVALID_HANDLE_VALUE;
        }
        object = std::make_shared<Object>(std::move(file));
    }
    // A successful open reports no error, as the device does for a device.
    uint32_t error = GetLastError();
    HANDLE handle = Handles().add(std::move(object));
    SetLastError(error);
    return handle;
}

bool DeviceIoControl(HANDLE device, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* bytesReturned, void* overlapped) {
    if (bytesReturned) {
        *bytesReturned = 0;
    }
    std::shared_ptr<Object> object = Handles().find(device);
    auto* stream = object ? std::get_if<std::unique_ptr<StreamDevice>>(object.get()) : nullptr;
    if (!stream) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (overlapped) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    std::span<const std::byte> input;
    if (in) {
        input = {static_cast<const std::byte*>(in), inSize};
    }
    std::span<std::byte> output;
    if (out) {
        output = {static_cast<std::byte*>(out), outSize};
    }
    uint32_t written = 0;
    bool ok = (*stream)->ioControl(code, input, output, &written);
    if (bytesReturned) {
        *bytesReturned = written > output.size() ? static_cast<uint32_t>(output.size()) : written;
    }
    return ok;
}

bool CloseHandle(HANDLE handle) {
    if (!Handles().remove(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return true;
}

bool DuplicateHandle(HANDLE source, HANDLE* target) {
    std::shared_ptr<Object> object = Handles().find(source);
    if (!object || !target) {
        SetLastError(object ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return false;
    }
    *target = Handles().add(std::move(object));
    return true;
}

} // namespace hh::sys
