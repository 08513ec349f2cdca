#include "console/AcessoDriver.h"

#include "DriverSat.h"

namespace {
constexpr int ULTIMA_SESSAO = 999999;  // the session field holds six digits
}

AcessoDriver* AcessoDriver::m_acDriverSat = nullptr;

AcessoDriver::AcessoDriver() : m_driverSat(new DriverSat) {}

AcessoDriver* AcessoDriver::obtemReferencia() {
    if (m_acDriverSat == nullptr) {
        m_acDriverSat = new AcessoDriver;
    }
    return m_acDriverSat;
}

int AcessoDriver::obtemProxSessao() {
    m_numeroSessao = m_numeroSessao < ULTIMA_SESSAO ? m_numeroSessao + 1 : 1;
    return m_numeroSessao;
}
