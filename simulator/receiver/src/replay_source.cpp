#include "platform/system/error.h"
#include "platform/system/whole_file.h"
#include "simulator/receiver/receiver_host.h"

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

// A "$" followed by a five-character address of letters and digits.
bool HoldsSentence(std::string_view line) {
    for (auto dollar = line.find('$'); dollar != std::string_view::npos;
         dollar = line.find('$', dollar + 1)) {
        std::string_view address = line.substr(dollar + 1, 5);
        bool alphanumeric = address.size() == 5;
        for (char c : address) {
            alphanumeric = alphanumeric && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
        }
        if (alphanumeric) {
            return true;
        }
    }
    return false;
}

// Appends the bursts of a log to text, each burst's end to ends; true when a
// line holds a sentence.
bool Split(std::string_view log, std::string& text, std::vector<uint32_t>& ends) {
    std::size_t lines = 0;
    bool hasGga = false;
    bool sentence = false;
    auto finish = [&] {
        if (lines > 0) {
            ends.push_back(static_cast<uint32_t>(text.size()));
        }
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
        sentence = sentence || HoldsSentence(line);
        std::string_view type = SentenceType(line);
        if (type == "GGA") {
            if (hasGga) {
                finish();
            }
            hasGga = true;
        }
        text.append(line);
        text.append("\r\n");
        ++lines;
        if (type == "RMC" || lines == kMaxLinesPerBurst) {
            finish();
        }
    }
    finish();
    return sentence;
}

} // namespace

std::vector<std::string> SplitIntoBursts(std::string_view log) {
    std::string text;
    std::vector<uint32_t> ends;
    Split(log, text, ends);
    std::vector<std::string> bursts;
    uint32_t begin = 0;
    for (uint32_t end : ends) {
        bursts.push_back(text.substr(begin, end - begin));
        begin = end;
    }
    return bursts;
}

ReplaySource::ReplaySource(const std::vector<std::string>& bursts) {
    for (const std::string& burst : bursts) {
        text_ += burst;
        ends_.push_back(static_cast<uint32_t>(text_.size()));
    }
}

std::unique_ptr<ReplaySource> ReplaySource::Load(const std::string& path) {
    std::optional<std::string> log = sys::ReadHostFile(path, kMaxLogBytes);
    if (!log) {
        return nullptr;
    }
    std::unique_ptr<ReplaySource> source(new ReplaySource());
    if (!Split(*log, source->text_, source->ends_) || source->ends_.empty()) {
        sys::SetLastError(sys::ERROR_INVALID_DATA);
        return nullptr;
    }
    source->text_.shrink_to_fit();
    source->ends_.shrink_to_fit();
    return source;
}

std::string ReplaySource::RefusalText(uint32_t error) {
    switch (error) {
    case sys::ERROR_FILE_NOT_FOUND:
    case sys::ERROR_PATH_NOT_FOUND:
        return "does not exist";
    case sys::ERROR_ACCESS_DENIED:
        return "is not a regular file that may be read";
    case sys::ERROR_FILE_TOO_LARGE:
        return "is larger than " + std::to_string(kMaxLogBytes >> 20) + " MiB";
    case sys::ERROR_INVALID_DATA:
        return "holds no NMEA sentence";
    default:
        return "could not be read (error " + std::to_string(error) + ")";
    }
}

std::string ReplaySource::nextBurst() {
    if (ends_.empty()) {
        return {};
    }
    const uint32_t begin = next_ == 0 ? 0 : ends_[next_ - 1];
    std::string burst = text_.substr(begin, ends_[next_] - begin);
    next_ = (next_ + 1) % ends_.size();
    return burst;
}

} // namespace hh::sim
