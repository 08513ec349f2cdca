#include "hub/ActivationCode.h"

#include "StateFile.h"

namespace hub {

ActivationCode::ActivationCode(std::string configured, std::string stateFile)
    : m_configured(std::move(configured)),
      m_stateFile(std::move(stateFile)),
      m_current(m_configured) {
    // "<changed code>\n<configured code it replaced>\n"
    std::string kept;
    if (!readStateFile(m_stateFile, kept)) {
        return;
    }
    const std::string::size_type end = kept.find('\n');
    if (end != std::string::npos &&
        kept.compare(end + 1, std::string::npos, m_configured + "\n") == 0) {
        m_current = kept.substr(0, end);
    }
}

std::string ActivationCode::current() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_current;
}

bool ActivationCode::replace(const std::string& code) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = code;
    return replaceStateFile(m_stateFile, code + "\n" + m_configured + "\n");
}

}  // namespace hub
