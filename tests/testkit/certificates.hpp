// Certificates made at test time, so that an HTTPS test depends on no file
// or program outside the test.
#pragma once

#include <filesystem>
#include <string>

namespace testkit {

// PEM files in a folder: a certificate authority of its own, and a server
// certificate for 127.0.0.1 and localhost that it signed, with its key.
struct TestCertificates {
  std::string caFile;    // the authority's certificate
  std::string certFile;  // the server's certificate
  std::string keyFile;   // the server's private key
};

// Makes a fresh authority and server certificate in folder (valid for a day)
// under the given names; raises std::runtime_error when OpenSSL fails.
TestCertificates MakeTestCertificates(const std::filesystem::path& folder,
                                      const std::string& authorityName = "lumirex test CA");

}  // namespace testkit
