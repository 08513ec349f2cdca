// The console on the simulated device, through the harness: what reaches the
// device, what the operator sees, what is recorded.
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "ConsoleTest.h"
#include "SimDevice.h"

namespace satvaro::test {
namespace {

const std::string EXAMPLES = SATVARO_SOURCE_DIR "/examples";
const std::string MENU_END = "[q] Sair\n";
const std::string CODE = "12345678";

std::string cancellation(const std::string& key, const std::string& cnpj,
                         const std::string& signAC) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFeCanc><infCFe chCanc=\"" + key +
           "\"><ide><CNPJ>" + cnpj + "</CNPJ><signAC>" + signAC +
           "</signAC><numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

class ConsoleSession : public ConsoleTest {
protected:
    void SetUp() override { writeFile("codigoRuv.bin", CODE + "\nnot the code\n"); }

    // What reached the device: "command body" per request.
    std::vector<std::string> sent() const {
        std::vector<std::string> requests;
        for (const SimRequest& request : m_sim.requests()) {
            requests.push_back(request.code + " " + request.body);
        }
        return requests;
    }

    SimDevice m_sim;
};

// Without a sale, 7 and 8 send empty values. The template's CNPJ elements
// are adjacent, so the second one must be found after the first as it
// stands once emptied.
TEST_F(ConsoleSession, ChoicesReachTheDeviceAndEveryReplyIsShownAndRecorded) {
    writeFile("fimAfim.xml",
              "<CFe><infCFe><ide><CNPJ>11111111111111</CNPJ><CNPJ>22222222222222</CNPJ>"
              "<signAC>AC</signAC></ide><dest><CNPJ>33333333333333</CNPJ></dest></infCFe></CFe>");
    const ConsoleRun r = run({}, "12\n2\n7\n8\nq\n");  // "12": only the first character chooses
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(sent(), (std::vector<std::string>{
                          "ConsultarSAT 000001", "ConsultarStatusOperacional 000002|" + CODE,
                          "CancelarUltimaVenda 000003|" + CODE + "||" + cancellation("", "", ""),
                          "TesteFimAFim 000004|" + CODE +
                              "|<CFe><infCFe><ide><CNPJ></CNPJ><CNPJ></CNPJ><signAC></signAC>"
                              "</ide><dest><CNPJ>33333333333333</CNPJ></dest></infCFe></CFe>"}));
    const auto replies = printedReplies(r.err);
    ASSERT_EQ(replies.size(), 4u) << r.err;
    EXPECT_EQ(replies[0].rfind("000001|08000|", 0), 0u) << replies[0];
    EXPECT_EQ(replies[1].rfind("000002|10000|", 0), 0u) << replies[1];
    EXPECT_NE(r.err.find(MENU_END + "Enviar Consultar Sat\nretorno: " + replies[0] + "\n\n\n" +
                         "\n|-----"),
              std::string::npos);
    EXPECT_NE(r.err.find(MENU_END + "Enviar Consutar Status Operacional\nretorno: " + replies[1]),
              std::string::npos);
    EXPECT_EQ(r.out, "Saindo...\n>>>> Funcao sat nao responde >>>>>.\n\n\n");
    EXPECT_EQ(readFile("retUltimoCmd.bin"), "\n\n" + replies[0] + "\n\n" + replies[1] + "\n\n" +
                                                replies[2] + "\n\n" + replies[3] +
                                                "\n\nFuncao sat nao responde");
    // The library runs in the console's process: its log lands beside.
    EXPECT_TRUE(std::filesystem::is_directory(path("logsDrs")));
}

// Activation, a sale, a second sale the device answers without a key, the
// cancellation of the first, then the end-to-end test with the shipped
// template.
TEST_F(ConsoleSession, SaleCancellationAndEndToEndTestCarryTheSalesData) {
    const std::string sale = ::readFile(EXAMPLES + "/venda.xml");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(sale, match, std::regex("<signAC>([^<]+)</signAC>")));
    const std::string signAC = match[1].str();
    const std::string cnpjIde = "23456789000195";
    const std::string cnpjEmit = "34567890000130";
    std::filesystem::copy_file(EXAMPLES + "/fimAfim.xml", path("fimAfim.xml"));

    ConsoleProcess console({"-f", EXAMPLES + "/venda.xml"}, workdir());
    console.write("0\n" + cnpjEmit + "\n35SP\n6\n");
    ASSERT_TRUE(m_sim.waitForRequests(2));  // the sale reached the device; the next one waits
    ASSERT_TRUE(
        m_sim.setFaults("EnviarDadosVenda body 000003|06010|1999|Rejeicao: dados invalidos|||"));
    console.write("6\n7\n8\nq\n");
    ASSERT_EQ(console.finish(), 0) << console.err;

    const auto replies = printedReplies(console.err);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].rfind("000001|04000|", 0), 0u) << replies[0];
    EXPECT_EQ(replies[4].rfind("000005|09000|", 0), 0u) << replies[4];
    ASSERT_TRUE(
        std::regex_search(replies[1], match, std::regex("^000002\\|06000\\|.*\\|(CFe[0-9]+)\\|")))
        << replies[1];
    const std::string key = match[1].str();

    const std::string document = cancellation(key, cnpjIde, signAC);
    std::string endToEnd = ::readFile(EXAMPLES + "/fimAfim.xml");
    for (const std::string& value : {cnpjIde, cnpjEmit}) {
        const std::string empty = "<CNPJ>00000000000000</CNPJ>";
        endToEnd.replace(endToEnd.find(empty), empty.size(), "<CNPJ>" + value + "</CNPJ>");
    }
    endToEnd.replace(endToEnd.find("ASSINATURA-DO-AC"), 16, signAC);
    EXPECT_EQ(sent(), (std::vector<std::string>{
                          "AtivarSAT 000001|0|" + CODE + "|" + cnpjEmit + "|35",
                          "EnviarDadosVenda 000002|" + CODE + "|" + sale,
                          "EnviarDadosVenda 000003|" + CODE + "|" + sale,
                          "CancelarUltimaVenda 000004|" + CODE + "|" + key + "|" + document,
                          "TesteFimAFim 000005|" + CODE + "|" + endToEnd}));
    EXPECT_NE(console.err.find("Enviar Ultimo Cancelamento sessao 4\n " + document + "\n"),
              std::string::npos);
    EXPECT_NE(console.err.find("Enviar Teste Fim a Fim 5\n " + endToEnd + "\n"), std::string::npos);
}

// After choice 1 with the input at its end, the console keeps querying:
// ConsultarSAT, ConsultarStatusOperacional, ExtrairLogs, ConsultarSAT, ...
TEST_F(ConsoleSession, AtTheEndOfInputTheQueriesCycleWithNewSessions) {
    ConsoleProcess console({}, workdir());
    console.write("1\n");
    console.closeInput();
    ASSERT_TRUE(m_sim.waitForRequests(4, std::chrono::seconds(60)));
    std::vector<std::string> requests = sent();
    requests.resize(4);
    EXPECT_EQ(requests, (std::vector<std::string>{
                            "ConsultarSAT 000001", "ConsultarStatusOperacional 000002|" + CODE,
                            "ExtrairLogs 000003|" + CODE, "ConsultarSAT 000004"}));
}

}  // namespace
}  // namespace satvaro::test
