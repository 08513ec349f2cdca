// The console on the simulated device, through the harness: what reaches the
// device, what the operator sees, what is recorded. The device's clock and
// keys are fixed, so that each transcript is a golden file.
#include <string>
#include <vector>

#include "ConsoleTest.h"
#include "SimDevice.h"

namespace satvaro::test {
namespace {

const std::string SALE = ::readFile(SATVARO_SOURCE_DIR "/examples/venda.xml");

class ConsoleSession : public ConsoleTest {
protected:
    void SetUp() override {
        writeFile("codigoRuv.bin", "12345678\nnot the code\n");
        writeFile("venda.xml", SALE);
    }

    // What reached the device: "command body" per request.
    std::vector<std::string> sent() const {
        std::vector<std::string> requests;
        for (const SimRequest& request : m_sim.requests()) {
            requests.push_back(request.code + " " + request.body);
        }
        return requests;
    }

    // The transcript and what reached the device, the sale document by name.
    void expectSession(const std::string& name, const ConsoleRun& run) const {
        std::string text = transcript(run) + "--- device\n";
        for (const std::string& request : sent()) {
            text += request + "\n";
        }
        for (std::size_t at; (at = text.find(SALE)) != std::string::npos;) {
            text.replace(at, SALE.size(), "{venda.xml}");
        }
        expectTranscript(name, text);
    }

    SimDevice m_sim;
};

// Without a sale, 7 and 8 send empty values. This template's CNPJ elements
// are adjacent, so the second one must be found after the first as it
// stands once emptied.
TEST_F(ConsoleSession, QueriesAndDocumentsWithoutASale) {
    writeFile("fimAfim.xml",
              "<CFe><infCFe><ide><CNPJ>11111111111111</CNPJ><CNPJ>22222222222222</CNPJ>"
              "<signAC>AC</signAC></ide><dest><CNPJ>33333333333333</CNPJ></dest></infCFe></CFe>");
    expectSession("session_without_sale", run({}, "12\n2\n3\n7\n8\nq\n"));
}

// Activation (the state code's low 16 bits count), a sale, a second sale the
// blocked device refuses (no key in its reply), the cancellation of the first,
// and the end-to-end test with the shipped template.
TEST_F(ConsoleSession, SaleCancellationAndEndToEndTestCarryTheSalesData) {
    writeFile("fimAfim.xml", ::readFile(SATVARO_SOURCE_DIR "/examples/fimAfim.xml"));
    expectSession("session_sale",
                  run({"-f", "venda.xml"}, "0\n34567890000130\n65571SP\n6\n4\n6\n5\n7\n8\nq\n"));
}

// After choice 1 with the input at its end, the console keeps querying.
TEST_F(ConsoleSession, AtTheEndOfInputTheQueriesCycleWithNewSessions) {
    ConsoleProcess console({}, workdir());
    console.write("1\n");
    console.closeInput();
    ASSERT_TRUE(m_sim.waitForRequests(4, std::chrono::seconds(60)));
    std::vector<std::string> requests = sent();
    requests.resize(4);
    EXPECT_EQ(requests, (std::vector<std::string>{
                            "ConsultarSAT 000001", "ConsultarStatusOperacional 000002|12345678",
                            "ExtrairLogs 000003|12345678", "ConsultarSAT 000004"}));
}

}  // namespace
}  // namespace satvaro::test
