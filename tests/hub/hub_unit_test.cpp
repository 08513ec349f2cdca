// The hub's pieces that the HTTP cases cannot reach in reasonable time: the
// access rules' network arithmetic, and the session numbers over a whole
// cycle and across restarts.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "hub/AddressList.h"
#include "hub/SessionNumbers.h"

namespace {

using hub::AddressList;
using hub::SessionNumbers;

TEST(HubAddresses, MatchesAddressesAndNetworksOfBothFamilies) {
    AddressList list;
    for (const char* entry : {"192.168.0.0/23", "10.0.0.7", "fd00::/8", "2001:db8::1/128"}) {
        ASSERT_TRUE(list.add(entry)) << entry;
    }
    const struct {
        const char* address;
        bool inside;
    } cases[] = {
        {"192.168.0.0", true},        {"192.168.1.255", true},   {"192.168.2.0", false},
        {"192.167.255.255", false},   {"10.0.0.7", true},        {"10.0.0.8", false},
        {"::ffff:192.168.1.9", true},  // an IPv4 till through an IPv6 socket
        {"fdff:1::2", true},          {"fe00::1", false},        {"2001:db8::1", true},
        {"2001:db8::2", false},       {"not an address", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.contains(c.address), c.inside) << c.address;
    }
    for (const char* entry :
         {"192.168.0.0/33", "::/129", "1.2.3.4/", "1.2.3.4/x", "till.example", "1.2.3", "/24"}) {
        EXPECT_FALSE(list.add(entry)) << entry;
    }
    EXPECT_TRUE(AddressList::isLoopback("127.3.2.1"));
    EXPECT_TRUE(AddressList::isLoopback("::1"));
    EXPECT_TRUE(AddressList::isLoopback("::ffff:127.0.0.1"));
    EXPECT_FALSE(AddressList::isLoopback("128.0.0.1"));
    EXPECT_FALSE(AddressList::isLoopback("::2"));
}

TEST(HubSessions, EachTillCyclesThroughItsOwnRangeAndRestartsAhead) {
    ScratchDir state;
    const std::string directory = state.path().string();
    std::set<int> till0;
    {
        SessionNumbers sessions(directory);
        EXPECT_EQ(sessions.next(999), 999100);
        for (int call = 0; call < SessionNumbers::PER_TILL; ++call) {
            const int number = sessions.next(0);
            ASSERT_GE(number, 100000);
            ASSERT_LE(number, 100899);
            till0.insert(number);
        }
        EXPECT_EQ(till0.size(), 900u);
        EXPECT_EQ(sessions.next(0), 100000);  // the cycle starts again
        EXPECT_EQ(sessions.next(1), 100900);
        EXPECT_EQ(sessions.next(-1), -1);
        EXPECT_EQ(sessions.next(1000), -1);
    }
    // Till 0 last drew 100000 and 100899 before it; after a restart its next
    // 100 numbers are none of its last 100.
    SessionNumbers restarted(directory);
    for (int call = 0; call < 100; ++call) {
        const int number = restarted.next(0);
        EXPECT_TRUE(number > 100000 && number < 100800) << number;
    }
    EXPECT_EQ(restarted.next(999), 999100 + 50);
}

TEST(HubSessions, GivesNoneWhenItsPositionCannotBeKept) {
    ScratchDir state;
    EXPECT_EQ(SessionNumbers((state.path() / "missing").string()).next(3), -1);
    ASSERT_TRUE(writeFile(state.path() / "004", "12x\n"));
    EXPECT_EQ(SessionNumbers(state.path().string()).next(4), -1);
}

}  // namespace
