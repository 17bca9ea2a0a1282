#include <platform/system/device_display.h>

#include <map>
#include <mutex>
#include <vector>

namespace hh::sys {

namespace {

struct Registry {
    std::mutex lock;
    std::shared_ptr<DisplayStateSource> source;
    std::map<int, std::function<void()>> observers;
    int nextId = 1;
};

Registry& State() {
    static Registry registry;
    return registry;
}

} // namespace

void RegisterDisplayStateSource(std::shared_ptr<DisplayStateSource> source) {
    {
        std::lock_guard guard(State().lock);
        State().source = std::move(source);
    }
    DisplayStateChanged();
}

bool HasDisplayStateSource() {
    std::lock_guard guard(State().lock);
    return State().source != nullptr;
}

DisplayState CurrentDisplayState() {
    std::shared_ptr<DisplayStateSource> source;
    {
        std::lock_guard guard(State().lock);
        source = State().source;
    }
    return source ? source->displayState() : DisplayState{};
}

void DisplayStateChanged() {
    // Observers run outside the lock: one may read the state or remove itself.
    std::vector<std::function<void()>> observers;
    {
        std::lock_guard guard(State().lock);
        for (const auto& [id, observer] : State().observers) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        observer();
    }
}

int AddDisplayObserver(std::function<void()> observer) {
    std::lock_guard guard(State().lock);
    const int id = State().nextId++;
    State().observers.emplace(id, std::move(observer));
    return id;
}

void RemoveDisplayObserver(int id) {
    std::lock_guard guard(State().lock);
    State().observers.erase(id);
}

} // namespace hh::sys
