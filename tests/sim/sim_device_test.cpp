// The simulated device through its line: every command of the catalogue in
// its reply layout, the CF-e of a sale and of its cancellation (signatures
// verified with the certificate they carry), the sales it refuses, and the
// state the device keeps across requests (activation, its code, blocking,
// the last sale and its cancellation, past sessions). The device runs with
// a fixed seed and clock, so that a sale's CF-e can be a golden file.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <regex>

#include "SimTest.h"
#include "TestFiles.h"
#include "commands/Base64.h"
#include "sim/Cfe.h"
#include "sim/SatDevice.h"
#include "sim/XmlNode.h"

namespace {

const std::string SALE = readFile(SATVARO_SOURCE_DIR "/examples/venda.xml");
const char GOLDEN_SALE[] = SATVARO_SOURCE_DIR "/tests/sim/venda.cfe.xml";

// The element `name` of `xml`, tags included, as the text has it.
std::string element(const std::string& xml, const std::string& name) {
    const size_t begin = xml.find("<" + name);
    const size_t end = xml.find("</" + name + ">");
    return begin < end && end != std::string::npos
               ? xml.substr(begin, end + name.size() + 3 - begin)
               : std::string();
}

// True when `signature` is the RSA-SHA256 signature of `data` by the key of
// `certificate` (both in Base64).
bool verifies(const std::string& certificate, const std::string& data,
              const std::string& signature) {
    const std::string der = Base64::decode(certificate), raw = Base64::decode(signature);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(der.data());
    X509* x509 = d2i_X509(nullptr, &bytes, static_cast<long>(der.size()));
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    const bool verified =
        x509 != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, X509_get0_pubkey(x509)) ==
            1 &&
        EVP_DigestVerify(context, reinterpret_cast<const unsigned char*>(raw.data()), raw.size(),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(context);
    X509_free(x509);
    return verified;
}

// The CF-e's enveloped signature and its assinaturaQRCODE, the signature of
// `qrData`, verify. The device writes canonically: the signed texts are the
// document's own, SignedInfo with the namespace it inherits.
void expectSigned(const std::string& xml, const std::string& qrData) {
    satsim::XmlNode cfe;
    ASSERT_TRUE(satsim::XmlNode::parse(xml, cfe));
    const std::string certificate = cfe.textAt("Signature/KeyInfo/X509Data/X509Certificate");
    const std::string info = element(xml, "infCFe");
    unsigned char digest[32];
    ASSERT_EQ(1, EVP_Digest(info.data(), info.size(), digest, nullptr, EVP_sha256(), nullptr));
    EXPECT_EQ(Base64::encode(digest, sizeof digest),
              cfe.textAt("Signature/SignedInfo/Reference/DigestValue"));
    const std::string signedInfo = "<SignedInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\"" +
                                   element(xml, "SignedInfo").substr(11);
    EXPECT_TRUE(verifies(certificate, signedInfo, cfe.textAt("Signature/SignatureValue")));
    EXPECT_TRUE(verifies(certificate, qrData, cfe.textAt("infCFe/ide/assinaturaQRCODE")));
}

using SimulatedDevice = SimTest;

TEST_F(SimulatedDevice, EveryCommandAnswersWithItsSuccessCodeInItsLayout) {
    activate();
    const struct {
        const char* command;
        std::string body;
        const char* result;
        size_t fields;
        const char* session;  // the reply's session: a past one for the replaying commands
    } catalogue[] = {
        {"ConsultarSAT", "000002", "08000", 5, "000002"},
        {"ComunicarCertificadoICPBRASIL", "000003|12345678|MIICcert", "05000", 5, "000003"},
        {"EnviarDadosVenda", "000004|12345678|" + SALE, "06000", 12, "000004"},
        {"TesteFimAFim", "000005|12345678|" + SALE, "09000", 9, "000005"},
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

// examples/venda.xml: 2 x 18.90 + 24.50 = 62.30, less 0.30 on the sub-total:
// 62.00; 70.00 paid: 8.00 change.
TEST_F(SimulatedDevice, SaleHandsBackItsCfeCompletedAndSigned) {
    activate();
    const std::vector<std::string> fields = call("EnviarDadosVenda", "000002|12345678|" + SALE);
    ASSERT_EQ(12u, fields.size());
    const std::string xml = Base64::decode(fields[6]);
    if (std::getenv("SATVARO_UPDATE_GOLDEN") != nullptr)
        writeFile(GOLDEN_SALE, xml);
    EXPECT_EQ(readFile(GOLDEN_SALE), xml);
    satsim::XmlNode cfe;
    ASSERT_TRUE(satsim::XmlNode::parse(xml, cfe));
    EXPECT_EQ("62.00", fields[9]);
    EXPECT_EQ("62.00", cfe.textAt("infCFe/total/vCFe"));
    EXPECT_EQ("8.00", cfe.textAt("infCFe/pgto/vTroco"));
    EXPECT_EQ(fields[11], cfe.textAt("infCFe/ide/assinaturaQRCODE"));
    const std::string key = fields[8].substr(3);
    expectSigned(xml, key + "|" + fields[7] + "|62.00||" + cfe.textAt("infCFe/ide/signAC"));
    EXPECT_EQ(key.back() - '0', satsim::mod11CheckDigit(key.substr(0, 43)));
    // The check digit of a key issued by a real device.
    EXPECT_EQ(8, satsim::mod11CheckDigit("3515070872321800018659900004019000021513340"));
}

// Rows change examples/venda.xml (62.00 to pay, 70.00 paid), after
// associating a signature where they say; accepted rows show the edge.
TEST_F(SimulatedDevice, SalesTheDeviceRefusesNameTheField) {
    activate();
    satsim::XmlNode sale;
    ASSERT_TRUE(satsim::XmlNode::parse(SALE, sale));
    const std::string signAC = sale.textAt("infCFe/ide/signAC");
    const std::string cnpjs = "2345678900019534567890000130|";
    const struct {
        const char* pattern;
        const char* replacement;
        std::string associated;  // AssociarAssinatura's CNPJs and signature
        const char* result;
        const char* code;
        const char* field;
    } rows[] = {
        {"<det [\\s\\S]*</det>", "", "", "06010", "1201", "(det)"},
        {"34567890000130", "11222333000181", "", "06010", "1202", "emit/CNPJ"},
        {"<qCom>2.0000", "<qCom>2,0000", "", "06010", "1204", "det[1]/prod/qCom"},
        {"<vUnCom>24.50", "<vUnCom>24.5O", "", "06010", "1204", "det[2]/prod/vUnCom"},
        {"70.00", "61.99", "", "06010", "1205", "pgto/MP/vMP"},
        {"70.00", "62.00", "", "06000", "0000", ""},
        {"", "", cnpjs + signAC, "06000", "0000", ""},
        {"", "", cnpjs + "T1RIRVI=", "06010", "1203", "ide/signAC"},
    };
    int session = 2;
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.pattern) + " " + row.associated);
        if (!row.associated.empty()) {
            ASSERT_EQ("13000", result("AssociarAssinatura",
                                      std::to_string(++session) + "|12345678|" + row.associated));
        }
        const std::string document =
            std::regex_replace(SALE, std::regex(row.pattern), row.replacement);
        const std::vector<std::string> fields =
            call("EnviarDadosVenda", std::to_string(++session) + "|12345678|" + document);
        ASSERT_GE(fields.size(), 6u);
        EXPECT_EQ(row.result, fields[1]);
        EXPECT_EQ(row.code, fields[2]);
        EXPECT_NE(std::string::npos, fields[3].find(row.field)) << fields[3];
    }
}

