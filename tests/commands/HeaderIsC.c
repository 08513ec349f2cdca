/* The public header compiled as C99, linked against the library by its plain
 * names, with each prototype checked by assignment to its expected type. */
#include "satvaro.h"

#include <stdio.h>
#include <string.h>

typedef char* (*Text0)(void);
typedef char* (*Session)(int);
typedef char* (*SessionCode)(int, const char*);
typedef char* (*SessionCodeText)(int, const char*, const char*);
typedef char* (*SessionCodeTwoTexts)(int, const char*, const char*, const char*);

int main(void) {
    Text0 version = getVersion;
    Text0 decoded = Base64ToAscii;
    int (*status)(void) = CodigoErro;
    void (*closeSerial)(void) = CloseSerial;
    char* (*activate)(int, unsigned short, const char*, const char*, unsigned short) = AtivarSAT;
    char* (*change)(int, const char*, unsigned short, const char*, const char*) =
        TrocarCodigoDeAtivacao;
    char* (*session)(int, const char*, int) = ConsultarNumeroSessao;
    Session query = ConsultarSAT;
    SessionCode plain[] = {ConsultarStatusOperacional, ExtrairLogs, BloquearSAT, DesbloquearSAT,
                           AtualizarSoftwareSAT};
    SessionCodeText withText[] = {ComunicarCertificadoICPBRASIL, EnviarDadosVenda, TesteFimAFim,
                                  ConfigurarInterfaceDeRede};
    SessionCodeTwoTexts withTwoTexts[] = {CancelarUltimaVenda, AssociarAssinatura};

    (void)activate, (void)change, (void)session, (void)query, (void)plain, (void)withText,
        (void)withTwoTexts;
    closeSerial();
    if (strcmp(version(), "01.00.01.001") != 0 || status() != 0 || strcmp(decoded(), "") != 0) {
        fprintf(stderr, "unexpected results from the library\n");
        return 1;
    }
    return 0;
}
