#include "CfeSigner.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include "Base64Text.h"
#include "TestCredentials.h"

namespace satsim {

namespace {

const char* const DSIG_NAMESPACE = "http://www.w3.org/2000/09/xmldsig#";
const char* const C14N = "http://www.w3.org/TR/2001/REC-xml-c14n-20010315";

struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<BIO, BioFree> memoryBio(const std::string& text) {
    return std::unique_ptr<BIO, BioFree>(
        BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

std::string sha256Base64(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        return std::string();
    return base64(digest, length);
}

std::string certificateBase64(const std::string& pem) {
    auto bio = memoryBio(pem);
    std::unique_ptr<X509, X509Free> certificate(
        bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    unsigned char* der = nullptr;
    int length = certificate ? i2d_X509(certificate.get(), &der) : -1;
    if (length <= 0)
        return std::string();
    std::string encoded = base64(der, static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return encoded;
}

XmlNode withAlgorithm(const std::string& name, const std::string& algorithm) {
    XmlNode node(name);
    node.attributes.emplace_back("Algorithm", algorithm);
    return node;
}

}  // namespace

void CfeSigner::KeyFree::operator()(EVP_PKEY* key) const {
    EVP_PKEY_free(key);
}

const CfeSigner& CfeSigner::simulator() {
    static const CfeSigner signer(TEST_KEY_PEM, TEST_CERTIFICATE_PEM);
    return signer;
}

CfeSigner::CfeSigner(const std::string& keyPem, const std::string& certificatePem)
    : m_certificateBase64(certificateBase64(certificatePem)) {
    auto bio = memoryBio(keyPem);
    if (bio)
        m_key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

std::string CfeSigner::signBase64(const std::string& data) const {
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    std::size_t length = 0;
    if (!m_key || !context ||
        EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, m_key.get()) != 1 ||
        EVP_DigestSign(context.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        return std::string();
    std::string signature(length, '\0');
    if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&signature[0]), &length,
                       reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
        return std::string();
    signature.resize(length);
    return base64(signature);
}

// The element is written canonically and carries no namespace, so its
// canonical form, the digest's input, is the text the document holds.
// SignedInfo is signed in its canonical form, which carries the namespace
// it inherits from Signature.
XmlNode CfeSigner::signatureOf(const XmlNode& signedElement) const {
    XmlNode reference("Reference");
    reference.attributes.emplace_back("URI", "#" + signedElement.attribute("Id"));
    XmlNode& transforms = reference.add(XmlNode("Transforms"));
    transforms.add(withAlgorithm("Transform", std::string(DSIG_NAMESPACE) + "enveloped-signature"));
    transforms.add(withAlgorithm("Transform", C14N));
    reference.add(withAlgorithm("DigestMethod", "http://www.w3.org/2001/04/xmlenc#sha256"));
    reference.add("DigestValue", sha256Base64(signedElement.canonical()));

    XmlNode signedInfo("SignedInfo");
    signedInfo.add(withAlgorithm("CanonicalizationMethod", C14N));
    signedInfo.add(
        withAlgorithm("SignatureMethod", "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"));
    signedInfo.add(reference);
    XmlNode signedInfoInContext = signedInfo;
    signedInfoInContext.attributes.emplace_back("xmlns", DSIG_NAMESPACE);

    XmlNode signature("Signature");
    signature.attributes.emplace_back("xmlns", DSIG_NAMESPACE);
    signature.add(signedInfo);
    signature.add("SignatureValue", signBase64(signedInfoInContext.canonical()));
    signature.add(XmlNode("KeyInfo"))
        .add(XmlNode("X509Data"))
        .add("X509Certificate", m_certificateBase64);
    return signature;
}

}  // namespace satsim
