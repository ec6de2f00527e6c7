#include "start_dir.h"

#include <unistd.h>

#include <climits>
#include <optional>

namespace {

std::optional<std::string> g_start_dir;

std::optional<std::string> current_dir() {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr) return std::nullopt;
    return std::string(cwd);
}

}  // namespace

void pms_remember_start_dir() {
    if (!g_start_dir) g_start_dir = current_dir();
}

std::string pms_path_from_start(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::optional<std::string> base = g_start_dir ? g_start_dir : current_dir();
    if (!base) return path;
    return *base == "/" ? "/" + path : *base + "/" + path;
}
