// The built library loaded with dlopen, as a point-of-sale application loads
// it, talking to the simulated device that the harness shows as
// /dev/ttyACM0 (activated, activation code 12345678). Every call costs about
// 1.1 s of pacing, so each test groups what one device session can show.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "DriverOnDevice.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const char CODE[] = "12345678";
const char CNPJ[] = "11111111111111";
const std::size_t REPLY_BUFFER = 1572864;

// How the operator's console and many hosts declare these two: plain ints.
using AtivarSATWithInts = char* (*)(int, int, const char*, const char*, int);
using TrocarCodigoWithInts = char* (*)(int, const char*, int, const char*, const char*);

class ExportedInterface : public DriverOnDevice {};

TEST_F(ExportedInterface, ExportsOnlyTheStandardNamesAndStartsClean) {
    EXPECT_STREQ(sat.getVersion(), "01.00.01.001");
    EXPECT_EQ(sat.CodigoErro(), 0);
    EXPECT_STREQ(sat.Base64ToAscii(), "");
    sat.CloseSerial();
    for (const char* unexported :
         {"ReiniciarMFE", "ConsultarStatusOperacionalMFE", "ConfigurarInterfaceDeRedeMFE",
          "ConsultarUltimaSessaoFiscal", "EnviarStatusAC", "objManipulaDadosSat", "g_resp"}) {
        EXPECT_EQ(sat.lookUp<void*>(unexported), nullptr) << unexported;
    }
    EXPECT_EQ(device.requestCount(), 0u);
}

TEST_F(ExportedInterface, ActivationCommandsReachTheDeviceAsFormatted) {
    const auto ativar = sat.lookUp<AtivarSATWithInts>("AtivarSAT");
    const auto trocar = sat.lookUp<TrocarCodigoWithInts>("TrocarCodigoDeAtivacao");

    char* const first = ativar(42, 65537, "A", "B", 65571);  // only the low 16 bits count
    EXPECT_THAT(first, StartsWith("000042|04003|"));         // already activated
    EXPECT_EQ(sat.AtivarSAT(-5, 1, "A", "B", 5), first);
    sat.ComunicarCertificadoICPBRASIL(3, CODE, "CERT");
    sat.AssociarAssinatura(4, CODE, CNPJ, "SIG");
    sat.AtualizarSoftwareSAT(5, CODE);
    trocar(6, CODE, 65537, "87654321", "87654321");
    sat.TrocarCodigoDeAtivacao(7, "87654321", 2, CODE, CODE);
    sat.BloquearSAT(8, CODE);
    EXPECT_EQ(sat.DesbloquearSAT(9, CODE), first);

    EXPECT_EQ(received(), (std::vector<std::string>{
                              "AtivarSAT 000042|1|A|B|35",
                              "AtivarSAT -00005|1|A|B|05",
                              "ComunicarCertificadoICPBRASIL 000003|12345678|CERT",
                              "AssociarAssinatura 000004|12345678|11111111111111|SIG",
                              "AtualizarSoftwareSAT 000005|12345678",
                              "TrocarCodigoDeAtivacao 000006|12345678|1|87654321|87654321",
                              "TrocarCodigoDeAtivacao 000007|87654321|2|12345678|12345678",
                              "BloquearSAT 000008|12345678",
                              "DesbloquearSAT 000009|12345678",
                          }));
    EXPECT_EQ(sat.CodigoErro(), 0);
}

TEST_F(ExportedInterface, SaleAndQueryCommandsReachTheDeviceAsFormatted) {
    sat.EnviarDadosVenda(10, CODE, "<CFe><infCFe><CNPJ/></infCFe></CFe>");
    sat.CancelarUltimaVenda(11, CODE, "CFe35", "<CFeCanc><CNPJ/><CPF/><CNPJ/></CFeCanc>");
    sat.TesteFimAFim(12, CODE, "<CFe><CPF/></CFe>");
    EXPECT_STREQ(sat.ConsultarSAT(13), "000013|08000|SAT em Operação||");  // handed back as is
    sat.ConsultarStatusOperacional(14, CODE);
    sat.ConsultarNumeroSessao(1, CODE, 123);
    sat.ConfigurarInterfaceDeRede(15, CODE, "<config/>");
    faults("next body 000016|15000|Transferência completa|||\n");
    EXPECT_STREQ(sat.ExtrairLogs(16, CODE), "000016|15000|Transferência completa|||");

    EXPECT_EQ(received(),
              (std::vector<std::string>{
                  "EnviarDadosVenda 000010|12345678|<CFe><infCFe><CNPJ/></infCFe></CFe>",
                  "CancelarUltimaVenda 000011|12345678|CFe35|"
                  "<CFeCanc><CNPJ></CNPJ><CPF></CPF><CNPJ/></CFeCanc>",
                  "TesteFimAFim 000012|12345678|<CFe><CPF/></CFe>",
                  "ConsultarSAT 000013",
                  "ConsultarStatusOperacional 000014|12345678",
                  "ConsultarNumeroSessao 000001|12345678|000123",
                  "ConfigurarInterfaceDeRede 000015|12345678|<config/>",
                  "ExtrairLogs 000016|12345678",
              }));
}