// The console's cancellation document, with a cashier of its own.
TEST_F(SimulatedDevice, CancellationNamesTheSaleAndSignsItsOwnCfe) {
    activate();
    const std::vector<std::string> sale = call("EnviarDadosVenda", "000002|12345678|" + SALE);
    ASSERT_EQ(12u, sale.size());
    const std::vector<std::string> fields = call(
        "CancelarUltimaVenda",
        "000003|12345678|" + sale[8] + "|<CFeCanc><infCFe chCanc=\"" + sale[8] +
            "\"><ide><CNPJ>23456789000195</CNPJ><signAC>AC</signAC><numeroCaixa>002"
            "</numeroCaixa></ide><emit></emit><dest></dest><total></total></infCFe></CFeCanc>");
    ASSERT_EQ(12u, fields.size());
    const std::string xml = Base64::decode(fields[6]);
    satsim::XmlNode cfe;
    ASSERT_TRUE(satsim::XmlNode::parse(xml, cfe));
    ASSERT_NE(nullptr, cfe.child("infCFe"));
    const satsim::XmlNode& info = *cfe.child("infCFe");
    EXPECT_EQ(sale[8], info.attribute("chCanc"));
    EXPECT_EQ(fields[8], info.attribute("Id"));
    EXPECT_NE(sale[8], fields[8]);
    EXPECT_EQ(sale[7], info.textAt("dEmi") + info.textAt("hEmi"));
    EXPECT_EQ("62.00", fields[9]);
    EXPECT_EQ("62.00", info.textAt("total/vCFe"));
    EXPECT_EQ("002", info.textAt("ide/numeroCaixa"));
    expectSigned(xml, fields[8].substr(3) + "|" + fields[7] + "|62.00||AC");
}

TEST_F(SimulatedDevice, SalesWaitForActivationWhichHappensOnce) {
    EXPECT_EQ("06002", result("EnviarDadosVenda", "000001|12345678|<CFe/>"));
    EXPECT_EQ("04002", result("AtivarSAT", "000003|1|12345678|1122233300018|35"))
        << "13-digit CNPJ";
    activate();
    EXPECT_EQ("04003", result("AtivarSAT", "000005|1|12345678|34567890000130|35"));
    EXPECT_EQ("06000", result("EnviarDadosVenda", "000006|12345678|" + SALE));
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
    const std::string first = call("EnviarDadosVenda", "000003|12345678|" + SALE).at(8);
    const std::string sale = client.call("EnviarDadosVenda", "000004|12345678|" + SALE);
    const std::string last = sale.substr(sale.find("|CFe") + 1, 47);
    EXPECT_EQ("000002", last.substr(34, 6)) << "sales are numbered in turn";

    EXPECT_EQ("16000", result("BloquearSAT", "000005|12345678"));
    EXPECT_EQ("16002", result("BloquearSAT", "000006|12345678"));
    EXPECT_EQ("06006", result("EnviarDadosVenda", "000007|12345678|" + SALE));
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
