// AcessoDriver: the console's single access point to the driver. Owns the one
// DriverSat and hands out session numbers 1, 2, ... 999999, then 1 again; every
// run starts again at 1. Created on first use, never destroyed; one thread only.
#ifndef SATVARO_CONSOLE_ACESSODRIVER_H
#define SATVARO_CONSOLE_ACESSODRIVER_H

class DriverSat;

class AcessoDriver {
public:
    static AcessoDriver* obtemReferencia();

    // The next session number (1 to 999999).
    int obtemProxSessao();

    DriverSat* driverSat() const { return m_driverSat; }

    AcessoDriver(const AcessoDriver&) = delete;
    AcessoDriver& operator=(const AcessoDriver&) = delete;

private:
    AcessoDriver();

    static AcessoDriver* m_acDriverSat;

    int m_numeroSessao = 0;
    DriverSat* m_driverSat;
};

#endif
