#include "link_env.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <sstream>

#include "config.h"
#include "link.h"
#include "state.h"

namespace {

volatile sig_atomic_t g_sigpipes = 0;

void on_sigpipe(int) {
    g_sigpipes = g_sigpipes + 1;
    link_close();
}

}  // namespace

LinkEnv::LinkEnv() {
    g_sigpipes = 0;
    struct sigaction sa {};
    sa.sa_handler = on_sigpipe;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGPIPE, &sa, &saved_);
}

LinkEnv::~LinkEnv() {
    if (pms_fd_client >= 0) link_close();
    linklog_close();
    sigaction(SIGPIPE, &saved_, nullptr);
}

void LinkEnv::configure(const std::vector<std::string>& settings) const {
    std::string text = "LINKLOGFILE=" + trafficLogPath() + "\n";
    for (const auto& s : settings) text += s + "\n";
    g_config_file = dir_.write("vornpms.cfg", text);
    ASSERT_EQ(config_init(), 1);
}

std::vector<std::pair<char, std::string>> LinkEnv::trafficLog() const {
    static const std::regex line_form(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) ([<>*?]) ([\s\S]*))");
    std::vector<std::pair<char, std::string>> lines;
    std::istringstream in(readFile(trafficLogPath()));
    std::string line;
    while (std::getline(in, line)) {
        std::smatch m;
        if (!std::regex_match(line, m, line_form)) {
            ADD_FAILURE() << "malformed traffic log line: " << line;
            continue;
        }
        lines.emplace_back(m[2].str()[0], m[3].str());
    }
    return lines;
}

int LinkEnv::sigpipes() { return g_sigpipes; }

