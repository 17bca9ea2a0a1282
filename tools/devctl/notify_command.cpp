// devctl notify: the device's notification component, which raises the test
// application's notification window and takes its answer.
//
//   devctl notify CODE                  stores CODE as the data word of
//                                       "EVENT_OVL_TARVEN" and signals it
//   devctl notify CODE --wait-answer [SECONDS]
//                                       also holds "EVENT_OVL_SELECTION" open
//                                       and waits (30 s unless given) for the
//                                       answer: 1 mass storage, 2 charging

#include "commands.h"
#include "device_support.h"

#include <platform/system/error.h>
#include <platform/system/event.h>
#include <platform/system/wait.h>

#include <cstdio>
#include <memory>
#include <string>

namespace hh::devctl {

namespace {

constexpr char kNotifyEvent[] = "EVENT_OVL_TARVEN";
constexpr char kSelectionEvent[] = "EVENT_OVL_SELECTION";
constexpr uint32_t kDefaultWaitSeconds = 30;
constexpr uint32_t kMaxWaitSeconds = 24 * 3600;

const char* AnswerName(uint32_t answer) {
    switch (answer) {
    case 1:
        return "mass storage";
    case 2:
        return "charging";
    default:
        return "unknown";
    }
}

struct NotifyOptions {
    std::string code;
    std::string waitSeconds;
};

void Notify(const NotifyOptions& options, bool waitAnswer) {
    const uint32_t code = ParseUint32(options.code, "32-bit code");
    uint32_t waitSeconds = kDefaultWaitSeconds;
    if (waitAnswer && !options.waitSeconds.empty()) {
        waitSeconds =
            static_cast<uint32_t>(ParseNumber(options.waitSeconds, 0, kMaxWaitSeconds, "SECONDS"));
    }
    // The answer's event is held open before the notification goes out, so
    // an answer given at once is not lost.
    sys::Event selection;
    if (waitAnswer) {
        selection = sys::Event::Create(sys::EventReset::Automatic, false, kSelectionEvent);
        if (!selection) {
            throw CommandError(std::string("\"") + kSelectionEvent +
                               "\" could not be opened (error " +
                               std::to_string(sys::GetLastError()) + ")");
        }
    }
    sys::Event notify = sys::Event::Create(sys::EventReset::Automatic, false, kNotifyEvent);
    if (!notify) {
        throw CommandError(std::string("\"") + kNotifyEvent + "\" could not be opened (error " +
                           std::to_string(sys::GetLastError()) + ")");
    }
    if (sys::GetLastError() != sys::ERROR_ALREADY_EXISTS) {
        throw CommandError(std::string("no program waits on \"") + kNotifyEvent +
                           "\" (is V5520Demo running?)");
    }
    sys::SetEventData(notify, code);
    sys::EventModify(notify, sys::EVENT_SET);
    Json result = {{"notified", code}};
    if (!waitAnswer) {
        Print(result, [&] { std::printf("notified %u\n", code); });
        return;
    }
    // The text tells of the notification at once; the JSON object, which
    // holds the answer too, comes when the answer does.
    if (!JsonOutput()) {
        std::printf("notified %u\n", code);
        std::fflush(stdout);
    }
    if (sys::WaitForSingleObject(selection, waitSeconds * 1000) != sys::WAIT_OBJECT_0) {
        throw CommandError("no answer came within " + std::to_string(waitSeconds) + " s");
    }
    const uint32_t answer = sys::GetEventData(selection);
    result["answer"] = answer;
    result["meaning"] = AnswerName(answer);
    Print(result, [&] { std::printf("answer %u (%s)\n", answer, AnswerName(answer)); });
}

} // namespace

void AddNotifyCommand(CLI::App& app) {
    CLI::App* notify = app.add_subcommand(
        "notify", "Raises the notification window with CODE (1, 2, 100, 200, 300, ...)");
    auto options = std::make_shared<NotifyOptions>();
    notify->add_option("CODE", options->code, "The data word of \"EVENT_OVL_TARVEN\"")->required();
    CLI::Option* wait =
        notify
            ->add_option("--wait-answer", options->waitSeconds,
                         "Waits SECONDS (default 30, at most 86400) for the answer on "
                         "\"EVENT_OVL_SELECTION\"")
            ->expected(0, 1);
    AddJsonFlag(notify);
    notify->callback([options, wait] { Notify(*options, wait->count() > 0); });
}

} // namespace hh::devctl
