// The hub's pieces that the HTTP cases cannot reach in reasonable time: the
// access rules' network arithmetic, the journal's session numbers over a
// whole cycle and a hundred restarts, what clients' bytes become in the log
// and how many lines they may cause, the alerts over days, the status
// board's data whatever the device says, and when the device's thread may
// do its own work.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <mutex>
#include <set>
#include <string>

#include "ScopedWorkDir.h"
#include "StatusBoard.h"
#include "TestFiles.h"
#include "hub/AddressList.h"
#include "hub/Alerts.h"
#include "hub/DeviceQueue.h"
#include "hub/DeviceStatus.h"
#include "hub/HubLog.h"
#include "hub/LogThrottle.h"
#include "hub/Journal.h"

namespace {

using hub::AddressList;
using hub::LogThrottle;
using hub::Journal;
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

// One queued call of `till` in the journal of `directory`, opened for it
// alone (as a hub that starts, takes one call and dies); its session.
int queueOne(const std::string& directory, int till) {
    Journal journal;
    std::string error;
    hub::CallRecord call;
    call.till = till;
    call.function = "ConsultarSAT";
    return journal.open(directory, error) && journal.queue(call, 1) ? call.session : -1;
}

TEST(HubJournal, EachTillCyclesThroughItsOwnRangeWhateverTheRestarts) {
    ScratchDir state;
    const std::string directory = state.path().string();
    std::set<int> till4;
    for (int restart = 0; restart < 100; ++restart) {  // never a number twice
        const int number = queueOne(directory, 4);
        ASSERT_TRUE(number >= 103600 && number <= 104499) << number;
        till4.insert(number);
    }
    EXPECT_EQ(till4.size(), 100u);
    EXPECT_EQ(queueOne(directory, 999), 999100);

    Journal journal;
    std::string error;
    ASSERT_TRUE(journal.open(directory, error)) << error;
    hub::CallRecord call;
    call.till = 4;
    for (int made = 100; made < Journal::PER_TILL; ++made) {
        ASSERT_TRUE(journal.queue(call, 1));
        till4.insert(call.session);
    }
    EXPECT_EQ(till4.size(), 900u);
    ASSERT_TRUE(journal.queue(call, 1));
    EXPECT_EQ(call.session, 103600);  // the cycle starts again
    EXPECT_EQ(journal.ownSession(), 1);
    EXPECT_EQ(journal.ownSession(), 2);
}

TEST(HubJournal, TakesOverWhereTheFormerSessionFilesStoodOnce) {
    ScratchDir state;
    const std::string directory = state.path().string();
    ASSERT_TRUE(std::filesystem::create_directory(state.path() / "sessions"));
    ASSERT_TRUE(writeFile(state.path() / "sessions" / "004", "150\n"));
    EXPECT_EQ(queueOne(directory, 4), 103600 + 150);
    EXPECT_FALSE(std::filesystem::exists(state.path() / "sessions"));
    ASSERT_TRUE(std::filesystem::create_directory(state.path() / "sessions"));
    ASSERT_TRUE(writeFile(state.path() / "sessions" / "004", "600\n"));
    EXPECT_EQ(queueOne(directory, 4), 103600 + 151);
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

// A status reply as the device gives it, with fields to change.
std::string statusReply(const std::string& expires, const std::string& clock,
                        const std::string& state = "0", const std::string& pendingFirst = "",
                        const std::string& pendingLast = "") {
    return "000001|10000|Resposta com Sucesso|||900000001|DHCP|192.168.000.100|00:0a:56:00:00:01|"
           "255.255.255.000|192.168.000.001|192.168.000.001|000.000.000.000|CONECTADO|ALTO|4 GB|"
           "8 KB|" + clock + "|01.00.00|00.08||" + pendingFirst + "|" + pendingLast + "||" +
           clock + "|20240101|" + expires + "|" + state;
}

std::string key(int number) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06d", number);
    return std::string("3524033456789000013059900000001") + digits + "0000000";
}

TEST(HubAlerts, JudgeTheDevicesStatusOverDays) {
    const std::int64_t now = 1796601600;  // 2026-12-07 00:00 UTC
    const std::int64_t hour = 3600;
    setenv("TZ", "UTC", 1);
    tzset();
    const struct {
        const char* what;
        std::string reply;
        std::int64_t pendingSince;
        bool unreachable;
        long unknown;
        std::vector<std::string> alerts;
    } cases[] = {
        {"all well", statusReply("20290101", "20261207000000"), 0, false, 0, {}},
        {"certificate in 10 days", statusReply("20261216", "20261207000000"), 0, false, 0,
         {"certificate_expiring"}},
        {"certificate's last day", statusReply("20261207", "20261207000000"), 0, false, 0,
         {"certificate_expiring"}},
        {"certificate expired", statusReply("20261206", "20261207000000"), 0, false, 0,
         {"certificate_expired"}},
        {"clock 5 min 1 s ahead", statusReply("20290101", "20261207000501"), 0, false, 0,
         {"clock_off"}},
        {"clock 5 min behind", statusReply("20290101", "20261206235500"), 0, false, 0, {}},
        {"pending for 23 h", statusReply("20290101", "20261207000000", "0", key(1), key(3)),
         now - 23 * hour, false, 0, {}},
        {"pending for 24 h", statusReply("20290101", "20261207000000", "0", key(1), key(3)),
         now - 24 * hour, false, 0, {"cfe_pending"}},
        {"blocked, clock off, unreachable, unknown outcomes",
         statusReply("20290101", "20261207010000", "2"), 0, true, 2,
         {"device_unreachable", "unknown_outcomes", "device_blocked", "clock_off"}},
    };
    for (const auto& c : cases) {
        hub::DeviceStatus status;
        ASSERT_TRUE(hub::parseDeviceStatus(c.reply, now, status)) << c.what;
        hub::AlertInputs inputs;
        inputs.status = &status;
        inputs.pendingSince = c.pendingSince;
        inputs.unreachable = c.unreachable;
        inputs.unknownOutcomes = c.unknown;
        std::vector<std::string> names;
        for (const hub::Alert& alert : hub::activeAlerts(inputs, now)) {
            names.push_back(alert.name);
        }
        EXPECT_EQ(names, c.alerts) << c.what;
    }
    hub::DeviceStatus pending;
    ASSERT_TRUE(hub::parseDeviceStatus(
        statusReply("20290101", "20261207000000", "0", "CFe" + key(7), key(9)), now, pending));
    EXPECT_EQ(pending.pendingCfe, 3);
    EXPECT_EQ(pending.serial, "900000001");
    EXPECT_FALSE(hub::parseDeviceStatus("000001|10001|Código de ativação inválido||", now, pending));
}

// A garbled reply must not take the status page down: JSON holds UTF-8 only.
TEST(HubStatusBoard, ShowsTheDevicesTimesWhateverTheirBytes) {
    hub::StatusBoard board(1000);
    hub::DeviceStatus status;
    status.lastTransmission = "2024\xff\xfe" "15103000";
    status.certificateIssued = "\xff\xff\xff\xff" "0101";
    board.deviceStatus(&status, 2000);
    std::string data;
    ASSERT_NO_THROW(data = board.json({}, 2000).dump());
    EXPECT_NE(data.find("\"last_transmission\":\"2024-\u00ff\u00fe-15T10:30:00\""),
              std::string::npos)
        << data;
    EXPECT_NE(data.find("\"certificate_issued\":\"\u00ff\u00ff\u00ff\u00ff-01-01\""),
              std::string::npos)
        << data;
}

TEST(HubDeviceQueue, IdleWorkRunsOnlyWithNoCallWaitingAndDelaysACallByItselfAlone) {
    std::mutex mutex;
    std::vector<std::string> order;
    const auto note = [&](const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(what);
    };
    std::promise<void> firstRunning, releaseFirst, idleRunning, releaseIdle, idleAgain;
    hub::DeviceQueue queue(16);
    std::size_t ahead = 0;
    const auto call = [&](const std::string& name, std::function<void()> during = {}) {
        hub::DeviceQueue::Call queued;
        queued.run = [&, name, during] {
            note(name);
            if (during) {
                during();
            }
        };
        queued.drop = [] {};
        return queue.submit(std::move(queued), ahead);
    };
    call("a", [&] {
        firstRunning.set_value();
        releaseFirst.get_future().wait();
    });
    firstRunning.get_future().wait();
    call("b");
    call("c");
    int idleRuns = 0;
    queue.startIdleWork([&] {  // due at once, but calls wait
        note("idle");
        if (++idleRuns == 1) {
            idleRunning.set_value();
            releaseIdle.get_future().wait();
        } else if (idleRuns == 2) {
            idleAgain.set_value();
        }
        return hub::DeviceQueue::Clock::now() + std::chrono::hours(1);
    });
    releaseFirst.set_value();
    idleRunning.get_future().wait();
    call("d");  // arrives during the idle work
    queue.idleWorkDue();  // due again at once: after the call that waits
    releaseIdle.set_value();
    idleAgain.get_future().wait();
    queue.close();
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c", "idle", "d", "idle"}));
}

}  // namespace
