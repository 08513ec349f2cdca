// The command layer over a recording exchange, no device. For every command
// of the list: the name and time-out it sends under, its body (each text as
// its parameter's name in brackets, the widest session), kept in a golden file
// beside this test, and the longest body it sends, found by growing its first
// text until the body is refused; every attempt on the way is either sent
// whole or refused with nothing sent. Under ASan this also shows that no
// argument writes past a buffer.
#include "commands/UCManipulaDadosSat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "TestFiles.h"

namespace {

using manipulaDados::ManipulaDadosSat;
// The text given for a parameter, by its name.
using Texts = std::function<const char*(const char* parameter)>;

struct Exchanged {
    int timeoutMs;
    std::string command;
    std::string body;
};

std::vector<Exchanged> g_exchanged;

// Bytes of every kind on the way back.
const char REPLY[] = "000001|08000|Opera\xe7\xe3o \xc3\xa7 \xf0\x9f\x98\x80|\x01\x7f||";

int recordExchange(int timeoutMs, const char* command, const std::string& body,
                   zeph::Message& reply) {
    g_exchanged.push_back({timeoutMs, command, body});
    reply.setCode(command);
    reply.setBody(REPLY);
    return 0;
}

// Each command method called with the widest session, its numbers fixed
// and its texts from `texts`, with the limit and time-out of the list.
#define TEST_VALUE_INT(parameter) 123
#define TEST_VALUE_USHORT(parameter) 5
#define TEST_VALUE_TEXT(parameter) texts(parameter)
#define TEST_VALUE_CODE(parameter) texts(parameter)
#define TEST_ARGUMENT(kind, parameter, hubField) , TEST_VALUE_##kind(#parameter)
#define TEST_COMMAND(name, ...)                                          \
    {#name, SATVARO_TIMEOUT_MS_##name, SATVARO_MAX_REQUEST_##name,       \
     [](ManipulaDadosSat& s, [[maybe_unused]] const Texts& texts) {      \
         return s.name(INT_MIN SATVARO_ARGUMENTS_##name(TEST_ARGUMENT)); \
     }},
const struct Command {
    const char* name;
    int timeoutMs;
    std::size_t longestBody;
    std::function<char*(ManipulaDadosSat&, const Texts&)> call;
} COMMANDS[] = {SATVARO_EXPORTED_COMMANDS(TEST_COMMAND) SATVARO_INTERNAL_COMMANDS(TEST_COMMAND)};

const std::size_t LONGER_THAN_EVERY_BUFFER = 2 * 1024 * 1024;

class CommandLayer : public ::testing::Test {
protected:
    // Sends with `text` as the parameter `grown` (the other texts empty):
    // true when the body went out whole, false when it was refused before
    // the exchange (status 4, empty reply, one log line naming the command).
    bool sent(const Command& command, const std::string& grown, const std::string& text) {
        g_exchanged.clear();
        const LogCursor log;
        const Texts texts = [&](const char* parameter) {
            return parameter == grown ? text.c_str() : "";
        };
        EXPECT_EQ(command.call(sat, texts), g_resp.data());
        if (g_exchanged.empty()) {
            EXPECT_EQ(sat.CodigoErro(), SATVARO_STATUS_REFUSED);
            EXPECT_STREQ(g_resp.text(), "");
            EXPECT_THAT(log.lines(), ::testing::ElementsAre(::testing::StartsWith(
                                         "error|[ManipulaDadosSat::" + std::string(command.name) +
                                         "] Requisicao excede")));
            return false;
        }
        EXPECT_EQ(sat.CodigoErro(), SATVARO_STATUS_OK);
        EXPECT_STREQ(g_resp.text(), REPLY);
        EXPECT_EQ(g_exchanged.size(), 1u);
        EXPECT_NE(g_exchanged[0].body.find(text), std::string::npos) << "the text was cut";
        return true;
    }

    // The longest body the command sends: the text `grown` grown until refused.
    std::size_t longestBody(const Command& command, const std::string& grown) {
        std::size_t fits = 0;
        std::size_t refused = LONGER_THAN_EVERY_BUFFER;
        std::size_t body = sent(command, grown, "") ? g_exchanged[0].body.size() : 0;
        while (refused - fits > 1) {
            const std::size_t length = fits + (refused - fits) / 2;
            if (sent(command, grown, std::string(length, 'x'))) {
                fits = length;
                body = g_exchanged[0].body.size();
            } else {
                refused = length;
            }
        }
        return body;
    }

    ScopedWorkDir workDir;  // refusals write log lines
    ManipulaDadosSat sat{recordExchange};
};

TEST_F(CommandLayer, EachCommandsNameTimeOutBodyAndLongestBody) {
    std::map<std::string, std::string> markers;
    const Texts marked = [&](const char* parameter) {
        return (markers[parameter] = "<" + std::string(parameter) + ">").c_str();
    };
    std::string catalogue;
    for (const Command& command : COMMANDS) {
        SCOPED_TRACE(command.name);
        g_exchanged.clear();
        command.call(sat, marked);
        ASSERT_EQ(g_exchanged.size(), 1u);
        const Exchanged sent = g_exchanged[0];
        EXPECT_EQ(sent.command, command.name);
        EXPECT_EQ(sent.timeoutMs, command.timeoutMs);
        const std::size_t firstText = sent.body.find('<');
        if (firstText != std::string::npos) {
            const std::size_t end = sent.body.find('>', firstText);
            EXPECT_EQ(longestBody(command, sent.body.substr(firstText + 1, end - firstText - 1)),
                      command.longestBody);
        }
        catalogue += sent.command + " " + sent.body + "\n";
    }
    expectGolden(SATVARO_SOURCE_DIR "/tests/commands/golden/catalogue.txt", catalogue);
}

}  // namespace
