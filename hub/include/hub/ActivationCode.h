// The device's activation code, which the hub holds for the tills (they never
// send it). It starts as the configured code. A change the device accepted is
// kept in a state file together with the configured code it replaced, and
// wins at the next start as long as the configuration still holds that code:
// a code edited into the configuration afterwards wins over it.
#ifndef SATVARO_HUB_ACTIVATIONCODE_H
#define SATVARO_HUB_ACTIVATIONCODE_H

#include <mutex>
#include <string>

namespace hub {

class ActivationCode {
public:
    ActivationCode(std::string configured, std::string stateFile);

    std::string current() const;

    // Uses `code` from now on and keeps it in the state file; false when it
    // could not be kept (it is still used until the hub stops).
    bool replace(const std::string& code);

private:
    const std::string m_configured;
    const std::string m_stateFile;
    mutable std::mutex m_mutex;
    std::string m_current;
};

}  // namespace hub

#endif
