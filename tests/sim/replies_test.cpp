// Every command of the catalogue through the harness: reply layouts, field
// counts, the reply message itself and the documents a sale hands back.
#include "SimTest.h"

#include "SimDevice.h"
#include "commands/Base64.h"
#include "sim/Cfe.h"
#include "sim/SatDevice.h"

namespace {

struct Expected {
    const char* command;
    const char* body;
    const char* result;
    size_t fields;
    const char* session;  // the reply's session: a past one for the replaying commands
};

const Expected CATALOGUE[] = {
    {"ConsultarSAT", "000002", "08000", 5, "000002"},
    {"ComunicarCertificadoICPBRASIL", "000003|12345678|MIICcert", "05000", 5, "000003"},
    {"EnviarDadosVenda", "000004|12345678|<CFe><infCFe/></CFe>", "06000", 12, "000004"},
    {"TesteFimAFim", "000005|12345678|<CFe><infCFe/></CFe>", "09000", 9, "000005"},
    {"ConsultarStatusOperacional", "000006|12345678", "10000", 28, "000006"},
    {"ConsultarStatusOperacionalMFE", "000007|12345678", "10000", 28, "000007"},
    {"ConsultarNumeroSessao", "000008|12345678|000002", "08000", 5, "000002"},
    {"ConsultarUltimaSessaoFiscal", "000009|12345678", "06000", 12, "000004"},
    {"ConfigurarInterfaceDeRede", "000010|12345678|<config><tipoLan>IPFIX</tipoLan></config>",
     "12000", 5, "000010"},
    {"ConfigurarInterfaceDeRedeMFE", "000011|12345678|<config/>", "12000", 5, "000011"},
    {"AssociarAssinatura", "000012|12345678|1671611400017208723218000186|c2lnbmF0dXJl", "13000", 5,
     "000012"},
    {"AtualizarSoftwareSAT", "000013|12345678", "14000", 5, "000013"},
    {"ExtrairLogs", "000014|12345678", "15000", 6, "000014"},
    {"BloquearSAT", "000015|12345678", "16000", 5, "000015"},
    {"DesbloquearSAT", "000016|12345678", "17000", 5, "000016"},
    {"ReiniciarMFE", "000017|12345678", "20000", 5, "000017"},
    {"EnviarStatusAC", "000018|a|b|c", "21000", 5, "000018"},
    {"TrocarCodigoDeAtivacao", "000019|12345678|1|87654321|87654321", "18000", 5, "000019"},
};

using SimReplies = SimTest;

TEST_F(SimReplies, EveryCommandAnswersWithItsSuccessCodeInItsLayout) {
    std::vector<std::string> activation = call("AtivarSAT", "000001|1|12345678|11222333000181|35");
    EXPECT_EQ((std::vector<std::string>{"000001", "04000", "Ativado corretamente", "", ""}),
              activation);

    for (const Expected& expected : CATALOGUE) {
        SCOPED_TRACE(expected.command);
        std::vector<std::string> fields = call(expected.command, expected.body);
        ASSERT_EQ(expected.fields, fields.size());
        EXPECT_EQ(expected.session, fields[0]);
        EXPECT_EQ(expected.result, fields[1]);
    }

    std::string saleKey =
        replyFields(client.call("ConsultarNumeroSessao", "000020|87654321|000004")).at(8);
    std::vector<std::string> cancel =
        call("CancelarUltimaVenda", "000021|87654321|" + saleKey + "|<CFeCanc/>");
    ASSERT_EQ(12u, cancel.size());
    EXPECT_EQ("07000", cancel[1]);
    EXPECT_TRUE(isAccessKey(cancel[8]));
}

TEST_F(SimReplies, ReplyIsACompressedMessageUnderTheCommandsCode) {
    ASSERT_TRUE(client.send("ConsultarSAT", "000007"));
    DeviceClient::Reply reply = client.receive();
    ASSERT_EQ(zeph::Message::PARSER_MESSAGE_READY, reply.state);
    EXPECT_EQ("ConsultarSAT", reply.message.code());
    EXPECT_EQ("1", reply.message.sourceId());
    EXPECT_EQ("z-compressed", reply.message.header("content-type"));
    EXPECT_EQ("000007|08000|SAT em Operação||", plainBody(reply.message));
    EXPECT_EQ(reply.bytes.size(), reply.message.toString().size())
        << "nothing before or after the message";

    SimDevice device;
    ASSERT_EQ(1u, device.requestCount());
    EXPECT_EQ("ConsultarSAT", device.lastRequest().code);
    EXPECT_EQ("000007", device.lastBody());
}

TEST_F(SimReplies, SaleHandsBackTheIssuedDocumentBuiltFromTheSaleData) {
    activate();
    const std::string sale =
        "<CFe><infCFe><ide><cUF>41</cUF><CNPJ>16716114000172</CNPJ></ide>"
        "<emit><CNPJ>08723218000186</CNPJ></emit><dest><CPF>12345678909</CPF></dest>"
        "<det nItem=\"1\"><prod><vProd>25.90</vProd></prod></det>"
        "<total><vCFe>25.90</vCFe></total></infCFe></CFe>";
    std::vector<std::string> fields = call("EnviarDadosVenda", "000002|12345678|" + sale);
    ASSERT_EQ(12u, fields.size());
    EXPECT_EQ("0000", fields[2]);
    EXPECT_TRUE(satsim::isDigits(fields[7], 14)) << fields[7];
    const std::string& key = fields[8];
    ASSERT_TRUE(isAccessKey(key));
    EXPECT_EQ("41", key.substr(3, 2));
    EXPECT_EQ(fields[7].substr(2, 4), key.substr(5, 4)) << "AAMM of the issue date";
    EXPECT_EQ("08723218000186", key.substr(9, 14));
    EXPECT_EQ(std::string("59") + satsim::SatDevice::SERIAL + "000001", key.substr(23, 17));
    EXPECT_EQ("25.90", fields[9]);
    EXPECT_EQ("12345678909", fields[10]);
    EXPECT_EQ(256u, Base64::decode(fields[11]).size());

    std::string xml = Base64::decode(fields[6]);
    EXPECT_NE(std::string::npos, xml.find("Id=\"" + key + "\"")) << xml;
    EXPECT_EQ("25.90", satsim::xmlText(xml, "total/vCFe"));
    EXPECT_EQ("12345678909", satsim::xmlText(xml, "dest/CPF"));

    std::vector<std::string> second = call("EnviarDadosVenda", "000003|12345678|<CFe/>");
    ASSERT_EQ(12u, second.size());
    EXPECT_EQ("000002", second[8].substr(34, 6)) << "sales are numbered in turn";
    EXPECT_EQ("11222333000181", second[8].substr(9, 14))
        << "without an emitter CNPJ, the activation's";
    EXPECT_EQ("35", second[8].substr(3, 2));
    EXPECT_EQ("0.00", second[9]);
    EXPECT_EQ("", second[10]);
}

TEST_F(SimReplies, StatusReportShowsTheDeviceState) {
    activate();
    ASSERT_EQ("12000",
              result("ConfigurarInterfaceDeRede", "000002|12345678|<tipoLan>IPFIX</tipoLan>"));
    std::string sale = call("EnviarDadosVenda", "000003|12345678|<CFe/>").at(8);
    ASSERT_EQ("16000", result("BloquearSAT", "000004|12345678"));

    std::vector<std::string> status = call("ConsultarStatusOperacional", "000005|12345678");
    ASSERT_EQ(28u, status.size());
    EXPECT_EQ(satsim::SatDevice::SERIAL, status[5]);
    EXPECT_EQ("IPFIX", status[6]);
    EXPECT_TRUE(satsim::isDigits(status[17], 14));
    EXPECT_EQ(sale.substr(3), status[20]) << "last CF-e";
    EXPECT_EQ("2", status[27]) << "blocked by the taxpayer";
}

TEST_F(SimReplies, ExtrairLogsHandsTheDeviceLogInBase64) {
    ASSERT_EQ("08000", result("ConsultarSAT", "000001"));
    std::vector<std::string> logs = call("ExtrairLogs", "000002|12345678");
    ASSERT_EQ(6u, logs.size());
    std::string log = Base64::decode(logs[5]);
    EXPECT_NE(std::string::npos, log.find("|SAT|info|ConsultarSAT sessao 000001: 08000\n")) << log;
}

TEST_F(SimReplies, UnknownCommandIsAnsweredUnderItsOwnCode) {
    EXPECT_EQ((std::vector<std::string>{"000001", "99999", "Comando desconhecido", "", ""}),
              call("FormatarSAT", "000001|12345678"));
}

}  // namespace
