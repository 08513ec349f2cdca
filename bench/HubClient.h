// A till's call of satvaro-hub, through libcurl, as the benchmarks make it:
// a form POSTed on a connection of its own.
#ifndef SATVARO_BENCH_HUBCLIENT_H
#define SATVARO_BENCH_HUBCLIENT_H

#include <curl/curl.h>

#include <string>
#include <utility>
#include <vector>

struct HubReply {
    long status = 0;  // 0 when no answer came
    std::string body;
};

using FormFields = std::vector<std::pair<std::string, std::string>>;

// A request to http://127.0.0.1:<port>/<path>: a form POSTed when `form`
// is given, a GET without; from `source` when given (an address of this
// machine).
inline HubReply askHub(int port, const std::string& path, const std::string* form,
                       const char* source) {
    HubReply reply;
    CURL* const curl = curl_easy_init();
    if (curl == nullptr) {
        return reply;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/" + path;
    const auto collect = +[](char* bytes, size_t size, size_t count, void* body) {
        static_cast<std::string*>(body)->append(bytes, size * count);
        return size * count;
    };
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    if (form != nullptr) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form->c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form->size()));
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply.body);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);  // a paced till may wait for many calls
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (source != nullptr) {
        curl_easy_setopt(curl, CURLOPT_INTERFACE, (std::string("host!") + source).c_str());
    }
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.status);
    }
    curl_easy_cleanup(curl);
    return reply;
}

// POSTs `fields` to /hub/v1/<function>.
inline HubReply callHub(int port, const std::string& function, const FormFields& fields,
                        const char* source = nullptr) {
    std::string form;
    for (const auto& [name, value] : fields) {
        char* const encoded =
            curl_easy_escape(nullptr, value.data(), static_cast<int>(value.size()));
        form += (form.empty() ? "" : "&") + name + "=" + encoded;
        curl_free(encoded);
    }
    return askHub(port, "hub/v1/" + function, &form, source);
}

// GETs /<path>.
inline HubReply getFromHub(int port, const std::string& path) {
    return askHub(port, path, nullptr, nullptr);
}

#endif
