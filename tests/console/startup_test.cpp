// The console's start-up and the choices that need no device: the command
// line, the activation code, the menu, quitting, and a driver library that is
// missing or lacks functions.
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "ConsoleTest.h"

namespace satvaro::test {
namespace {

const std::string CONSOLE_BANNER =
    "\n|----------------- RUV Varo Console v01.00.01.001----------------------|\n\n";
const std::string MENU =
    "Escolha umas das opcoes abaixo, digite 'q' or 'Ctrl+C'' para sair.\n"
    "[0] Ativar SAT\n[1] Consultar SAT\n[2] Consultar Status Operacional SAT\n"
    "[3] Extrair Log\n[4] Bloquear Sat\n[5] Desbloquear\n[6] Enviar Dados de Venda\n"
    "[7] Cancelar Ultima Venda\n[8] Enviar TesteFimAFim\n[q] Sair\n";
const std::string NO_REPLY = ">>>> Funcao sat nao responde >>>>>.\n\n\n";
const std::string PROMPT = "Entre com o codigo de ativacao: ";
const std::string CODE_32(32, '7');
const std::string CODE_33(33, '7');

using ConsoleStartup = ConsoleTest;

TEST_F(ConsoleStartup, CommandLineErrorsEndWithStatus255BeforeAnythingElse) {
    ConsoleRun r = run({"-f"}, "q\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Falta um parametro.\n");
    EXPECT_EQ(r.err, "");

    r = run({"-x", "venda.xml"}, "q\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Adcionar o parametro '-f', antes do nome caminho do arquivo.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_FALSE(std::filesystem::exists(path("codigoRuv.bin")));
}

TEST_F(ConsoleStartup, DashFNamesTheSaleDocumentThreeArgumentsAreIgnored) {
    writeFile("codigoRuv.bin", "12345678");
    ConsoleRun r = run({"-f", "/nowhere/venda.xml"}, "q\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Arquivo adicionado /nowhere/venda.xml\n", 0), 0u) << r.out;

    // Were the three arguments taken, choice 6 would send this file.
    writeFile("venda.xml", "<CFe/>");
    r = run({"-f", path("venda.xml"), "extra"}, "6\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Arquivo adicionado"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(MENU + "Erro ao abrir o arquivo!" + CONSOLE_BANNER), std::string::npos)
        << r.err;
}

TEST_F(ConsoleStartup, QuitShowsTheMenuOnceAndRecordsTheNoReplyNotice) {
    writeFile("codigoRuv.bin", "12345678");
    const ConsoleRun r = run({}, "q\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CONSOLE_BANNER + VERSION_BANNER + MENU);
    EXPECT_EQ(r.out, "Saindo...\n" + NO_REPLY);
    EXPECT_EQ(readFile("retUltimoCmd.bin"), "\n\nFuncao sat nao responde");
}

TEST_F(ConsoleStartup, AnInvalidChoiceIsReportedAndRecordedAsNoReply) {
    writeFile("codigoRuv.bin", "12345678");
    writeFile("retUltimoCmd.bin", "\n\nearlier run");
    const ConsoleRun r = run({}, "x9\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, CONSOLE_BANNER + VERSION_BANNER + MENU + "Parametro invalido!" +
                         CONSOLE_BANNER + VERSION_BANNER + MENU);
    EXPECT_EQ(r.out, NO_REPLY + "Saindo...\n" + NO_REPLY);
    EXPECT_EQ(readFile("retUltimoCmd.bin"),
              "\n\nearlier run\n\nFuncao sat nao responde\n\nFuncao sat nao responde");
}

TEST_F(ConsoleStartup, MissingDocumentsAreReportedAndNotSent) {
    writeFile("codigoRuv.bin", "12345678");
    const ConsoleRun r = run({}, "6\n8\nq\n");  // no -f, no fimAfim.xml
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(occurrences(r.err, MENU + "Erro ao abrir o arquivo!" + CONSOLE_BANNER), 2u) << r.err;
    EXPECT_EQ(r.err.find("Enviar Teste Fim a Fim"), std::string::npos);
    EXPECT_EQ(r.out, NO_REPLY + NO_REPLY + "Saindo...\n" + NO_REPLY);
}

TEST_F(ConsoleStartup, WithoutAStoredCodeTheCodeIsAskedForAndSaved) {
    const ConsoleRun r = run({}, "12345678\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PROMPT + "Saindo...\n" + NO_REPLY);
    EXPECT_EQ(readFile("codigoRuv.bin"), "12345678");
    const std::string screen =
        "\n|----------------- RUV Varo Console 01.00.01.001----------------------|\n\n" +
        std::string(VERSION_BANNER);
    EXPECT_EQ(r.err, screen + CONSOLE_BANNER + VERSION_BANNER + MENU);

    // Stored now: the next run asks no more.
    const ConsoleRun again = run({}, "q\n");
    EXPECT_EQ(again.out, "Saindo...\n" + NO_REPLY);
}

TEST_F(ConsoleStartup, ACodeOf32CharactersIsAcceptedOneOf33IsSavedThenRefused) {
    ConsoleRun r = run({}, CODE_32 + "\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readFile("codigoRuv.bin"), CODE_32);

    std::filesystem::remove(path("codigoRuv.bin"));
    r = run({}, CODE_33 + "\nq\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, PROMPT + "Codigo maior que 32 caracteres\n");
    EXPECT_EQ(r.err.find("Escolha"), std::string::npos);
    EXPECT_EQ(readFile("codigoRuv.bin"), CODE_33);
}

TEST_F(ConsoleStartup, AStoredLineOver32CharactersLeadsToTheCodeScreen) {
    writeFile("codigoRuv.bin", CODE_32 + "\nsecond line");
    ConsoleRun r = run({}, "q\n");
    EXPECT_EQ(r.out.find(PROMPT), std::string::npos) << r.out;

    writeFile("codigoRuv.bin", CODE_33);
    r = run({}, "12345678\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(PROMPT, 0), 0u) << r.out;
    EXPECT_EQ(readFile("codigoRuv.bin"), "12345678");
}

TEST_F(ConsoleStartup, ACodeThatCannotBeSavedIsStillUsed) {
    ASSERT_EQ(mkdir(path("codigoRuv.bin").c_str(), 0700), 0);
    const ConsoleRun r = run({}, "12345678\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, PROMPT + "Nao pode salva codigo de ativacao.\nSaindo...\n" + NO_REPLY);
}

TEST_F(ConsoleStartup, WithoutTheLibraryEveryCallReportsItAndRetriesTheLoad) {
    const std::string message =
        "Não foi possível carregar o Driver SAT\nSerá que você o instalou?\n"
        "Por favor, verifique se o Driver SAT\nfoi instalado corretamente.";
    const std::string loaderError =
        "libsatvaro.so: cannot open shared object file: No such file or directory";
    const std::string banner =
        "\n|----------------- Driver Sat Varo v" + message + "-------------------|\n\n";
    writeFile("codigoRuv.bin", "12345678");
    const ConsoleRun r = run({}, "1\nq\n", workdir());  // a directory without the library
    if (r.err.find(VERSION_BANNER) != std::string::npos) {
        GTEST_SKIP() << "a libsatvaro.so is installed on the loader's default path";
    }
    EXPECT_EQ(r.status, 0);
    const std::string menuTurn = loaderError + CONSOLE_BANNER + banner + MENU;
    EXPECT_EQ(r.err, menuTurn + "Enviar Consultar Sat\n" + loaderError + "retorno: " + message +
                         "\n\n\n" + menuTurn);
    EXPECT_EQ(readFile("retUltimoCmd.bin"), "\n\n" + message + "\n\nFuncao sat nao responde");
}

// C2: a library without getVersion shows an empty version; a function it
// does not export gives no reply.
TEST_F(ConsoleStartup, ALibraryWithoutSomeFunctionsShowsWhatItHas) {
    writeFile("codigoRuv.bin", "12345678");
    const ConsoleRun r = run({}, "1\n2\nq\n", WITHOUT_VERSION_DIR);
    EXPECT_EQ(r.status, 0);
    const std::string menuTurn =
        CONSOLE_BANNER + "\n|----------------- Driver Sat Varo v-------------------|\n\n" + MENU;
    EXPECT_EQ(r.err, menuTurn +
                         "Enviar Consultar Sat\nretorno: 000001|08000|SAT em operacao||\n\n\n" +
                         menuTurn + "Enviar Consutar Status Operacional\n" + menuTurn);
    EXPECT_EQ(r.out, NO_REPLY + "Saindo...\n" + NO_REPLY);
}

}  // namespace
}  // namespace satvaro::test
