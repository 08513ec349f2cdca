// The built driver library loaded with dlopen, as a host application loads
// it, with the exported functions of the list of SAT functions resolved by
// their plain names.
// It stays mapped until the process ends, as in a host that loads it once:
// its process-wide log writer is never destroyed, and unloading would only
// turn that into a leak. One test process, one library state.
// Header-only; link with ${CMAKE_DL_LIBS}.
#ifndef SATVARO_TESTS_SUPPORT_LOADEDDRIVER_H
#define SATVARO_TESTS_SUPPORT_LOADEDDRIVER_H

#include <dlfcn.h>

#include <stdexcept>
#include <string>

#include "commands/SatFunctionList.h"
#include "satvaro.h"

class LoadedDriver {
public:
    // Throws std::runtime_error when the library or one of the names is missing.
    explicit LoadedDriver(const std::string& path)
        : m_handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)) {
        if (m_handle == nullptr) {
            throw std::runtime_error(dlerror());
        }
#define SATVARO_RESOLVE(name, ...) name = reinterpret_cast<decltype(name)>(require(#name));
        SATVARO_OTHER_EXPORTS(SATVARO_RESOLVE)
        SATVARO_EXPORTED_COMMANDS(SATVARO_RESOLVE)
#undef SATVARO_RESOLVE
    }
    ~LoadedDriver() {
        dlclose(m_handle);
    }
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;

    // Any name, as a host that declares its own prototype looks it up; null
    // when the library does not export it.
    template <typename Function>
    Function lookUp(const char* name) const {
        return reinterpret_cast<Function>(dlsym(m_handle, name));
    }

#define SATVARO_DECLARE(name, ...) decltype(&::name) name = nullptr;
    SATVARO_OTHER_EXPORTS(SATVARO_DECLARE)
    SATVARO_EXPORTED_COMMANDS(SATVARO_DECLARE)
#undef SATVARO_DECLARE

private:
    void* require(const char* name) const {
        void* function = dlsym(m_handle, name);
        if (function == nullptr) {
            throw std::runtime_error(std::string("not exported: ") + name);
        }
        return function;
    }

    void* m_handle;
};

#endif
