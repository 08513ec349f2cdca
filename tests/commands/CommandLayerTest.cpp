// The command layer over a recording exchange: what each command would send,
// under which name and time-out, and what it makes of the reply.
#include "commands/UCManipulaDadosSat.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "commands/Base64.h"

namespace {

using manipulaDados::ManipulaDadosSat;
using ::testing::HasSubstr;

struct Exchanged {
    int timeoutMs;
    std::string command;
    std::string body;
};

std::vector<Exchanged> g_exchanged;
std::string g_replyBody;
int g_status;

int recordExchange(int timeoutMs, const char* command, const std::string& body,
                   zeph::Message& reply) {
    g_exchanged.push_back({timeoutMs, command, body});
    if (!g_replyBody.empty()) {
        reply.setCode(command);
        reply.setBody(g_replyBody);
    }
    return g_status;
}

class CommandLayer : public ::testing::Test {
protected:
    void SetUp() override {
        g_exchanged.clear();
        g_replyBody.clear();
        g_status = 0;
    }

    // Runs one command that the device answers with `replyBody` and `status`.
    char* answered(const std::string& replyBody, int status,
                   const std::function<char*(ManipulaDadosSat&)>& call) {
        g_replyBody = replyBody;
        g_status = status;
        return call(sat);
    }

