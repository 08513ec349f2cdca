// One request/reply exchange with the device for a command name and body,
// logged on both sides; the result is the channel's exchange status.
#ifndef SATVARO_TRANSACTION_DOTRANSACTION_H
#define SATVARO_TRANSACTION_DOTRANSACTION_H

#include <string>
#include <vector>

#include "codec/Message.h"
#include "serial/SerialCommChannel.h"

// Fields of a "|"-separated text (up to its first NUL); an empty text gives
// none and a trailing separator adds no empty field.
std::vector<std::string> split(const std::string& text, char separator);

class DoTransaction {
public:
    DoTransaction();
    virtual ~DoTransaction();

    int run(int timeoutMs, const char* command, const std::string& body, zeph::Message& reply);
    bool WriteMessageCommand(const char* command, const std::string& body);  // true: send failed
    int ReadMessageAnswer(const char* command, zeph::Message& reply, int timeoutMs);

private:
    serial::SerialCommChannel m_serial;
};

#endif
