// The command layer over a recording exchange: what each command would send,
// under which name and time-out; the bodies too long for their buffers; and
// each text argument null, full of "|", outside ASCII or longer than every
// buffer, the session at its extremes. Under ASan this also shows that no
// argument writes past a buffer.
#include "commands/UCManipulaDadosSat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "ScopedWorkDir.h"

namespace {

using manipulaDados::ManipulaDadosSat;
using Texts = std::array<const char*, 3>;

struct Exchanged {
    int timeoutMs;
    std::string command;
    std::string body;
};

std::vector<Exchanged> g_exchanged;

// Bytes of every kind on the way back too.
const char REPLY[] = "000001|08000|Opera\xe7\xe3o \xc3\xa7 \xf0\x9f\x98\x80|\x01\x7f||";

int recordExchange(int timeoutMs, const char* command, const std::string& body,
                   zeph::Message& reply) {
    g_exchanged.push_back({timeoutMs, command, body});
    reply.setCode(command);
    reply.setBody(REPLY);
    return 0;
}

// Bytes outside ASCII: UTF-8, then Latin-1 and control bytes.
const char UTF8[] = "CAFÉ “TORRADO” Operação \xf0\x9f\x98\x80";
const char LATIN1[] = "Pa\xe7oca \xc7\xe3o\t\r\n\x01\x1b\x7f\xff";

// Each command: how it is called with a session `n` and texts `t`, its name,
// time-out, body after the session ('@' stands for each text in turn) and
// working buffer.
// clang-format off
#define COMMAND(method, ...) \
    [](ManipulaDadosSat& s, int n, [[maybe_unused]] const Texts& t) { return s.method(__VA_ARGS__); }, #method
const struct Command {
    std::function<char*(ManipulaDadosSat&, int, const Texts&)> call;
    const char* name;
    int timeoutMs;
    const char* body;
    std::size_t bufferSize;
} COMMANDS[] = {
    {COMMAND(AtivarSAT, n, 12, t[0], t[1], 5), 302000, "|12|@|@|05", 64},
    {COMMAND(ComunicarCertificadoICPBRASIL, n, t[0], t[1]), 302000, "|@|@", 2096},
    {COMMAND(EnviarDadosVenda, n, t[0], t[1]), 10000, "|@|@", 1572904},
    {COMMAND(CancelarUltimaVenda, n, t[0], t[1], t[2]), 7000, "|@|@|@", 1572952},
    {COMMAND(ConsultarSAT, n), 6000, "", 16},
    {COMMAND(TesteFimAFim, n, t[0], t[1]), 22000, "|@|@", 1572904},
    {COMMAND(ConsultarStatusOperacional, n, t[0]), 20000, "|@", 48},
    {COMMAND(ConsultarUltimaSessaoFiscal, n, t[0]), 22000, "|@", 48},
    {COMMAND(ConsultarStatusOperacionalMFE, n, t[0]), 20000, "|@", 48},
    {COMMAND(ConsultarNumeroSessao, n, t[0], 123), 22000, "|@|000123", 48},
    {COMMAND(ConfigurarInterfaceDeRede, n, t[0], t[1]), 22000, "|@|@", 1072},
    {COMMAND(ConfigurarInterfaceDeRedeMFE, n, t[0], t[1]), 22000, "|@|@", 1072},
    {COMMAND(AssociarAssinatura, n, t[0], t[1], t[2]), 900000, "|@|@|@", 2128},
    {COMMAND(AtualizarSoftwareSAT, n, t[0]), 1800000, "|@", 48},
    {COMMAND(ExtrairLogs, n, t[0]), 22000, "|@", 48},
    {COMMAND(BloquearSAT, n, t[0]), 302000, "|@", 48},
    {COMMAND(DesbloquearSAT, n, t[0]), 22000, "|@", 48},
    {COMMAND(TrocarCodigoDeAtivacao, n, t[0], 2, t[1], t[2]), 22000, "|@|2|@|@", 112},
    {COMMAND(ReiniciarMFE, n, t[0]), 17000, "|@", 48},
    {COMMAND(EnviarStatusAC, n, t[0], t[1], t[2]), 7000, "|@|@|@", 80},
    // clang-format on
};
#undef COMMAND

// "%06d" session, then the fields with the texts in place (null as empty).
std::string bodyOf(const Command& command, int session, const Texts& texts) {
    char sessionText[16];
    std::snprintf(sessionText, sizeof sessionText, "%06d", session);
    std::string body = sessionText;
    std::size_t next = 0;
    for (const char* c = command.body; *c != '\0'; ++c) {
        if (*c != '@') {
            body += *c;
        } else if (const char* text = texts[next++]) {
            body += text;
        }
    }
    return body;
}

class CommandLayer : public ::testing::Test {
protected:
    // A body that fits its working buffer with its NUL goes out exactly as
    // its fields say; a longer one is refused before the exchange (status 4,
    // empty reply, a log line).
    void expectSentOrRefused(const Command& command, int session, const Texts& texts) {
        const std::string body = bodyOf(command, session, texts);
        const bool fits = body.size() < command.bufferSize;
        g_exchanged.clear();
        const LogCursor log;
        EXPECT_EQ(command.call(sat, session, texts), g_resp.data());
        EXPECT_EQ(sat.CodigoErro(), fits ? 0 : SATVARO_STATUS_REFUSED);
        EXPECT_STREQ(g_resp.text(), fits ? REPLY : "");
        ASSERT_EQ(g_exchanged.size(), fits ? 1u : 0u) << "a body that does not fit was sent";
        if (fits) {
            EXPECT_EQ(g_exchanged[0].command, command.name);
            EXPECT_EQ(g_exchanged[0].timeoutMs, command.timeoutMs);
            EXPECT_TRUE(g_exchanged[0].body == body) << g_exchanged[0].body.substr(0, 80);
        } else {
            ASSERT_EQ(log.lines().size(), 1u);
            EXPECT_THAT(log.lines()[0],
                        ::testing::StartsWith("error|[ManipulaDadosSat::" +
                                              std::string(command.name) + "] Requisicao excede"));
        }
    }

    ScopedWorkDir workDir;  // refusals write log lines
    ManipulaDadosSat sat{recordExchange};
};

// Every text empty, the session at its extremes; then each text in turn as
// long as fits, a byte longer, null, full of "|", outside ASCII or longer
// than every buffer.
TEST_F(CommandLayer, EveryCommandSendsItsBodyUnderItsNameWithItsTimeOutIfItFits) {
    const std::string longer(2 * 1024 * 1024, 'L');  // than every buffer
    for (const Command& c : COMMANDS) {
        SCOPED_TRACE(c.name);
        for (const int session : {-5, INT_MIN, INT_MAX}) {
            expectSentOrRefused(c, session, {"", "", ""});
        }
        const std::string fits(c.bufferSize - 1 - bodyOf(c, 1, {"", "", ""}).size(), 'x');
        const std::string over = fits + 'x';
        const char* const texts[] = {fits.c_str(), over.c_str(), nullptr,       "|a||b|",
                                     UTF8,         LATIN1,       longer.c_str()};
        const auto slots = std::count(c.body, c.body + std::strlen(c.body), '@');
        for (int slot = 0; slot < slots; ++slot) {
            for (const char* text : texts) {
                SCOPED_TRACE("text " + std::to_string(slot) + ": " +
                             (text ? std::string(text).substr(0, 40) : "null"));
                Texts args = {"", "", ""};
                args[slot] = text;
                expectSentOrRefused(c, 1, args);
            }
        }
    }
}

}  // namespace
