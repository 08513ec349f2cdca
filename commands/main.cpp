// The library's exported C interface. Only the names listed in satvaro.map
// are visible to the dynamic loader.
#include "satvaro.h"

#include "common/DriverVersion.h"

extern "C" {

SATVARO_API char* getVersion(void) {
    return const_cast<char*>(satvaro::DRIVER_VERSION);
}

}
