#include <gtest/gtest.h>

#include "cmdline.h"
#include "config.h"
#include "logcapture.h"
#include "platform/log.h"
#include "procrun.h"
#include "state.h"
#include "tmpfiles.h"

namespace {

const std::string kUsage =
    "Usage: %s [-c file] [-C] [-D] [-d level] [-v]\nwhere\n\t-c file  Configuration file to use "
    "[pms.cfg]\n\t-C\t   Configuration file settings and descriptions\n\t-D\t   Do not daemonize "
    "(for debugging purposes)\n\t-d level Debugging verbosity level (0-4 inclusive)\n\t-v\t   "
    "Display version information and exit\n\n\n";

std::string usageFor(const std::string& prog) {
    std::string u = kUsage;
    u.replace(u.find("%s"), 2, prog);
    return u;
}

RunResult vornpms(std::vector<std::string> args, std::vector<std::string> env = {}) {
    args.insert(args.begin(), binPath("vornpms"));
    return runProgram(args, env);
}

std::optional<int> parse(std::vector<std::string> args) {
    args.insert(args.begin(), "vornpms");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return pms_parse_cmdline(static_cast<int>(args.size()), argv.data());
}

}  // namespace

TEST(CmdlineProcess, VersionAndPlatformCheck) {
    RunResult r = vornpms({"-v"}, {"VORNPMS_PLATFORM_VERSION=59"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, binPath("vornpms") + ": Version 0.24.2\n\n");
    EXPECT_EQ(vornpms({"-v"}, {"VORNPMS_PLATFORM_VERSION"}).status, 0);  // no platform: passes
    EXPECT_EQ(vornpms({"-v"}, {"VORNPMS_PLATFORM_VERSION=0"}).status, 0);

    for (const char* bad : {"VORNPMS_PLATFORM_VERSION=58", "VORNPMS_PLATFORM_VERSION="}) {
        r = vornpms({"-v"}, {bad});
        EXPECT_EQ(r.status, 255) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("ERROR version:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("This binary was not built for this version of VornGate"),
                  std::string::npos);
    }
    // The check comes before the options, -h included.
    EXPECT_EQ(vornpms({"-h"}, {"VORNPMS_PLATFORM_VERSION=58"}).status, 255);
}

TEST(CmdlineProcess, DebugLevelUsageAndUnknownOptions) {
    RunResult r = vornpms({"-d", "5", "-v"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Invalid debug level; 0-4 incl.\n");
    EXPECT_EQ(vornpms({"-d", "-1"}).status, 1);
    r = vornpms({"-d", "abc", "-v"});  // not a number: level 0, accepted
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, binPath("vornpms") + ": Version 0.24.2\n\n");

    r = vornpms({"-h"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usageFor(binPath("vornpms")));
    r = vornpms({"-x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, usageFor(binPath("vornpms")));
}

TEST(CmdlineProcess, ListConfiguration) {
    TempDir dir;
    std::string cfg = dir.write("vornpms.cfg", "POSTDELAY=60\nVENDOR=Micros-Fidelio 2-way\n"
                                               "DBPASS=topsecret\nLINKLOGFILE=\n");
    RunResult r = vornpms({"-C", "-c", cfg});  // -c counts even after -C
    EXPECT_EQ(r.status, 0);
    size_t a = r.err.find("Config #POSTDELAY# => #60#");
    size_t b = r.err.find("Config #VENDOR# => #Micros-Fidelio 2-way#");
    size_t c = r.err.find("Config #DBPASS# => #****#");
    size_t d = r.err.find("Config #LINKLOGFILE# => ##");
    EXPECT_TRUE(a < b && b < c && c < d && d != std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("topsecret"), std::string::npos);

    std::string missing = dir.path() + "/missing.cfg";
    r = vornpms({"-c", missing, "-C"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Could not open " + missing + ": No such file or directory"),
              std::string::npos)
        << r.err;

    std::string unreadable = dir.path();  // a directory cannot be read as a file
    r = vornpms({"-c", unreadable, "-C"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Could not open " + unreadable), std::string::npos) << r.err;
}

// -C also describes every declared setting and names each value it would not
// read as intended, with its key and the form it expects; still status 0.
TEST(CmdlineProcess, ListConfigurationChecksValues) {
    TempDir dir;
    std::string cfg = dir.write("vornpms.cfg",
                                "POSTDELAY=-5\nPMSCOMMTYPE=tcp\nCONTROLADDR=10.0.0.300\nUSE_PS_POST=yes\n"
                                "DEPARTURE_TIME_OFFSET=1200\nMSG_RETRIES=three\nPSI_NO=2\nUSER_STRINGS=no\n");
    RunResult r = vornpms({"-C", "-c", cfg});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Setting PMSCOMMTIMEOUT (PMS link): read time-out on the PMS link, seconds; default"),
              std::string::npos)
        << r.err;
    for (const char* warning : {"Invalid value for POSTDELAY: '-5', expected a whole number of 0 or more",
                                "Invalid value for CONTROLADDR: '10.0.0.300', expected an IPv4 address",
                                "Invalid value for USE_PS_POST: 'yes', expected 0 or 1",
                                "Invalid value for DEPARTURE_TIME_OFFSET: '1200', expected six digits HHMMSS",
                                "Invalid value for MSG_RETRIES: 'three', expected a whole number"})
        EXPECT_NE(r.err.find(warning), std::string::npos) << warning << "\n" << r.err;
    // Valid values, in any letter case where the reader ignores it, pass.
    for (const char* key : {"PMSCOMMTYPE:", "PSI_NO:", "USER_STRINGS:"})
        EXPECT_EQ(r.err.find(std::string("Invalid value for ") + key), std::string::npos) << key;
}

TEST(CmdlineParse, OptionsSetState) {
    LogCapture log(0);
    EXPECT_EQ(parse({"-c", "/tmp/x.cfg", "-D", "-d", "4", "-I", "-L", "/tmp/lk"}), std::nullopt);
    EXPECT_EQ(g_config_file, "/tmp/x.cfg");
    EXPECT_EQ(g_daemonize, 0);
    EXPECT_EQ(VORN_MSG_DEBUG_LEVEL, 4);
    EXPECT_EQ(g_lockfile, "/tmp/lk");
    EXPECT_TRUE(log.contains("lockfile path [/tmp/lk]"));
    EXPECT_EQ(parse({"-d", "abc"}), std::nullopt);
    EXPECT_EQ(VORN_MSG_DEBUG_LEVEL, 0);
    EXPECT_EQ(parse({"-d", "5"}), 1);
    EXPECT_EQ(parse({}), std::nullopt);  // parsing again starts from the first word
}
