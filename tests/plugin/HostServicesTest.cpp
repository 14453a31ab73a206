#include "plugin/HostServices.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

extern "C" {
// A stand-in for the host's BKA_GetVersion, in the host's calling convention.
static const char* fakeVersionText = nullptr;
static const char* QUILL_CALLBACK fakeGetVersion() {
    return fakeVersionText;
}
static int QUILL_CALLBACK fakeService() {
    return 0;
}
}

namespace quill {
namespace {

// A host that exports every name except the missing ones and records each
// look-up in order.
class FakeHost : public HostServices::Source {
public:
    bool hasModule = true;
    std::set<std::string> missing;
    std::vector<std::string> lookups;

    void* hostModule() override { return hasModule ? this : nullptr; }
    void* symbol(void* module, const char* name) override {
        EXPECT_EQ(module, this);
        lookups.push_back(name);
        if (missing.count(name))
            return nullptr;
        if (std::strcmp(name, "BKA_GetVersion") == 0)
            return reinterpret_cast<void*>(&fakeGetVersion);
        return reinterpret_cast<void*>(&fakeService);
    }
    int compareText(const char* a, const char* b) override { return std::strcmp(a, b); }
};

TEST(HostServicesTest, VersionRuleForTheOptionalStatusService) {
    struct Case {
        const char* version;
        std::set<std::string> missing;
        bool bound;
    } cases[] = {
        {"2.75.02", {}, true},
        {"2.75.02", {"BKA_NextUnread"}, true},
        {"2.75.02", {"BKA_SetStatus"}, false},
        // Seven characters that sort before the first host with the service.
        {"2.00.05", {"BKA_SetStatus"}, true},
        {"1.99", {"BKA_SetStatus", "BKA_NextUnread"}, true},
        {"2.00.06", {"BKA_SetStatus"}, false},
        {"2.00.1", {"BKA_SetStatus"}, false},
        // Longer than seven characters: never counted as an old host.
        {"1.00.00a", {"BKA_SetStatus"}, false},
        // A host that gives no version text at all counts as an old one.
        {nullptr, {"BKA_SetStatus"}, true},
        // Any other service missing refuses the host, whatever its version.
        {"2.00.05", {"BKA_Connect"}, false},
        {"2.75.02", {"BKA_Command"}, false},
        {"2.75.02", {"BKA_GetVersion"}, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        fakeVersionText = cases[i].version;
        FakeHost host;
        host.missing = cases[i].missing;
        HostServices table;
        EXPECT_EQ(table.bind(host), cases[i].bound) << "case " << i;
        EXPECT_EQ(table.bound(), cases[i].bound) << "case " << i;
        if (cases[i].bound) {
            EXPECT_EQ(table.slot(0), reinterpret_cast<void*>(&fakeGetVersion)) << "case " << i;
            EXPECT_EQ(table.version(), cases[i].version ? cases[i].version : "") << "case " << i;
        } else {
            EXPECT_EQ(table.slot(0), nullptr) << "case " << i;
        }
    }
}

TEST(HostServicesTest, NamesAreLookedUpInSlotOrderUpToTheFirstMissingOne) {
    fakeVersionText = "2.75.02";
    FakeHost host;
    HostServices table;
    ASSERT_TRUE(table.bind(host));
    ASSERT_EQ(host.lookups.size(), HostServices::kSlotCount);
    // Every slot but the two optional ones first, then those two.
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < HostServices::kSlotCount; ++i)
        if (i != 21 && i != 55)
            expected.push_back(HostServices::kNames[i]);
    expected.push_back("BKA_SetStatus");
    expected.push_back("BKA_NextUnread");
    EXPECT_EQ(host.lookups, expected);

    FakeHost lacking;
    lacking.missing = {"BKA_GetText"};
    HostServices refused;
    EXPECT_FALSE(refused.bind(lacking));
    EXPECT_EQ(lacking.lookups.back(), "BKA_GetText");
    EXPECT_EQ(lacking.lookups.size(), 27u); // BKA_GetText is slot 28, minus slot 22
}

TEST(HostServicesTest, BindingOnceBoundAndAfterARefusal) {
    fakeVersionText = "2.75.02";
    HostServices table;
    FakeHost none;
    none.hasModule = false;
    EXPECT_FALSE(table.bind(none));
    EXPECT_TRUE(none.lookups.empty());

    FakeHost lacking;
    lacking.missing = {"BKA_SetStatus"};
    EXPECT_FALSE(table.bind(lacking));
    EXPECT_FALSE(table.bound());

    FakeHost good;
    EXPECT_TRUE(table.bind(good));
    FakeHost again;
    again.missing = {"BKA_Command"};
    EXPECT_TRUE(table.bind(again)); // already bound: nothing is looked up again
    EXPECT_TRUE(again.lookups.empty());
}

TEST(HostServicesTest, TableHoldsTheHostsFiftySixNames) {
    std::set<std::string> names(std::begin(HostServices::kNames), std::end(HostServices::kNames));
    EXPECT_EQ(names.size(), 56u);
    EXPECT_STREQ(HostServices::kNames[21], "BKA_SetStatus");
    EXPECT_STREQ(HostServices::kNames[55], "BKA_NextUnread");
    EXPECT_STREQ(HostServices::kNames[54], "BKA_Connect");
}

} // namespace
} // namespace quill
