// What users type as targets: the addresses it yields, or the error naming the offending
// item (cli_lab_bad_arguments_exit_2_with_one_clear_message runs the CLI's refusals).
#include <gtest/gtest.h>

#include "Common/SearchTargets.h"
#include "Net/Ipv4.h"

namespace {

// The list's address ranges, "first-last" in order, or "refused: <item>".
std::string Parse(const std::string& text) {
    CSearchTargetList list;
    SearchTargetError error;
    if (!ParseSearchTargets(text, list, error)) return "refused: " + error.item;
    std::string out;
    for (const auto& r : list.Ranges())
        out += net::Ipv4Text(std::uint32_t(r.first)) + "-" + net::Ipv4Text(std::uint32_t(r.last)) + " ";
    return out + std::to_string(list.Count());
}

TEST(SearchTargets, ItemsYieldAscendingDistinctHosts) {
    const std::pair<const char*, const char*> cases[] = {
        {" 10.1.20.9 ,10.1.20.7\t", "10.1.20.7-10.1.20.7 10.1.20.9-10.1.20.9 2"},
        {"10.1.20.7,10.1.20.7", "10.1.20.7-10.1.20.7 1"},
        {"10.1.20.0/30", "10.1.20.1-10.1.20.2 2"},
        {"10.1.20.6/31", "10.1.20.6-10.1.20.7 2"},
        {"10.1.20.7/32", "10.1.20.7-10.1.20.7 1"},
        {"10.1.20.77/29", "10.1.20.73-10.1.20.78 6"},
        // Adjacent blocks: each block's edges are skipped, not the union's.
        {"10.1.20.4/30,10.1.20.0/30", "10.1.20.1-10.1.20.2 10.1.20.5-10.1.20.6 4"},
        // The /24 is inside the /16: its edges are hosts of the /16.
        {"10.1.20.0/24,10.1.0.0/16", "10.1.0.1-10.1.255.254 65534"},
        {"10.1.20.255,10.1.20.0/24", "10.1.20.1-10.1.20.255 255"},
        {"1.0.0.1,223.255.255.254", "1.0.0.1-1.0.0.1 223.255.255.254-223.255.255.254 2"},
    };
    for (const auto& [text, ranges] : cases) EXPECT_EQ(Parse(text), ranges) << text;

    // Lines: blank ones skipped, the rest accumulate in the list given.
    CSearchTargetList list;
    SearchTargetError error;
    EXPECT_TRUE(ParseSearchTargetLines("10.1.20.9\r\n\n  \n10.1.20.7, 10.1.20.8\n", list, error) &&
                ParseSearchTargets("10.1.20.8/32,10.1.20.10", list, error) && ParseSearchTargetLines("", list, error));
    EXPECT_EQ(list.Count(), 4u);
    EXPECT_FALSE(ParseSearchTargetLines("10.1.20.7\n10.1.20.0/8\n", list, error));
    EXPECT_EQ(error.item, "10.1.20.0/8");
}

TEST(SearchTargets, RefusalNamesTheOffendingItemAndAddsNothing) {
    using R = SearchTargetError::Reason;
    const struct {
        const char* text;
        R reason;
        const char* item;
    } cases[] = {
        {"10.0.0.0/15", R::BadPrefix, "10.0.0.0/15"},     {"10.0.0.0/", R::BadPrefix, "10.0.0.0/"},
        {"10.0.0.0/024", R::BadPrefix, "10.0.0.0/024"},   {"10.1.1", R::NotAddress, "10.1.1"},
        {"010.1.1.1", R::NotAddress, "010.1.1.1"},         {"10.1.20.7, nas", R::NotAddress, "nas"},
        {"", R::EmptyItem, ""},                             {"10.1.20.7,", R::EmptyItem, "10.1.20.7,"},
        {"239.143.255.250", R::NotUnicast, "239.143.255.250"}, {"255.255.255.255", R::NotUnicast, "255.255.255.255"},
        {"0.0.0.0/16", R::NotUnicast, "0.0.0.0/16"},      {"127.0.0.0/16", R::NotUnicast, "127.0.0.0/16"},
        {"127.0.0.1", R::NotUnicast, "127.0.0.1"},
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

TEST(SearchTargets, RateIsAWholeNumberInRange) {
    int rate = 0;
    for (const char* text : {"0", "100001", "-5", "1e3", "", "99999999999"})
        EXPECT_FALSE(ParseSearchRate(text, rate)) << text;
    EXPECT_TRUE(ParseSearchRate("1", rate) && rate == 1 && ParseSearchRate("100000", rate) && rate == 100000);
}

}  // namespace
