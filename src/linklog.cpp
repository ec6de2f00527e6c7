#include "linklog.h"
#include "settings_core.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "config.h"
#include "status.h"
#include "start_dir.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
std::unique_ptr<FILE, FileCloser> g_linklog;

char direction_mark(int direction) {
    switch (direction) {
        case kLinkLogRead: return '<';
        case kLinkLogWritten: return '>';
        case kLinkLogEvent: return '*';
    }
    return '?';
}

}  // namespace

int linklog_open(const std::optional<std::string>& path) {
    if (g_linklog) {
        linklog_write(kLinkLogEvent, "Logging reinitialized");
        return 1;
    }
    if (!path || path->empty()) return 0;
    g_linklog.reset(fopen(path->c_str(), "ae"));
    if (!g_linklog) return 0;
    linklog_write(kLinkLogEvent, "Logging initialized");
    return 1;
}

void linklog_close() {
    if (!g_linklog) return;
    linklog_write(kLinkLogEvent, "Logging terminated");
    g_linklog.reset();
}

void linklog_write(int direction, std::string_view text) {
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    // Every read from the PMS passes here, whether or not the log is open.
    if (direction == kLinkLogRead && !text.empty()) pms_status_note_record(text);
    if (!g_linklog) return;
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    fprintf(g_linklog.get(), "%s %c %.*s\n", stamp, direction_mark(direction), static_cast<int>(text.size()),
            text.data());
    fflush(g_linklog.get());
}

bool linklog_is_open() { return static_cast<bool>(g_linklog); }

void linklog_reopen() {
    linklog_close();
    auto path = setting_text(kSetLinkLog);
    if (path) path = pms_path_from_start(*path);
    linklog_open(path);
}
