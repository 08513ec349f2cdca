#include "transaction/DoTransaction.h"

#include <algorithm>
#include <cstdio>

#include "common/DriverVersion.h"
#include "log/logdebug.h"

namespace {

const char* const LEVEL_INFO = "info";
const int REQUEST_SOURCE_ID = 3;
const char FIELD_SEPARATOR = '|';

// Field `index` of a split reply for the rx line; the device may send fewer.
const char* replyField(const std::vector<std::string>& fields, std::size_t index) {
    return index < fields.size() ? fields[index].c_str() : " ";
}

void logRequest(const char* command, const std::string& body) {
    const std::vector<std::string> fields = split(body, FIELD_SEPARATOR);
    char line[100];
    std::snprintf(line, sizeof line, "txCode: %s txSessao:%s txBufferSize:%d", command,
                  fields.empty() ? "" : fields[0].c_str(), static_cast<int>(body.size()));
    LogDebug::obtemReferencia()->saveLog(LEVEL_INFO, line);
}

// Logged also when nothing arrived: the reply then shows what the caller's
// message held (a fresh one: code "0", blank fields, size 0).
void logReply(const zeph::Message& reply, int status) {
    const std::vector<std::string> fields = split(reply.body(), FIELD_SEPARATOR);
    char line[512];
    std::snprintf(line, sizeof line,
                  "rxCode: %s rxSessao: %s rxEEEEE: %s rxCCCC: %s rxMessage: %s "
                  "rxBufferSize: %d status: %d",
                  reply.code().c_str(), replyField(fields, 0), replyField(fields, 1),
                  replyField(fields, 2), replyField(fields, 3), static_cast<int>(reply.bodySize()),
                  status);
    LogDebug::obtemReferencia()->saveLog(LEVEL_INFO, line);
}

}  // namespace

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    const std::size_t end = std::min(text.find('\0'), text.size());
    std::size_t start = 0;
    while (start < end) {
        const std::size_t stop = std::min(text.find(separator, start), end);
        fields.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return fields;
}

DoTransaction::DoTransaction() = default;

// The device takes its rest (serial::REST_AFTER_CLOSE_US) here: the channel,
// destroyed with the transaction, finds its line closed, pauses, and only
// then lets the next caller have the device.
DoTransaction::~DoTransaction() = default;

// One exchange as the device sees it, the time-out counting from the start of
// sending less any wait for the device:
//  1. wait until no other exchange holds the device, find it and open it;
//  2. send the request, within the time-out, then leave the device
//     serial::PAUSE_AFTER_SEND_US to turn round;
//  3. read until a reply is accepted, an error, or the time-out (restarted
//     for each stale or refused reply, a few times over);
//  4. flush and close the line;
//  5. the device's rest, when the transaction is destroyed (above).
int DoTransaction::run(int timeoutMs, const char* command, const std::string& body,
                       zeph::Message& reply) {
    logRequest(command, body);
    int status = SATVARO_STATUS_PARSE_ERROR;
    const int connected = m_serial.connect_client(timeoutMs);
    if (connected == 0) {
        // A failed send is not acted on here: it ends as the read error or
        // the time-out of the receive step.
        WriteMessageCommand(command, body);
        status = ReadMessageAnswer(command, reply, timeoutMs);
        m_serial.disconnect_client();
    } else if (connected == serial::CONNECT_BUSY) {
        status = SATVARO_STATUS_TIMEOUT;
    }
    logReply(reply, status);
    return status;
}

bool DoTransaction::WriteMessageCommand(const char* command, const std::string& body) {
    zeph::Message request;
    request.setSourceId(REQUEST_SOURCE_ID);
    request.setCode(command);
    request.addHeader("drs-version", satvaro::DRIVER_VERSION);
    request.setBody(body);
    request.compress();  // a body that fails to compress goes plain
    return m_serial.send_data(request) <= 0;
}

int DoTransaction::ReadMessageAnswer(const char* command, zeph::Message& reply, int timeoutMs) {
    return m_serial.receive_data(command, reply, timeoutMs);
}
