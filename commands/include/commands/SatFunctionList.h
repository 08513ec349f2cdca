// The SAT functions of the driver, each written once. What names them all is
// made from these lists: the exported forwarders and the check of satvaro.h
// against them (commands/main.cpp), the command layer's constants, methods and
// catalogue, the version script (commands/satvaro.map.in), the console's
// calls, and the table the tests check the Python example and the man pages
// against. The request limits and time-outs of the exported commands are the
// constants of satvaro.h, SATVARO_MAX_REQUEST_<name> and
// SATVARO_TIMEOUT_MS_<name>; those of the commands no export reaches are below.
//
// Macros only: the version script is this header run through the C
// preprocessor.
//
// SATVARO_EXPORTED_COMMANDS(X) and SATVARO_INTERNAL_COMMANDS(X) give each
// command as X(name, constant, format, rework, hubPath, effect), the exported
// ones with a last field, wrapper:
//   name      the exported name, the command name sent to the device (and
//             expected back) and the command method's name
//   constant  the constant that holds the command name
//   format    the request body's printf format: the session, then the
//             arguments in order
//   rework    AS_FORMATTED, or EXPANDS_EMPTY_TAGS: the first "<CNPJ/>" and
//             "<CPF/>" are written out as start and end tag before sending
//   hubPath   where satvaro-hub serves it, /hub/v1/<hubPath> ("": nowhere)
//   effect    CHANGES_DEVICE (the hub answers its administrators only) or
//             QUERIES_DEVICE
//   wrapper   the console's function that calls it
// SATVARO_ARGUMENTS_<name>(A) gives its arguments after the session number
// (an int, first in every command) as A(kind, parameter, hubField):
//   kind      INT; USHORT, 16 bits at the C boundary, int inside; TEXT; or
//             CODE, the activation code, which the hub puts in itself
//   parameter the parameter's name in satvaro.h and in the method
//   hubField  the hub's form field for it ("" for CODE; the same field may
//             fill two arguments)
// SATVARO_OTHER_EXPORTS(X) gives the exports that send nothing as
// X(name, resultType).
#ifndef SATVARO_COMMANDS_SATFUNCTIONLIST_H
#define SATVARO_COMMANDS_SATFUNCTIONLIST_H

// clang-format off
#define SATVARO_OTHER_EXPORTS(X) \
    X(getVersion, char*)         \
    X(CodigoErro, int)           \
    X(CloseSerial, void)         \
    X(Base64ToAscii, char*)

