// The Debian package built by scripts/package (once per run, by the
// package_build fixture): its control data and contents, lintian, and the
// programs and example configurations unpacked into a throwaway root.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "procrun.h"
#include "tmpfiles.h"

namespace {

// The built package, or "" when there is none (packaging tools missing).
std::string packagePath() {
    std::string found;
    if (DIR* d = opendir(VORNPMS_PACKAGE_DIR)) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind("vornpms_", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".deb")
                found = std::string(VORNPMS_PACKAGE_DIR) + "/" + name;
        }
        closedir(d);
    }
    return found;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override {
        deb = packagePath();
        if (deb.empty()) {
            if (access("/usr/bin/dpkg-shlibdeps", X_OK) != 0)
                GTEST_SKIP() << "no package: the packaging tools (dpkg-dev) are not installed; "
                                "scripts/install-deps installs them";
            FAIL() << "no package in " VORNPMS_PACKAGE_DIR " although dpkg-dev is installed";
        }
    }
    std::string deb;
};

}  // namespace

TEST_F(Package, ControlDataAndContents) {
    RunResult info = runProgram({"/usr/bin/dpkg-deb", "-I", deb});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const char* want : {" Package: vornpms\n", " Version: 0.24.2-1\n", "libpq5", "libssh2-1", "libc6",
                             " Section: net\n", " postinst", " prerm", " postrm", " conffiles"})
        EXPECT_NE(info.out.find(want), std::string::npos) << want << "\n" << info.out;
    RunResult conffiles = runProgram({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
    EXPECT_NE(conffiles.out.find("adduser"), std::string::npos) << conffiles.out;

    RunResult list = runProgram({"/usr/bin/dpkg-deb", "-c", deb});
    ASSERT_EQ(list.status, 0) << list.err;
    for (const char* want :
         {" ./usr/sbin/vornpms\n", " ./usr/sbin/vornpms_status\n", " ./usr/bin/vornpms_post_charge\n",
          " ./usr/bin/vornpms_db_swap\n", " ./usr/bin/vornpms_rt_billing\n", " ./usr/bin/vornpms_mcast_listen\n",
          " ./usr/bin/vornpms_pmssim\n", " ./usr/share/vornpms/schema.sql\n", " ./lib/systemd/system/vornpms.service\n",
          " ./etc/logrotate.d/vornpms\n", " ./etc/vornpms/vornpms.cfg\n", " ./usr/share/man/man8/vornpms.8.gz\n",
          " ./usr/share/man/man5/vornpms.cfg.5.gz\n", " ./usr/share/man/man8/vornpms_status.8.gz\n",
          " ./usr/share/man/man1/vornpms_pmssim.1.gz\n",
          " ./usr/share/doc/vornpms/examples/micros-fidelio-tcp.cfg\n",
          " ./usr/share/doc/vornpms/examples/micros-fidelio-serial.cfg\n",
          " ./usr/share/doc/vornpms/examples/agilysys.cfg\n", " ./usr/share/doc/vornpms/copyright\n"})
        EXPECT_NE(list.out.find(want), std::string::npos) << want;
    // The database password lives in the configuration: not readable by all.
    EXPECT_NE(list.out.find("-rw-r----- root/root"), std::string::npos);
}

TEST_F(Package, LintianFindsNoError) {
    if (access("/usr/bin/lintian", X_OK) != 0) GTEST_SKIP() << "lintian is not installed (scripts/install-deps)";
    RunResult r = runProgram({"/usr/bin/lintian", "--tag-display-limit", "0", deb}, {}, 170000);
    EXPECT_EQ(r.out.find("\nE: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.rfind("E: ", 0), 0u) << r.out;
    EXPECT_NE(r.status, -1) << r.out;
}

// Unpacked into a throwaway root: the daemon there runs, every example
// configuration reads without a warning, and every manual page formats.
TEST_F(Package, UnpackedProgramsExamplesAndManualPages) {
    TempDir root;
    RunResult x = runProgram({"/usr/bin/dpkg", "-x", deb, root.path()});
    ASSERT_EQ(x.status, 0) << x.err;
    RunResult v = runProgram({root.path() + "/usr/sbin/vornpms", "-v"});
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.out, root.path() + "/usr/sbin/vornpms: Version 0.24.2\n\n");

    for (const char* example : {"micros-fidelio-tcp.cfg", "micros-fidelio-serial.cfg", "agilysys.cfg"}) {
        std::string path = root.path() + "/usr/share/doc/vornpms/examples/" + example;
        RunResult c = runProgram({root.path() + "/usr/sbin/vornpms", "-C", "-c", path});
        EXPECT_EQ(c.status, 0) << example;
        for (const char* key : {"#VENDOR#", "#POSTDELAY#", "#CONTROLPORT#", "#DBNAME#", "#LINKLOGFILE#"})
            EXPECT_NE(c.err.find(key), std::string::npos) << example << " lacks " << key;
        EXPECT_EQ(c.err.find("WARNING"), std::string::npos) << c.err;
    }
    for (const char* page : {"man8/vornpms.8.gz", "man5/vornpms.cfg.5.gz", "man8/vornpms_status.8.gz",
                             "man1/vornpms_post_charge.1.gz", "man1/vornpms_mcast_listen.1.gz"}) {
        RunResult m = runProgram({"/bin/sh", "-c", "gzip -dc \"$0\" | groff -man -Tutf8 -ww -z",
                                  root.path() + "/usr/share/man/" + page});
        EXPECT_EQ(m.status, 0) << page;
        EXPECT_EQ(m.err, "") << page;
    }
    // The unit's keys are all ones systemd knows.
    if (access("/usr/bin/systemd-analyze", X_OK) == 0) {
        RunResult u = runProgram({"/usr/bin/systemd-analyze", "verify", root.path() + "/lib/systemd/system/vornpms.service"});
        for (const char* bad : {"Unknown key", "Unknown section", "Failed to parse boolean", "Invalid "})
            EXPECT_EQ(u.err.find(bad), std::string::npos) << u.err;
    }
    // The settings page lists the settings of every section of the README.
    RunResult cfg5 = runProgram({"/bin/sh", "-c", "gzip -dc \"$0\"", root.path() + "/usr/share/man/man5/vornpms.cfg.5.gz"});
    for (const char* key : {"POSTDELAY", "PMSCOMMOPTS", "EXPIRE_ON_CHECKOUT", "CONTROLADDR", "DEPARTURE_TIME_OFFSET",
                            "PMSMCAST_PORT"})
        EXPECT_NE(cfg5.out.find(std::string("\\fB") + key), std::string::npos) << key;
}
