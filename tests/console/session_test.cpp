// The console on the simulated device, through the harness: what reaches the
// device, what the operator sees, what is recorded.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "CommandOutput.h"
#include "ConsoleTest.h"
#include "SimDevice.h"

namespace satvaro::test {
namespace {

const std::string EXAMPLES = SATVARO_SOURCE_DIR "/examples";
const std::string NO_REPLY = ">>>> Funcao sat nao responde >>>>>.\n\n\n";
const std::string MENU_END = "[q] Sair\n";
const std::string CODE = "12345678";

// The replies as the console printed them, in order.
std::vector<std::string> printedReplies(const std::string& err) {
    std::vector<std::string> replies;
    const std::string open = "retorno: ";
    const std::string close = "\n\n\n";
    for (std::size_t at = err.find(open); at != std::string::npos; at = err.find(open, at)) {
        at += open.size();
        const std::size_t end = err.find(close, at);
        replies.push_back(err.substr(at, end - at));
    }
    return replies;
}

std::string keyOf(const std::string& saleReply) {
    std::smatch match;
    const bool found = std::regex_search(saleReply, match, std::regex("\\|(CFe[0-9]+)\\|"));
    return found ? match[1].str() : "";
}

std::string cancellation(const std::string& key, const std::string& cnpj,
                         const std::string& signAC) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFeCanc><infCFe chCanc=\"" + key +
           "\"><ide><CNPJ>" + cnpj + "</CNPJ><signAC>" + signAC +
           "</signAC><numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

// What reached the device: command name and body of each request.
using Sent = std::vector<std::pair<std::string, std::string>>;

Sent sent(const std::vector<SimRequest>& requests, std::size_t count) {
    Sent result;
    for (std::size_t i = 0; i < requests.size() && i < count; ++i) {
        result.emplace_back(requests[i].code, requests[i].body);
    }
    return result;
}

void replaceFirst(std::string& text, const std::string& from, const std::string& to) {
    text.replace(text.find(from), from.size(), to);
}

class ConsoleSession : public ConsoleTest {
protected:
    SimDevice m_sim;
};

TEST_F(ConsoleSession, ChoicesReachTheDeviceAndEveryReplyIsShownAndRecorded) {
    writeFile("codigoRuv.bin", CODE + "\nnot the code\n");
    // "12": only the first character chooses.
    const ConsoleRun r = run({}, "12\n2\nq\n");
    EXPECT_EQ(r.status, 0);

    EXPECT_EQ(sent(m_sim.requests(), 3),
              (Sent{{"ConsultarSAT", "000001"}, {"ConsultarStatusOperacional", "000002|" + CODE}}));

    const auto replies = printedReplies(r.err);
    ASSERT_EQ(replies.size(), 2u) << r.err;
    EXPECT_EQ(replies[0].rfind("000001|08000|", 0), 0u) << replies[0];
    EXPECT_EQ(replies[1].rfind("000002|10000|", 0), 0u) << replies[1];
    EXPECT_NE(r.err.find(MENU_END + "Enviar Consultar Sat\nretorno: " + replies[0] + "\n\n\n"),
              std::string::npos);
    EXPECT_NE(r.err.find(MENU_END + "Enviar Consutar Status Operacional\nretorno: " + replies[1] +
                         "\n\n\n"),
              std::string::npos);
    EXPECT_EQ(r.out, "Saindo...\n" + NO_REPLY);
    EXPECT_EQ(readFile("retUltimoCmd.bin"),
              "\n\n" + replies[0] + "\n\n" + replies[1] + "\n\nFuncao sat nao responde");
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
    writeFile("codigoRuv.bin", CODE);

    ConsoleProcess console({"-f", EXAMPLES + "/venda.xml"}, workdir(), LIBRARY_DIR);
    console.write("0\n" + cnpjEmit + "\n35SP\n6\n");
    ASSERT_TRUE(console.waitForErr(MENU_END, 3)) << console.err();  // the sale's turn is over
    ASSERT_TRUE(
        m_sim.setFaults("EnviarDadosVenda body 000003|06010|1999|Rejeicao: dados invalidos|||"));
    console.write("6\n7\n8\nq\n");
    ASSERT_EQ(console.finish(), 0) << console.err();

    const auto replies = printedReplies(console.err());
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].rfind("000001|04000|", 0), 0u) << replies[0];
    EXPECT_EQ(replies[1].rfind("000002|06000|", 0), 0u) << replies[1];
    EXPECT_EQ(replies[4].rfind("000005|09000|", 0), 0u) << replies[4];
    const std::string key = keyOf(replies[1]);
    ASSERT_NE(key, "") << replies[1];