#define SATVARO_EXPORTED_COMMANDS(X)                                                               \
    X(AtivarSAT, CMD_ATIVAR_SAT, "%06d|%01d|%s|%s|%02d", AS_FORMATTED,                             \
      "ativarsat", CHANGES_DEVICE, funcAtivarSAT)                                                  \
    X(ComunicarCertificadoICPBRASIL, CMD_COMUNICAR_ICP_BRASIL, "%06d|%s|%s", AS_FORMATTED,         \
      "comunicarcertificadoicpbrasil", CHANGES_DEVICE, funcComunicarCertificadoICPBRASIL)          \
    X(EnviarDadosVenda, CMD_ENVIAR_DADOS_VENDA, "%06d|%s|%s", AS_FORMATTED,                        \
      "enviardadosvenda", QUERIES_DEVICE, funcEnviarDadosVenda)                                    \
    X(CancelarUltimaVenda, CMD_CANCELA_ULTIMA_VENDA, "%06d|%s|%s|%s", EXPANDS_EMPTY_TAGS,          \
      "cancelarultimavenda", QUERIES_DEVICE, funcCancelarUltimaVenda)                              \
    X(ConsultarSAT, CMD_CONSULTA_SAT, "%06d", AS_FORMATTED,                                        \
      "consultarsat", QUERIES_DEVICE, funcConsultar)                                               \
    X(TesteFimAFim, CMD_TESTE_FIM_A_FIM, "%06d|%s|%s", AS_FORMATTED,                               \
      "testefimafim", QUERIES_DEVICE, funcTesteFimAFim)                                            \
    X(ConsultarStatusOperacional, CMD_CONSULTA_STATUS_OP, "%06d|%s", AS_FORMATTED,                 \
      "consultarstatusoperacional", QUERIES_DEVICE, funcConsultarStatusOP)                         \
    X(ExtrairLogs, CMD_EXTRAIR_LOG, "%06d|%s", AS_FORMATTED,                                       \
      "extrairlogs", QUERIES_DEVICE, funcExtrairLogs)                                              \
    X(BloquearSAT, CMD_BLOQUEAR_SAT, "%06d|%s", AS_FORMATTED,                                      \
      "bloquearsat", CHANGES_DEVICE, funcBloquear)                                                 \
    X(DesbloquearSAT, CMD_DESBLOQUEAR_SAT, "%06d|%s", AS_FORMATTED,                                \
      "desbloquearsat", CHANGES_DEVICE, funcDesbloquear)                                           \
    X(ConsultarNumeroSessao, CMD_CONSULTAR_NUM_SESSAO, "%06d|%s|%06d", AS_FORMATTED,               \
      "consultarnumerosessao", QUERIES_DEVICE, funcConsultarNumeroSessao)                          \
    X(ConfigurarInterfaceDeRede, CMD_CONFIG_REDE, "%06d|%s|%s", AS_FORMATTED,                      \
      "configurarinterfacederede", CHANGES_DEVICE, funcConfigurarInterfaceDeRede)                  \
    X(AssociarAssinatura, CMD_ASSOCIAR_ASSINATURA, "%06d|%s|%s|%s", AS_FORMATTED,                  \
      "associarassinatura", CHANGES_DEVICE, funcAssociarAssinatura)                                \
    X(AtualizarSoftwareSAT, CMD_ATUALIZAR_SOFTWARE, "%06d|%s", AS_FORMATTED,                       \
      "atualizarsoftwaresat", CHANGES_DEVICE, funcAtualizarSoftwareSAT)                            \
    X(TrocarCodigoDeAtivacao, CMD_TROCA_COD_ATIVACAO, "%06d|%s|%01d|%s|%s", AS_FORMATTED,          \
      "trocarcodigodeativacao", CHANGES_DEVICE, funcTrocarCodigoDeAtivacao)

#define SATVARO_INTERNAL_COMMANDS(X)                                                               \
    X(ConsultarUltimaSessaoFiscal, CMD_CONSULTA_ULTIMA_SESSAO_FISCAL, "%06d|%s", AS_FORMATTED,     \
      "", QUERIES_DEVICE)                                                                          \
    X(ConsultarStatusOperacionalMFE, CMD_CONSULTA_STATUS_OP_MFE, "%06d|%s", AS_FORMATTED,          \
      "", QUERIES_DEVICE)                                                                          \
    X(ConfigurarInterfaceDeRedeMFE, CMD_CONFIG_REDE_MFE, "%06d|%s|%s", AS_FORMATTED,               \
      "", CHANGES_DEVICE)                                                                          \
    X(ReiniciarMFE, CMD_REINICIAR_MFE, "%06d|%s", AS_FORMATTED,                                    \
      "", CHANGES_DEVICE)                                                                          \
    X(EnviarStatusAC, CMD_ENVIAR_STATUS_AC, "%06d|%s|%s|%s", AS_FORMATTED,                         \
      "", CHANGES_DEVICE)

#define SATVARO_ARGUMENTS_AtivarSAT(A) \
    A(USHORT, subComando, "tipo_certificado") A(CODE, codigoAtivacao, "") A(TEXT, cnpj, "cnpj") \
    A(USHORT, codigoUF, "codigo_uf")
#define SATVARO_ARGUMENTS_ComunicarCertificadoICPBRASIL(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, certificado, "certificado")
#define SATVARO_ARGUMENTS_EnviarDadosVenda(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, dadosVenda, "dados_venda")
#define SATVARO_ARGUMENTS_CancelarUltimaVenda(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, chave, "chave_cfe") \
    A(TEXT, dadosCancelamento, "dados_cancelamento")
