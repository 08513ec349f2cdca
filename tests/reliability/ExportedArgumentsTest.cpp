// Hostile arguments to the exported functions, end to end: what reaches the
// device is checked in its journal. The exhaustive matrix over every command
// method is in BadArgumentsTest.cpp (no device, no pacing); here each kind of
// argument goes once through the real boundary.
#include <gmock/gmock.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "HostOnDevice.h"

namespace {

// How many hosts declare the 16-bit parameters: plain ints.
using AtivarSATWithInts = char* (*)(int, int, const char*, const char*, int);
using TrocarCodigoWithInts = char* (*)(int, const char*, int, const char*, const char*);

class ExportedArguments : public HostOnDevice {
protected:
    // Every export that takes texts, called with session 1 and the texts
    // given (as many as it takes).
    struct Export {
        const char* name;
        int texts;
        std::function<char*(const char* const*)> call;
    };

    std::vector<Export> exports() {
        LoadedDriver& d = sat;
        return {
            {"AtivarSAT", 2, [&d](auto t) { return d.AtivarSAT(1, 1, t[0], t[1], 35); }},
            {"ComunicarCertificadoICPBRASIL", 2,
             [&d](auto t) { return d.ComunicarCertificadoICPBRASIL(1, t[0], t[1]); }},
            {"EnviarDadosVenda", 2, [&d](auto t) { return d.EnviarDadosVenda(1, t[0], t[1]); }},
            {"CancelarUltimaVenda", 3,
             [&d](auto t) { return d.CancelarUltimaVenda(1, t[0], t[1], t[2]); }},
            {"TesteFimAFim", 2, [&d](auto t) { return d.TesteFimAFim(1, t[0], t[1]); }},
            {"ConsultarStatusOperacional", 1,
             [&d](auto t) { return d.ConsultarStatusOperacional(1, t[0]); }},
            {"ExtrairLogs", 1, [&d](auto t) { return d.ExtrairLogs(1, t[0]); }},
            {"BloquearSAT", 1, [&d](auto t) { return d.BloquearSAT(1, t[0]); }},
            {"DesbloquearSAT", 1, [&d](auto t) { return d.DesbloquearSAT(1, t[0]); }},
            {"ConsultarNumeroSessao", 1,
             [&d](auto t) { return d.ConsultarNumeroSessao(1, t[0], 1); }},
            {"ConfigurarInterfaceDeRede", 2,
             [&d](auto t) { return d.ConfigurarInterfaceDeRede(1, t[0], t[1]); }},
            {"AssociarAssinatura", 3,
             [&d](auto t) { return d.AssociarAssinatura(1, t[0], t[1], t[2]); }},
            {"AtualizarSoftwareSAT", 1, [&d](auto t) { return d.AtualizarSoftwareSAT(1, t[0]); }},
            {"TrocarCodigoDeAtivacao", 3,
             [&d](auto t) { return d.TrocarCodigoDeAtivacao(1, t[0], 1, t[1], t[2]); }},
        };
    }
};

TEST_F(ExportedArguments, NullTextsAreEmptyTextsInEveryExport) {
    const char* const none[3] = {nullptr, nullptr, nullptr};
    for (const Export& e : exports()) {
        e.call(none);
        EXPECT_EQ(sat.CodigoErro(), 0) << e.name;
    }
    EXPECT_EQ(received(), (std::vector<std::string>{
                              "AtivarSAT 000001|1|||35",
                              "ComunicarCertificadoICPBRASIL 000001||",
                              "EnviarDadosVenda 000001||",
                              "CancelarUltimaVenda 000001|||",
                              "TesteFimAFim 000001||",
                              "ConsultarStatusOperacional 000001|",
                              "ExtrairLogs 000001|",
                              "BloquearSAT 000001|",
                              "DesbloquearSAT 000001|",
                              "ConsultarNumeroSessao 000001||000001",
                              "ConfigurarInterfaceDeRede 000001||",
                              "AssociarAssinatura 000001|||",
                              "AtualizarSoftwareSAT 000001|",
                              "TrocarCodigoDeAtivacao 000001||1||",
                          }));
}

// Longer than the largest request buffer (1,572,952 bytes): whichever text it
// is, the call is refused before anything is sent.
TEST_F(ExportedArguments, TextsLongerThanEveryBufferAreRefusedBeforeTheDevice) {
    const std::string tooLong(1600000, 'x');
    for (const Export& e : exports()) {
        for (int i = 0; i < e.texts; ++i) {
            const char* texts[3] = {"", "", ""};
            texts[i] = tooLong.c_str();
            EXPECT_STREQ(e.call(texts), "") << e.name << " text " << i;
            EXPECT_EQ(sat.CodigoErro(), 4) << e.name << " text " << i;
        }
    }
    EXPECT_EQ(device.requestCount(), 0u);
    expectQueryAnswered();
}

TEST_F(ExportedArguments, BytesOutsideAsciiAndBarsPassThroughUnchanged) {
    const std::string sale =
        "<CFe><xProd>CAFÉ “TORRADO” \xf0\x9f\x98\x80</xProd><xCampo>Pa\xe7oca \xc7\xe3o</xCampo>"
        "<obs>a|b||c\t\r\n\x01\x7f</obs></CFe>";
    sat.EnviarDadosVenda(1, CODE, sale.c_str());
    sat.BloquearSAT(2,
                    "c\xf3"
                    "digo|\xc3\xa7");
    faults("next body 000003|08000|Opera\xe7\xe3o em \xc3\xa1rea \xf0\x9f\x98\x80||");
    EXPECT_EQ(std::string(sat.ConsultarSAT(3)),
              "000003|08000|Opera\xe7\xe3o em \xc3\xa1rea \xf0\x9f\x98\x80||");
    EXPECT_EQ(received(), (std::vector<std::string>{
                              "EnviarDadosVenda 000001|12345678|" + sale,
                              "BloquearSAT 000002|c\xf3"
                              "digo|\xc3\xa7",
                              "ConsultarSAT 000003",
                          }));
}

TEST_F(ExportedArguments, ExtremeIntegersAreWrittenInFull) {
    const auto ativar = sat.lookUp<AtivarSATWithInts>("AtivarSAT");
    const auto trocar = sat.lookUp<TrocarCodigoWithInts>("TrocarCodigoDeAtivacao");
    sat.ConsultarSAT(INT_MIN);
    EXPECT_THAT(std::string(sat.ConsultarSAT(INT_MAX)), ::testing::StartsWith("2147483647|08000|"));
    ativar(-1, INT_MIN, CODE, "11111111111111", -1);  // only the low 16 bits count
    trocar(0, CODE, INT_MAX, CODE, CODE);
    sat.ConsultarNumeroSessao(INT_MAX, CODE, INT_MIN);
    EXPECT_EQ(received(), (std::vector<std::string>{
                              "ConsultarSAT -2147483648",
                              "ConsultarSAT 2147483647",
                              "AtivarSAT -00001|0|12345678|11111111111111|65535",
                              "TrocarCodigoDeAtivacao 000000|12345678|65535|12345678|12345678",
                              "ConsultarNumeroSessao 2147483647|12345678|-2147483648",
                          }));
    expectQueryAnswered();
}

}  // namespace
