// The SAT command layer behind the exported C interface. Every command method
// formats its request body ("%06d" session first, then its "|"-separated
// fields), runs one exchange with the device under the command's name and
// time-out, stores the exchange status for CodigoErro, and returns g_resp
// holding the reply body as a NUL-terminated text.
//
// Contract shared by all command methods:
// - A null text argument is taken as the empty text.
// - A body that does not fit the command's working buffer is refused: nothing
//   is sent, g_resp holds the empty text, CodigoErro() is
//   SATVARO_STATUS_REFUSED, an "error" log line names the command. Nothing is
//   ever truncated. (A reply too long for g_resp never gets here: the device
//   link refuses it.)
// - Any thread may call at any time. What a command leaves behind is the
//   calling thread's own, as errno is: its g_resp text, its CodigoErro() and
//   its Base64ToAscii() text, each valid until that thread's next call.
#ifndef SATVARO_COMMANDS_UCMANIPULADADOSSAT_H
#define SATVARO_COMMANDS_UCMANIPULADADOSSAT_H

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "codec/Message.h"
#include "commands/ReplyBuffer.h"
#include "satvaro.h"

namespace manipulaDados {

// Command names: sent as the request's code and expected as the reply's.
inline constexpr char CMD_ATIVAR_SAT[] = "AtivarSAT";
inline constexpr char CMD_COMUNICAR_ICP_BRASIL[] = "ComunicarCertificadoICPBRASIL";
inline constexpr char CMD_ENVIAR_DADOS_VENDA[] = "EnviarDadosVenda";
inline constexpr char CMD_CANCELA_ULTIMA_VENDA[] = "CancelarUltimaVenda";
inline constexpr char CMD_CONSULTA_SAT[] = "ConsultarSAT";
inline constexpr char CMD_TESTE_FIM_A_FIM[] = "TesteFimAFim";
inline constexpr char CMD_CONSULTA_STATUS_OP[] = "ConsultarStatusOperacional";
inline constexpr char CMD_CONSULTA_ULTIMA_SESSAO_FISCAL[] = "ConsultarUltimaSessaoFiscal";
inline constexpr char CMD_CONSULTA_STATUS_OP_MFE[] = "ConsultarStatusOperacionalMFE";
inline constexpr char CMD_CONSULTAR_NUM_SESSAO[] = "ConsultarNumeroSessao";
inline constexpr char CMD_CONFIG_REDE[] = "ConfigurarInterfaceDeRede";
inline constexpr char CMD_CONFIG_REDE_MFE[] = "ConfigurarInterfaceDeRedeMFE";
inline constexpr char CMD_ASSOCIAR_ASSINATURA[] = "AssociarAssinatura";
inline constexpr char CMD_ATUALIZAR_SOFTWARE[] = "AtualizarSoftwareSAT";
inline constexpr char CMD_EXTRAIR_LOG[] = "ExtrairLogs";
inline constexpr char CMD_BLOQUEAR_SAT[] = "BloquearSAT";
inline constexpr char CMD_DESBLOQUEAR_SAT[] = "DesbloquearSAT";
inline constexpr char CMD_TROCA_COD_ATIVACAO[] = "TrocarCodigoDeAtivacao";
inline constexpr char CMD_REINICIAR_MFE[] = "ReiniciarMFE";
inline constexpr char CMD_ENVIAR_STATUS_AC[] = "EnviarStatusAC";

// Name of the performance record, in the working directory.
inline constexpr char ARQUIVO_DESEMPENHO[] = "teste_desempenho.csv";

// "DATA_HORA" of the performance record: year/day/month/hh:mm:ss. The day
// comes before the month; stored records rely on it.
std::string dataHoraDesempenho(const std::tm& when);

struct Command;  // an entry of the command catalogue

class ManipulaDadosSat {
public:
    // One exchange: sends `body` as `command`, fills `reply`, returns the
    // exchange status. The default runs a DoTransaction on the device.
    using Exchange = int (*)(int timeoutMs, const char* command, const std::string& body,
                             zeph::Message& reply);

    ManipulaDadosSat();
    explicit ManipulaDadosSat(Exchange exchange);
    virtual ~ManipulaDadosSat();
    ManipulaDadosSat(const ManipulaDadosSat&) = delete;
    ManipulaDadosSat& operator=(const ManipulaDadosSat&) = delete;

    char* AtivarSAT(int numeroSessao, int subComando, const char* codigoAtivacao, const char* cnpj,
                    int codigoUF);
    char* ComunicarCertificadoICPBRASIL(int numeroSessao, const char* codigoAtivacao,
                                        const char* certificado);
    char* EnviarDadosVenda(int numeroSessao, const char* codigoAtivacao, const char* dadosVenda);
    char* CancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao, const char* chave,
                              const char* dadosCancelamento);
    char* ConsultarSAT(int numeroSessao);
    char* TesteFimAFim(int numeroSessao, const char* codigoAtivacao, const char* dadosVenda);
    char* ConsultarStatusOperacional(int numeroSessao, const char* codigoAtivacao);
    char* ConsultarUltimaSessaoFiscal(int numeroSessao, const char* codigoAtivacao);
    char* ConsultarStatusOperacionalMFE(int numeroSessao, const char* codigoAtivacao);
    char* ConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao, int sessaoConsultada);
    char* ConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                    const char* dadosConfiguracao);
    char* ConfigurarInterfaceDeRedeMFE(int numeroSessao, const char* codigoAtivacao,
                                       const char* dadosConfiguracao);
    char* AssociarAssinatura(int numeroSessao, const char* codigoAtivacao, const char* cnpjValor,
                             const char* assinaturaCnpj);
    char* AtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao);
    char* ExtrairLogs(int numeroSessao, const char* codigoAtivacao);
    char* BloquearSAT(int numeroSessao, const char* codigoAtivacao);
    char* DesbloquearSAT(int numeroSessao, const char* codigoAtivacao);
    char* TrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao, int opcao,
                                 const char* novoCodigo, const char* confirmacaoNovoCodigo);
    char* ReiniciarMFE(int numeroSessao, const char* codigoAtivacao);
    // Its three texts are passed through in order.
    char* EnviarStatusAC(int numeroSessao, const char* primeiroCampo, const char* segundoCampo,
                         const char* terceiroCampo);

    void closePortSerial();  // nothing to do: the port lives inside each exchange
    int CodigoErro() const;  // status of this thread's last command; 0 before any

    // The Base64 document of this thread's last reply decoded: field 7 after
    // EnviarDadosVenda or CancelarUltimaVenda, field 6 after ExtrairLogs,
    // otherwise (or when absent or empty) the empty text. Prints the reply's
    // fields on standard output. The text stays valid until the thread's
    // next Base64ToAscii call.
    char* Base64ToAscii();

    // Expands the first "<CNPJ/>" and then the first "<CPF/>" into an
    // element pair, in place; later occurrences stay.
    static void replaceTag(std::string& body);
    // As the free split(), and prints each field on its own line.
    std::vector<std::string> split(const std::string& text, char delimiter);

    // Append one row to ARQUIVO_DESEMPENHO, created with the header row of
    // the form that creates it. The message form writes the code and the
    // six DELTA_* headers with the differences of neighbours; the value form
    // writes the value. Failures are silent.
    void gravaArquivoDesempenho(zeph::Message& mensagem);
    void gravaArquivoDesempenho(std::string valor);

private:
    char* execute(const Command& command, const char* format, ...)
        __attribute__((format(printf, 3, 4)));
    char* refuse(const Command& command);

    Exchange m_exchange;
};

}  // namespace manipulaDados

#endif
