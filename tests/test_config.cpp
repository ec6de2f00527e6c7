#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "config.h"
#include "settings.h"
#include "vendors/fias/fias_settings.h"
#include "logcapture.h"
#include "tmpfiles.h"

namespace {

class ConfigFile : public ::testing::Test {
protected:
    void load(const std::string& text) {
        g_config_file = dir_.write("vornpms.cfg", text);
        ASSERT_EQ(config_init(), 1);
    }
    void TearDown() override { config_free(); }
    TempDir dir_;
};

}  // namespace

TEST_F(ConfigFile, SyntaxCommentsBlanksAndFirstValue) {
    LogCapture log;
    load("# a comment\n"
         "   # an indented comment\n"
         "\n"
         "  POSTDELAY =  60  \n"
         "SESSION_INFO_CUSTOM_WHERE=ses_note = #x# # not a comment\n"
         "VENDOR=Micros-Fidelio 2-way\n"
         "VENDOR=Marriott\n"
         "no equals sign here\n"
         "DBNAME=\n"
         "PMSCOMMOPTS=/dev/ttyS0|9600|8|N|1\r\n"
         "postdelay=5\n");
    EXPECT_EQ(config_get("POSTDELAY"), "60");
    EXPECT_EQ(config_get("SESSION_INFO_CUSTOM_WHERE"), "ses_note = #x# # not a comment");
    EXPECT_EQ(config_get("VENDOR"), "Micros-Fidelio 2-way");
    EXPECT_EQ(config_get("PMSCOMMOPTS"), "/dev/ttyS0|9600|8|N|1");
    EXPECT_EQ(config_get("DBNAME"), std::nullopt);
    EXPECT_EQ(config_get("MISSING"), std::nullopt);
    EXPECT_EQ(config_get("postdelay"), "5");  // keys are compared exactly
    EXPECT_TRUE(log.contains(g_config_file + ":8: no '=' in line, skipped"));
    EXPECT_TRUE(log.contains("config_init: loaded configuration file [" + g_config_file + "]"));
}

TEST_F(ConfigFile, ReaderConventions) {
    load("PSI_NO=abc\n"
         "MSG_RETRIES=\n"
         "FLUSHTIMEOUT=7x\n"
         "AUTO_DB_SWAP=1yes\n"
         "USE_PS_POST=yes\n"
         "POST_ZERO_CHARGE=no\n"
         "CONTROLPORT=70000\n"
         "PMSCOMMTIMEOUT=-5\n"
         "POSTDELAY=60\n"
         "LINKLOGFILE=abc\n");
    EXPECT_EQ(config_get_number("PSI_NO", 9), 0);        // not a number reads 0
    EXPECT_EQ(config_get_number("MSG_RETRIES", 3), 3);   // empty is absent: default
    EXPECT_EQ(config_get_number("FLUSHTIMEOUT", 5), 7);
    EXPECT_TRUE(config_get_flag("AUTO_DB_SWAP"));
    EXPECT_FALSE(config_get_flag("USE_PS_POST"));
    EXPECT_FALSE(config_get_flag("REQUEST_ONLINE_FOLIO"));
    EXPECT_TRUE(config_get_flag_unless_zero("POST_ZERO_CHARGE"));  // "no" stays on
    EXPECT_TRUE(config_get_flag_unless_zero("ABSENT_FLAG"));
    EXPECT_EQ(config_get_port("CONTROLPORT"), 4464);
    EXPECT_EQ(config_get_strict_unsigned("POSTDELAY"), 60u);
    EXPECT_EQ(config_get_strict_unsigned("PMSCOMMTIMEOUT"), std::nullopt);
    EXPECT_EQ(config_get_strict_unsigned("LINKLOGFILE"), std::nullopt);
    EXPECT_EQ(config_get_strict_int("PMSCOMMTIMEOUT"), -5);
    EXPECT_EQ(config_get_port("LINKLOGFILE"), std::nullopt);

    load("POST_ZERO_CHARGE=0\n");
    EXPECT_FALSE(config_get_flag_unless_zero("POST_ZERO_CHARGE"));
}

TEST_F(ConfigFile, RereadReplacesAndFailureReports) {
    load("POSTDELAY=60\nVENDOR=JDS\n");
    load("POSTDELAY=30\n");
    EXPECT_EQ(config_get("POSTDELAY"), "30");
    EXPECT_EQ(config_get("VENDOR"), std::nullopt);

    LogCapture log;
    g_config_file = dir_.path() + "/missing.cfg";
    EXPECT_EQ(config_init(), 0);
    EXPECT_TRUE(log.contains("ERROR config:"));
    EXPECT_TRUE(log.contains("Could not open " + g_config_file + ": No such file or directory"));
}

TEST_F(ConfigFile, ReportInvalidAndDump) {
    load("POSTDELAY=abc\nDBPASS=s3cret\nDBUSER=gw\n");
    LogCapture log;
    config_report_invalid("POSTDELAY");
    config_report_invalid("VENDOR");
    EXPECT_TRUE(log.contains("Invalid value for POSTDELAY: abc"));
    EXPECT_TRUE(log.contains("Null value for VENDOR"));
    log.clear();
    config_dump();
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_NE(log.lines()[0].find("Config #POSTDELAY# => #abc#"), std::string::npos);
    EXPECT_NE(log.lines()[1].find("Config #DBPASS# => #****#"), std::string::npos);
    EXPECT_NE(log.lines()[2].find("Config #DBUSER# => #gw#"), std::string::npos);
}

// The manual page is made from the settings tables; the README must not fall
// behind them either, or an operator reads of a setting nowhere.
TEST(SettingsTables, EveryDeclaredSettingIsInTheReadme) {
    std::ifstream in(std::string(VORNPMS_SOURCE_DIR) + "/README.md");
    ASSERT_TRUE(in);
    std::stringstream readme;
    readme << in.rdbuf();
    for (const SettingsTable& table : config_settings_tables())
        for (const Setting& s : table.settings)
            EXPECT_NE(readme.str().find(std::string("`") + s.key + "`"), std::string::npos)
                << s.key << " (" << table.module << ") is not in the README";
}

// FLUSHTIMEOUT takes a fraction of a second; whole values keep their meaning.
struct SecondsCase {
    const char* value;  // nullptr: absent
    long long ms;
    bool valid;
};

class SecondsSetting : public ConfigFile, public ::testing::WithParamInterface<SecondsCase> {};

TEST_P(SecondsSetting, ReadAndChecked) {
    const SecondsCase& c = GetParam();
    load(c.value ? std::string("FLUSHTIMEOUT=") + c.value + "\n" : std::string("POSTDELAY=1\n"));
    EXPECT_EQ(setting_millis(kSetFlushTimeout), c.ms);
    if (c.value) {
        EXPECT_EQ(!setting_invalid(kSetFlushTimeout, c.value).has_value(), c.valid);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, SecondsSetting,
                         ::testing::Values(SecondsCase{nullptr, 5000, true}, SecondsCase{"5", 5000, true},
                                           SecondsCase{"0", 0, true}, SecondsCase{"0.2", 200, true},
                                           SecondsCase{"1.25", 1250, true}, SecondsCase{"7x", 7000, false},
                                           SecondsCase{"abc", 0, false}, SecondsCase{"0.2.1", 200, false}));