    ScopedWorkDir workDir;  // refusals write log lines
    ManipulaDadosSat sat{recordExchange};
};

using Call = std::function<char*(ManipulaDadosSat&)>;

TEST_F(CommandLayer, EveryCommandSendsItsBodyUnderItsNameWithItsTimeOut) {
    struct Case {
        Call call;
        const char* command;
        int timeoutMs;
        const char* body;
    };
    const Case cases[] = {
        {[](auto& s) { return s.AtivarSAT(42, 1, "A", "B", 35); }, "AtivarSAT", 302000,
         "000042|1|A|B|35"},
        {[](auto& s) { return s.AtivarSAT(-5, 12, "A", "B", 5); }, "AtivarSAT", 302000,
         "-00005|12|A|B|05"},
        {[](auto& s) { return s.ComunicarCertificadoICPBRASIL(7, "cod", "CERT"); },
         "ComunicarCertificadoICPBRASIL", 302000, "000007|cod|CERT"},
        {[](auto& s) { return s.EnviarDadosVenda(7, "cod", "<CFe><CNPJ/></CFe>"); },
         "EnviarDadosVenda", 10000, "000007|cod|<CFe><CNPJ/></CFe>"},
        {[](auto& s) { return s.CancelarUltimaVenda(7, "cod", "CFe123", "<CFeCanc/>"); },
         "CancelarUltimaVenda", 7000, "000007|cod|CFe123|<CFeCanc/>"},
        {[](auto& s) { return s.ConsultarSAT(7); }, "ConsultarSAT", 6000, "000007"},
        {[](auto& s) { return s.ConsultarSAT(1234567); }, "ConsultarSAT", 6000, "1234567"},
        {[](auto& s) { return s.TesteFimAFim(7, "cod", "<CFe/>"); }, "TesteFimAFim", 22000,
         "000007|cod|<CFe/>"},
        {[](auto& s) { return s.ConsultarStatusOperacional(7, "cod"); },
         "ConsultarStatusOperacional", 20000, "000007|cod"},
        {[](auto& s) { return s.ConsultarUltimaSessaoFiscal(7, "cod"); },
         "ConsultarUltimaSessaoFiscal", 22000, "000007|cod"},
        {[](auto& s) { return s.ConsultarStatusOperacionalMFE(7, "cod"); },
         "ConsultarStatusOperacionalMFE", 20000, "000007|cod"},
        {[](auto& s) { return s.ConsultarNumeroSessao(1, "cod", 123); }, "ConsultarNumeroSessao",
         22000, "000001|cod|000123"},
        {[](auto& s) { return s.ConfigurarInterfaceDeRede(7, "cod", "<config/>"); },
         "ConfigurarInterfaceDeRede", 22000, "000007|cod|<config/>"},
        {[](auto& s) { return s.ConfigurarInterfaceDeRedeMFE(7, "cod", "<config/>"); },
         "ConfigurarInterfaceDeRedeMFE", 22000, "000007|cod|<config/>"},
        {[](auto& s) { return s.AssociarAssinatura(7, "cod", "1234", "SIG"); },
         "AssociarAssinatura", 900000, "000007|cod|1234|SIG"},
        {[](auto& s) { return s.AtualizarSoftwareSAT(7, "cod"); }, "AtualizarSoftwareSAT", 1800000,
         "000007|cod"},
        {[](auto& s) { return s.ExtrairLogs(7, "cod"); }, "ExtrairLogs", 22000, "000007|cod"},
        {[](auto& s) { return s.BloquearSAT(7, "cod"); }, "BloquearSAT", 302000, "000007|cod"},
        {[](auto& s) { return s.DesbloquearSAT(7, "cod"); }, "DesbloquearSAT", 22000, "000007|cod"},
        {[](auto& s) { return s.TrocarCodigoDeAtivacao(7, "cod", 2, "novo", "novo"); },
         "TrocarCodigoDeAtivacao", 22000, "000007|cod|2|novo|novo"},
        {[](auto& s) { return s.ReiniciarMFE(7, "cod"); }, "ReiniciarMFE", 17000, "000007|cod"},
        {[](auto& s) { return s.EnviarStatusAC(7, "x", "y", "z"); }, "EnviarStatusAC", 7000,
         "000007|x|y|z"},
    };
    for (const Case& c : cases) {
        g_exchanged.clear();
        EXPECT_EQ(c.call(sat), g_resp);
        ASSERT_EQ(g_exchanged.size(), 1u) << c.command;
        EXPECT_EQ(g_exchanged[0].command, c.command);
        EXPECT_EQ(g_exchanged[0].timeoutMs, c.timeoutMs) << c.command;
        EXPECT_EQ(g_exchanged[0].body, c.body) << c.command;
    }
}

TEST_F(CommandLayer, BodyIsSentWhenItFitsItsWorkingBufferAndRefusedWhenOneByteLonger) {
    struct Case {
        std::function<char*(ManipulaDadosSat&, const char*)> call;  // a text that grows the body
        std::size_t bufferSize;
    };
    const Case cases[] = {
        {[](auto& s, auto t) { return s.AtivarSAT(1, 1, t, "", 35); }, 64},
        {[](auto& s, auto t) { return s.ComunicarCertificadoICPBRASIL(1, "c", t); }, 2096},
        {[](auto& s, auto t) { return s.EnviarDadosVenda(1, "c", t); }, 1572904},
        {[](auto& s, auto t) { return s.CancelarUltimaVenda(1, "c", "k", t); }, 1572952},
        {[](auto& s, auto t) { return s.TesteFimAFim(1, "c", t); }, 1572904},
        {[](auto& s, auto t) { return s.ConsultarStatusOperacional(1, t); }, 48},
        {[](auto& s, auto t) { return s.ConsultarUltimaSessaoFiscal(1, t); }, 48},
        {[](auto& s, auto t) { return s.ConsultarStatusOperacionalMFE(1, t); }, 48},
        {[](auto& s, auto t) { return s.ConsultarNumeroSessao(1, t, 2); }, 48},
        {[](auto& s, auto t) { return s.ConfigurarInterfaceDeRede(1, "c", t); }, 1072},
        {[](auto& s, auto t) { return s.ConfigurarInterfaceDeRedeMFE(1, "c", t); }, 1072},
        {[](auto& s, auto t) { return s.AssociarAssinatura(1, "c", "n", t); }, 2128},
        {[](auto& s, auto t) { return s.AtualizarSoftwareSAT(1, t); }, 48},
        {[](auto& s, auto t) { return s.ExtrairLogs(1, t); }, 48},
        {[](auto& s, auto t) { return s.BloquearSAT(1, t); }, 48},
        {[](auto& s, auto t) { return s.DesbloquearSAT(1, t); }, 48},
        {[](auto& s, auto t) { return s.TrocarCodigoDeAtivacao(1, "c", 1, "n", t); }, 112},
        {[](auto& s, auto t) { return s.ReiniciarMFE(1, t); }, 48},
        {[](auto& s, auto t) { return s.EnviarStatusAC(1, "a", "b", t); }, 80},
    };
    for (const Case& c : cases) {
        g_exchanged.clear();
        c.call(sat, "");
        ASSERT_EQ(g_exchanged.size(), 1u);
        const std::string command = g_exchanged[0].command;
        const std::size_t room = c.bufferSize - 1 - g_exchanged[0].body.size();  // NUL kept

        const std::string fits(room, 'x');
        c.call(sat, fits.c_str());
        ASSERT_EQ(g_exchanged.size(), 2u) << command;
        EXPECT_EQ(g_exchanged[1].body.size(), c.bufferSize - 1) << command;
        EXPECT_EQ(sat.CodigoErro(), 0) << command;

        const std::string tooLong(room + 1, 'x');
        c.call(sat, tooLong.c_str());
        EXPECT_EQ(g_exchanged.size(), 2u) << command << " sent a body that does not fit";
        EXPECT_EQ(sat.CodigoErro(), manipulaDados::STATUS_BODY_TOO_LARGE) << command;
    }
}

TEST_F(CommandLayer, RefusedRequestLeavesEmptyReplyAndLogsTheCommand) {
    answered("000001|06000|0000|Emitido com sucesso", 0,
             [](auto& s) { return s.EnviarDadosVenda(1, "c", "<CFe/>"); });
    ASSERT_STRNE(g_resp, "");

    const std::string document(2 * 1024 * 1024, 'x');
    char* reply = sat.EnviarDadosVenda(2, "c", document.c_str());
    EXPECT_EQ(reply, g_resp);
    EXPECT_STREQ(reply, "");
    EXPECT_EQ(sat.CodigoErro(), 4);

    sat.AtivarSAT(3, 1, std::string(100, '9').c_str(), "cnpj", 35);
    EXPECT_EQ(g_exchanged.size(), 1u);
    EXPECT_EQ(sat.CodigoErro(), 4);

    const std::string log = readDriverLog();
    EXPECT_THAT(log, HasSubstr("[error, [ManipulaDadosSat::EnviarDadosVenda] Requisicao excede"));
    EXPECT_THAT(log, HasSubstr("[error, [ManipulaDadosSat::AtivarSAT] Requisicao excede"));
}

TEST_F(CommandLayer, NullTextsAreEmptyTexts) {
    sat.AtivarSAT(1, 1, nullptr, nullptr, 35);
    sat.CancelarUltimaVenda(2, nullptr, nullptr, nullptr);
    sat.TrocarCodigoDeAtivacao(3, nullptr, 1, nullptr, nullptr);
    sat.EnviarStatusAC(4, nullptr, nullptr, nullptr);
    ASSERT_EQ(g_exchanged.size(), 4u);
    EXPECT_EQ(g_exchanged[0].body, "000001|1|||35");
    EXPECT_EQ(g_exchanged[1].body, "000002|||");
    EXPECT_EQ(g_exchanged[2].body, "000003||1||");
    EXPECT_EQ(g_exchanged[3].body, "000004|||");
}

TEST_F(CommandLayer, ReplyBodyIsHandedBackWholeWithTheStatusWhateverItIs) {
    const std::string longReply(100000, 'L');
    char* first = answered(longReply, 0, [](auto& s) { return s.ConsultarSAT(1); });
    EXPECT_EQ(std::string(first), longReply);

    char* second =
        answered("000002|08000|SAT em operacao||", 0, [](auto& s) { return s.ConsultarSAT(2); });
    EXPECT_EQ(second, first);
    EXPECT_STREQ(second, "000002|08000|SAT em operacao||");
    EXPECT_EQ(std::memchr(g_resp + 40, 'L', sizeof g_resp - 40), nullptr);  // no remnant

    for (const int status : {1, 2, 4, 32768, 0}) {
        answered("", status, [](auto& s) { return s.ConsultarSAT(3); });
        EXPECT_EQ(sat.CodigoErro(), status);
        EXPECT_STREQ(g_resp, "");
    }
}

TEST_F(CommandLayer, ReplyThatCannotFitWithItsNulIsRefused) {
    const std::string largest(sizeof g_resp - 1, 'r');
    answered(largest, 0, [](auto& s) { return s.ExtrairLogs(1, "c"); });
    EXPECT_EQ(sat.CodigoErro(), 0);
    EXPECT_EQ(std::strlen(g_resp), sizeof g_resp - 1);

    answered(std::string(sizeof g_resp, 'r'), 0, [](auto& s) { return s.ExtrairLogs(2, "c"); });
    EXPECT_EQ(sat.CodigoErro(), 4);
    EXPECT_STREQ(g_resp, "");
    EXPECT_THAT(readDriverLog(),
                HasSubstr("[error, [ManipulaDadosSat::ExtrairLogs] Resposta excede o buffer de "
                          "1572864 bytes]"));
}

TEST_F(CommandLayer, ReplaceTagExpandsTheFirstEmptyCnpjAndCpfOnly) {
    std::string body = "1|<CPF/>|<CNPJ/><CNPJ/>|<CPF/>";
    ManipulaDadosSat::replaceTag(body);
    EXPECT_EQ(body, "1|<CPF></CPF>|<CNPJ></CNPJ><CNPJ/>|<CPF/>");

    std::string untouched = "1|<CNPJ>1</CNPJ>|<cpf/>";
    ManipulaDadosSat::replaceTag(untouched);
    EXPECT_EQ(untouched, "1|<CNPJ>1</CNPJ>|<cpf/>");

    sat.CancelarUltimaVenda(1, "c", "<CNPJ/>", "<CFeCanc><CNPJ/><CPF/></CFeCanc>");
    sat.EnviarDadosVenda(2, "c", "<CFe><CNPJ/><CPF/></CFe>");
    sat.TesteFimAFim(3, "c", "<CFe><CNPJ/></CFe>");
    ASSERT_EQ(g_exchanged.size(), 3u);
    EXPECT_EQ(g_exchanged[0].body, "000001|c|<CNPJ></CNPJ>|<CFeCanc><CNPJ/><CPF></CPF></CFeCanc>");
    EXPECT_EQ(g_exchanged[1].body, "000002|c|<CFe><CNPJ/><CPF/></CFe>");
    EXPECT_EQ(g_exchanged[2].body, "000003|c|<CFe><CNPJ/></CFe>");
}

TEST_F(CommandLayer, SplitPrintsEachFieldOnItsOwnLine) {
    ::testing::internal::CaptureStdout();
    const std::vector<std::string> fields = sat.split("a||b|", '|');
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "a\n\nb\n");
    EXPECT_EQ(fields, (std::vector<std::string>{"a", "", "b"}));
}

