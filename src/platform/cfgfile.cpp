#include "platform/cfgfile.h"

#include <cerrno>
#include <fstream>

#include "platform/log.h"

static constexpr char kLogSrc[] = "platform/cfgfile";

namespace {

std::string_view trim(std::string_view s) {
    const char* blanks = " \t\r\n\f\v";
    size_t b = s.find_first_not_of(blanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(blanks);
    return s.substr(b, e - b + 1);
}

}  // namespace

int vorn_ConfigRead(const std::string& path, ConfigList& list) {
    std::ifstream in(path);
    if (!in) {
        if (errno == 0) errno = ENOENT;
        return -1;
    }
    ConfigList items;
    std::string raw;
    int lineno = 0;
    while (std::getline(in, raw)) {
        ++lineno;
        std::string_view line = trim(raw);
        if (line.empty() || line.front() == '#') continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            VLOG_WARN(1000, "%s:%d: no '=' in line, skipped", path.c_str(), lineno);
            continue;
        }
        items.push_back({std::string(trim(line.substr(0, eq))), std::string(trim(line.substr(eq + 1)))});
    }
    if (in.bad()) {
        if (errno == 0) errno = EIO;
        return -1;
    }
    list = std::move(items);
    return 0;
}

const std::string* vorn_GetConfigItem(const ConfigList& list, std::string_view key) {
    for (const auto& item : list)
        if (item.key == key) return &item.value;
    return nullptr;
}

void vorn_FreeConfigList(ConfigList& list) { list.clear(); }
