// satvaro_soak: a point-of-sale host that calls the exported functions of the
// built library over and over against the simulated device (run it under the
// harness), and samples its own resident memory and open descriptors. Both
// must stay flat: whatever a call takes, it gives back.
//
//   sim/satvaro-harness --sim-arg --activated -- build/bin/satvaro_soak [options]
//
//   --calls N         exported calls to make (default 10000)
//   --sample-every K  calls between samples (default N / 20)
//   --no-pauses       skip the pacing pauses (100 ms after sending, 1 s after
//                     closing): they hold nothing, and skipping them makes a
//                     call cost ~60 ms instead of ~1.16 s
//   --fds-only        judge descriptors only (sanitizer builds keep freed
//                     memory in quarantine, so their RSS grows by design)
//
// The calls cycle through every command, sales and their cancellation, and
// replies the library must refuse or that the device spoils (bad checksum,
// other commands' replies, noise, an unplug, replies at the size limits), none
// of which costs a time-out. Every call's status is checked. Exit status 0
// when every status was the expected one and the samples are flat.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "LoadedDriver.h"
#include "ProcessResources.h"
#include "SimDevice.h"
#include "TestFiles.h"
#include "transaction/DoTransaction.h"

namespace {

bool g_skipPauses = false;

}  // namespace

// Stands in for the C library's usleep for the whole process, the loaded
// driver included (the executable exports it), so that the pauses can be
// skipped.
extern "C" __attribute__((visibility("default"))) int usleep(useconds_t microseconds) {
    static const auto realUsleep =
        reinterpret_cast<int (*)(useconds_t)>(dlsym(RTLD_NEXT, "usleep"));
    return g_skipPauses ? 0 : realUsleep(microseconds);
}

namespace {

const char CODE[] = "12345678";
// The RSS may move by a few pages as the allocator settles.
const long RSS_TOLERANCE_KB = 512;

struct Options {
    long calls = 10000;
    long sampleEvery = 0;
    bool fdsOnly = false;
};

struct Sample {
    long calls;
    long rssKb;
    long fds;
};

class Host {
public:
    Host(LoadedDriver& sat, SimDevice& device)
        : m_sat(sat),
          m_device(device),
          m_sale(readFile(SATVARO_SOURCE_DIR "/examples/venda.xml")),
          m_signAC(between(m_sale, "<signAC>", "</signAC>")),
          m_test(readFile(SATVARO_SOURCE_DIR "/examples/fimAfim.xml")),
          m_tooLarge(1600000, 'x') {}

    // One step of the cycle: one exported call; false when its status or
    // reply was not the expected one.
    bool step(long n) {
        const Step& s = steps()[static_cast<std::size_t>(n) % steps().size()];
        if (!s.faults.empty()) {
            m_device.setFaults(s.faults);
        }
        const int session = static_cast<int>(n % 999999) + 1;
        const std::string reply = s.call(session);
        const int status = m_sat.CodigoErro();
        const bool answered =
            status == 0 ? reply.rfind(sessionText(session + s.replyOfSession) + "|", 0) == 0
                        : reply.empty();
        if (status != s.status || !answered) {
            std::fprintf(stderr, "soak: call %ld (%s): status %d, expected %d; reply \"%.80s\"\n",
                         n, s.name, status, s.status, reply.c_str());
            return false;
        }
        return true;
    }

private:
    struct Step {
        const char* name;
        std::string faults;  // for this call only ("next" lines)
        int status;
        std::function<std::string(int)> call;
        int replyOfSession = 0;  // the reply is the one given to this session (relative)
    };

    static std::string between(const std::string& text, const std::string& open,
                               const std::string& close) {
        const std::size_t begin = text.find(open) + open.size();
        return text.substr(begin, text.find(close, begin) - begin);
    }

    static std::string sessionText(int session) {
        char text[16];
        std::snprintf(text, sizeof text, "%06d", session);
        return text;
    }