TEST_F(CommandLayer, Base64ToAsciiDecodesTheDocumentFieldOfTheLastCommand) {
    EXPECT_STREQ(sat.Base64ToAscii(), "");  // before any command

    const std::string cfe = Base64::encode("<CFe>venda</CFe>");
    answered("1|06000|0000|ok|||" + cfe + "|20260101120000|CFe35|1.00||sig", 0,
             [](auto& s) { return s.EnviarDadosVenda(1, "c", "<CFe/>"); });
    char* decoded = sat.Base64ToAscii();
    EXPECT_STREQ(decoded, "<CFe>venda</CFe>");

    // The text outlives later commands (it is not g_resp) until the next call.
    answered("1|06000|0000|ok||", 0, [](auto& s) { return s.EnviarDadosVenda(2, "c", "x"); });
    EXPECT_STREQ(decoded, "<CFe>venda</CFe>");
    EXPECT_STREQ(sat.Base64ToAscii(), "");  // six fields: no document

    answered("1|06000|0000|ok|||" + cfe, 0,
             [](auto& s) { return s.EnviarDadosVenda(3, "c", "x"); });
    EXPECT_STREQ(sat.Base64ToAscii(), "<CFe>venda</CFe>");  // exactly seven

    answered("1|07000|0000|ok|||" + Base64::encode("<CFeCanc/>") + "|x", 0,
             [](auto& s) { return s.CancelarUltimaVenda(4, "c", "k", "d"); });
    EXPECT_STREQ(sat.Base64ToAscii(), "<CFeCanc/>");

    answered("1|15000|0000|ok||" + Base64::encode("linha 1\nlinha 2\n"), 0,
             [](auto& s) { return s.ExtrairLogs(5, "c"); });
    EXPECT_STREQ(sat.Base64ToAscii(), "linha 1\nlinha 2\n");

    answered("1|08000|SAT em operacao||" + cfe + "|" + cfe, 0,
             [](auto& s) { return s.ConsultarSAT(6); });
    ::testing::internal::CaptureStdout();
    EXPECT_STREQ(sat.Base64ToAscii(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "1\n08000\nSAT em operacao\n\n" + cfe + "\n" + cfe + "\n");
    EXPECT_EQ(sat.CodigoErro(), 0);  // no exchange, nothing changed
    EXPECT_EQ(g_exchanged.size(), 6u);
}

}  // namespace