TEST_F(ExportedInterface, CodigoErroReportsEachExchangeOutcome) {
    const struct {
        const char* fault;
        int status;
    } outcomes[] = {
        {"", 0},
        {"next badcrc", 1},
        {"next bodysize 1572864", 4},  // no room for the NUL in the reply buffer
        {"next unplug 20", 2},
        {"", 0},  // the device is back on a new line
    };
    for (const auto& outcome : outcomes) {
        faults(outcome.fault);
        char* reply = sat.ConsultarSAT(1);
        EXPECT_EQ(sat.CodigoErro(), outcome.status) << outcome.fault;
        if (outcome.status != 0) {
            EXPECT_STREQ(reply, "") << outcome.fault;
        }
    }
    EXPECT_THAT(readDriverLog(),
                HasSubstr("[error, [ManipulaDadosSat::ConsultarSAT] Resposta excede o buffer"));
    EXPECT_STREQ(sat.getVersion(), "01.00.01.001");
    EXPECT_EQ(sat.CodigoErro(), 0);  // getVersion leaves it alone
}

TEST_F(ExportedInterface, SilentDeviceTimesOutAfterConsultarSATsSixSeconds) {
    faults("next silence");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_STREQ(sat.ConsultarSAT(1), "");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(sat.CodigoErro(), 32768);
    EXPECT_GE(elapsed, std::chrono::seconds(6));
    EXPECT_LT(elapsed, std::chrono::seconds(20));  // the next shortest is 7 s; the longest 1800 s
}

TEST_F(ExportedInterface, RepliesFillTheSameBufferWithoutRemnants) {
    faults("next bodysize 1000000");
    char* const large = sat.ConsultarSAT(1);
    EXPECT_EQ(sat.CodigoErro(), 0);
    EXPECT_EQ(std::strlen(large), 1000000u);

    char* const small = sat.ConsultarSAT(2);
    EXPECT_EQ(small, large);
    EXPECT_STREQ(small, "000002|08000|SAT em Operação||");
    const std::size_t length = std::strlen(small);
    EXPECT_EQ(std::string(small + length, REPLY_BUFFER - length),
              std::string(REPLY_BUFFER - length, '\0'));
}

TEST_F(ExportedInterface, BodiesThatDoNotFitAreRefusedBeforeTheDeviceAndNullIsEmpty) {
    const std::string sale(1572904, 'x');
    EXPECT_STREQ(sat.EnviarDadosVenda(1, CODE, sale.c_str()), "");
    EXPECT_EQ(sat.CodigoErro(), 4);
    sat.AtivarSAT(2, 1, std::string(60, '9').c_str(), CNPJ, 35);
    EXPECT_EQ(sat.CodigoErro(), 4);
    EXPECT_EQ(device.requestCount(), 0u);

    sat.AtivarSAT(3, 1, nullptr, nullptr, 35);
    sat.EnviarDadosVenda(4, nullptr, nullptr);
    EXPECT_EQ(received(),
              (std::vector<std::string>{"AtivarSAT 000003|1|||35", "EnviarDadosVenda 000004||"}));
    const std::string log = readDriverLog();
    EXPECT_THAT(log, HasSubstr("[error, [ManipulaDadosSat::EnviarDadosVenda] Requisicao excede"));
    EXPECT_THAT(log, HasSubstr("[error, [ManipulaDadosSat::AtivarSAT] Requisicao excede"));
}

TEST_F(ExportedInterface, Base64ToAsciiDecodesTheDocumentOfTheLastReply) {
    const std::string saleReply = sat.EnviarDadosVenda(1, CODE, "<CFe><infCFe/></CFe>");
    ASSERT_EQ(sat.CodigoErro(), 0);
    EXPECT_EQ(std::count(saleReply.begin(), saleReply.end(), '|'), 11) << saleReply;
    EXPECT_THAT(std::string(sat.Base64ToAscii()), StartsWith("<?xml version=\"1.0\""));

    faults("next body 000002|06000|0000|Emitido||QUJD");  // six fields: no document
    sat.EnviarDadosVenda(2, CODE, "<CFe/>");
    EXPECT_STREQ(sat.Base64ToAscii(), "");

    sat.ExtrairLogs(3, CODE);
    EXPECT_THAT(std::string(sat.Base64ToAscii()), HasSubstr("|SAT|info|"));

    sat.ConsultarSAT(4);
    ::testing::internal::CaptureStdout();
    EXPECT_STREQ(sat.Base64ToAscii(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "000004\n08000\nSAT em Operação\n\n");
    EXPECT_EQ(device.requestCount(), 4u);  // it never talks to the device
}

TEST_F(ExportedInterface, WithoutADeviceTheCallFailsWithStatus1AndIsLogged) {
    // The harness's link; inside its namespace /dev is a scratch directory.
    std::filesystem::remove("/dev/serial/by-id/usb-Varo_SAT_0001-if00-mfc+_with_musb");
    EXPECT_STREQ(sat.ConsultarSAT(1), "");
    EXPECT_EQ(sat.CodigoErro(), 1);
    EXPECT_EQ(device.requestCount(), 0u);
    const std::string log = readDriverLog();
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao:000001 txBufferSize:6]\n"));
    EXPECT_THAT(log, HasSubstr("[info, rxCode: 0 rxSessao:   rxEEEEE:   rxCCCC:   rxMessage:   "
                               "rxBufferSize: 0 status: 1]\n"));
}

}  // namespace
