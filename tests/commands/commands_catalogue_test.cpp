// The command layer over a recording exchange, no device. For every command
// method: the name and time-out it sends under, its body (texts as markers,
// the widest session), and the longest body it sends, found by growing its
// first text until the body is refused; every attempt on the way is either
// sent whole or refused with nothing sent. The result is compared with a
// golden file beside this test. Under ASan this also shows that no argument
// writes past a buffer.
#include "commands/UCManipulaDadosSat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "TestFiles.h"

namespace {

using manipulaDados::ManipulaDadosSat;
using Texts = std::array<const char*, 3>;

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

// How each command method is called with its texts `t`, the session at its
// widest.
// clang-format off
#define COMMAND(method, ...) \
    {#method, [](ManipulaDadosSat& s, [[maybe_unused]] const Texts& t) { return s.method(__VA_ARGS__); }}
const struct Command {
    const char* name;
    std::function<char*(ManipulaDadosSat&, const Texts&)> call;
} COMMANDS[] = {
    COMMAND(AtivarSAT, INT_MIN, 12, t[0], t[1], 5),
    COMMAND(ComunicarCertificadoICPBRASIL, INT_MIN, t[0], t[1]),
    COMMAND(EnviarDadosVenda, INT_MIN, t[0], t[1]),
    COMMAND(CancelarUltimaVenda, INT_MIN, t[0], t[1], t[2]),
    COMMAND(ConsultarSAT, INT_MIN),
    COMMAND(TesteFimAFim, INT_MIN, t[0], t[1]),
    COMMAND(ConsultarStatusOperacional, INT_MIN, t[0]),
    COMMAND(ConsultarUltimaSessaoFiscal, INT_MIN, t[0]),
    COMMAND(ConsultarStatusOperacionalMFE, INT_MIN, t[0]),
    COMMAND(ConsultarNumeroSessao, INT_MIN, t[0], 123),
    COMMAND(ConfigurarInterfaceDeRede, INT_MIN, t[0], t[1]),
    COMMAND(ConfigurarInterfaceDeRedeMFE, INT_MIN, t[0], t[1]),
    COMMAND(AssociarAssinatura, INT_MIN, t[0], t[1], t[2]),
    COMMAND(AtualizarSoftwareSAT, INT_MIN, t[0]),
    COMMAND(ExtrairLogs, INT_MIN, t[0]),
    COMMAND(BloquearSAT, INT_MIN, t[0]),
    COMMAND(DesbloquearSAT, INT_MIN, t[0]),
    COMMAND(TrocarCodigoDeAtivacao, INT_MIN, t[0], 2, t[1], t[2]),
    COMMAND(ReiniciarMFE, INT_MIN, t[0]),
    COMMAND(EnviarStatusAC, INT_MIN, t[0], t[1], t[2]),
};
// clang-format on
#undef COMMAND

const std::size_t LONGER_THAN_EVERY_BUFFER = 2 * 1024 * 1024;

class CommandLayer : public ::testing::Test {
protected:
    // Sends with `first` as the first text (the others empty): true when the
    // body went out whole, false when it was refused before the exchange
    // (status 4, empty reply, one log line naming the command).
    bool sent(const Command& command, const std::string& first) {
        g_exchanged.clear();
        const LogCursor log;
        EXPECT_EQ(command.call(sat, {first.c_str(), "", ""}), g_resp.data());
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
        EXPECT_NE(g_exchanged[0].body.find(first), std::string::npos) << "the text was cut";
        return true;
    }

    // The longest body the command sends: its first text grown until refused.
    std::size_t longestBody(const Command& command, bool takesTexts) {
        if (!sent(command, "") || !takesTexts) {
            return g_exchanged.empty() ? 0 : g_exchanged[0].body.size();
        }
        std::size_t fits = 0;
        std::size_t refused = LONGER_THAN_EVERY_BUFFER;
        std::size_t body = g_exchanged[0].body.size();
        while (refused - fits > 1) {
            const std::size_t length = fits + (refused - fits) / 2;
            if (sent(command, std::string(length, 'x'))) {
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
    std::string catalogue;
    for (const Command& command : COMMANDS) {
        SCOPED_TRACE(command.name);
        g_exchanged.clear();
        command.call(sat, {"<1>", "<2>", "<3>"});
        ASSERT_EQ(g_exchanged.size(), 1u);
        const Exchanged marked = g_exchanged[0];
        const bool takesTexts = marked.body.find("<1>") != std::string::npos;
        catalogue += marked.command + " " + std::to_string(marked.timeoutMs) + " " +
                     std::to_string(longestBody(command, takesTexts)) + " " + marked.body + "\n";
    }
    expectGolden(SATVARO_SOURCE_DIR "/tests/commands/golden/catalogue.txt", catalogue);
}

}  // namespace
