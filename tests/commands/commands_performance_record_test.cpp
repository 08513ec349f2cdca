// The performance record "teste_desempenho.csv": the timings a reply carries
// and their differences, under the header row of the form that created it.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "commands/UCManipulaDadosSat.h"

namespace {

using manipulaDados::ManipulaDadosSat;

// The time of day as the record writes it: the day before the month.
std::string stampNow() {
    const std::time_t now = std::time(nullptr);
    std::tm when{};
    char text[32];
    std::strftime(text, sizeof text, "%Y/%d/%m/%H:%M:%S", localtime_r(&now, &when));
    return text;
}

// The rows written, each without its leading time of day, which must be one
// of `stamps`.
std::vector<std::string> recordRows(const std::set<std::string>& stamps) {
    std::vector<std::string> rows;
    std::istringstream record(readFile("teste_desempenho.csv"));
    for (std::string line; std::getline(record, line);) {
        const std::size_t end = rows.empty() ? std::string::npos : line.find(';');
        EXPECT_TRUE(rows.empty() || stamps.count(line.substr(0, end))) << line;
        rows.push_back(rows.empty() ? line : line.substr(end + 1));
    }
    return rows;
}

zeph::Message timedReply(const std::vector<std::string>& deltas) {
    const char* names[] = {"DELTA_DRS",     "DELTA_DRS_CCO", "DELTA_CCO",
                           "DELTA_CSE_COM", "DELTA_CSE",     "DELTA_SWB"};
    zeph::Message reply("ConsultarSAT", "1");
    for (std::size_t i = 0; i < deltas.size(); ++i) {
        reply.addHeader(names[i], deltas[i]);
    }
    return reply;
}

TEST(PerformanceRecord, DifferencesOfTheTimingsUnderTheHeaderRowOfTheFirstForm) {
    {
        ScopedWorkDir workDir;
        ManipulaDadosSat sat;
        zeph::Message full = timedReply({"100", "80", "70", "40", "35", "5"});
        zeph::Message none = timedReply({});
        zeph::Message odd = timedReply({"7", "10", " -2147483648", "1x", "abc", "+3"});
        const std::string before = stampNow();
        sat.gravaArquivoDesempenho(full);
        sat.gravaArquivoDesempenho(none);
        sat.gravaArquivoDesempenho(odd);
        sat.gravaArquivoDesempenho(std::string("123"));
        // 10 - (-2^31) and -2^31 - 1 wrap in 32 bits instead of overflowing.
        EXPECT_EQ(
            recordRows({before, stampNow()}),
            (std::vector<std::string>{
                "\"DATA_HORA\";\"CODE\";\"DELTA_DRS\";\"PROC_DRS\";\"DELTA_DRS_CCO\";"
                "\"TRANS_DRS_CCO\";\"DELTA_CCO\";\"PROC_CCO\";\"DELTA_CSE_COM\";"
                "\"TRANS_CCO_CSE\";\"DELTA_CSE\";\"PROC_CSE\";\"DELTA_SWB\";",
                "ConsultarSAT;100;20;80;10;70;30;40;5;35;30;5;", "ConsultarSAT;;0;;0;;0;;0;;0;;",
                "ConsultarSAT;7;-3;10;-2147483638; -2147483648;2147483647;1x;1;abc;-3;+3;",
                "123;"}));
    }
    ScopedWorkDir workDir;
    ManipulaDadosSat sat;
    zeph::Message none = timedReply({});
    const std::string before = stampNow();
    sat.gravaArquivoDesempenho(std::string("123"));
    sat.gravaArquivoDesempenho(none);
    EXPECT_EQ(recordRows({before, stampNow()}),
              (std::vector<std::string>{"\"DATA_HORA\";\"DELTA_DRS\";", "123;",
                                        "ConsultarSAT;;0;;0;;0;;0;;0;;"}));
}

}  // namespace
