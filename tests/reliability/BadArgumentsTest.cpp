// Every command method of the command layer under hostile arguments, over a
// recording exchange (no device, no pacing): null, empty and "|"-laden texts,
// bytes outside ASCII, texts longer than every working buffer, and extreme
// integers in every integer parameter. A body that fits its buffer reaches
// the exchange exactly as its fields say; one that does not is refused (no
// exchange, status 4, empty reply). Run under ASan this also shows that no
// argument writes past a buffer.
#include "commands/UCManipulaDadosSat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ScopedWorkDir.h"

namespace {

using manipulaDados::ManipulaDadosSat;

struct Exchanged {
    std::string command;
    std::string body;
};

std::vector<Exchanged> g_exchanged;

// Bytes of every kind on the way back too.
const char REPLY[] = "000001|08000|Opera\xe7\xe3o \xc3\xa7 \xf0\x9f\x98\x80|\x01\x7f||";

int recordExchange(int, const char* command, const std::string& body, zeph::Message& reply) {
    g_exchanged.push_back({command, body});
    reply.setCode(command);
    reply.setBody(REPLY);
    return 0;
}

// How a field after the session is written: a number as "%d", "%02d" or
// "%06d", or a text as given (null as empty).
enum class Field { NUMBER, NUMBER_2, NUMBER_6, TEXT };

using Call = std::function<char*(ManipulaDadosSat&, int session, const std::vector<int>& numbers,
                                 const std::vector<const char*>& texts)>;

struct Command {
    const char* name;
    std::size_t bufferSize;
    std::vector<Field> fields;
    Call call;
};

const Field N = Field::NUMBER;
const Field N2 = Field::NUMBER_2;
const Field N6 = Field::NUMBER_6;
const Field T = Field::TEXT;

const std::vector<Command>& catalogue() {
    static const std::vector<Command> commands = {
        {"AtivarSAT",
         64,
         {N, T, T, N2},
         [](auto& s, int id, auto& n, auto& t) { return s.AtivarSAT(id, n[0], t[0], t[1], n[1]); }},
        {"ComunicarCertificadoICPBRASIL",
         2096,
         {T, T},
         [](auto& s, int id, auto&, auto& t) {
             return s.ComunicarCertificadoICPBRASIL(id, t[0], t[1]);
         }},
        {"EnviarDadosVenda",
         sizeof g_bufferVenda,
         {T, T},
         [](auto& s, int id, auto&, auto& t) { return s.EnviarDadosVenda(id, t[0], t[1]); }},
        {"CancelarUltimaVenda",
         sizeof g_bufferCancela,
         {T, T, T},
         [](auto& s, int id, auto&, auto& t) {
             return s.CancelarUltimaVenda(id, t[0], t[1], t[2]);
         }},
        {"ConsultarSAT", 16, {}, [](auto& s, int id, auto&, auto&) { return s.ConsultarSAT(id); }},
        {"TesteFimAFim",
         sizeof g_bufferFimAFim,
         {T, T},
         [](auto& s, int id, auto&, auto& t) { return s.TesteFimAFim(id, t[0], t[1]); }},
        {"ConsultarStatusOperacional",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.ConsultarStatusOperacional(id, t[0]); }},
        {"ConsultarUltimaSessaoFiscal",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.ConsultarUltimaSessaoFiscal(id, t[0]); }},
        {"ConsultarStatusOperacionalMFE",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.ConsultarStatusOperacionalMFE(id, t[0]); }},
        {"ConsultarNumeroSessao",
         48,
         {T, N6},
         [](auto& s, int id, auto& n, auto& t) { return s.ConsultarNumeroSessao(id, t[0], n[0]); }},
        {"ConfigurarInterfaceDeRede",
         1072,
         {T, T},
         [](auto& s, int id, auto&, auto& t) {
             return s.ConfigurarInterfaceDeRede(id, t[0], t[1]);
         }},
        {"ConfigurarInterfaceDeRedeMFE",
         1072,
         {T, T},
         [](auto& s, int id, auto&, auto& t) {
             return s.ConfigurarInterfaceDeRedeMFE(id, t[0], t[1]);
         }},
        {"AssociarAssinatura",
         2128,
         {T, T, T},
         [](auto& s, int id, auto&, auto& t) {
             return s.AssociarAssinatura(id, t[0], t[1], t[2]);
         }},
        {"AtualizarSoftwareSAT",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.AtualizarSoftwareSAT(id, t[0]); }},
        {"ExtrairLogs",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.ExtrairLogs(id, t[0]); }},
        {"BloquearSAT",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.BloquearSAT(id, t[0]); }},
        {"DesbloquearSAT",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.DesbloquearSAT(id, t[0]); }},
        {"TrocarCodigoDeAtivacao",
         112,
         {T, N, T, T},
         [](auto& s, int id, auto& n, auto& t) {
             return s.TrocarCodigoDeAtivacao(id, t[0], n[0], t[1], t[2]);
         }},
        {"ReiniciarMFE",
         48,
         {T},
         [](auto& s, int id, auto&, auto& t) { return s.ReiniciarMFE(id, t[0]); }},
        {"EnviarStatusAC",
         80,
         {T, T, T},
         [](auto& s, int id, auto&, auto& t) { return s.EnviarStatusAC(id, t[0], t[1], t[2]); }},
    };
    return commands;
}