    const std::string document = cancellation(key, cnpjIde, signAC);
    std::string endToEnd = ::readFile(EXAMPLES + "/fimAfim.xml");
    replaceFirst(endToEnd, "<CNPJ>00000000000000</CNPJ>", "<CNPJ>" + cnpjIde + "</CNPJ>");
    replaceFirst(endToEnd, "<CNPJ>00000000000000</CNPJ>", "<CNPJ>" + cnpjEmit + "</CNPJ>");
    replaceFirst(endToEnd, "ASSINATURA-DO-AC", signAC);
    EXPECT_EQ(sent(m_sim.requests(), 6),
              (Sent{{"AtivarSAT", "000001|0|" + CODE + "|" + cnpjEmit + "|35"},
                    {"EnviarDadosVenda", "000002|" + CODE + "|" + sale},
                    {"EnviarDadosVenda", "000003|" + CODE + "|" + sale},
                    {"CancelarUltimaVenda", "000004|" + CODE + "|" + key + "|" + document},
                    {"TesteFimAFim", "000005|" + CODE + "|" + endToEnd}}));
    EXPECT_NE(console.err().find("Enviar Ultimo Cancelamento sessao 4\n " + document + "\n"),
              std::string::npos);
    EXPECT_NE(console.err().find("Enviar Teste Fim a Fim 5\n " + endToEnd + "\n"),
              std::string::npos);
}

