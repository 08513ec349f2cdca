// satvaro-hub's HTTP service: POST <base_path>/<function> with the tills'
// form fields in, the library's reply out as JSON
// {"funcao": ..., "retorno": ..., "codigo_erro": ...}. The client's address
// decides who may call what; each request is checked in full, and refused
// with a JSON {"erro": ...}, before anything reaches the device.
#ifndef SATVARO_HUB_HUB_H
#define SATVARO_HUB_HUB_H

#include <httplib.h>

#include <string>

#include "hub/DeviceQueue.h"
#include "hub/HubConfig.h"

namespace hub {

class ActivationCode;
class FormBody;
class SessionNumbers;
struct SatFunction;

class Hub {
public:
    Hub(const HubConfig& config, SessionNumbers& sessions, ActivationCode& code);

    // Takes the configured address and port; false with `error` set when it
    // cannot.
    bool bind(std::string& error);
    // The port it listens on (the one it was given when configured with 0).
    int port() const { return m_port; }

    // Serves until stop(); the calls under way end first.
    void serve();
    void stop();

private:
    // httplib's server, with room for the connections of every till at once,
    // and a stop that also holds when it comes before the serving starts.
    class Server : public httplib::Server {
    public:
        void widenBacklog();
        void closeListener();
    };

    bool screen(const httplib::Request& request, httplib::Response& response) const;
    void answer(const httplib::Request& request, httplib::Response& response,
                const httplib::ContentReader& content);
    void call(const httplib::Request& request, httplib::Response& response,
              const SatFunction& function, const FormBody& form);
    const SatFunction* functionOf(const std::string& path) const;
    void refuse(const httplib::Request& request, httplib::Response& response, int status,
                const std::string& reason, bool bodyUnread = false) const;

    const HubConfig& m_config;
    SessionNumbers& m_sessions;
    ActivationCode& m_code;
    DeviceQueue m_device;
    Server m_server;
    int m_port = -1;
};

}  // namespace hub

#endif