    const std::vector<Step>& steps() {
        if (!m_steps.empty()) {
            return m_steps;
        }
        LoadedDriver& d = m_sat;
        m_steps = {
            {"ConsultarSAT", "", 0, [&d](int s) { return d.ConsultarSAT(s); }},
            // The real reply follows the sixth stale one, too late for its
            // call: the next call must not take it, so it is another command.
            {"six stale replies", "next wrongcode 6\nnext apart", 4,
             [&d](int s) { return d.ConsultarSAT(s); }},
            {"ConsultarStatusOperacional", "", 0,
             [&d](int s) { return d.ConsultarStatusOperacional(s, CODE); }},
            {"EnviarDadosVenda", "", 0,
             [this, &d](int s) {
                 const std::string reply = d.EnviarDadosVenda(s, CODE, m_sale.c_str());
                 const std::vector<std::string> fields = split(reply, '|');
                 m_key = fields.size() > 8 ? fields[8] : "";
                 d.Base64ToAscii();  // the sale's document, decoded (and printed: to /dev/null)
                 return reply;
             }},
            {"CancelarUltimaVenda", "", 0,
             [this, &d](int s) {
                 const std::string cancellation = "<CFeCanc><infCFe chCanc=\"" + m_key +
                                                  "\"><ide><CNPJ/></ide><dest><CPF/></dest>"
                                                  "</infCFe></CFeCanc>";
                 return d.CancelarUltimaVenda(s, CODE, m_key.c_str(), cancellation.c_str());
             }},
            {"TesteFimAFim", "", 0,
             [this, &d](int s) { return d.TesteFimAFim(s, CODE, m_test.c_str()); }},
            {"ExtrairLogs", "", 0, [&d](int s) { return d.ExtrairLogs(s, CODE); }},
            {"BloquearSAT", "", 0, [&d](int s) { return d.BloquearSAT(s, CODE); }},
            {"DesbloquearSAT", "", 0, [&d](int s) { return d.DesbloquearSAT(s, CODE); }},
            {"ConsultarNumeroSessao", "", 0,
             [&d](int s) { return d.ConsultarNumeroSessao(s, CODE, s - 1); }, -1},
            {"ConfigurarInterfaceDeRede", "", 0,
             [&d](int s) {
                 return d.ConfigurarInterfaceDeRede(s, CODE,
                                                    "<config><tipoLan>DHCP</tipoLan></config>");
             }},
            // The sale's own signature: the device refuses sales signed otherwise.
            {"AssociarAssinatura", "", 0,
             [this, &d](int s) {
                 return d.AssociarAssinatura(s, CODE, "2345678900019534567890000130",
                                             m_signAC.c_str());
             }},
            {"AtualizarSoftwareSAT", "", 0,
             [&d](int s) { return d.AtualizarSoftwareSAT(s, CODE); }},
            {"TrocarCodigoDeAtivacao", "", 0,
             [&d](int s) { return d.TrocarCodigoDeAtivacao(s, CODE, 1, CODE, CODE); }},
            {"AtivarSAT", "", 0,
             [&d](int s) { return d.AtivarSAT(s, 1, CODE, "34567890000130", 35); }},
            {"ComunicarCertificadoICPBRASIL", "", 0,
             [&d](int s) { return d.ComunicarCertificadoICPBRASIL(s, CODE, "CERTIFICADO"); }},
            {"bad checksum", "next badcrc", 1, [&d](int s) { return d.ConsultarSAT(s); }},
            {"two stale replies first", "next wrongcode 2", 0,
             [&d](int s) { return d.ConsultarSAT(s); }},
            {"noise around the reply", "next noise 3000\nnext trailing 100", 0,
             [&d](int s) { return d.ConsultarSAT(s); }},
            {"dribbled reply", "next dribble 0", 0, [&d](int s) { return d.ConsultarSAT(s); }},
            {"unplugged mid-reply", "next unplug 30", 2, [&d](int s) { return d.ConsultarSAT(s); }},
            {"1,000,000-byte reply", "next bodysize 1000000", 0,
             [&d](int s) { return d.ConsultarSAT(s); }},
            {"1,572,863-byte reply", "next plain\nnext bodysize 1572863", 0,
             [&d](int s) { return d.ConsultarSAT(s); }},
            {"sale too large to send", "", 4,
             [this, &d](int s) { return d.EnviarDadosVenda(s, CODE, m_tooLarge.c_str()); }},
        };
        return m_steps;
    }

