// The built library loaded with dlopen, as a point-of-sale application loads
// it, talking to the simulated device that the harness shows as
// /dev/ttyACM0 (activated, activation code 12345678). Every call costs about
// 1.1 s of pacing, so each test groups what one device session can show.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DriverLog.h"
#include "DriverOnDevice.h"
#include "TestFiles.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

const char CODE[] = "12345678";

// How the operator's console and many hosts declare these two: plain ints.
using AtivarSATWithInts = char* (*)(int, int, const char*, const char*, int);
using TrocarCodigoWithInts = char* (*)(int, const char*, int, const char*, const char*);

class ExportedInterface : public DriverOnDevice {};

// Null texts go out empty, bytes outside ASCII unchanged both ways; a text
// longer than every buffer is refused before a byte reaches the device.
TEST_F(ExportedInterface, EveryExportReachesTheDeviceUnderItsNameAsFormatted) {
    const std::string sale =
        "<CFe><infCFe><CNPJ/></infCFe><x>CAF\xc3\x89 \xf0\x9f\x98\x80 "
        "Pa\xe7oca|a||\t\r\n\x01\x7f</x></CFe>";
    const std::string tooLong(1600000, 'x');
    const auto ativar = sat.lookUp<AtivarSATWithInts>("AtivarSAT");
    const auto trocar = sat.lookUp<TrocarCodigoWithInts>("TrocarCodigoDeAtivacao");

    char* const first = ativar(42, 65537, "A", "B", 65571);  // only the low 16 bits count
    EXPECT_THAT(first, StartsWith("000042|04003|"));         // already activated
    sat.ComunicarCertificadoICPBRASIL(3, CODE, nullptr);
    sat.AssociarAssinatura(4, CODE, "11111111111111", "SIG");
    sat.AtualizarSoftwareSAT(5, nullptr);
    EXPECT_STREQ(sat.CancelarUltimaVenda(5, CODE, tooLong.c_str(), "<CFeCanc/>"), "");
    EXPECT_EQ(sat.CodigoErro(), 4);
    trocar(6, CODE, 65537, "87654321", "87654321");
    sat.TrocarCodigoDeAtivacao(7, "87654321", 2, CODE, CODE);
    sat.BloquearSAT(8, CODE);
    EXPECT_EQ(sat.DesbloquearSAT(9, CODE), first);
    sat.EnviarDadosVenda(10, CODE, sale.c_str());
    sat.CancelarUltimaVenda(11, CODE, "CFe35", "<CFeCanc><CNPJ/><CPF/><CNPJ/></CFeCanc>");
    sat.TesteFimAFim(12, CODE, "<CFe><CPF/></CFe>");
    faults("next body 000013|08000|Opera\xe7\xe3o em \xc3\xa1rea \xf0\x9f\x98\x80||");
    EXPECT_STREQ(sat.ConsultarSAT(13),
                 "000013|08000|Opera\xe7\xe3o em \xc3\xa1rea \xf0\x9f\x98\x80||");
    sat.ConsultarStatusOperacional(14, nullptr);
    sat.ConsultarNumeroSessao(1, CODE, 123);
    sat.ConfigurarInterfaceDeRede(15, CODE, "<config/>");
    sat.ExtrairLogs(16, CODE);
    EXPECT_EQ(sat.CodigoErro(), 0);

    std::string requests;
    for (const std::string& request : received()) {
        requests += request + "\n";
    }
    expectGolden(SATVARO_SOURCE_DIR "/tests/commands/golden/requests.txt", requests);
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
    EXPECT_EQ(std::string(small + length, SATVARO_REPLY_BUFFER_SIZE - length),
              std::string(SATVARO_REPLY_BUFFER_SIZE - length, '\0'));
}

// The document field of the last reply: the seventh of a sale or a
// cancellation, the sixth of ExtrairLogs; other replies have none, and
// asking prints their fields instead.
TEST_F(ExportedInterface, Base64ToAsciiDecodesTheDocumentOfTheLastReply) {
    const std::string sale =
        sat.EnviarDadosVenda(1, CODE, readFile(SATVARO_SOURCE_DIR "/examples/venda.xml").c_str());
    ASSERT_EQ(sat.CodigoErro(), 0);
    EXPECT_THAT(std::string(sat.Base64ToAscii()), StartsWith("<?xml version=\"1.0\""));
    const std::string key = sale.substr(sale.find("|CFe") + 1, 47);
    sat.CancelarUltimaVenda(2, CODE, key.c_str(), "<CFeCanc/>");
    EXPECT_THAT(std::string(sat.Base64ToAscii()), HasSubstr("chCanc=\"" + key + "\""));

    faults("next body 000003|06000|0000|Emitido||QUJD");  // six fields: no document
    sat.EnviarDadosVenda(3, CODE, "<CFe/>");
    EXPECT_STREQ(sat.Base64ToAscii(), "");
    sat.ExtrairLogs(4, CODE);
    EXPECT_THAT(std::string(sat.Base64ToAscii()), HasSubstr("|SAT|info|"));

    sat.ConsultarSAT(5);
    ::testing::internal::CaptureStdout();
    EXPECT_STREQ(sat.Base64ToAscii(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "000005\n08000\nSAT em Operação\n\n");
    EXPECT_EQ(device.requestCount(), 5u);  // it never talks to the device
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
    EXPECT_STREQ(sat.getVersion(), "01.00.01.001");
    EXPECT_EQ(sat.CodigoErro(), 1);  // getVersion leaves it alone
}

}  // namespace
