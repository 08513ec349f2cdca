// Where a thread finds the reply body of its last command, as a C text.
#ifndef SATVARO_COMMANDS_REPLYBUFFER_H
#define SATVARO_COMMANDS_REPLYBUFFER_H

#include <memory>

#include "satvaro.h"

class ReplyBuffer {
public:
    // The SATVARO_REPLY_BUFFER_SIZE bytes, zero-filled when first taken; the same
    // address for the life of the buffer.
    char* data();
    // The text held, "" before the buffer was first taken.
    const char* text() const { return m_bytes ? m_bytes.get() : ""; }

private:
    std::unique_ptr<char[]> m_bytes;
};

// The calling thread's reply buffer: taken at its first command, given back
// when the thread ends. Every command returns its address.
extern thread_local ReplyBuffer g_resp;

#endif
