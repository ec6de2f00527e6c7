#include <arpa/inet.h>

#include <gtest/gtest.h>

#include "logcapture.h"
#include "utils/strutils.h"

using Fields = std::vector<std::string>;

TEST(StrSplit, FieldsAtSeparator) {
    EXPECT_EQ(strSplit("a|b", "|"), (Fields{"a", "b"}));
    EXPECT_EQ(strSplit("|a|b", "|"), (Fields{"a", "b"}));
    EXPECT_EQ(strSplit("a|", "|"), (Fields{"a", ""}));
    EXPECT_EQ(strSplit("a||b", "|"), (Fields{"a", "", "b"}));
    EXPECT_EQ(strSplit("abc", "|"), (Fields{"abc"}));
    EXPECT_EQ(strSplit("||a", "|"), (Fields{"", "a"}));
    EXPECT_EQ(strSplit("10.0.0.1::5000", "::"), (Fields{"10.0.0.1", "5000"}));
    EXPECT_TRUE(strSplit("", "|").empty());
    EXPECT_EQ(strSplit("abc", ""), (Fields{"abc"}));
}

TEST(StrCount, NonOverlappingOccurrences) {
    EXPECT_EQ(strCount("aaaa", "aa"), 2);
    EXPECT_EQ(strCount("aaa", "aa"), 1);
    EXPECT_EQ(strCount("ab", "ab"), 1);
    EXPECT_EQ(strCount("a", "ab"), 0);
    EXPECT_EQ(strCount("a|b|c", "|"), 2);
    EXPECT_EQ(strCount("abc", ""), 0);
}

TEST(StrAppendFmt, AppendsAndRefusesHugeTexts) {
    std::string s;
    EXPECT_EQ(strAppendFmt(s, "%s=%d", "x", 42), 4u);
    EXPECT_EQ(strAppendFmt(s, ",%s", "y"), 6u);
    EXPECT_EQ(s, "x=42,y");
    std::string big(65535, 'b');
    std::string t = "keep";
    EXPECT_EQ(strAppendFmt(t, "%s", big.c_str()), 65539u);
    big.push_back('b');
    t = "keep";
    EXPECT_EQ(strAppendFmt(t, "%s", big.c_str()), 0u);
    EXPECT_EQ(t, "keep");
}

TEST(StrPutFmt, FixedWidthFields) {
    std::string s;
    EXPECT_EQ(strPutFmt(s, 0, 6, "%-6s", "AB"), 6u);
    EXPECT_EQ(s, "AB    ");
    EXPECT_EQ(strPutFmt(s, 6, 6, "%s", "AB"), 0u);  // shorter than the field
    EXPECT_EQ(s, "AB    ");
    EXPECT_EQ(strPutFmt(s, 6, 6, "%s", "ABCDEFGH"), 12u);  // cut to the field
    EXPECT_EQ(s, "AB    ABCDEF");
    EXPECT_EQ(strPutFmt(s, 2, 3, "%03d", 7), 5u);  // overwrites and ends the string
    EXPECT_EQ(s, "AB007");
    std::string huge(65536, 'h');
    EXPECT_EQ(strPutFmt(s, 0, 4, "%s", huge.c_str()), 0u);
}

TEST(StrStrip, QuotesAndSpaces) {
    LogCapture log;
    std::string t = "\"101\"";
    EXPECT_TRUE(strStripQuotes(t));
    EXPECT_EQ(t, "101");
    EXPECT_TRUE(log.contains("quote strip in[\"101\"], out[101], in len[5], out len[3]"));

    t = "ab\"cd";
    EXPECT_TRUE(strStripQuotes(t));
    EXPECT_EQ(t, "ab\"cd");
    EXPECT_TRUE(log.contains("lead/trail quote strip - no quotes [ab\"cd]"));

    t = "\"\"\"";
    EXPECT_TRUE(strStripQuotes(t));
    EXPECT_EQ(t, "");
    EXPECT_TRUE(log.contains("lead/trail quote strip - all quotes [\"\"\"]"));

    t = "";
    EXPECT_FALSE(strStripQuotes(t));

    t = "  Smith ";
    EXPECT_TRUE(strStripSpaces(t));
    EXPECT_EQ(t, "Smith");
    t = "\tSmith\t";
    EXPECT_TRUE(strStripSpaces(t));
    EXPECT_EQ(t, "\tSmith\t");
    EXPECT_TRUE(log.contains("lead/trail space strip - no spaces [\tSmith\t]"));
    t = " a b ";
    EXPECT_TRUE(strStripSpaces(t));
    EXPECT_EQ(t, "a b");
}

TEST(StrTrimRight, TrailingBlanks) {
    EXPECT_EQ(strTrimRight("Smith \t "), "Smith");
    EXPECT_EQ(strTrimRight(" a b"), " a b");
    EXPECT_EQ(strTrimRight(" \t"), "");
    EXPECT_FALSE(strTrimRight("").has_value());
}

TEST(StrRemoveColonsFromMAC, ValidAndInvalid) {
    LogCapture log;
    std::string mac = "00:1a:2b:3c:4d:5e";
    EXPECT_TRUE(strRemoveColonsFromMAC(mac));
    EXPECT_EQ(mac, "001a2b3c4d5e");
    EXPECT_TRUE(log.contains("strRemoveColonsFromMAC in[00:1a:2b:3c:4d:5e] out[001a2b3c4d5e]"));
    mac = "001a2b3c4d5e";
    EXPECT_FALSE(strRemoveColonsFromMAC(mac));
    EXPECT_EQ(mac, "001a2b3c4d5e");
    EXPECT_TRUE(log.contains("strRemoveColonsFromMAC invalid input string"));
    mac = "00-1a-2b-3c-4d-5e";  // any character between the pairs is dropped
    EXPECT_TRUE(strRemoveColonsFromMAC(mac));
    EXPECT_EQ(mac, "001a2b3c4d5e");
}

TEST(StrList, QueueInOrder) {
    LogCapture log;
    StrList q;
    EXPECT_EQ(strListAppend(q, "one"), 1);
    EXPECT_EQ(strListAppend(q, "two"), 2);
    EXPECT_EQ(strListAppend(q, "three"), 3);
    EXPECT_EQ(strShift(q), "one");
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0], "two");
    EXPECT_EQ(q[1], "three");
    EXPECT_TRUE(log.contains("strShift: returning [one], items left [2]"));
    EXPECT_EQ(strShift(q), "two");
    EXPECT_EQ(strShift(q), "three");
    EXPECT_TRUE(log.contains("strShift: returning [three], no items left"));
    EXPECT_FALSE(strShift(q).has_value());
    EXPECT_TRUE(log.contains("strShift: nitems[0] <= 0"));
    strListAppend(q, "x");
    strListFree(q);
    EXPECT_TRUE(q.empty());
}

TEST(StrFormat, LongTexts) {
    std::string big(2000, 'z');
    EXPECT_EQ(strFormat("<%s>", big.c_str()), "<" + big + ">");
    EXPECT_EQ(strFormat("%d-%s", 5, "a"), "5-a");
}

TEST(StrDottedQuad, AsInetNtopWritesIt) {
    for (uint32_t host : {0x00000000u, 0x7f000001u, 0x0a14630au, 0xc0a86401u, 0xffffffffu, 0x09630a64u}) {
        in_addr a{htonl(host)};
        char want[INET_ADDRSTRLEN];
        ASSERT_NE(inet_ntop(AF_INET, &a, want, sizeof want), nullptr);
        EXPECT_EQ(strDottedQuad(a.s_addr), want);
    }
}
