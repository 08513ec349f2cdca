/*
 * consultar: asks a SAT device whether it works and for its operational
 * status, through libsatvaro.
 *
 *   make                       (builds with pkg-config; see Makefile)
 *   ./consultar [CODE]         (CODE: the device's activation code)
 *   satvaro-harness -- ./consultar    (on the simulated device, code 12345678)
 *
 * Exits with 0 when the device answered both requests with success, 1
 * otherwise.
 */
#include <satvaro.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

/* The result code of a SAT reply is its second field ("000001|08000|...").
 * Copies field `index` of `reply` into `out`. */
static void field(const char* reply, int index, char* out, size_t size) {
    const char* start = reply;
    for (int i = 0; i < index && start != NULL; i++) {
        start = strchr(start, '|');
        if (start != NULL)
            start++;
    }
    size_t length = 0;
    if (start != NULL)
        length = strcspn(start, "|");
    if (length >= size)
        length = size - 1;
    memcpy(out, start != NULL ? start : "", length);
    out[length] = '\0';
}

/* Every command function returns the library's reply buffer, which the next
 * command call overwrites: keep a copy of a reply you still need. */
static char* ask(const char* what, char* reply, const char* expected) {
    char* copy = strdup(reply);
    char code[16];
    if (copy == NULL) {
        perror("strdup");
        exit(1);
    }
    if (CodigoErro() != 0) {
        fprintf(stderr, "%s: no reply from the device (CodigoErro %d)\n", what, CodigoErro());
        free(copy);
        return NULL;
    }
    field(copy, 1, code, sizeof code);
    printf("%s: %s\n", what, copy);
    if (strcmp(code, expected) != 0) {
        fprintf(stderr, "%s: the device answered %s, not %s\n", what, code, expected);
        free(copy);
        return NULL;
    }
    return copy;
}

int main(int argc, char** argv) {
    const char* activationCode = argc > 1 ? argv[1] : "12345678";
    /* The device remembers recent session numbers: take a fresh one per run. */
    int session = (int)(time(NULL) % 900000) + 1;

    printf("driver %s\n", getVersion());

    char* state = ask("ConsultarSAT", ConsultarSAT(session++), "08000");
    if (state == NULL)
        return 1;
    char* status = ask("ConsultarStatusOperacional",
                       ConsultarStatusOperacional(session++, activationCode), "10000");
    if (status == NULL) {
        free(state);
        return 1;
    }

    char message[256];
    char serial[64];
    field(state, 2, message, sizeof message);
    field(status, 5, serial, sizeof serial);
    printf("device %s: %s\n", serial, message);
    free(state);
    free(status);
    return 0;
}