#define SATVARO_ARGUMENTS_ConsultarSAT(A)
#define SATVARO_ARGUMENTS_TesteFimAFim(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, dadosVenda, "dados_venda")
#define SATVARO_ARGUMENTS_ConsultarStatusOperacional(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_ExtrairLogs(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_BloquearSAT(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_DesbloquearSAT(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_ConsultarNumeroSessao(A) \
    A(CODE, codigoAtivacao, "") A(INT, sessaoConsultada, "numero_sessao")
#define SATVARO_ARGUMENTS_ConfigurarInterfaceDeRede(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, dadosConfiguracao, "configuracao")
#define SATVARO_ARGUMENTS_AssociarAssinatura(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, cnpjValor, "sequencia_cnpj") \
    A(TEXT, assinaturaCnpj, "assinatura_ac")
#define SATVARO_ARGUMENTS_AtualizarSoftwareSAT(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_TrocarCodigoDeAtivacao(A) \
    A(CODE, codigoAtivacao, "") A(USHORT, opcao, "opcao") \
    A(TEXT, novoCodigo, "novo_codigo_ativacao") A(TEXT, confirmacaoNovoCodigo, "novo_codigo_ativacao")
#define SATVARO_ARGUMENTS_ConsultarUltimaSessaoFiscal(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_ConsultarStatusOperacionalMFE(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_ConfigurarInterfaceDeRedeMFE(A) \
    A(CODE, codigoAtivacao, "") A(TEXT, dadosConfiguracao, "")
#define SATVARO_ARGUMENTS_ReiniciarMFE(A) A(CODE, codigoAtivacao, "")
#define SATVARO_ARGUMENTS_EnviarStatusAC(A) \
    A(TEXT, primeiroCampo, "") A(TEXT, segundoCampo, "") A(TEXT, terceiroCampo, "")
// clang-format on

// The commands no export reaches: their limits and time-outs.
#define SATVARO_MAX_REQUEST_ConsultarUltimaSessaoFiscal 47
#define SATVARO_TIMEOUT_MS_ConsultarUltimaSessaoFiscal 22000
#define SATVARO_MAX_REQUEST_ConsultarStatusOperacionalMFE 47
#define SATVARO_TIMEOUT_MS_ConsultarStatusOperacionalMFE 20000
#define SATVARO_MAX_REQUEST_ConfigurarInterfaceDeRedeMFE 1071
#define SATVARO_TIMEOUT_MS_ConfigurarInterfaceDeRedeMFE 22000
#define SATVARO_MAX_REQUEST_ReiniciarMFE 47
#define SATVARO_TIMEOUT_MS_ReiniciarMFE 17000
#define SATVARO_MAX_REQUEST_EnviarStatusAC 79
#define SATVARO_TIMEOUT_MS_EnviarStatusAC 7000

// The types of an argument of each kind: at the C boundary, and inside (the
// command methods, the console's calls).
#define SATVARO_C_TYPE_INT int
#define SATVARO_C_TYPE_USHORT SATVARO_USHORT
#define SATVARO_C_TYPE_TEXT const char*
#define SATVARO_C_TYPE_CODE const char*
#define SATVARO_PLAIN_TYPE_INT int
#define SATVARO_PLAIN_TYPE_USHORT int
#define SATVARO_PLAIN_TYPE_TEXT const char*
#define SATVARO_PLAIN_TYPE_CODE const char*

// A(...) helpers that write the arguments after the session: as C parameter
// types, as C parameters, as inside parameters, and as names.
#define SATVARO_C_PARAMETER_TYPE(kind, parameter, hubField) , SATVARO_C_TYPE_##kind
#define SATVARO_C_PARAMETER(kind, parameter, hubField) , SATVARO_C_TYPE_##kind parameter
#define SATVARO_PLAIN_PARAMETER(kind, parameter, hubField) , SATVARO_PLAIN_TYPE_##kind parameter
#define SATVARO_ARGUMENT_NAME(kind, parameter, hubField) , parameter

#endif
