/* Links the installed library and calls it without a device. */
#include <satvaro.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    const char* version = getVersion();
    printf("libsatvaro %s, CodigoErro %d\n", version, CodigoErro());
    return strcmp(version, "01.00.01.001") == 0 && CodigoErro() == 0 ? 0 : 1;
}
