#include "ReplyWire.h"

#include <cstdio>
#include <cstdlib>
#include <zlib.h>

#include "codec/Message.h"

namespace satsim {

namespace {

// The device's source id in its replies (requests come from source 3).
const char* const DEVICE_SOURCE = "1";

const char* const DELTA_HEADERS[6] = {"DELTA_DRS",     "DELTA_DRS_CCO", "DELTA_CCO",
                                      "DELTA_CSE_COM", "DELTA_CSE",     "DELTA_SWB"};

// Just above what a reader may accept to uncompress (20 MiB - 1).
const unsigned long BOMB_SIZE = 21UL * 1024 * 1024;

const std::string HEADER_START = "smx\r\n";

// Noise never holds an "s", so it cannot start a message by accident.
std::string noise(int count) {
    static const char pattern[] = "#~%@!?*+=^";
    std::string bytes;
    for (int i = 0; i < count; ++i)
        bytes += pattern[i % (sizeof pattern - 1)];
    return bytes;
}

std::string bombBody() {
    static std::string compressed;
    if (compressed.empty()) {
        std::string zeros(BOMB_SIZE, '\0');
        uLongf length = compressBound(BOMB_SIZE);
        compressed.resize(length);
        if (compress2(reinterpret_cast<Bytef*>(&compressed[0]), &length,
                      reinterpret_cast<const Bytef*>(zeros.data()), BOMB_SIZE, 9) != Z_OK)
            length = 0;
        compressed.resize(length);
    }
    return compressed;
}

// Replaces the value of header line `name` in a serialised header block.
void setHeaderValue(std::string& head, const std::string& name, const std::string& value) {
    std::string key = "\r\n" + name + ":";
    size_t at = head.find(key);
    if (at == std::string::npos)
        return;
    at += key.size();
    head.replace(at, head.find("\r\n", at) - at, value);
}

std::string headerValue(const std::string& head, const std::string& name) {
    std::string key = "\r\n" + name + ":";
    size_t at = head.find(key);
    if (at == std::string::npos)
        return std::string();
    at += key.size();
    return head.substr(at, head.find("\r\n", at) - at);
}

void removeHeaderLine(std::string& head, const std::string& name) {
    size_t at = head.find("\r\n" + name + ":");
    if (at != std::string::npos)
        head.erase(at + 2, head.find("\r\n", at + 2) - at);
}

void padHeaderBlock(std::string& head, long size) {
    const std::string name = "x-padding:";
    long room = size - static_cast<long>(head.size() + name.size() + 2);
    if (room < 1) {
        std::fprintf(stderr,
                     "satvaro-sim: headerbytes %ld: the header block already takes %zu bytes\n",
                     size, head.size());
        return;
    }
    head.insert(HEADER_START.size(), name + std::string(static_cast<size_t>(room), 'p') + "\r\n");
}

void applyHeaderFaults(std::string& head, const Faults& faults) {
    if (faults.badCrc) {
        long word = std::strtol(headerValue(head, "edc-word").c_str(), nullptr, 10);
        setHeaderValue(head, "edc-word", std::to_string((word + 1) % 65536));
    }
    if (faults.syntax)
        removeHeaderLine(head, "version");
    if (faults.hasContentSize)
        setHeaderValue(head, "content-size", faults.contentSize);
    if (faults.crNoLf)
        head.insert(HEADER_START.size(), "x-broken:a\rb\r\n");
    if (faults.headerBytes > 0)
        padHeaderBlock(head, faults.headerBytes);
}

std::string simpleMessage(const std::string& code, const std::string& body, bool plain) {
    zeph::Message message(code, DEVICE_SOURCE);
    message.setBody(body);
    if (!plain)
        message.compress();
    return message.toString();
}

// A code that is not the command's: alternately one character longer and
// one shorter, so that neither a prefix match nor a match on the shorter
// length passes for the right code.
std::string wrongCode(const std::string& command, int index) {
    if (index % 2 == 0 || command.size() < 2)
        return command + "X";
    return command.substr(0, command.size() - 1);
}

std::string sessionOf(const std::string& body) {
    return body.substr(0, body.find('|'));
}

}  // namespace

std::string replyMessage(const std::string& command, const std::string& body,
                         const Faults& faults) {
    zeph::Message message(command, DEVICE_SOURCE);
    std::string text = faults.hasBody ? faults.body : body;
    if (faults.bodySize > static_cast<long>(text.size()))
        text.resize(static_cast<size_t>(faults.bodySize), ' ');
    message.setBody(text);
    if (faults.hasDelta)
        for (size_t i = 0; i < 6; ++i)
            message.addHeader(DELTA_HEADERS[i], faults.delta[i]);
    if (faults.bomb) {
        message.setBody(bombBody());
        message.addHeader("content-type", "z-compressed");
        message.addHeader("content-uncompressed-size", std::to_string(BOMB_SIZE));
    } else if (!faults.plain) {
        message.compress();
    }
    std::string head = message.headers();
    applyHeaderFaults(head, faults);
    return head + message.body();
}

bool planTransmission(const std::string& command, const std::string& body, const Faults& faults,
                      Transmission& plan) {
    if (faults.silence)
        return false;
    std::string session = sessionOf(body);
    plan = Transmission();
    auto addPart = [&](const std::string& part) {
        if (faults.apart && !plan.bytes.empty() && !part.empty())
            plan.breaks.push_back(plan.bytes.size());
        plan.bytes += part;
    };
    addPart(noise(faults.noise));
    if (!faults.staleCode.empty())
        addPart(simpleMessage(faults.staleCode,
                              session + "|00000|Resposta antiga de " + faults.staleCode + "||",
                              faults.plain));
    for (int i = 0; i < faults.wrongCodes; ++i)
        addPart(simpleMessage(
            wrongCode(command, i),
            session + "|00000|Resposta de outro comando " + std::to_string(i + 1) + "||",
            faults.plain));
    addPart(replyMessage(command, body, faults));
    plan.bytes += noise(faults.trailing);

    plan.delayMs = faults.delayMs;
    if (faults.dribbleMs >= 0) {
        plan.chunk = 1;
        plan.gapMs = faults.dribbleMs;
    } else if (faults.pieces > 1) {
        plan.chunk = (plan.bytes.size() + faults.pieces - 1) / faults.pieces;
        plan.gapMs = faults.piecesGapMs;
    }
    plan.hangupAfter = faults.unplugAfter;
    return true;
}

}  // namespace satsim
