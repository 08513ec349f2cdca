#include <gtest/gtest.h>

#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "commands/UCManipulaDadosSat.h"

namespace {

using manipulaDados::ManipulaDadosSat;

std::vector<std::string> recordLines() {
    std::vector<std::string> lines;
    std::istringstream record(readFile("teste_desempenho.csv"));
    for (std::string line; std::getline(record, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm when{};
    localtime_r(&now, &when);
    return when;
}

// A data row: its time of day, checked against the clock around the write,
// then the rest of the row.
struct Row {
    std::string dataHora;
    std::string rest;
};

Row splitRow(const std::string& line) {
    const std::size_t end = line.find(';');
    return {line.substr(0, end), line.substr(end + 1)};
}

zeph::Message timedReply(const std::vector<std::pair<std::string, std::string>>& deltas) {
    zeph::Message reply("ConsultarSAT", "1");
    for (const auto& [name, value] : deltas) {
        reply.addHeader(name, value);
    }
    return reply;
}

const char HEADER_MENSAGEM[] =
    "\"DATA_HORA\";\"CODE\";\"DELTA_DRS\";\"PROC_DRS\";\"DELTA_DRS_CCO\";\"TRANS_DRS_CCO\";"
    "\"DELTA_CCO\";\"PROC_CCO\";\"DELTA_CSE_COM\";\"TRANS_CCO_CSE\";\"DELTA_CSE\";\"PROC_CSE\";"
    "\"DELTA_SWB\";";

std::tm localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    return when;
}

TEST(PerformanceRecord, TimeOfDayPutsTheDayBeforeTheMonth) {
    EXPECT_EQ(manipulaDados::dataHoraDesempenho(localTime(2026, 11, 12, 9, 5, 1)),
              "2026/12/11/09:05:01");
    EXPECT_EQ(manipulaDados::dataHoraDesempenho(localTime(2026, 3, 5, 14, 7, 9)),
              "2026/05/03/14:07:09");
}

TEST(PerformanceRecord, MessageFormWritesCodeHeadersAndTheirDifferences) {
    ScopedWorkDir workDir;
    ManipulaDadosSat sat;
    zeph::Message full = timedReply({{"DELTA_DRS", "100"},
                                     {"DELTA_DRS_CCO", "80"},
                                     {"DELTA_CCO", "70"},
                                     {"DELTA_CSE_COM", "40"},
                                     {"DELTA_CSE", "35"},
                                     {"DELTA_SWB", "5"}});
    zeph::Message none = timedReply({});
    zeph::Message odd = timedReply({{"DELTA_DRS", "7"},
                                    {"DELTA_DRS_CCO", "10"},
                                    {"DELTA_CCO", " -2147483648"},
                                    {"DELTA_CSE_COM", "1x"},
                                    {"DELTA_CSE", "abc"},
                                    {"DELTA_SWB", "+3"}});

    const std::tm before = localNow();
    sat.gravaArquivoDesempenho(full);
    sat.gravaArquivoDesempenho(none);
    sat.gravaArquivoDesempenho(odd);
    const std::tm after = localNow();

    const std::vector<std::string> lines = recordLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], HEADER_MENSAGEM);
    const std::string stamps[] = {manipulaDados::dataHoraDesempenho(before),
                                  manipulaDados::dataHoraDesempenho(after)};
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string dataHora = splitRow(lines[i]).dataHora;
        EXPECT_TRUE(dataHora == stamps[0] || dataHora == stamps[1]) << dataHora;
    }
    EXPECT_EQ(splitRow(lines[1]).rest, "ConsultarSAT;100;20;80;10;70;30;40;5;35;30;5;");
    EXPECT_EQ(splitRow(lines[2]).rest, "ConsultarSAT;;0;;0;;0;;0;;0;;");
    // 10 - (-2^31) and -2^31 - 1 wrap in 32 bits instead of overflowing.
    EXPECT_EQ(splitRow(lines[3]).rest,
              "ConsultarSAT;7;-3;10;-2147483638; -2147483648;2147483647;1x;1;abc;-3;+3;");
}

TEST(PerformanceRecord, TheFormThatCreatesTheRecordChoosesItsHeaderRow) {
    {
        ScopedWorkDir workDir;
        ManipulaDadosSat sat;
        zeph::Message reply = timedReply({});
        sat.gravaArquivoDesempenho(std::string("123"));
        sat.gravaArquivoDesempenho(reply);
        const std::vector<std::string> lines = recordLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], "\"DATA_HORA\";\"DELTA_DRS\";");
        EXPECT_EQ(splitRow(lines[1]).rest, "123;");
        EXPECT_EQ(splitRow(lines[2]).rest, "ConsultarSAT;;0;;0;;0;;0;;0;;");
    }
    {
        ScopedWorkDir workDir;
        ManipulaDadosSat sat;
        zeph::Message reply = timedReply({});
        sat.gravaArquivoDesempenho(reply);
        sat.gravaArquivoDesempenho(std::string(""));
        const std::vector<std::string> lines = recordLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], HEADER_MENSAGEM);
        EXPECT_EQ(splitRow(lines[2]).rest, ";");
    }
}

}  // namespace
