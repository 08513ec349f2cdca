// Lines per second of the log writer appending to the file of the day, beside
// a plain fopen/fputs/fclose loop that appends the same formatted line. Both
// write below a scratch directory; the run ends with their ratio.
#include "log/logdebug.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

namespace {

const char MESSAGE[] = "[SerialCommChannel::send_data] Bytes enviados: 4096";

void BM_SaveLog(benchmark::State& state) {
    LogDebug* log = LogDebug::obtemReferencia();
    log->saveLog("info", MESSAGE);  // the file of the day exists from here on
    for (auto _ : state)
        log->saveLog("info", MESSAGE);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveLog);

void BM_PlainAppend(benchmark::State& state) {
    const std::string line =
        "[" + LogDebug::obtemReferencia()->currentDateTime() + "] - [info, " + MESSAGE + "]";
    for (auto _ : state) {
        std::FILE* file = std::fopen("logsDrs/plain.log", "a");
        std::fputs(line.c_str(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainAppend);

// The console report, followed by the writer's time per line divided by that
// of the plain loop (the mean of repetitions when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        // A repeated benchmark's mean comes after its repetitions and wins.
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean")
                m_secondsPerLine[run.run_name.function_name] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto writer = m_secondsPerLine.find("BM_SaveLog");
        const auto plain = m_secondsPerLine.find("BM_PlainAppend");
        if (writer != m_secondsPerLine.end() && plain != m_secondsPerLine.end())
            std::printf("saveLog / plain fopen-fputs-fclose time per line: %.2fx\n",
                        writer->second / plain->second);
    }

private:
    std::map<std::string, double> m_secondsPerLine;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char scratch[] = "/tmp/satvaro-bench-log-XXXXXX";
    if (!mkdtemp(scratch) || chdir(scratch) != 0) {
        std::perror("scratch directory");
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch);
    return 0;
}
