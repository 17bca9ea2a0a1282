// The buzzer: single tone requests to "BKL1:", and beep sequences on a thread
// of the library's own.
//
// One private mutex makes three steps atomic that a lock-free version leaves
// open: BuzzerBeep's busy test and the start of a sequence (two calls close
// together start one sequence); the beep thread's look at the stop request
// and its tone (a BuzzerStop that meets the thread between a wait and its
// tone still leaves the buzzer silent); and the end of a sequence with the
// discarding of a stop signal that came too late for it (such a signal never
// cuts short the next sequence).
//
// No beep thread outlives the library: when the process exits or the library
// is unloaded, a running sequence is stopped and its thread waited for before
// anything the thread uses goes, and the buzzer is left silent.

#include <devif/halvix.h>
#include <platform/protocol/device_protocol.h>
#include <platform/system/event.h>
#include <platform/system/stream_device.h>
#include <platform/system/thread.h>

#include <unistd.h>

#include <mutex>
#include <new>

using namespace hh::sys;

namespace {

struct BeepRequest {
    uint32_t level;
    uint8_t scale;
    uint32_t beepDuration;
    uint32_t beepCount;
    uint32_t pauseDuration;
};

int g_bBuzzerBusy = 0;
bool g_bStopRequested = false;
// Set while the library ends a sequence at exit or unload.
bool g_bEnding = false;
std::mutex g_buzzerMutex;
// The running sequence's thread, kept so that an exit or unload can wait for
// it, and the process that started it (a child made by fork has no such thread).
Thread g_beepThread;
pid_t g_beepProcess = 0;

// The library's one initialisation at load: the unnamed auto-reset stop
// event. It lives as long as the library, so that loading and unloading it
// again and again leaves nothing behind; the exit handler has ended the
// sequence before it goes.
Event g_hBuzzerStopEvent = Event::Create(EventReset::Automatic, false);

// True when the stop event was signalled within the wait.
bool StoppedWithin(uint32_t ms) {
    return WaitForSingleObject(g_hBuzzerStopEvent, ms) == WAIT_OBJECT_0;
}

uint32_t BeepThread(void* argument) {
    auto* request = static_cast<BeepRequest*>(argument);
    bool sounding = false;
    for (uint32_t i = 0; i < request->beepCount; ++i) {
        if (StoppedWithin(request->pauseDuration)) {
            break;
        }
        {
            std::lock_guard lock(g_buzzerMutex);
            if (g_bStopRequested) {
                break;
            }
            SpeakerBeepInternal(request->level, request->scale);
            sounding = true;
        }
        if (StoppedWithin(request->beepDuration)) {
            break;
        }
        SpeakerBeepInternal(0, 0);
        sounding = false;
    }
    delete request;
    std::lock_guard lock(g_buzzerMutex);
    if (g_bEnding && sounding) {
        SpeakerBeepInternal(0, 0);
    }
    g_bBuzzerBusy = 0;
    g_hBuzzerStopEvent.reset();
    return 1;
}

// Stops a running sequence and waits for its thread, which silences a tone it
// left sounding itself: during an exit the calling thread's own objects (its
// database connections) may be gone already, and during an unload the
// thread does nothing for the first time that needs the loader's lock. The
// thread is started through a routine and an argument, so that after its
// handle is signalled it runs only the platform's code, never the library's.
void EndSequence() {
    Thread thread;
    {
        std::lock_guard lock(g_buzzerMutex);
        if (!g_bBuzzerBusy || g_beepProcess != ::getpid()) {
            return;
        }
        g_bStopRequested = true;
        g_bEnding = true;
        g_hBuzzerStopEvent.set();
        thread = g_beepThread;
    }
    WaitForSingleObject(thread, INFINITE);
    std::lock_guard lock(g_buzzerMutex);
    g_bEnding = false;
    g_beepThread.close();
}

// Ends a running sequence when the library goes, at exit or at unload. The
// first sequence makes the one object of this kind, so that it is destroyed
// before every object that the library and the program had made by then.
struct SequenceEnder {
    ~SequenceEnder() { EndSequence(); }
};

} // namespace

void SpeakerBeepInternal(uint32_t level, uint8_t scale) {
    HANDLE bkl = CreateFileW(hh::protocol::kBacklightDevice, GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, 0);
    if (bkl == INVALID_HANDLE_VALUE) {
        return;
    }
    uint8_t tone[8] = {};
    tone[0] = static_cast<uint8_t>(level);
    tone[1] = static_cast<uint8_t>(level >> 8);
    tone[2] = static_cast<uint8_t>(level >> 16);
    tone[3] = static_cast<uint8_t>(level >> 24);
    tone[4] = scale;
    uint32_t returned = 0;
    DeviceIoControl(bkl, hh::protocol::IOCTL_BKL_TONE, tone, sizeof tone, nullptr, 0, &returned,
                    nullptr);
    CloseHandle(bkl);
}

extern "C" {

void BuzzerStop() {
    std::lock_guard lock(g_buzzerMutex);
    if (g_bBuzzerBusy) {
        g_bStopRequested = true;
        g_hBuzzerStopEvent.set();
    }
    SpeakerBeepInternal(0, 0);
}

void BuzzerBeep(uint32_t level, uint8_t scale, uint32_t beepDuration, uint32_t beepCount,
                uint32_t pauseDuration) {
    if (level == 0) {
        BuzzerStop();
        return;
    }
    std::lock_guard lock(g_buzzerMutex);
    if (g_bBuzzerBusy) {
        return;
    }
    static SequenceEnder ender;
    auto* request =
        new (std::nothrow) BeepRequest{level, scale, beepDuration, beepCount, pauseDuration};
    if (!request) {
        return;
    }
    g_bBuzzerBusy = 1;
    g_bStopRequested = false;
    g_hBuzzerStopEvent.reset();
    g_beepThread = Thread::Start(BeepThread, request);
    g_beepProcess = ::getpid();
    if (!g_beepThread) {
        delete request;
        g_bBuzzerBusy = 0;
    }
}

} // extern "C"
