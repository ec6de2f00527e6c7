#include "config.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cfgfile.h"
#include "platform/log.h"

static constexpr char kLogSrc[] = "config";

std::string g_config_file = "/usr/local/Tessarine/etc/vornpms.cfg";

namespace {
ConfigList g_config;
}

int config_init() {
    ConfigList fresh;
    errno = 0;
    if (vorn_ConfigRead(g_config_file, fresh) != 0) {
        VLOG_ERROR(1000, "Could not open %s: %s", g_config_file.c_str(), strerror(errno));
        return 0;
    }
    g_config = std::move(fresh);
    // Passwords never reach a log line, whichever module would print them.
    for (const char* key : {"DBPASS", "SFTP_PASSWORD"})
        if (const std::string* v = vorn_GetConfigItem(g_config, key)) vornMSG_AddSecret(*v);
    VLOG_DEBUG(4, 1000, "config_init: loaded configuration file [%s]", g_config_file.c_str());
    return 1;
}

std::optional<std::string> config_get(std::string_view key) {
    const std::string* v = vorn_GetConfigItem(g_config, key);
    if (v == nullptr || v->empty()) return std::nullopt;
    return *v;
}

void config_report_invalid(std::string_view key) {
    std::string k(key);
    const std::string* v = vorn_GetConfigItem(g_config, key);
    // The file is named too: under a service manager this line is often all
    // the operator sees of a start that failed.
    if (v == nullptr)
        VLOG_ERROR(1000, "Null value for %s (configuration file %s)", k.c_str(), g_config_file.c_str());
    else
        VLOG_ERROR(1000, "Invalid value for %s: %s (configuration file %s)", k.c_str(), v->c_str(),
                   g_config_file.c_str());
}

void config_dump() {
    for (const auto& item : g_config) {
        bool secret = item.key == "DBPASS" || item.key == "SFTP_PASSWORD";
        VLOG_INFO("Config #%s# => #%s#", item.key.c_str(), secret ? "****" : item.value.c_str());
    }
}

void config_free() { vorn_FreeConfigList(g_config); }

long config_get_number(std::string_view key, long dflt) {
    auto v = config_get(key);
    if (!v) return dflt;
    return strtol(v->c_str(), nullptr, 10);
}

bool config_get_flag(std::string_view key) {
    auto v = config_get(key);
    return v && (*v)[0] == '1';
}

bool config_get_flag_unless_zero(std::string_view key) {
    auto v = config_get(key);
    return !v || (*v)[0] != '0';
}

std::optional<unsigned> config_get_strict_unsigned(std::string_view key) {
    auto v = config_get(key);
    unsigned n = 0;
    // sscanf's %u would take "-5" as 4294967291 seconds; a sign is refused.
    if (!v || (*v)[0] == '-' || sscanf(v->c_str(), "%u", &n) != 1)
        return std::nullopt;
    return n;
}

std::optional<int> config_get_strict_int(std::string_view key) {
    auto v = config_get(key);
    int n = 0;
    if (!v || sscanf(v->c_str(), "%d", &n) != 1) return std::nullopt;
    return n;
}

std::optional<unsigned short> config_get_port(std::string_view key) {
    auto n = config_get_strict_int(key);
    if (!n) return std::nullopt;
    return static_cast<unsigned short>(static_cast<unsigned>(*n) & 0xffffu);
}
