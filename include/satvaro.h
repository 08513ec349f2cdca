/*
 * satvaro: driver library for SAT / MF-e fiscal devices on Linux.
 *
 * Each command function sends one request to the device over its USB serial
 * line and returns the device's reply body, a "|"-separated text, for
 * example "000007|08000|SAT em operacao||". The library opens the device
 * inside each call and holds nothing between calls; a call takes about a
 * second longer than the exchange itself (the line's pacing).
 *
 * Reply text. Every command function returns the address of the calling
 * thread's reply buffer, g_resp (1,572,864 bytes), which the library owns:
 * never NULL, never to be freed or written. The thread's next command call
 * overwrites it, so copy a reply you need before that. When no reply arrived
 * it holds the empty text. A thread gets its buffer at its first command
 * call and the library takes it back when the thread ends; it is the same
 * address at every call of that thread. getVersion returns a constant text.
 * Base64ToAscii returns a library-owned text valid until the calling
 * thread's next Base64ToAscii call.
 *
 * Threads and processes. Any thread of any process may call at any time.
 * Exchanges with one device never interleave: a call waits until the device
 * is free (the callers of one process in the order they came), and holds it
 * from before opening it until after the pause that follows closing it. The
 * wait counts in the call's own time-out: a call still waiting when it runs
 * out sends nothing and ends with 32768. A caller that dies mid-exchange
 * leaves the device free. Each thread has its own reply text, CodigoErro and
 * Base64ToAscii text, as it has its own errno. Processes take turns through
 * a lock file named after the device's numbers in /run/lock (or /tmp); where
 * neither can be written, only the calls of one process are kept apart (the
 * log says so once). Every descriptor the library opens is close-on-exec.
 *
 * Arguments. Texts are NUL-terminated, owned by the caller and read only
 * during the call; NULL is taken as the empty text. Texts are inserted in
 * the request as they are (a "|" inside one is not protected). The three
 * unsigned short parameters use only their low 16 bits, also when a caller
 * passes a wider integer (65537 is taken as 1).
 *
 * Outcome. CodigoErro() returns the status of the calling thread's last
 * command call, one of enum SatvaroStatus below; 0 before the thread's first
 * command. The returned text is the reply body whatever the status (empty
 * when none arrived or it was refused); the device's own result code is one
 * of its fields.
 *
 * Limits. The request body of each command (its session "%06d" and the
 * arguments joined by "|") may hold at most SATVARO_MAX_REQUEST_<function>
 * bytes; a longer one is refused (status 4) and not sent, never cut. Each
 * command waits at most SATVARO_TIMEOUT_MS_<function> milliseconds for its
 * reply, from the start of sending, or of the wait for the device when the
 * call had to wait. A reply must leave room for its terminating NUL in g_resp
 * (SATVARO_REPLY_BUFFER_SIZE bytes): one of that many bytes or more is refused.
 */
#ifndef SATVARO_H
#define SATVARO_H

#if defined(__GNUC__)
#define SATVARO_API __attribute__((visibility("default")))
#else
#define SATVARO_API
#endif

/* The 16-bit parameters. The library is built with SATVARO_USHORT defined as
 * unsigned int and keeps the low 16 bits itself, so that a caller passing an
 * int gets the same result whichever compiler built either side. */
#ifndef SATVARO_USHORT
#define SATVARO_USHORT unsigned short
#endif

/* The size of g_resp, 1.5 MiB: the longest reply handed back is one byte
 * shorter, for its NUL. */
#define SATVARO_REPLY_BUFFER_SIZE 1572864

/* The most bytes a command's request body may hold. The sale documents may be
 * as long as the largest reply. */
#define SATVARO_MAX_REQUEST_AtivarSAT 63
#define SATVARO_MAX_REQUEST_ComunicarCertificadoICPBRASIL 2095
#define SATVARO_MAX_REQUEST_EnviarDadosVenda 1572903
#define SATVARO_MAX_REQUEST_CancelarUltimaVenda 1572951
#define SATVARO_MAX_REQUEST_ConsultarSAT 15
#define SATVARO_MAX_REQUEST_TesteFimAFim 1572903
#define SATVARO_MAX_REQUEST_ConsultarStatusOperacional 47
#define SATVARO_MAX_REQUEST_ExtrairLogs 47
#define SATVARO_MAX_REQUEST_BloquearSAT 47
#define SATVARO_MAX_REQUEST_DesbloquearSAT 47
#define SATVARO_MAX_REQUEST_ConsultarNumeroSessao 47
#define SATVARO_MAX_REQUEST_ConfigurarInterfaceDeRede 1071
#define SATVARO_MAX_REQUEST_AssociarAssinatura 2127
#define SATVARO_MAX_REQUEST_AtualizarSoftwareSAT 47
#define SATVARO_MAX_REQUEST_TrocarCodigoDeAtivacao 111

/* Each command's time-out in milliseconds: the device's worst case.
 * Activation, the certificate and blocking wait for the tax authority. */
