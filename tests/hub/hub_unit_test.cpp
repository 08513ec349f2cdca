// The hub's pieces that the HTTP cases cannot reach in reasonable time: the
// access rules' network arithmetic, the session numbers over a whole cycle
// and across restarts, what clients' bytes become in the log and how many
// lines they may cause.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "hub/AddressList.h"
#include "hub/HubLog.h"
#include "hub/LogThrottle.h"
#include "hub/SessionNumbers.h"

namespace {

using hub::AddressList;
using hub::LogThrottle;
using hub::SessionNumbers;
using namespace std::string_literals;

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

TEST(HubLog, EscapesWhatCouldEndForgeOrHideALine) {
    const struct {
        std::string bytes;
        const char* logged;
    } cases[] = {
        {"consultarsat ç ã 😀", "consultarsat ç ã 😀"},  // UTF-8 as it is
        {"a\\b", "a\\\\b"},
        {"x\0HIDDEN"s, "x\\u{0000}HIDDEN"},  // a NUL ends nothing
        {"l1\r\nl2\t\x1b[2J", "l1\\u{000d}\\u{000a}l2\\u{0009}\\u{001b}[2J"},
        {"\x7f", "\\u{007f}"},
        {"\xc2\x9b", "\\u{009b}"},                         // C1 control
        {"\x9b", "\\x9b"},                                 // a lone byte
        {"\xe7\xe3o", "\\xe7\\xe3o"},                      // Latin-1
        {"\xc0\xaf \xed\xa0\x80", "\\xc0\\xaf \\xed\\xa0\\x80"},  // overlong, surrogate
        {"\xe2\x80\xa8\xe2\x80\xa9", "\\u{2028}\\u{2029}"},
        {"\xe2\x80\xae\xe2\x81\xa6\xe2\x81\xa9", "\\u{202e}\\u{2066}\\u{2069}"},  // bidi
        {"\xe2\x80\xaf", "\xe2\x80\xaf"},                  // the next code point passes
    };
    for (const auto& c : cases) {
        EXPECT_EQ(hub::logText(c.bytes), c.logged) << c.logged;
    }
}

TEST(HubLog, ClientsCauseOneLinePerAddressAndSixtyInAllPerMinute) {
    const LogThrottle::Clock::time_point start{};
    const auto at = [&](int seconds) { return start + std::chrono::seconds(seconds); };
    LogThrottle throttle(60);
    EXPECT_TRUE(throttle.allows("192.0.2.3", at(0)));
    EXPECT_FALSE(throttle.allows("192.0.2.3", at(59)));
    for (int other = 1; other < 60; ++other) {
        EXPECT_TRUE(throttle.allows("10.0.0." + std::to_string(other), at(30)));
    }
    EXPECT_FALSE(throttle.allows("10.0.1.1", at(30)));  // the sixty-first line
    EXPECT_TRUE(throttle.allows("192.0.2.3", at(60)));  // its minute is over
    EXPECT_FALSE(throttle.allows("10.0.1.1", at(60)));
    EXPECT_TRUE(throttle.allows("10.0.1.1", at(90)));
}

}  // namespace
