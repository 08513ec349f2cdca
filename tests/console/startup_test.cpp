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
const std::string SCREEN = CONSOLE_BANNER + VERSION_BANNER + MENU;
const std::string NO_REPLY = ">>>> Funcao sat nao responde >>>>>.\n\n\n";
const std::string NOT_RECORDED = "\n\nFuncao sat nao responde";
const std::string PROMPT = "Entre com o codigo de ativacao: ";

class ConsoleStartup : public ConsoleTest {
protected:
    void SetUp() override { writeFile("codigoRuv.bin", "12345678"); }
};

TEST_F(ConsoleStartup, CommandLine) {
    ConsoleRun r = run({"-f"}, "q\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Falta um parametro.\n");
    EXPECT_EQ(r.err, "");

    r = run({"-x", "venda.xml"}, "q\n");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Adcionar o parametro '-f', antes do nome caminho do arquivo.\n");
    EXPECT_EQ(r.err, "");

    r = run({"-f", "/nowhere/venda.xml"}, "q\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("Arquivo adicionado /nowhere/venda.xml\n", 0), 0u) << r.out;

    // Were the three arguments taken, choice 6 would send this file.
    writeFile("venda.xml", "<CFe/>");
    r = run({"-f", path("venda.xml"), "extra"}, "6\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("Arquivo adicionado"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(MENU + "Erro ao abrir o arquivo!" + CONSOLE_BANNER), std::string::npos);
}

// Only the first character of a line chooses; an invalid choice and a
// missing document (no -f, no fimAfim.xml) show a message, send nothing and
// record that no reply came, as quitting does.
TEST_F(ConsoleStartup, MenuChoicesWithoutADevice) {
    writeFile("retUltimoCmd.bin", "\n\nearlier run");
    const ConsoleRun r = run({}, "x9\n6\n8\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, SCREEN + "Parametro invalido!" + SCREEN + "Erro ao abrir o arquivo!" + SCREEN +
                         "Erro ao abrir o arquivo!" + SCREEN);
    EXPECT_EQ(r.out, NO_REPLY + NO_REPLY + NO_REPLY + "Saindo...\n" + NO_REPLY);
    EXPECT_EQ(readFile("retUltimoCmd.bin"),
              "\n\nearlier run" + NOT_RECORDED + NOT_RECORDED + NOT_RECORDED + NOT_RECORDED);
}

// The code is asked for when none is stored on the file's first line (at
// most 32 characters), saved, and used even when it cannot be saved. A code
// of 33 characters is saved, then refused.
TEST_F(ConsoleStartup, ActivationCode) {
    const std::string code32(32, '7');
    const std::string code33(33, '7');
    const struct {
        std::string stored;  // "/": a directory in the file's place
        std::string typed;
        int status;
        std::string out;
        std::string storedAfter;
    } cases[] = {
        {code32 + "\nsecond line", "", 0, "Saindo...\n" + NO_REPLY, code32 + "\nsecond line"},
        {"", "12345678\n", 0, PROMPT + "Saindo...\n" + NO_REPLY, "12345678"},
        {code33, code32 + "\n", 0, PROMPT + "Saindo...\n" + NO_REPLY, code32},
        {"", code33 + "\n", 255, PROMPT + "Codigo maior que 32 caracteres\n", code33},
        {"/", "12345678\n", 0,
         PROMPT + "Nao pode salva codigo de ativacao.\nSaindo...\n" + NO_REPLY, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored + " " + c.typed);
        std::filesystem::remove_all(path("codigoRuv.bin"));
        if (c.stored == "/") {
            ASSERT_EQ(mkdir(path("codigoRuv.bin").c_str(), 0700), 0);
        } else if (!c.stored.empty()) {
            writeFile("codigoRuv.bin", c.stored);
        }
        const ConsoleRun r = run({}, c.typed + "q\n");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(readFile("codigoRuv.bin"), c.storedAfter);
    }
    std::filesystem::remove_all(path("codigoRuv.bin"));
    const ConsoleRun asked = run({}, "12345678\nq\n");
    EXPECT_EQ(asked.err,
              "\n|----------------- RUV Varo Console 01.00.01.001----------------------|\n\n" +
                  std::string(VERSION_BANNER) + SCREEN);
}

TEST_F(ConsoleStartup, WithoutTheLibraryEveryCallReportsItAndRetriesTheLoad) {
    const std::string message =
        "Não foi possível carregar o Driver SAT\nSerá que você o instalou?\n"
        "Por favor, verifique se o Driver SAT\nfoi instalado corretamente.";
    const std::string loaderError =
        "libsatvaro.so: cannot open shared object file: No such file or directory";
    const ConsoleRun r = run({}, "1\nq\n", workdir());  // a directory without the library
    if (r.err.find(VERSION_BANNER) != std::string::npos) {
        GTEST_SKIP() << "a libsatvaro.so is installed on the loader's default path";
    }
    EXPECT_EQ(r.status, 0);
    const std::string menuTurn = loaderError + CONSOLE_BANNER +
                                 "\n|----------------- Driver Sat Varo v" + message +
                                 "-------------------|\n\n" + MENU;
    EXPECT_EQ(r.err, menuTurn + "Enviar Consultar Sat\n" + loaderError + "retorno: " + message +
                         "\n\n\n" + menuTurn);
    EXPECT_EQ(readFile("retUltimoCmd.bin"), "\n\n" + message + NOT_RECORDED);
}

// A library without getVersion shows an empty version; a function it does
// not export gives no reply.
TEST_F(ConsoleStartup, ALibraryWithoutSomeFunctionsShowsWhatItHas) {
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
