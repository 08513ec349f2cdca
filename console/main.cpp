// zozivodivo: the operator's console for a SAT device driven through the
// driver library, which it loads at run time (see DriverSat.h).
//
// The banners, the menu, the notes before each call and the replies go to
// standard error; the prompts and the no-reply notice to standard output. Every
// reply is appended to "retUltimoCmd.bin" in the working directory, after two
// LF characters.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "console/AcessoDriver.h"
#include "console/DadosVenda.h"
#include "DriverSat.h"
#include "common/DriverVersion.h"

namespace {

// The console's own version is the driver's version text.
constexpr const char* versionRuv = satvaro::DRIVER_VERSION;

constexpr std::size_t CODIGO_MAXIMO = 32;
// The sub-command the console activates with; the device takes it as an
// activation with the tax authority's certificate.
constexpr int SUBCOMANDO_ATIVACAO = 0;
constexpr int SAIDA_ERRO = 255;
constexpr useconds_t PAUSA_TURNO_US = 500 * 1000;

constexpr char ARQUIVO_CODIGO[] = "/codigoRuv.bin";
constexpr char ARQUIVO_FIM_A_FIM[] = "/fimAfim.xml";
constexpr char ARQUIVO_RETORNOS[] = "/retUltimoCmd.bin";

constexpr char SEM_RESPOSTA[] = "Funcao sat nao responde";
constexpr char ERRO_ARQUIVO[] = "Erro ao abrir o arquivo!";

constexpr char MENU[] =
    "Escolha umas das opcoes abaixo, digite 'q' or 'Ctrl+C'' para sair.\n"
    "[0] Ativar SAT\n"
    "[1] Consultar SAT\n"
    "[2] Consultar Status Operacional SAT\n"
    "[3] Extrair Log\n"
    "[4] Bloquear Sat\n"
    "[5] Desbloquear\n"
    "[6] Enviar Dados de Venda\n"
    "[7] Cancelar Ultima Venda\n"
    "[8] Enviar TesteFimAFim\n"
    "[q] Sair\n";

// What the console keeps for the whole run.
struct EstadoConsole {
    std::string codigoAtivacao;  // at most 32 characters
    std::string arquivoVenda;
    DadosVenda venda;
    std::string retorno;
    char escolha = '1';
};

// Converts a text through a string stream: for int, a text that does not
// begin with a number gives 0 and an out-of-range one the nearest limit.
template <typename T>
T FromString(const std::string& texto) {
    std::istringstream entrada(texto);
    T valor{};
    entrada >> valor;
    return valor;
}

DriverSat* driver() {
    return AcessoDriver::obtemReferencia()->driverSat();
}

int proxSessao() {
    return AcessoDriver::obtemReferencia()->obtemProxSessao();
}

std::string texto(const char* resultado) {
    return resultado != nullptr ? resultado : "";
}

// The console's files are in the working directory of the moment they are
// used. Empty when it cannot be told, so that the file cannot be opened.
std::string caminhoDeTrabalho(const char* nome) {
    char* diretorio = get_current_dir_name();
    if (diretorio == nullptr) {
        return {};
    }
    std::string caminho = std::string(diretorio) + nome;
    std::free(diretorio);
    return caminho;
}

bool leArquivo(const std::string& caminho, std::string& conteudo) {
    std::ifstream arquivo(caminho, std::ios::binary);
    if (!arquivo) {
        return false;
    }
    std::ostringstream texto;
    texto << arquivo.rdbuf();
    conteudo = texto.str();
    return true;
}

bool lePalavra(std::string& palavra) {
    return static_cast<bool>(std::cin >> palavra);
}

void pergunta(const char* texto, std::string& resposta) {
    std::fputs(texto, stdout);
    std::fflush(stdout);
    lePalavra(resposta);
}

// A library without getVersion gives no text: the banner then shows none.
void banners(const char* prefixoVersao) {
    const char* versaoDriver = driver()->funcGetVersion();
    std::fprintf(stderr, "\n|----------------- RUV Varo Console %s%s----------------------|\n\n",
                 prefixoVersao, versionRuv);
    std::fprintf(stderr, "\n|----------------- Driver Sat Varo v%s-------------------|\n\n",
                 versaoDriver != nullptr ? versaoDriver : "");
}

void menu() {
    banners("v");
    std::fputs(MENU, stderr);
}

// The code is saved before it is checked, so a refused code stays in the file
// and the next start shows this screen again (a stored line over 32
// characters is not taken as a code).
std::string telaCodAtivacao() {
    banners("");
    std::string codigoAtivacao;
    pergunta("Entre com o codigo de ativacao: ", codigoAtivacao);
    std::ofstream arquivo(caminhoDeTrabalho(ARQUIVO_CODIGO), std::ios::binary | std::ios::trunc);
    if (arquivo) {
        arquivo << codigoAtivacao;
    } else {
        std::fputs("Nao pode salva codigo de ativacao.\n", stdout);
    }
    arquivo.close();
    if (codigoAtivacao.size() > CODIGO_MAXIMO) {
        std::fputs("Codigo maior que 32 caracteres\n", stdout);
        std::exit(SAIDA_ERRO);
    }
    return codigoAtivacao;
}

bool leCodigoGuardado(std::string& codigoAtivacao) {
    std::ifstream arquivo(caminhoDeTrabalho(ARQUIVO_CODIGO), std::ios::binary);
    std::string linha;
    if (!arquivo || !std::getline(arquivo, linha) || linha.size() > CODIGO_MAXIMO) {
        return false;
    }
    codigoAtivacao = linha;
    return true;
}

// Commands whose only argument after the session is the activation code.
using ChamadaComCodigo = const char* (DriverSat::*)(int, const char*);

std::string chamaComCodigo(const EstadoConsole& estado, const char* nota,
                           ChamadaComCodigo chamada) {
    std::fputs(nota, stderr);
    return texto((driver()->*chamada)(proxSessao(), estado.codigoAtivacao.c_str()));
}

void escolhaAtivar(EstadoConsole& estado) {
    std::string cnpj;
    std::string uf;
    pergunta("Entre com o cnpj do estabelecimento:", cnpj);
    pergunta("Entre com o a uf do estado:", uf);
    std::fputs("Ativar Sat\n", stderr);
    estado.retorno = texto(driver()->funcAtivarSAT(proxSessao(), SUBCOMANDO_ATIVACAO,
                                                   estado.codigoAtivacao.c_str(), cnpj.c_str(),
                                                   FromString<int>(uf)));
}

// Choices 1, 2 and 3 name the next one of the cycle, which runs when the
// input has ended.
void escolhaConsultar(EstadoConsole& estado) {
    std::fputs("Enviar Consultar Sat\n", stderr);
    estado.retorno = texto(driver()->funcConsultarSAT(proxSessao()));
    estado.escolha = '2';
}

void escolhaStatusOperacional(EstadoConsole& estado) {
    estado.retorno = chamaComCodigo(estado, "Enviar Consutar Status Operacional\n",
                                    &DriverSat::funcConsultarStatusOperacional);
    estado.escolha = '3';
}

void escolhaExtrairLogs(EstadoConsole& estado) {
    estado.retorno = chamaComCodigo(estado, "Enviar Extrair Logs\n", &DriverSat::funcExtrairLogs);
    estado.escolha = '1';
}

void escolhaBloquear(EstadoConsole& estado) {
    estado.retorno = chamaComCodigo(estado, "Enviar Bloqueio Sat\n", &DriverSat::funcBloquearSAT);
}

void escolhaDesbloquear(EstadoConsole& estado) {
    estado.retorno =
        chamaComCodigo(estado, "Enviar Desbloqueio Sat\n", &DriverSat::funcDesbloquearSAT);
}

void escolhaVenda(EstadoConsole& estado) {
    std::string documento;
    if (!leArquivo(estado.arquivoVenda, documento)) {
        std::fputs(ERRO_ARQUIVO, stderr);
        return;
    }
    estado.venda.extraiDoDocumento(documento);
    estado.retorno = texto(driver()->funcEnviarDadosVenda(
        proxSessao(), estado.codigoAtivacao.c_str(), documento.c_str()));
    estado.venda.extraiChave(estado.retorno);
}

void escolhaCancelamento(EstadoConsole& estado) {
    const std::string documento = estado.venda.documentoCancelamento();
    const int sessao = proxSessao();
    std::fprintf(stderr, "Enviar Ultimo Cancelamento sessao %d\n %s\n", sessao, documento.c_str());
    estado.retorno = texto(driver()->funcCancelarUltimaVenda(
        sessao, estado.codigoAtivacao.c_str(), estado.venda.chaveVenda.c_str(), documento.c_str()));
}

void escolhaTesteFimAFim(EstadoConsole& estado) {
    std::string documento;
    if (!leArquivo(caminhoDeTrabalho(ARQUIVO_FIM_A_FIM), documento)) {
        std::fputs(ERRO_ARQUIVO, stderr);
        return;
    }
    estado.venda.adaptaTesteFimAFim(documento);
    const int sessao = proxSessao();
    std::fprintf(stderr, "Enviar Teste Fim a Fim %d\n %s\n", sessao, documento.c_str());
    estado.retorno =
        texto(driver()->funcTesteFimAFim(sessao, estado.codigoAtivacao.c_str(), documento.c_str()));
}

void escolhaSair(EstadoConsole&) {
    std::puts("Saindo...");
}

struct Opcao {
    char escolha;
    void (*executa)(EstadoConsole&);
};

constexpr Opcao OPCOES[] = {
    {'0', escolhaAtivar},      {'1', escolhaConsultar},    {'2', escolhaStatusOperacional},
    {'3', escolhaExtrairLogs}, {'4', escolhaBloquear},     {'5', escolhaDesbloquear},
    {'6', escolhaVenda},       {'7', escolhaCancelamento}, {'8', escolhaTesteFimAFim},
    {'q', escolhaSair},
};

void executaEscolha(EstadoConsole& estado) {
    for (const Opcao& opcao : OPCOES) {
        if (opcao.escolha == estado.escolha) {
            opcao.executa(estado);
            return;
        }
    }
    std::fputs("Parametro invalido!", stderr);
}

// At the end of input the previous choice stays: the last choice runs again.
void leEscolha(char& escolha) {
    std::string palavra;
    if (lePalavra(palavra)) {
        escolha = palavra[0];
    }
}

void mostraRetorno(std::string& retorno) {
    if (!retorno.empty()) {
        std::fprintf(stderr, "retorno: %s\n\n\n", retorno.c_str());
    } else {
        retorno = SEM_RESPOSTA;
        std::printf(">>>> %s >>>>>.\n\n\n", retorno.c_str());
    }
    std::fflush(stdout);
}

void gravaRetorno(const std::string& retorno) {
    std::ofstream arquivo(caminhoDeTrabalho(ARQUIVO_RETORNOS), std::ios::binary | std::ios::app);
    if (arquivo) {
        arquivo << "\n\n" << retorno;
    }
}

void executaTurno(EstadoConsole& estado) {
    estado.retorno.clear();
    menu();
    leEscolha(estado.escolha);
    executaEscolha(estado);
    mostraRetorno(estado.retorno);
    gravaRetorno(estado.retorno);
    usleep(PAUSA_TURNO_US);
}

// No argument, or -f and the sale document; three or more are ignored.
// Gives the exit status when the command line ends the run.
std::optional<int> trataLinhaDeComando(int argc, char* argv[], std::string& arquivoVenda) {
    if (argc == 2) {
        std::puts("Falta um parametro.");
        return SAIDA_ERRO;
    }
    if (argc != 3) {
        return std::nullopt;
    }
    if (std::strcmp(argv[1], "-f") != 0) {
        std::puts("Adcionar o parametro '-f', antes do nome caminho do arquivo.");
        return SAIDA_ERRO;
    }
    arquivoVenda = argv[2];
    std::printf("Arquivo adicionado %s\n", argv[2]);
    return std::nullopt;
}

}  // namespace

int main(int argc, char* argv[]) {
    EstadoConsole estado;
    if (const auto saida = trataLinhaDeComando(argc, argv, estado.arquivoVenda)) {
        return *saida;
    }
    if (!leCodigoGuardado(estado.codigoAtivacao)) {
        estado.codigoAtivacao = telaCodAtivacao();
    }
    do {
        executaTurno(estado);
    } while (estado.escolha != 'q');
    return 0;
}
