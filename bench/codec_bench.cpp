// Codec throughput beside memcpy of the same bytes, measured in the same
// iterations: "x_memcpy" is the operation's time over memcpy's, "GB/s" its
// throughput and "memcpy_GB/s" memcpy's. Times are the thread's CPU time,
// so other work on a shared machine does not count against either.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>

#include "codec/Message.h"
#include "codec/zeph.h"

namespace {

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr std::size_t BODY_1_5_MIB = 1536 * 1024;
constexpr std::size_t XML_1_MIB = 1024 * 1024;
constexpr std::size_t READ_CHUNK = 8192;  // what the serial link reads at once

// Times `op` (handling `bytes.size()` bytes) and a memcpy of the same bytes
// in every iteration, and reports both and their ratio.
template <class Op>
void besideMemcpy(benchmark::State& state, const std::string& bytes, Op op) {
    std::string copy(bytes.size(), '\0');
    double opSeconds = 0;
    double copySeconds = 0;
    for (auto _ : state) {
        const double start = threadSeconds();
        op();
        const double middle = threadSeconds();
        std::memcpy(&copy[0], bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
        const double end = threadSeconds();
        state.SetIterationTime(middle - start);
        opSeconds += middle - start;
        copySeconds += end - middle;
    }
    const double total =
        static_cast<double>(bytes.size()) * static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(total));
    state.counters["x_memcpy"] = opSeconds / copySeconds;
    state.counters["memcpy_GB/s"] = total / copySeconds / 1e9;
    state.counters["GB/s"] = total / opSeconds / 1e9;
}

// Bytes of no pattern, the same in every run.
std::string randomBody(std::size_t length) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string bytes(length, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<char>(byte(rng)); });
    return bytes;
}

// `length` bytes shaped like a sale document: items whose codes, names,
// quantities and prices vary, as zlib meets them in real documents.
std::string saleLikeXml(std::size_t length) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe versao=\"0.08\">";
    char item[192];
    for (unsigned n = 1; text.size() < length; ++n) {
        std::snprintf(item, sizeof item,
                      "<det nItem=\"%u\"><prod><cProd>%u</cProd><xProd>ITEM %u</xProd>"
                      "<qCom>%u.0000</qCom><vUnCom>%u.99</vUnCom></prod></det>",
                      n, 100000 + n * 7919 % 90000, n % 97, n % 13 + 1, n * 31 % 1000);
        text += item;
    }
    text.resize(length);
    return text;
}

void Crc16_1_5MiB(benchmark::State& state) {
    const std::string bytes = randomBody(BODY_1_5_MIB);
    besideMemcpy(state, bytes, [&] {
        benchmark::DoNotOptimize(zeph::crc16_ccitt(bytes.data(), static_cast<int>(bytes.size())));
    });
}

// A fresh receiver per message, as the serial link has; the body's CRC
// check is part of the parse.
void Parse_1_5MiBBody_8KiBChunks(benchmark::State& state) {
    zeph::Message sent("ExtrairLogs", "3");
    sent.setBody(randomBody(BODY_1_5_MIB));
    const std::string wire = sent.toString();
    besideMemcpy(state, wire, [&] {
        zeph::Message received;
        zeph::Message::ParserState result = zeph::Message::PARSER_IN_PROGRESS;
        for (std::size_t at = 0; at < wire.size(); at += READ_CHUNK) {
            unsigned long used = 0;
            result =
                received.parse(wire.data() + at, std::min(READ_CHUNK, wire.size() - at), &used);
        }
        if (result != zeph::Message::PARSER_MESSAGE_READY) {
            std::abort();
        }
        benchmark::DoNotOptimize(received.bodySize());
    });
}

void Compress_1MiBXml(benchmark::State& state) {
    const std::string xml = saleLikeXml(XML_1_MIB);
    besideMemcpy(state, xml, [&] {
        zeph::Message message;
        message.setBody(xml);
        if (message.compress() != 0) {
            std::abort();
        }
        benchmark::DoNotOptimize(message.bodySize());
    });
}

void Uncompress_1MiBXml(benchmark::State& state) {
    const std::string xml = saleLikeXml(XML_1_MIB);
    zeph::Message compressed;
    compressed.setBody(xml);
    compressed.compress();
    besideMemcpy(state, xml, [&] {
        zeph::Message message(compressed);
        if (message.uncompress() != 0) {
            std::abort();
        }
        benchmark::DoNotOptimize(message.bodySize());
    });
}

}  // namespace

BENCHMARK(Crc16_1_5MiB)->UseManualTime();
BENCHMARK(Parse_1_5MiBBody_8KiBChunks)->UseManualTime();
BENCHMARK(Compress_1MiBXml)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(Uncompress_1MiBXml)->UseManualTime()->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
