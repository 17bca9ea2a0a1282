#include "platform/system/event.h"

#include "named_object.h"
#include "platform/system/code_page.h"
#include "platform/system/error.h"

namespace hh::sys {

namespace detail {

class EventObject : public WaitObject {
public:
    // An unnamed event: its state lives here and wakes go to this process.
    explicit EventObject(bool manual, bool initiallySet) : state_(&own_), word_(LocalWakeWord()) {
        own_.signalled.store(initiallySet ? 1 : 0);
        own_.manualReset.store(manual ? 1 : 0);
        own_.data.store(0);
    }
    // A named event: its state is in the shared block, wakes go to the hub.
    EventObject(std::shared_ptr<SharedMapping> mapping, std::shared_ptr<SharedMapping> hub,
                std::string name)
        : state_(&mapping->block().event), word_{&hub->block().hubSequence, true,
                                                 &hub->block().hubSleepers},
          mapping_(std::move(mapping)), hub_(std::move(hub)), name_(std::move(name)) {}

    Result tryAcquire() override {
        if (state_->manualReset.load()) {
            return state_->signalled.load() ? Result::Acquired : Result::NotReady;
        }
        uint32_t expected = 1;
        return state_->signalled.compare_exchange_strong(expected, 0) ? Result::Acquired
                                                                      : Result::NotReady;
    }
    WatchedWord changeWord() const override { return word_; }

    void set() {
        state_->signalled.store(1);
        BumpAndWake(word_);
    }
    void reset() { state_->signalled.store(0); }
    EventState& state() const { return *state_; }
    const std::string& name() const { return name_; }

private:
    EventState own_{};
    EventState* state_;
    WatchedWord word_;
    std::shared_ptr<SharedMapping> mapping_;
    std::shared_ptr<SharedMapping> hub_;
    std::string name_;
};

} // namespace detail

namespace {

detail::EventObject* Object(const std::shared_ptr<detail::WaitObject>& object) {
    return static_cast<detail::EventObject*>(object.get());
}

} // namespace

Event Event::Create(EventReset reset, bool initiallySet, std::string_view name) {
    const bool manual = reset == EventReset::Manual;
    Event event;
    if (name.empty()) {
        event.object_ = std::make_shared<detail::EventObject>(manual, initiallySet);
        SetLastError(ERROR_SUCCESS);
        return event;
    }
    if (!detail::ValidObjectName(name)) {
        return event;
    }
    auto hub = detail::OpenHub();
    if (!hub) {
        return event;
    }
    auto mapping =
        detail::OpenShared(detail::SharedKind::Event, name, [&](detail::SharedBlock& block) {
            block.event.signalled.store(initiallySet ? 1 : 0);
            block.event.manualReset.store(manual ? 1 : 0);
            block.event.data.store(0);
        });
    if (!mapping) {
        return event;
    }
    const bool created = mapping->created();
    event.object_ = std::make_shared<detail::EventObject>(std::move(mapping), std::move(hub),
                                                          std::string(name));
    if (created && initiallySet) {
        detail::BumpAndWake(Object(event.object_)->changeWord());
    }
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return event;
}

Event Event::Create(EventReset reset, bool initiallySet, std::u16string_view name) {
    return Create(reset, initiallySet, std::string_view(Utf16ToUtf8(name)));
}

bool Event::set() {
    if (!object_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Object(object_)->set();
    return true;
}

bool Event::reset() {
    if (!object_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Object(object_)->reset();
    return true;
}

bool Event::setData(uint32_t data) {
    if (!object_) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    Object(object_)->state().data.store(data);
    return true;
}

uint32_t Event::data() const {
    return object_ ? Object(object_)->state().data.load() : 0;
}

std::string Event::name() const {
    return object_ ? Object(object_)->name() : std::string();
}

bool EventModify(Event& event, uint32_t function) {
    switch (function) {
    case EVENT_SET:
        return event.set();
    case EVENT_RESET:
        return event.reset();
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
}

} // namespace hh::sys
