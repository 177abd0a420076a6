// Test certificates made at run time with the OpenSSL API, for the simulator, the demo and the
// tests. Nothing here is fetched from anywhere or meant for production.
//
// CreateTestPki writes into `folder` (created when missing):
//   ca.pem / ca-key.pem                  the test CA (RSA 2048, 10 years)
//   servidor.pem / servidor-key.pem      server certificate for 127.0.0.1 and localhost
//                                        (subjectAltName IP and DNS), signed by the test CA
//   empresa.pfx                          company certificate, subject CN "EMPRESA TESTE:<cnpj>",
//                                        signed by the test CA, PKCS#12 with `password`
//   empresa-cert.pem / empresa-key.pem   the same certificate and key in PEM (for xmlsec1 and
//                                        curl command lines in tests)
//   empresa-vencida.pfx                  the same subject, validity wholly in the past
//   outra-ac.pem                         another CA, unrelated to the test CA
//   empresa-outra-ac.pfx                 company certificate signed by the other CA
//   servidor-outra-ac.pem / -key.pem     server certificate for 127.0.0.1 signed by the other CA
// An existing complete set in `folder` made for the same CNPJ and password is reused.
#pragma once

#include <string>

namespace qor::sim {

struct TestPki {
  std::string folder;
  std::string caCert, caKey;
  std::string serverCert, serverKey;
  std::string companyPfx, companyCertPem, companyKeyPem;
  std::string expiredPfx;
  std::string otherCaCert;
  std::string otherCaCompanyPfx;
  std::string otherCaServerCert, otherCaServerKey;
  std::string cnpj;
  std::string password;
};

// Throws std::runtime_error with OpenSSL's reason when a file cannot be made.
TestPki CreateTestPki(const std::string& folder, const std::string& cnpj,
                      const std::string& password);

}  // namespace qor::sim
