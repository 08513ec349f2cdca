// Signs what the device issues with its key: the QR-code data of a CF-e and
// the CF-e itself (an enveloped XML signature, RSA-SHA256, whose KeyInfo
// carries the device's certificate, so that a reader can verify it).
#ifndef SATVARO_SIM_CFESIGNER_H
#define SATVARO_SIM_CFESIGNER_H

#include <memory>
#include <string>

#include "sim/XmlNode.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace satsim {

class CfeSigner {
public:
    // The simulator's test key and certificate (sim/test-key.pem and
    // sim/test-certificate.pem, built into the program).
    static const CfeSigner& simulator();

    CfeSigner(const std::string& keyPem, const std::string& certificatePem);

    // Base64 of the RSA-SHA256 signature of `data`; "" if signing failed.
    std::string signBase64(const std::string& data) const;

    // The Signature element over `signed`, referenced as "#" + its Id.
    XmlNode signatureOf(const XmlNode& signedElement) const;

private:
    struct KeyFree {
        void operator()(EVP_PKEY* key) const;
    };

    std::unique_ptr<EVP_PKEY, KeyFree> m_key;
    std::string m_certificateBase64;  // DER
};

}  // namespace satsim

#endif