// Without a sale: 6 sends nothing and takes no session number; 7 and 8 send
// empty values. The template's CNPJ elements are adjacent, so the second one
// must be found after the first as it stands once emptied.
TEST_F(ConsoleSession, WithoutASaleTheDocumentsCarryEmptyValues) {
    writeFile("codigoRuv.bin", CODE);
    writeFile("fimAfim.xml",
              "<CFe><infCFe><ide><CNPJ>11111111111111</CNPJ><CNPJ>22222222222222</CNPJ>"
              "<signAC>AC</signAC></ide><dest><CNPJ>33333333333333</CNPJ></dest></infCFe></CFe>");
    const ConsoleRun r = run({}, "6\n7\n8\nq\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(MENU_END + "Erro ao abrir o arquivo!"), std::string::npos);

    EXPECT_EQ(sent(m_sim.requests(), 3),
              (Sent{{"CancelarUltimaVenda", "000001|" + CODE + "||" + cancellation("", "", "")},
                    {"TesteFimAFim",
                     "000002|" + CODE +
                         "|<CFe><infCFe><ide><CNPJ></CNPJ><CNPJ></CNPJ><signAC></signAC></ide>"
                         "<dest><CNPJ>33333333333333</CNPJ></dest></infCFe></CFe>"}}));
}

// After choice 1 with the input at its end, the console keeps querying:
// ConsultarSAT, ConsultarStatusOperacional, ExtrairLogs, ConsultarSAT, ...
TEST_F(ConsoleSession, AtTheEndOfInputTheQueriesCycleWithNewSessions) {
    writeFile("codigoRuv.bin", CODE);
    ConsoleProcess console({}, workdir(), LIBRARY_DIR);
    console.write("1\n");
    console.closeInput();
    ASSERT_TRUE(m_sim.waitForRequests(4, LONG_WAIT));
    console.stop();

    EXPECT_EQ(sent(m_sim.requests(), 4), (Sent{{"ConsultarSAT", "000001"},
                                               {"ConsultarStatusOperacional", "000002|" + CODE},
                                               {"ExtrairLogs", "000003|" + CODE},
                                               {"ConsultarSAT", "000004"}}));
}

// The console as an operator sees it, in a terminal: a tmux server of its
// own (private socket), ended by its PID.
class Tmux {
public:
    explicit Tmux(const std::string& socket) : m_socket(socket) {}
    ~Tmux() {
        if (m_server > 0) {
            kill(m_server, SIGTERM);
            waitUntilGone(m_server);
        }
    }

    std::string run(const std::string& arguments) const {
        return runCommand("tmux -S " + m_socket + " " + arguments + " 2>&1").text;
    }

    void start(const std::string& workdir, const std::string& command) {
        run("new-session -d -s demo -x 160 -y 50 -c " + workdir + " '" + command + "'");
        m_server = pidOf("#{pid}");
        m_pane = pidOf("#{pane_pid}");
    }

    void type(const std::string& keys) const { run("send-keys -t demo " + keys + " Enter"); }

    std::string screen() const { return run("capture-pane -p -J -S -500 -t demo"); }

    // Polls the pane until `text` shows; bounded.
    bool waitForScreen(const std::string& text) const {
        for (int round = 0; round < 600; ++round) {
            if (screen().find(text) != std::string::npos) {
                return true;
            }
            usleep(100 * 1000);
        }
        return false;
    }

    // The pane's program has ended (reaped, or a zombie its server has not
    // reaped yet); bounded.
    bool waitForExit() const { return waitUntilGone(m_pane); }

private:
    pid_t pidOf(const std::string& format) const {
        return static_cast<pid_t>(
            std::atoi(run("display-message -p -t demo '" + format + "'").c_str()));
    }

    static bool gone(pid_t pid) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string field;
        for (int i = 0; i < 3 && stat >> field; ++i) {
        }
        return !stat || field == "Z";
    }

    static bool waitUntilGone(pid_t pid) {
        for (int round = 0; round < 600; ++round) {
            if (pid <= 0 || gone(pid)) {
                return true;
            }
            usleep(100 * 1000);
        }
        return false;
    }

    std::string m_socket;
    pid_t m_server = 0;
    pid_t m_pane = 0;
};

TEST_F(ConsoleSession, AtATerminalTheOperatorSeesTheMenuAndTheReply) {
    Tmux tmux(path("tmux.sock"));
    tmux.start(workdir(), std::string("env LD_LIBRARY_PATH=") + LIBRARY_DIR + " " +
                              SATVARO_BINARY_DIR "/bin/zozivodivo");
    ASSERT_TRUE(tmux.waitForScreen("Entre com o codigo de ativacao:")) << tmux.screen();
    tmux.type(CODE);
    ASSERT_TRUE(tmux.waitForScreen("[q] Sair")) << tmux.screen();
    tmux.type("1");
    ASSERT_TRUE(tmux.waitForScreen("retorno: 000001|08000|")) << tmux.screen();
    tmux.type("q");
    ASSERT_TRUE(tmux.waitForScreen(">>>> Funcao sat nao responde >>>>>.")) << tmux.screen();
    const std::string screen = tmux.screen();
    EXPECT_NE(screen.find("Driver Sat Varo v01.00.01.001"), std::string::npos) << screen;
    EXPECT_NE(screen.find("[8] Enviar TesteFimAFim"), std::string::npos) << screen;
    EXPECT_NE(screen.find("Saindo..."), std::string::npos) << screen;
    EXPECT_TRUE(tmux.waitForExit());
}

}  // namespace
}  // namespace satvaro::test
