// The command layer over a recording exchange: what each command would send,
// under which name and time-out, and the bodies too long for their buffers.
#include "commands/UCManipulaDadosSat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "ScopedWorkDir.h"

namespace {

using manipulaDados::ManipulaDadosSat;

struct Exchanged {
    int timeoutMs;
    std::string command;
    std::string body;
};

std::vector<Exchanged> g_exchanged;

int recordExchange(int timeoutMs, const char* command, const std::string& body,
                   zeph::Message& reply) {
    g_exchanged.push_back({timeoutMs, command, body});
    reply.setCode(command);
    reply.setBody("reply");
    return 0;
}

class CommandLayer : public ::testing::Test {
protected:
    void SetUp() override { g_exchanged.clear(); }

    ScopedWorkDir workDir;  // refusals write log lines
    ManipulaDadosSat sat{recordExchange};
};

// Each command's body under its name and time-out; a body that fits its
// working buffer with its NUL is sent, one byte more is refused before the
// exchange: status 4, empty reply, a log line. `t` is a text that grows the
// body, empty in `body`.
TEST_F(CommandLayer, EveryCommandSendsItsBodyUnderItsNameWithItsTimeOutIfItFits) {
    const struct {
        std::function<char*(ManipulaDadosSat&, const char*)> call;
        const char* command;
        int timeoutMs;
        const char* body;
        std::size_t bufferSize;
    } cases[] = {
        {[](auto& s, auto t) { return s.AtivarSAT(-5, 12, t, "B", 5); }, "AtivarSAT", 302000,
         "-00005|12||B|05", 64},
        {[](auto& s, auto t) { return s.ComunicarCertificadoICPBRASIL(7, "cod", t); },
         "ComunicarCertificadoICPBRASIL", 302000, "000007|cod|", 2096},
        {[](auto& s, auto t) { return s.EnviarDadosVenda(7, t, "<CFe><CNPJ/></CFe>"); },
         "EnviarDadosVenda", 10000, "000007||<CFe><CNPJ/></CFe>", 1572904},
        {[](auto& s, auto t) { return s.CancelarUltimaVenda(7, "c", t, "<CFeCanc/>"); },
         "CancelarUltimaVenda", 7000, "000007|c||<CFeCanc/>", 1572952},
        {[](auto& s, auto t) { return s.TesteFimAFim(7, "cod", t); }, "TesteFimAFim", 22000,
         "000007|cod|", 1572904},
        {[](auto& s, auto t) { return s.ConsultarStatusOperacional(7, t); },
         "ConsultarStatusOperacional", 20000, "000007|", 48},
        {[](auto& s, auto t) { return s.ConsultarUltimaSessaoFiscal(7, t); },
         "ConsultarUltimaSessaoFiscal", 22000, "000007|", 48},
        {[](auto& s, auto t) { return s.ConsultarStatusOperacionalMFE(7, t); },
         "ConsultarStatusOperacionalMFE", 20000, "000007|", 48},
        {[](auto& s, auto t) { return s.ConsultarNumeroSessao(1, t, 123); },
         "ConsultarNumeroSessao", 22000, "000001||000123", 48},
        {[](auto& s, auto t) { return s.ConfigurarInterfaceDeRede(7, "cod", t); },
         "ConfigurarInterfaceDeRede", 22000, "000007|cod|", 1072},
        {[](auto& s, auto t) { return s.ConfigurarInterfaceDeRedeMFE(7, "cod", t); },
         "ConfigurarInterfaceDeRedeMFE", 22000, "000007|cod|", 1072},
        {[](auto& s, auto t) { return s.AssociarAssinatura(7, "cod", "1234", t); },
         "AssociarAssinatura", 900000, "000007|cod|1234|", 2128},
        {[](auto& s, auto t) { return s.AtualizarSoftwareSAT(7, t); }, "AtualizarSoftwareSAT",
         1800000, "000007|", 48},
        {[](auto& s, auto t) { return s.ExtrairLogs(7, t); }, "ExtrairLogs", 22000, "000007|", 48},
        {[](auto& s, auto t) { return s.BloquearSAT(7, t); }, "BloquearSAT", 302000, "000007|", 48},
        {[](auto& s, auto t) { return s.DesbloquearSAT(7, t); }, "DesbloquearSAT", 22000, "000007|",
         48},
        {[](auto& s, auto t) { return s.TrocarCodigoDeAtivacao(7, "cod", 2, "novo", t); },
         "TrocarCodigoDeAtivacao", 22000, "000007|cod|2|novo|", 112},
        {[](auto& s, auto t) { return s.ReiniciarMFE(7, t); }, "ReiniciarMFE", 17000, "000007|",
         48},
        {[](auto& s, auto t) { return s.EnviarStatusAC(7, "x", "y", t); }, "EnviarStatusAC", 7000,
         "000007|x|y|", 80},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        g_exchanged.clear();
        EXPECT_EQ(c.call(sat, ""), g_resp);
        EXPECT_STREQ(g_resp, "reply");
        ASSERT_EQ(g_exchanged.size(), 1u);
        EXPECT_EQ(g_exchanged[0].command, c.command);
        EXPECT_EQ(g_exchanged[0].timeoutMs, c.timeoutMs);
        EXPECT_EQ(g_exchanged[0].body, c.body);

        const std::size_t room = c.bufferSize - 1 - g_exchanged[0].body.size();
        c.call(sat, std::string(room, 'x').c_str());
        ASSERT_EQ(g_exchanged.size(), 2u);
        EXPECT_EQ(g_exchanged[1].body.size(), c.bufferSize - 1);
        EXPECT_EQ(sat.CodigoErro(), 0);

        const LogCursor log;
        EXPECT_STREQ(c.call(sat, std::string(room + 1, 'x').c_str()), "");
        EXPECT_EQ(g_exchanged.size(), 2u) << "sent a body that does not fit";
        EXPECT_EQ(sat.CodigoErro(), manipulaDados::STATUS_BODY_TOO_LARGE);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_THAT(log.lines()[0],
                    ::testing::StartsWith("error|[ManipulaDadosSat::" + std::string(c.command) +
                                          "] Requisicao excede"));
    }
    g_exchanged.clear();
    sat.ConsultarSAT(1234567);  // no text: its body always fits
    ASSERT_EQ(g_exchanged.size(), 1u);
    EXPECT_EQ(g_exchanged[0].command, "ConsultarSAT");
    EXPECT_EQ(g_exchanged[0].timeoutMs, 6000);
    EXPECT_EQ(g_exchanged[0].body, "1234567");
}

}  // namespace
