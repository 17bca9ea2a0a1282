#include "platform/system/error.h"
#include "simulator/receiver/receiver_host.h"

#include <fstream>
#include <iterator>

namespace hh::sim {

namespace {

constexpr std::size_t kMaxLinesPerBurst = 64;

// The sentence type of a standard sentence: "RMC" in "$GNRMC,...". Proprietary
// sentences ("$PGRMC") have none.
std::string_view SentenceType(std::string_view line) {
    auto dollar = line.find('$');
    if (dollar == std::string_view::npos || line.size() < dollar + 6 || line[dollar + 1] == 'P') {
        return {};
    }
    return line.substr(dollar + 3, 3);
}

} // namespace

std::vector<std::string> SplitIntoBursts(std::string_view log) {
    std::vector<std::string> bursts;
    std::string burst;
    std::size_t lines = 0;
    bool hasGga = false;
    auto finish = [&] {
        if (lines > 0) {
            bursts.push_back(std::move(burst));
        }
        burst.clear();
        lines = 0;
        hasGga = false;
    };
    while (!log.empty()) {
        auto end = log.find('\n');
        std::string_view line = log.substr(0, end);
        log = end == std::string_view::npos ? std::string_view{} : log.substr(end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view type = SentenceType(line);
        if (type == "GGA") {
            if (hasGga) {
                finish();
            }
            hasGga = true;
        }
        burst.append(line);
        burst.append("\r\n");
        ++lines;
        if (type == "RMC" || lines == kMaxLinesPerBurst) {
            finish();
        }
    }
    finish();
    return bursts;
}

ReplaySource::ReplaySource(std::vector<std::string> bursts) : bursts_(std::move(bursts)) {}

std::unique_ptr<ReplaySource> ReplaySource::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        sys::SetLastError(sys::ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        sys::SetLastError(sys::ERROR_CANTREAD);
        return nullptr;
    }
    auto bursts = SplitIntoBursts(text);
    if (bursts.empty()) {
        sys::SetLastError(sys::ERROR_INVALID_DATA);
        return nullptr;
    }
    return std::make_unique<ReplaySource>(std::move(bursts));
}

std::string ReplaySource::nextBurst() {
    if (bursts_.empty()) {
        return {};
    }
    std::string burst = bursts_[next_];
    next_ = (next_ + 1) % bursts_.size();
    return burst;
}

} // namespace hh::sim