    LoadedDriver& m_sat;
    SimDevice& m_device;
    const std::string m_sale;
    const std::string m_signAC;
    const std::string m_test;
    const std::string m_tooLarge;
    std::string m_key;
    std::vector<Step> m_steps;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--calls" && i + 1 < argc) {
            options.calls = std::atol(argv[++i]);
        } else if (arg == "--sample-every" && i + 1 < argc) {
            options.sampleEvery = std::atol(argv[++i]);
        } else if (arg == "--no-pauses") {
            g_skipPauses = true;
        } else if (arg == "--fds-only") {
            options.fdsOnly = true;
        } else {
            return false;
        }
    }
    if (options.sampleEvery <= 0) {
        options.sampleEvery = options.calls >= 20 ? options.calls / 20 : 1;
    }
    return options.calls > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(
            stderr,
            "usage: satvaro_soak [--calls N] [--sample-every K] [--no-pauses] [--fds-only]\n");
        return 2;
    }
    SimDevice device;
    if (!device.available()) {
        std::fprintf(stderr,
                     "satvaro_soak: run it under sim/satvaro-harness --sim-arg --activated\n");
        return 2;
    }
    // The driver logs below its working directory; Base64ToAscii prints the
    // fields of every reply it looks at.
    char scratch[] = "/tmp/satvaro-soak-XXXXXX";
    if (mkdtemp(scratch) == nullptr || chdir(scratch) != 0 ||
        !std::freopen("/dev/null", "w", stdout)) {
        std::perror("satvaro_soak");
        return 2;
    }
    LoadedDriver sat(SATVARO_LIBRARY_PATH);
    Host host(sat, device);

    std::vector<Sample> samples;
    long unexpected = 0;
    for (long n = 1; n <= options.calls; ++n) {
        unexpected += host.step(n - 1) ? 0 : 1;
        if (n % options.sampleEvery == 0 || n == options.calls) {
            // Not counting the descriptor that lists them.
            samples.push_back({n, residentKb(), openDescriptors() - 1});
            std::fprintf(stderr, "%8ld calls  RSS %7ld kB  descriptors %3ld\n", n,
                         samples.back().rssKb, samples.back().fds);
        }
    }
    std::filesystem::remove_all(scratch);

    // The first sample is the baseline: by then every step ran several times.
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    long peak = first.rssKb;
    bool fdsFlat = true;
    for (const Sample& s : samples) {
        peak = s.rssKb > peak ? s.rssKb : peak;
        fdsFlat = fdsFlat && s.fds == first.fds;
    }
    const bool rssFlat = options.fdsOnly || last.rssKb - first.rssKb <= RSS_TOLERANCE_KB;
    std::fprintf(
        stderr,
        "soak: %ld calls%s, %ld with an unexpected status; RSS %ld kB after %ld calls, %ld kB "
        "after %ld (peak %ld)%s; descriptors %ld -> %ld: %s\n",
        options.calls, g_skipPauses ? " without pauses" : "", unexpected, first.rssKb, first.calls,
        last.rssKb, last.calls, peak, options.fdsOnly ? " (not judged)" : "", first.fds, last.fds,
        fdsFlat && rssFlat ? "flat" : "GROWING");
    return unexpected == 0 && fdsFlat && rssFlat ? 0 : 1;
}
