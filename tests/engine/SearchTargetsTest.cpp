// What users type as targets: the addresses it yields, or the error naming
// the offending item.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SearchTargets.h"

namespace {

std::vector<std::string> Expand(const CSearchTargetList& list) {
    std::vector<std::string> out;
    for (const auto& r : list.Ranges())
        for (std::uint64_t a = r.first; a <= r.last; ++a) out.push_back(SearchTargetAddressText(std::uint32_t(a)));
    return out;
}

struct Accepted {
    const char* text;
    std::vector<std::string> addresses;  // empty: only the count is checked
    std::uint64_t count;
};

TEST(SearchTargets, ItemsYieldAscendingDistinctHosts) {
    const Accepted cases[] = {
        {"10.1.20.7", {"10.1.20.7"}, 1},
        {" 10.1.20.9 ,10.1.20.7\t", {"10.1.20.7", "10.1.20.9"}, 2},
        {"10.1.20.7,10.1.20.7", {"10.1.20.7"}, 1},
        {"10.1.20.0/30", {"10.1.20.1", "10.1.20.2"}, 2},
        {"10.1.20.6/31", {"10.1.20.6", "10.1.20.7"}, 2},
        {"10.1.20.7/32", {"10.1.20.7"}, 1},
        {"10.1.20.77/29", {"10.1.20.73", "10.1.20.74", "10.1.20.75", "10.1.20.76", "10.1.20.77", "10.1.20.78"}, 6},
        // Adjacent blocks: each block's edges are skipped, not the union's.
        {"10.1.20.4/30,10.1.20.0/30", {"10.1.20.1", "10.1.20.2", "10.1.20.5", "10.1.20.6"}, 4},
        // The /24 is inside the /16: its edges are hosts of the /16.
        {"10.1.20.0/24,10.1.0.0/16", {}, 65534},
        {"10.1.20.255,10.1.20.0/24", {}, 255},
        {"127.0.0.1,223.255.255.254", {"127.0.0.1", "223.255.255.254"}, 2},
    };
    for (const Accepted& c : cases) {
        CSearchTargetList list;
        SearchTargetError error;
        ASSERT_TRUE(ParseSearchTargets(c.text, list, error)) << c.text << ": " << error.Describe();
        EXPECT_EQ(list.Count(), c.count) << c.text;
        if (!c.addresses.empty()) {
            EXPECT_EQ(Expand(list), c.addresses) << c.text;
        }
    }
}

TEST(SearchTargets, RefusalNamesTheOffendingItem) {
    using R = SearchTargetError::Reason;
    const struct {
        const char* text;
        R reason;
        const char* item;
    } cases[] = {
        {"/8", R::NotAddress, "/8"},
        {"10.0.0.0/8", R::BadPrefix, "10.0.0.0/8"},
        {"10.0.0.0/15", R::BadPrefix, "10.0.0.0/15"},
        {"10.0.0.0/33", R::BadPrefix, "10.0.0.0/33"},
        {"10.0.0.0/", R::BadPrefix, "10.0.0.0/"},
        {"10.0.0.0/024", R::BadPrefix, "10.0.0.0/024"},
        {"300.1.1.1", R::NotAddress, "300.1.1.1"},
        {"10.1.1", R::NotAddress, "10.1.1"},
        {"010.1.1.1", R::NotAddress, "010.1.1.1"},
        {"nas.example.org", R::NotAddress, "nas.example.org"},
        {"10.1.20.7, nas", R::NotAddress, "nas"},
        {"", R::EmptyItem, ""},
        {"10.1.20.7,,10.1.20.8", R::EmptyItem, "10.1.20.7,,10.1.20.8"},
        {"10.1.20.7,", R::EmptyItem, "10.1.20.7,"},
        {"239.143.255.250", R::NotUnicast, "239.143.255.250"},
        {"255.255.255.255", R::NotUnicast, "255.255.255.255"},
        {"0.0.0.0/16", R::NotUnicast, "0.0.0.0/16"},
    };
    for (const auto& c : cases) {
        CSearchTargetList list;
        list.Add(1, 1);
        const CSearchTargetList before = list;
        SearchTargetError error;
        EXPECT_FALSE(ParseSearchTargets(c.text, list, error)) << c.text;
        EXPECT_EQ(error.reason, c.reason) << c.text;
        EXPECT_EQ(error.item, c.item) << c.text;
        EXPECT_NE(error.Describe().find(std::string("'") + c.item + "'"), std::string::npos) << error.Describe();
        EXPECT_EQ(list, before) << c.text << ": a refused list must add nothing";
    }
}

TEST(SearchTargets, LinesSkipBlankLinesAndAccumulate) {
    CSearchTargetList list;
    SearchTargetError error;
    ASSERT_TRUE(ParseSearchTargetLines("10.1.20.9\r\n\n  \n10.1.20.7, 10.1.20.8\n", list, error));
    ASSERT_TRUE(ParseSearchTargets("10.1.20.8/32", list, error));
    EXPECT_EQ(Expand(list), (std::vector<std::string>{"10.1.20.7", "10.1.20.8", "10.1.20.9"}));
    EXPECT_TRUE(ParseSearchTargetLines("", list, error));
    EXPECT_FALSE(ParseSearchTargetLines("10.1.20.7\n10.1.20.0/8\n", list, error));
    EXPECT_EQ(error.item, "10.1.20.0/8");
}

TEST(SearchTargets, RateIsAWholeNumberInRange) {
    const struct {
        const char* text;
        bool ok;
        int rate;
    } cases[] = {{"1", true, 1}, {"100000", true, 100000}, {"0", false, 0}, {"100001", false, 0},
                 {"-5", false, 0}, {"1e3", false, 0}, {"", false, 0}, {"99999999999", false, 0}};
    for (const auto& c : cases) {
        int rate = -1;
        EXPECT_EQ(ParseSearchRate(c.text, rate), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(rate, c.rate) << c.text;
        }
    }
}

}  // namespace
