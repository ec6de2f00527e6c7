// Key/value configuration file reader: one KEY=VALUE per line, file order kept.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct ConfigItem {
    std::string key;
    std::string value;
};
using ConfigList = std::vector<ConfigItem>;

// 0 on success with `list` replaced; -1 on failure with errno set.
int vorn_ConfigRead(const std::string& path, ConfigList& list);
// The value of the first item with exactly this key, or nullptr.
const std::string* vorn_GetConfigItem(const ConfigList& list, std::string_view key);
void vorn_FreeConfigList(ConfigList& list);
