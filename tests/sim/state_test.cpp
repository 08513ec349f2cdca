// The device keeps its state across requests: activation, the activation
// code, blocking, sales and the cancellation of the last one, past sessions.
#include "SimTest.h"

#include "commands/Base64.h"
#include "sim/SatDevice.h"

namespace {

class SimState : public SimTest {
protected:
    std::string sell(const std::string& session) {
        std::vector<std::string> fields = call("EnviarDadosVenda", session + "|12345678|<CFe/>");
        EXPECT_EQ("06000", fields.at(1));
        return fields.size() > 8 ? fields[8] : std::string();
    }
};

TEST_F(SimState, SalesWaitForActivationWhichHappensOnce) {
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000001|12345678|<CFe/>"));
    EXPECT_EQ("09002", result("TesteFimAFim", "000002|12345678|<CFe/>"));
    EXPECT_EQ("04002", result("AtivarSAT", "000003|1|12345678|1122233300018|35"))
        << "13-digit CNPJ";
    EXPECT_EQ("04000", result("AtivarSAT", "000004|1|12345678|11222333000181|35"));
    EXPECT_EQ("04003", result("AtivarSAT", "000005|1|12345678|11222333000181|35"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000006|12345678|<CFe/>"));
}

TEST_F(SimState, IcpBrasilActivationCompletesWithTheCertificate) {
    std::vector<std::string> csr = call("AtivarSAT", "000001|2|11111111|11222333000181|35");
    ASSERT_EQ(6u, csr.size());
    EXPECT_EQ("04006", csr[1]);
    EXPECT_NE(std::string::npos, Base64::decode(csr[5]).find("BEGIN CERTIFICATE REQUEST"));
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000002|11111111|<CFe/>"));
    EXPECT_EQ("05000", result("ComunicarCertificadoICPBRASIL", "000003|11111111|MIICcert"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000004|11111111|<CFe/>"));
}

TEST_F(SimState, WrongActivationCodeGivesEachFunctionsInvalidCodeError) {
    activate();
    const char* const commands[][2] = {
        {"ComunicarCertificadoICPBRASIL", "05001"},
        {"EnviarDadosVenda", "06001"},
        {"CancelarUltimaVenda", "07001"},
        {"TesteFimAFim", "09001"},
        {"ConsultarStatusOperacional", "10001"},
        {"ConsultarNumeroSessao", "11001"},
        {"ConfigurarInterfaceDeRede", "12001"},
        {"AssociarAssinatura", "13001"},
        {"AtualizarSoftwareSAT", "14001"},
        {"ExtrairLogs", "15001"},
        {"BloquearSAT", "16001"},
        {"DesbloquearSAT", "17001"},
        {"ConsultarUltimaSessaoFiscal", "19001"},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        std::vector<std::string> fields = call(command[0], "000002|00000000|x|y|z");
        ASSERT_GE(fields.size(), 5u);
        EXPECT_EQ(command[1], fields[1]);
        EXPECT_NE(fields.end(),
                  std::find(fields.begin(), fields.end(), "Código de ativação inválido"));
    }
    EXPECT_EQ("18001", result("TrocarCodigoDeAtivacao", "000003|00000000|1|22222222|22222222"));
}

TEST_F(SimState, NewActivationCodeReplacesTheOld) {
    activate();
    EXPECT_EQ("18003", result("TrocarCodigoDeAtivacao", "000002|12345678|1|22222222|22222223"));
    EXPECT_EQ("18000", result("TrocarCodigoDeAtivacao", "000003|12345678|1|22222222|22222222"));
    EXPECT_EQ("10001", result("ConsultarStatusOperacional", "000004|12345678"));
    EXPECT_EQ("10000", result("ConsultarStatusOperacional", "000005|22222222"));

    EXPECT_EQ("18002", result("TrocarCodigoDeAtivacao", "000006|22222222|2|33333333|33333333"));
    EXPECT_EQ("18000", result("TrocarCodigoDeAtivacao", std::string("000007|") +
                                                            satsim::SatDevice::EMERGENCY_CODE +
                                                            "|2|33333333|33333333"));
    EXPECT_EQ("10000", result("ConsultarStatusOperacional", "000008|33333333"));
}

TEST_F(SimState, BlockedDeviceRefusesSalesUntilUnblocked) {
    activate();
    std::string key = sell("000002");
    EXPECT_EQ("16000", result("BloquearSAT", "000003|12345678"));
    EXPECT_EQ("16002", result("BloquearSAT", "000004|12345678"));
    EXPECT_EQ("06006", result("EnviarDadosVenda", "000005|12345678|<CFe/>"));
    EXPECT_EQ("07003", result("CancelarUltimaVenda", "000006|12345678|" + key + "|<CFeCanc/>"));
    EXPECT_EQ("17000", result("DesbloquearSAT", "000007|12345678"));
    EXPECT_EQ("17005", result("DesbloquearSAT", "000008|12345678"));
    sell("000009");
}

TEST_F(SimState, OnlyTheLastSaleIsCancelledAndOnlyOnce) {
    activate();
    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000002|12345678|CFe0|<CFeCanc/>"))
        << "no sale yet";
    std::string first = sell("000003");
    std::string last = sell("000004");
    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000005|12345678|" + first + "|<CFeCanc/>"));

    std::vector<std::string> cancel =
        call("CancelarUltimaVenda", "000006|12345678|" + last + "|<CFeCanc/>");
    ASSERT_EQ(12u, cancel.size());
    EXPECT_EQ("07000", cancel[1]);
    EXPECT_TRUE(isAccessKey(cancel[8]));
    EXPECT_NE(last, cancel[8]) << "the cancellation is a document of its own";
    EXPECT_NE(std::string::npos, Base64::decode(cancel[6]).find("chCanc=\"" + last + "\""));

    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000007|12345678|" + last + "|<CFeCanc/>"));
    EXPECT_EQ(cancel, call("ConsultarUltimaSessaoFiscal", "000008|12345678"));
}

TEST_F(SimState, ConsultarNumeroSessaoReplaysThePastSession) {
    activate();
    std::string sale = client.call("EnviarDadosVenda", "000042|12345678|<CFe/>");
    ASSERT_EQ(12u, replyFields(sale).size());
    EXPECT_EQ(sale, client.call("ConsultarNumeroSessao", "000043|12345678|000042"));
    EXPECT_EQ("11003", result("ConsultarNumeroSessao", "000044|12345678|000999"));
}

}  // namespace
