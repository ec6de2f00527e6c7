// Vendor registry: names and order, selection, start failures, record
// dispatch by code, stop, and the LRC.
#include <gtest/gtest.h>

#include "ctl_support.h"
#include "logcapture.h"
#include "vendor.h"

namespace {

std::vector<std::string> g_handled;

VendorDescriptor dispatchVendor() {
    VendorDescriptor d = bareVendorDescriptor();
    d.commands = {
        {"LA",
         [](const std::string& r) {
             g_handled.push_back("LA:" + r);
             return 1;
         }},
        {"GI",
         [](const std::string& r) {
             g_handled.push_back("GI:" + r);
             return 0;
         }},
        {"NS", nullptr},  // accepted and ignored
    };
    return d;
}

int g_factory_calls = 0;

VendorDescriptor countedVendor() {
    ++g_factory_calls;
    return testVendorDescriptor();
}

VendorDescriptor failingVendor() {
    VendorDescriptor d = testVendorDescriptor();
    d.init = [] { return 0; };
    return d;
}

VendorDescriptor noInitVendor() { return bareVendorDescriptor(); }

struct ResetRegistry {
    ~ResetRegistry() {
        vendor_stop();
        vendor_set_factory(kTestVendorId, nullptr);
    }
};

}  // namespace

TEST(VendorRegistry, NamesInFixedOrder) {
    const std::vector<std::string> expected = {"Micros-Fidelio 2-way",
                                               "Marriott 2-way",
                                               "Hilton OnQ 2-way",
                                               "Agilysys 2-way",
                                               "JDS 2-way",
                                               "MarriottFOSSE 2-way",
                                               "GalaVu 2-way",
                                               "Galaxy 2-way",
                                               "Regal 2-way",
                                               "HN MUX 2-way",
                                               "Micros4700 1.5-way",
                                               "Optima 2-way",
                                               "Protel 2-way",
                                               "NiteVisionSFTP 1-way",
                                               "HTNG 2-way"};
    ASSERT_EQ(kVendorNames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(kVendorNames[i], expected[i]) << i;
}

TEST(VendorRegistry, SelectionIsByExactName) {
    ResetRegistry reset;
    LogCapture log;
    vendor_set_factory(kTestVendorId, noInitVendor);
    EXPECT_EQ(vendor_init("JDS 2-way"), kTestVendorId);
    ASSERT_NE(vendor_current(), nullptr);
    EXPECT_EQ(vendor_current()->name, "JDS 2-way");

    EXPECT_EQ(vendor_init("jds 2-way"), -1);
    EXPECT_EQ(vendor_current(), nullptr);
    EXPECT_TRUE(log.contains("Specified vendor implementation 'jds 2-way' not found"));
    EXPECT_EQ(vendor_init("JDS"), -1);
}

TEST(VendorRegistry, StartFailures) {
    ResetRegistry reset;
    LogCapture log;
    vendor_set_factory(kTestVendorId, failingVendor);
    EXPECT_EQ(vendor_init("JDS 2-way"), -1);
    EXPECT_TRUE(log.contains("Failed to initalize vendor [JDS 2-way]"));
    EXPECT_NE(vendor_current(), nullptr);  // the entry stays current

    // A named entry without an implementation in this build fails the same way.
    for (int id = 0; id < VENDOR_COUNT; ++id) {
        if (vendor_is_built(id)) continue;
        log.clear();
        EXPECT_EQ(vendor_init(kVendorNames[id]), -1);
        EXPECT_TRUE(
            log.contains(std::string("Failed to initalize vendor [") + kVendorNames[id] + "]"));
        EXPECT_EQ(vendor_current(), nullptr);
    }
}

// The descriptor is built once and kept: a restart runs init again on the
// same entry, so an operation may restart its own vendor safely.
TEST(VendorRegistry, DescriptorIsBuiltOnceAndInitRunsAtEachStart) {
    ResetRegistry reset;
    vendor_set_factory(kTestVendorId, countedVendor);
    g_factory_calls = 0;
    int inits = testVendor().init_calls;
    ASSERT_EQ(vendor_init("JDS 2-way"), kTestVendorId);
    const VendorDescriptor* first = vendor_current();
    vendor_stop();
    ASSERT_EQ(vendor_init("JDS 2-way"), kTestVendorId);
    EXPECT_EQ(vendor_current(), first);
    EXPECT_EQ(g_factory_calls, 1);
    EXPECT_EQ(testVendor().init_calls, inits + 2);
}

TEST(VendorRegistry, RecordsAreDispatchedByCode) {
    ResetRegistry reset;
    LogCapture log;
    g_handled.clear();
    EXPECT_EQ(vendor_handle_data("LA|DA240101|"), 0);  // no vendor yet
    EXPECT_TRUE(
        log.contains("Unable to handle data because it is null or no appropriate command handlers "
                     "have been defined."));

    vendor_set_factory(kTestVendorId, dispatchVendor);
    ASSERT_EQ(vendor_init("JDS 2-way"), kTestVendorId);
    EXPECT_EQ(vendor_handle_data("LA|DA240101|"), 1);
    EXPECT_EQ(vendor_handle_data("GI|RN101|"), 0);  // the handler's own result
    EXPECT_EQ(g_handled, (std::vector<std::string>{"LA:LA|DA240101|", "GI:GI|RN101|"}));

    EXPECT_EQ(vendor_handle_data("NS|x"), 1);  // accepted, no handler
    EXPECT_EQ(vendor_handle_data("LA"), 0);    // too short to carry a code
    EXPECT_TRUE(log.contains("Unhandled message format [LA]"));
    EXPECT_EQ(vendor_handle_data("XX|y"), 0);
    EXPECT_TRUE(log.contains("Unhandled message type 'XX'"));
    EXPECT_EQ(vendor_handle_data(""), 0);
    EXPECT_EQ(g_handled.size(), 2u);
}

TEST(VendorRegistry, StopRunsCloseOnce) {
    ResetRegistry reset;
    vendor_set_factory(kTestVendorId, testVendorDescriptor);
    int closes = testVendor().close_calls;
    ASSERT_EQ(vendor_init("JDS 2-way"), kTestVendorId);
    EXPECT_EQ(testVendor().init_calls, 1);
    vendor_stop();
    vendor_stop();
    EXPECT_EQ(testVendor().close_calls, closes + 1);
    EXPECT_EQ(vendor_current(), nullptr);
}

TEST(VendorLrc, XorOfEveryByte) {
    EXPECT_EQ(vendor_calc_lrc("A"), 65);
    EXPECT_EQ(vendor_calc_lrc("AB"), 3);
    EXPECT_EQ(vendor_calc_lrc(""), 0);
    EXPECT_EQ(vendor_calc_lrc("\xff\x01"), 254);  // high bytes stay 0-255
}
