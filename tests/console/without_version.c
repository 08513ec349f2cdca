/* A driver library that lacks getVersion and exports ConsultarSAT only: what
   the console shows for a driver older or smaller than this project's. */
#include <stdio.h>

__attribute__((visibility("default"))) char* ConsultarSAT(int numeroSessao) {
    static char reply[64];
    snprintf(reply, sizeof reply, "%06d|08000|SAT em operacao||", numeroSessao);
    return reply;
}
