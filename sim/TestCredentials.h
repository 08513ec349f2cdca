// The key and certificate the simulated device signs with: test material,
// committed as sim/test-key.pem and sim/test-certificate.pem and built into
// the program. Their taxpayer is a made-up one.
#ifndef SATVARO_SIM_TESTCREDENTIALS_H
#define SATVARO_SIM_TESTCREDENTIALS_H

namespace satsim {

extern const char* const TEST_KEY_PEM;
extern const char* const TEST_CERTIFICATE_PEM;

}  // namespace satsim

#endif
