// The device's inner working: the state a SAT keeps across requests and
// the reply body ("numeroSessao|EEEEE|mensagem|cod|mensagemSEFAZ"...) it
// gives to each command of the catalogue.
#ifndef SATVARO_SIM_SATDEVICE_H
#define SATVARO_SIM_SATDEVICE_H

#include <map>
#include <string>
#include <vector>

namespace satsim {

struct DeviceSettings {
    std::string activationCode = "12345678";
    bool activated = false;
};

class SatDevice {
public:
    // The code accepted by TrocarCodigoDeAtivacao with option 2.
    static const char* const EMERGENCY_CODE;
    // The device's serial number, part of every access key.
    static const char* const SERIAL;

    explicit SatDevice(const DeviceSettings& settings);

    // The reply body to one request of `command` with request body `body`.
    std::string answer(const std::string& command, const std::string& body);

private:
    using Fields = std::vector<std::string>;
    using Handler = std::string (SatDevice::*)(const Fields&);

    struct Sale {
        std::string keyDigits;
        std::string total;
        std::string buyer;
        std::string issued;
        bool cancelled = false;
    };

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

    std::string issue(const std::string& data, bool testOnly, Sale& sale);
    std::string nextKeyDigits(const std::string& uf, const std::string& cnpj,
                              unsigned number) const;
    void remember(const std::string& session, const std::string& reply);
    void log(const std::string& text);

    std::string m_code;
    bool m_activated;
    bool m_blocked = false;
    bool m_csrPending = false;
    std::string m_cnpj = "11222333000181";
    std::string m_uf = "35";
    std::string m_lanType = "DHCP";
    unsigned m_documents = 0;  // CF-e numbers issued (sales and cancellations)
    std::vector<Sale> m_sales;
    std::string m_lastFiscalReply;
    std::map<std::string, std::string> m_replies;  // by session number
    std::string m_log;
};

}  // namespace satsim

#endif