std::string number(const char* format, int value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One call: the session, the numbers and the texts in the order of the
// command's fields.
struct Arguments {
    int session = 1;
    std::vector<int> numbers;
    std::vector<const char*> texts;
};

// The body the fields make: "%06d" session, then "|" and each field.
std::string expectedBody(const Command& command, const Arguments& args) {
    std::string body = number("%06d", args.session);
    std::size_t n = 0;
    std::size_t t = 0;
    for (const Field field : command.fields) {
        body += '|';
        switch (field) {
        case Field::NUMBER:
            body += number("%d", args.numbers[n++]);
            break;
        case Field::NUMBER_2:
            body += number("%02d", args.numbers[n++]);
            break;
        case Field::NUMBER_6:
            body += number("%06d", args.numbers[n++]);
            break;
        case Field::TEXT:
            body += args.texts[t] != nullptr ? args.texts[t] : "";
            ++t;
            break;
        }
    }
    return body;
}

Arguments ordinary(const Command& command) {
    Arguments args;
    for (const Field field : command.fields) {
        if (field == Field::TEXT) {
            args.texts.push_back("c");
        } else {
            args.numbers.push_back(1);
        }
    }
    return args;
}

class BadArguments : public ::testing::Test {
protected:
    void SetUp() override { g_exchanged.clear(); }

    // Runs one call and checks it against the body its fields make.
    void expectSentOrRefused(const Command& command, const Arguments& args,
                             const std::string& what) {
        SCOPED_TRACE(std::string(command.name) + ", " + what);
        const std::string body = expectedBody(command, args);
        g_exchanged.clear();
        char* const reply = command.call(sat, args.session, args.numbers, args.texts);
        ASSERT_EQ(reply, g_resp);
        ++m_cases;
        if (body.size() < command.bufferSize) {
            ASSERT_EQ(g_exchanged.size(), 1u);
            EXPECT_EQ(g_exchanged[0].command, command.name);
            EXPECT_EQ(g_exchanged[0].body, body);
            EXPECT_EQ(sat.CodigoErro(), 0);
            EXPECT_STREQ(reply, REPLY);
        } else {
            ++m_refused;
            EXPECT_TRUE(g_exchanged.empty());
            EXPECT_EQ(sat.CodigoErro(), manipulaDados::STATUS_BODY_TOO_LARGE);
            EXPECT_STREQ(reply, "");
        }
    }

    ScopedWorkDir workDir;  // refusals are logged
    ManipulaDadosSat sat{recordExchange};
    int m_cases = 0;
    int m_refused = 0;
};

TEST_F(BadArguments, EveryTextArgumentOfEveryCommand) {
    const std::string longerThanEveryBuffer(2 * 1024 * 1024, 'L');
    const std::string pastSmallBuffers(100, 's');
    const struct {
        const char* what;
        const char* text;
    } texts[] = {
        {"null", nullptr},
        {"empty", ""},
        {"bars", "|a||b|"},
        {"UTF-8", "CAFÉ “TORRADO” Operação \xf0\x9f\x98\x80"},
        {"Latin-1 and control bytes", "Pa\xe7oca \xc7\xe3o\t\r\n\x01\x1b\x7f\xff"},
        {"100 bytes", pastSmallBuffers.c_str()},
        {"2 MiB", longerThanEveryBuffer.c_str()},
    };
    for (const Command& command : catalogue()) {
        const Arguments base = ordinary(command);
        for (std::size_t slot = 0; slot < base.texts.size(); ++slot) {
            for (const auto& text : texts) {
                Arguments args = base;
                args.texts[slot] = text.text;
                expectSentOrRefused(command, args,
                                    std::string(text.what) + " in text " + std::to_string(slot));
            }
        }
    }
    std::printf("%d calls, %d refused\n", m_cases, m_refused);
}

TEST_F(BadArguments, ExtremeValueInEveryIntegerArgumentOfEveryCommand) {
    const int values[] = {INT_MIN, INT_MIN + 1, -1, 0, 65535, 65536, INT_MAX};
    for (const Command& command : catalogue()) {
        const Arguments base = ordinary(command);
        for (const int value : values) {
            Arguments session = base;
            session.session = value;
            expectSentOrRefused(command, session, "session " + std::to_string(value));
            for (std::size_t slot = 0; slot < base.numbers.size(); ++slot) {
                Arguments args = base;
                args.numbers[slot] = value;
                expectSentOrRefused(command, args,
                                    std::to_string(value) + " in number " + std::to_string(slot));
            }
        }
        // All of them at their widest together.
        Arguments widest = base;
        widest.session = INT_MIN;
        for (int& n : widest.numbers) {
            n = INT_MIN;
        }
        expectSentOrRefused(command, widest, "every number INT_MIN");
    }
    std::printf("%d calls, %d refused\n", m_cases, m_refused);
}

}  // namespace
