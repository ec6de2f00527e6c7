// The NiteVision guest file parser: rows, fields, quotes, dates, headings and
// the line-end and empty-field faults it must not have.
#include <gtest/gtest.h>

#include <cctype>

#include "vendors/nitevision/nv_guest_file.h"

namespace {

// One guest as "first/last/phone/room/arrival/departure/checkin".
std::string show(const NvGuestEntry& g) {
    return g.first + "/" + g.last + "/" + g.phone + "/" + g.room + "/" + g.arrival + "/" + g.departure + "/" +
           g.checkin;
}

struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> guests;
    int bad = 0;
    int headings = 0;
};

class NvGuestFileTest : public ::testing::TestWithParam<Case> {};

const std::string kRow = "7|Ann|Smith|555-1|101|2030-05-01 14:00:00|2030-05-03 11:00:00|2030-05-01 14:05:00";
const std::string kAnn = "Ann/Smith/555-1/101/2030-05-01 14:00:00/2030-05-03 11:00:00/2030-05-01 14:05:00";
const std::string kHeading = "ID|FIRST|LAST|PHONE|ROOM|ARRIVAL|DEPARTURE|CHECKIN";

const Case kCases[] = {
    {"plain row, final newline", kRow + "\n", {kAnn}},
    {"quoted fields", "\"7\"|\"Ann\"|\"Smith\"|\"555-1\"|\"101\"|\"2030-05-01 14:00:00\"|\"2030-05-03 11:00:00\"|"
                      "\"2030-05-01 14:05:00\"",
     {kAnn}},
    {"dates cut to 19 characters",
     "7|Ann|Smith|555-1|101|2030-05-01 14:00:00.000|2030-05-03 11:00:00+02|2030-05-01 14:05:00 x", {kAnn}},
    {"empty dates and names default or stay empty", "7|||||||\n8||Jones||102|\"\"||",
     {"/Jones//102/2000-11-11/2000-11-11/2000-11-11"}, 0, 1},
    {"heading rows take part in nothing", kHeading + "\n" + kRow + "\n1|A|B|C|ROOM 5|||", {kAnn}, 0, 2},
    {"heading only: no guests", kHeading + "\n", {}, 0, 1},
    {"wrong field counts are bad rows", "1|2|3|4|5|6|7\n" + kRow + "\n1|2|3|4|5|6|7|8|9", {kAnn}, 2},
    // Faults: CR/LF line ends kept a "\r" in the last field, so an empty
    // check-in date was not defaulted; an empty first field lost a field.
    {"CR/LF line ends", kRow + "\r\n8|Bob|Jones|555-2|102|2030-05-01|2030-05-02|\r\n",
     {kAnn, "Bob/Jones/555-2/102/2030-05-01/2030-05-02/2000-11-11"}},
    {"empty first field", "|Ann|Smith|555-1|101|2030-05-01 14:00:00|2030-05-03 11:00:00|2030-05-01 14:05:00",
     {kAnn}},
    {"empty text", "", {}},
};

}  // namespace

TEST_P(NvGuestFileTest, Parses) {
    const Case& c = GetParam();
    NvGuestFile f = nv_parse_guest_file(c.text);
    std::vector<std::string> got;
    for (const auto& g : f.guests) got.push_back(show(g));
    EXPECT_EQ(got, c.guests);
    EXPECT_EQ(static_cast<int>(f.bad_rows.size()), c.bad);
    EXPECT_EQ(f.headings, c.headings);
}

INSTANTIATE_TEST_SUITE_P(Rows, NvGuestFileTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* p = info.param.what; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });
