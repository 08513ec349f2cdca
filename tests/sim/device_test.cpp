// The simulated device through its line: every command of the catalogue in
// its reply layout, the document a sale hands back, and the state the device
// keeps across requests (activation, its code, blocking, the last sale and
// its cancellation, past sessions).
#include "SimTest.h"
#include "commands/Base64.h"
#include "sim/Cfe.h"
#include "sim/SatDevice.h"

namespace {

using SimulatedDevice = SimTest;

TEST_F(SimulatedDevice, EveryCommandAnswersWithItsSuccessCodeInItsLayout) {
    activate();
    const struct {
        const char* command;
        const char* body;
        const char* result;
        size_t fields;
        const char* session;  // the reply's session: a past one for the replaying commands
    } catalogue[] = {
        {"ConsultarSAT", "000002", "08000", 5, "000002"},
        {"ComunicarCertificadoICPBRASIL", "000003|12345678|MIICcert", "05000", 5, "000003"},
        {"EnviarDadosVenda", "000004|12345678|<CFe><infCFe/></CFe>", "06000", 12, "000004"},
        {"TesteFimAFim", "000005|12345678|<CFe><infCFe/></CFe>", "09000", 9, "000005"},
        {"ConsultarStatusOperacional", "000006|12345678", "10000", 28, "000006"},
        {"ConsultarStatusOperacionalMFE", "000007|12345678", "10000", 28, "000007"},
        {"ConsultarNumeroSessao", "000008|12345678|000002", "08000", 5, "000002"},
        {"ConsultarUltimaSessaoFiscal", "000009|12345678", "06000", 12, "000004"},
        {"ConfigurarInterfaceDeRede", "000010|12345678|<config/>", "12000", 5, "000010"},
        {"ConfigurarInterfaceDeRedeMFE", "000011|12345678|<config/>", "12000", 5, "000011"},
        {"AssociarAssinatura", "000012|12345678|1671611400017208723218000186|c2ln", "13000", 5,
         "000012"},
        {"AtualizarSoftwareSAT", "000013|12345678", "14000", 5, "000013"},
        {"ExtrairLogs", "000014|12345678", "15000", 6, "000014"},
        {"BloquearSAT", "000015|12345678", "16000", 5, "000015"},
        {"DesbloquearSAT", "000016|12345678", "17000", 5, "000016"},
        {"ReiniciarMFE", "000017|12345678", "20000", 5, "000017"},
        {"EnviarStatusAC", "000018|a|b|c", "21000", 5, "000018"},
        {"TrocarCodigoDeAtivacao", "000019|12345678|1|87654321|87654321", "18000", 5, "000019"},
        {"FormatarSAT", "000020|87654321", "99999", 5, "000020"},
    };
    for (const auto& expected : catalogue) {
        SCOPED_TRACE(expected.command);
        const std::vector<std::string> fields = call(expected.command, expected.body);
        ASSERT_EQ(expected.fields, fields.size());
        EXPECT_EQ(expected.session, fields[0]);
        EXPECT_EQ(expected.result, fields[1]);
    }
    const std::string saleKey = call("ConsultarNumeroSessao", "000021|87654321|000004").at(8);
    EXPECT_EQ("07000", result("CancelarUltimaVenda", "000022|87654321|" + saleKey + "|<CFeCanc/>"));
}

TEST_F(SimulatedDevice, SaleHandsBackTheIssuedDocumentBuiltFromTheSaleData) {
    activate();
    const std::string sale =
        "<CFe><infCFe><ide><cUF>41</cUF><CNPJ>16716114000172</CNPJ></ide>"
        "<emit><CNPJ>08723218000186</CNPJ></emit><dest><CPF>12345678909</CPF></dest>"
        "<total><vCFe>25.90</vCFe></total></infCFe></CFe>";
    std::vector<std::string> fields = call("EnviarDadosVenda", "000002|12345678|" + sale);
    ASSERT_EQ(12u, fields.size());
    EXPECT_TRUE(satsim::isDigits(fields[7], 14)) << fields[7];
    const std::string& key = fields[8];
    ASSERT_EQ(47u, key.size());
    EXPECT_EQ("CFe41" + fields[7].substr(2, 4) + "08723218000186" + "59" +
                  satsim::SatDevice::SERIAL + "000001",
              key.substr(0, 40));
    EXPECT_EQ(key.back() - '0', satsim::mod11CheckDigit(key.substr(3, 43)));
    // The check digit of a key issued by a real device.
    EXPECT_EQ(8, satsim::mod11CheckDigit("3515070872321800018659900004019000021513340"));
    EXPECT_EQ("25.90", fields[9]);
    EXPECT_EQ("12345678909", fields[10]);
    EXPECT_EQ(256u, Base64::decode(fields[11]).size());
    const std::string xml = Base64::decode(fields[6]);
    EXPECT_NE(std::string::npos, xml.find("Id=\"" + key + "\"")) << xml;
    EXPECT_EQ("12345678909", satsim::xmlText(xml, "dest/CPF"));

    fields = call("EnviarDadosVenda", "000003|12345678|<CFe/>");
    ASSERT_EQ(12u, fields.size());
    EXPECT_EQ("CFe35", fields[8].substr(0, 5)) << "without sale data, the activation's";
    EXPECT_EQ("11222333000181", fields[8].substr(9, 14));
    EXPECT_EQ("000002", fields[8].substr(34, 6)) << "sales are numbered in turn";
    EXPECT_EQ("0.00", fields[9]);
}

TEST_F(SimulatedDevice, SalesWaitForActivationWhichHappensOnce) {
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000001|12345678|<CFe/>"));
    EXPECT_EQ("04002", result("AtivarSAT", "000003|1|12345678|1122233300018|35"))
        << "13-digit CNPJ";
    EXPECT_EQ("04000", result("AtivarSAT", "000004|1|12345678|11222333000181|35"));
    EXPECT_EQ("04003", result("AtivarSAT", "000005|1|12345678|11222333000181|35"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000006|12345678|<CFe/>"));
}

TEST_F(SimulatedDevice, ActivationCodeIsCheckedAndReplaced) {
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

TEST_F(SimulatedDevice, BlockingCancellationAndPastSessions) {
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
