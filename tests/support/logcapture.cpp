#include "logcapture.h"

#include "platform/log.h"

LogCapture::LogCapture(int level) : saved_level_(VORN_MSG_DEBUG_LEVEL) {
    VORN_MSG_DEBUG_LEVEL = level;
    vornMSG_SetSink([this](int, const std::string& line) { lines_.push_back(line); });
}

LogCapture::~LogCapture() {
    vornMSG_SetSink({});
    VORN_MSG_DEBUG_LEVEL = saved_level_;
}

bool LogCapture::contains(const std::string& text) const { return count(text) > 0; }

int LogCapture::count(const std::string& text) const {
    int n = 0;
    for (const auto& l : lines_)
        if (l.find(text) != std::string::npos) ++n;
    return n;
}