#define SATVARO_TIMEOUT_MS_AtivarSAT 302000
#define SATVARO_TIMEOUT_MS_ComunicarCertificadoICPBRASIL 302000
#define SATVARO_TIMEOUT_MS_EnviarDadosVenda 10000
#define SATVARO_TIMEOUT_MS_CancelarUltimaVenda 7000
#define SATVARO_TIMEOUT_MS_ConsultarSAT 6000
#define SATVARO_TIMEOUT_MS_TesteFimAFim 22000
#define SATVARO_TIMEOUT_MS_ConsultarStatusOperacional 20000
#define SATVARO_TIMEOUT_MS_ExtrairLogs 22000
#define SATVARO_TIMEOUT_MS_BloquearSAT 302000
#define SATVARO_TIMEOUT_MS_DesbloquearSAT 22000
#define SATVARO_TIMEOUT_MS_ConsultarNumeroSessao 22000
#define SATVARO_TIMEOUT_MS_ConfigurarInterfaceDeRede 22000
#define SATVARO_TIMEOUT_MS_AssociarAssinatura 900000
#define SATVARO_TIMEOUT_MS_AtualizarSoftwareSAT 1800000
#define SATVARO_TIMEOUT_MS_TrocarCodigoDeAtivacao 22000

#ifdef __cplusplus
extern "C" {
#endif

/* The statuses CodigoErro() reports. */
enum SatvaroStatus {
    /* The device's reply was received and accepted. */
    SATVARO_STATUS_OK = 0,
    /* The device could not be found or opened, or its reply could not be
     * parsed (bad framing or checksum). */
    SATVARO_STATUS_PARSE_ERROR = 1,
    /* The serial line failed (device unplugged, read error, or about 50 s
     * without a byte). */
    SATVARO_STATUS_READ_ERROR = 2,
    /* The device replied for another command, or a body was too large: a
     * request that does not fit the command's buffer is refused and not sent;
     * a reply of 1,572,864 bytes or more (which cannot fit g_resp with its
     * terminating NUL), one announcing more than a compressed reply of that
     * size can take, and one whose compressed body does not uncompress
     * (announced above 20 MiB, or damaged) are refused; g_resp is then empty.
     * A refused reply is reported when the command's time-out ends, as the
     * device may still send an acceptable one. */
    SATVARO_STATUS_REFUSED = 4,
    /* No acceptable reply within the command's time-out, or the device stayed
     * busy with another caller's exchange until it ran out (nothing was sent). */
    SATVARO_STATUS_TIMEOUT = 32768
};

/* The driver's version text "01.00.01.001"; constant, owned by the library. */
SATVARO_API char* getVersion(void);
/* Status of the calling thread's last command call: a SatvaroStatus. */
SATVARO_API int CodigoErro(void);
/* Does nothing: the line is opened and closed inside each call. */
SATVARO_API void CloseSerial(void);
/* The Base64 document of the thread's last reply, decoded: field 7 after
 * EnviarDadosVenda or CancelarUltimaVenda, field 6 after ExtrairLogs; the
 * empty text otherwise. Also prints the last reply's fields on stdout, one
 * per line. Runs no exchange and leaves g_resp and CodigoErro unchanged. */
SATVARO_API char* Base64ToAscii(void);

SATVARO_API char* AtivarSAT(int numeroSessao, SATVARO_USHORT subComando, const char* codigoAtivacao,
                            const char* cnpj, SATVARO_USHORT codigoUF);
SATVARO_API char* ComunicarCertificadoICPBRASIL(int numeroSessao, const char* codigoAtivacao,
                                                const char* certificado);
SATVARO_API char* EnviarDadosVenda(int numeroSessao, const char* codigoAtivacao,
                                   const char* dadosVenda);
SATVARO_API char* CancelarUltimaVenda(int numeroSessao, const char* codigoAtivacao,
                                      const char* chave, const char* dadosCancelamento);
SATVARO_API char* ConsultarSAT(int numeroSessao);
SATVARO_API char* TesteFimAFim(int numeroSessao, const char* codigoAtivacao,
                               const char* dadosVenda);
SATVARO_API char* ConsultarStatusOperacional(int numeroSessao, const char* codigoAtivacao);
SATVARO_API char* ExtrairLogs(int numeroSessao, const char* codigoAtivacao);
SATVARO_API char* BloquearSAT(int numeroSessao, const char* codigoAtivacao);
SATVARO_API char* DesbloquearSAT(int numeroSessao, const char* codigoAtivacao);
SATVARO_API char* ConsultarNumeroSessao(int numeroSessao, const char* codigoAtivacao,
                                        int sessaoConsultada);
SATVARO_API char* ConfigurarInterfaceDeRede(int numeroSessao, const char* codigoAtivacao,
                                            const char* dadosConfiguracao);
SATVARO_API char* AssociarAssinatura(int numeroSessao, const char* codigoAtivacao,
                                     const char* cnpjValor, const char* assinaturaCnpj);
SATVARO_API char* AtualizarSoftwareSAT(int numeroSessao, const char* codigoAtivacao);
SATVARO_API char* TrocarCodigoDeAtivacao(int numeroSessao, const char* codigoAtivacao,
                                         SATVARO_USHORT opcao, const char* novoCodigo,
                                         const char* confirmacaoNovoCodigo);

#ifdef __cplusplus
}
#endif

#endif
