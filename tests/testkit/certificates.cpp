#include "testkit/certificates.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace testkit {

namespace {

struct Free {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  void operator()(X509* cert) const { X509_free(cert); }
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;

void Require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificates: ") + what + " failed");
}

Key NewKey() {
  // An elliptic-curve key is made in a moment, unlike an RSA one.
  Key key(EVP_EC_gen("P-256"));
  Require(key != nullptr, "making a key");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, Free> extension(
      X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  Require(extension && X509_add_ext(cert, extension.get(), -1) == 1, "adding an extension");
}

// A certificate for subjectKey named commonName; self-signed when issuer is null.
Cert NewCertificate(const std::string& commonName, EVP_PKEY* subjectKey, long serial, X509* issuer,
                    EVP_PKEY* issuerKey) {
  Cert cert(X509_new());
  Require(cert != nullptr, "making a certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -60);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 24 * 60 * 60);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
  Require(X509_set_pubkey(cert.get(), subjectKey) == 1, "setting the public key");
  X509* signer = issuer ? issuer : cert.get();
  if (issuer == nullptr) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  Require(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "signing");
  return cert;
}

std::unique_ptr<std::FILE, Free> OpenForWriting(const std::string& path) {
  std::unique_ptr<std::FILE, Free> file(std::fopen(path.c_str(), "w"));
  Require(file != nullptr, ("opening " + path).c_str());
  return file;
}

void WriteCertificate(const std::string& path, X509* cert) {
  Require(PEM_write_X509(OpenForWriting(path).get(), cert) == 1, "writing a certificate");
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  Require(PEM_write_PrivateKey(OpenForWriting(path).get(), key, nullptr, nullptr, 0, nullptr,
                               nullptr) == 1,
          "writing a key");
}

}  // namespace

TestCertificates MakeTestCertificates(const std::filesystem::path& folder,
                                      const std::string& authorityName) {
  const Key authorityKey = NewKey();
  const Cert authority =
      NewCertificate(authorityName, authorityKey.get(), 1, nullptr, authorityKey.get());
  const Key serverKey = NewKey();
  const Cert server =
      NewCertificate("127.0.0.1", serverKey.get(), 2, authority.get(), authorityKey.get());

  TestCertificates files{(folder / "ca.pem").string(), (folder / "server.pem").string(),
                         (folder / "server-key.pem").string()};
  WriteCertificate(files.caFile, authority.get());
  WriteCertificate(files.certFile, server.get());
  WriteKey(files.keyFile, serverKey.get());
  return files;
}

}  // namespace testkit
