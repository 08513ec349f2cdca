// The device keeps its state across requests: activation, the activation
// code, blocking, sales and the cancellation of the last one, past sessions.
#include "SimTest.h"
#include "commands/Base64.h"
#include "sim/SatDevice.h"

namespace {

using SimState = SimTest;

TEST_F(SimState, SalesWaitForActivationWhichHappensOnce) {
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000001|12345678|<CFe/>"));
    EXPECT_EQ("04002", result("AtivarSAT", "000003|1|12345678|1122233300018|35"))
        << "13-digit CNPJ";
    EXPECT_EQ("04000", result("AtivarSAT", "000004|1|12345678|11222333000181|35"));
    EXPECT_EQ("04003", result("AtivarSAT", "000005|1|12345678|11222333000181|35"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000006|12345678|<CFe/>"));
}

TEST_F(SimState, IcpBrasilActivationCompletesWithTheCertificate) {
    const std::vector<std::string> csr = call("AtivarSAT", "000001|2|11111111|11222333000181|35");
    ASSERT_EQ(6u, csr.size());
    EXPECT_EQ("04006", csr[1]);
    EXPECT_NE(std::string::npos, Base64::decode(csr[5]).find("BEGIN CERTIFICATE REQUEST"));
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000002|11111111|<CFe/>"));
    EXPECT_EQ("05000", result("ComunicarCertificadoICPBRASIL", "000003|11111111|MIICcert"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000004|11111111|<CFe/>"));
}

TEST_F(SimState, ActivationCodeIsCheckedAndReplaced) {
    activate();
    const std::vector<std::string> wrong = call("EnviarDadosVenda", "000002|00000000|<CFe/>");
    ASSERT_EQ(6u, wrong.size());
    EXPECT_EQ("06001", wrong[1]);
    EXPECT_EQ("Código de ativação inválido", wrong[3]);
    EXPECT_EQ("19001", result("ConsultarUltimaSessaoFiscal", "000003|00000000"));
    EXPECT_EQ("18001", result("TrocarCodigoDeAtivacao", "000004|00000000|1|22222222|22222222"));

    EXPECT_EQ("18003", result("TrocarCodigoDeAtivacao", "000005|12345678|1|22222222|22222223"));
    EXPECT_EQ("18000", result("TrocarCodigoDeAtivacao", "000006|12345678|1|22222222|22222222"));
    EXPECT_EQ("10001", result("ConsultarStatusOperacional", "000007|12345678"));
    EXPECT_EQ("18002", result("TrocarCodigoDeAtivacao", "000008|22222222|2|33333333|33333333"));
    EXPECT_EQ("18000", result("TrocarCodigoDeAtivacao", std::string("000009|") +
                                                            satsim::SatDevice::EMERGENCY_CODE +
                                                            "|2|33333333|33333333"));
    EXPECT_EQ("10000", result("ConsultarStatusOperacional", "000010|33333333"));
}

TEST_F(SimState, BlockingCancellationAndPastSessions) {
    activate();
    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000002|12345678|CFe0|<CFeCanc/>"));
    const std::string first = call("EnviarDadosVenda", "000003|12345678|<CFe/>").at(8);
    const std::string sale = client.call("EnviarDadosVenda", "000004|12345678|<CFe/>");
    const std::string last = sale.substr(sale.find("|CFe") + 1, 47);

    EXPECT_EQ("16000", result("BloquearSAT", "000005|12345678"));
    EXPECT_EQ("16002", result("BloquearSAT", "000006|12345678"));
    EXPECT_EQ("06006", result("EnviarDadosVenda", "000007|12345678|<CFe/>"));
    EXPECT_EQ("07003", result("CancelarUltimaVenda", "000008|12345678|" + last + "|<CFeCanc/>"));
    EXPECT_EQ("2", call("ConsultarStatusOperacional", "000009|12345678").at(27));
    EXPECT_EQ("17000", result("DesbloquearSAT", "000010|12345678"));
    EXPECT_EQ("17005", result("DesbloquearSAT", "000011|12345678"));

    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000012|12345678|" + first + "|<CFeCanc/>"));
    const std::vector<std::string> cancel =
        call("CancelarUltimaVenda", "000013|12345678|" + last + "|<CFeCanc/>");
    ASSERT_EQ(12u, cancel.size());
    EXPECT_EQ("07000", cancel[1]);
    EXPECT_NE(last, cancel[8]) << "the cancellation is a document of its own";
    EXPECT_NE(std::string::npos, Base64::decode(cancel[6]).find("chCanc=\"" + last + "\""));
    EXPECT_EQ("07002", result("CancelarUltimaVenda", "000014|12345678|" + last + "|<CFeCanc/>"));
    EXPECT_EQ(cancel, call("ConsultarUltimaSessaoFiscal", "000015|12345678"));

    EXPECT_EQ(sale, client.call("ConsultarNumeroSessao", "000016|12345678|000004"));
    EXPECT_EQ("11003", result("ConsultarNumeroSessao", "000017|12345678|000999"));
}

}  // namespace
