// The device's inner working: the state a SAT keeps across requests and
// the reply body ("numeroSessao|EEEEE|mensagem|cod|mensagemSEFAZ"...) it
// gives to each command of the catalogue.
#ifndef SATVARO_SIM_SATDEVICE_H
#define SATVARO_SIM_SATDEVICE_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "sim/Cfe.h"

namespace satsim {

struct DeviceSettings {
    std::string activationCode = "12345678";
    bool activated = false;
    // A clock standing still at this time (YYYYMMDDhhmmss); "" for the
    // system's clock.
    std::string clock;
    // Seeds the cNF of the keys; unseeded, every run draws its own.
    bool seeded = false;
    std::uint64_t seed = 0;
    // ConsultarNumeroSessao finds this many of the last sessions, its own
    // queries aside: one, as devices do, unless told otherwise.
    std::size_t sessionsKept = 1;
    // Seconds the device's clock is ahead of the system's (or of `clock`).
    long clockOffsetSeconds = 0;
    // Its certificate's dates, YYYYMMDD; the expiry also as "+N", N days
    // after the device's today.
    std::string certificateIssued = "20240101";
    std::string certificateExpires = "20290101";
    // CF-e the device holds untransmitted, besides none.
    long pendingCfe = 0;
};

class SatDevice {
public:
    // The code accepted by TrocarCodigoDeAtivacao with option 2.
    static const char* const EMERGENCY_CODE;
    // The device's serial number, part of every access key.
    static const char* const SERIAL;
    // The taxpayer of an activated device until AtivarSAT names another.
    static const char* const TEST_TAXPAYER_CNPJ;

    explicit SatDevice(const DeviceSettings& settings);

    // The reply body to one request of `command` with request body `body`.
    std::string answer(const std::string& command, const std::string& body);

private:
    using Fields = std::vector<std::string>;
    using Handler = std::string (SatDevice::*)(const Fields&);

    struct Command {
        Handler handler;
        size_t fields;   // in the request body, the session first
        int codeFamily;  // checks the activation code, refusing as this family; 0: none
    };

    static const std::map<std::string, Command>& catalogue();

    std::string ativar(const Fields& f);
    std::string comunicarCertificado(const Fields& f);
    std::string enviarDadosVenda(const Fields& f);
    std::string cancelarUltimaVenda(const Fields& f);
    std::string consultarSat(const Fields& f);
    std::string testeFimAFim(const Fields& f);
    std::string consultarStatusOperacional(const Fields& f);
    std::string consultarNumeroSessao(const Fields& f);
    std::string consultarUltimaSessaoFiscal(const Fields& f);
    std::string configurarRede(const Fields& f);
    std::string associarAssinatura(const Fields& f);
    std::string atualizarSoftware(const Fields& f);
    std::string extrairLogs(const Fields& f);
    std::string bloquear(const Fields& f);
    std::string desbloquear(const Fields& f);
    std::string trocarCodigo(const Fields& f);
    std::string reiniciar(const Fields& f);
    std::string enviarStatusAc(const Fields& f);

    bool refuses(const SaleDocument& sale, std::string& code, std::string& message) const;
    IssuedCfe nextCfe(const std::string& uf, const std::string& cnpj);
    void remember(const std::string& session, const std::string& reply);
    void log(const std::string& text);
    std::string now(const char* format) const;
    std::string timestamp() const { return now("%Y%m%d%H%M%S"); }
    std::string pendingKey(long fromLast) const;
    std::string certificateExpiry() const;

    std::string m_code;
    bool m_activated;
    bool m_blocked = false;
    bool m_csrPending = false;
    std::string m_cnpj = TEST_TAXPAYER_CNPJ;
    std::string m_uf = "35";
    std::string m_lanType = "DHCP";
    // The software house's CNPJ and signature (signAC) of AssociarAssinatura.
    std::string m_acCnpj;
    std::string m_acSignature;
    std::string m_clock;
    std::mt19937_64 m_random;
    unsigned m_documents = 0;  // CF-e numbers issued (sales and cancellations)
    std::vector<IssuedCfe> m_sales;
    std::string m_lastFiscalReply;
    const std::size_t m_sessionsKept;
    const long m_clockOffsetSeconds;
    const std::string m_certificateIssued;
    const std::string m_certificateExpires;
    const long m_pendingCfe;
    std::deque<std::pair<std::string, std::string>> m_replies;  // (session, reply), oldest first
    std::string m_log;
};

}  // namespace satsim

#endif
