// Enveloped XML signatures as the NF-e standard profiles them (C14N 1.0 without comments,
// RSA-SHA1, SHA-1 digest, one Reference by Id, the certificate in KeyInfo), written for the
// simulator on libxml2 and OpenSSL directly: the state side must not share code with the client
// library whose output it judges.
//
// Thread-safe: pure functions.
#pragma once

#include <string>

namespace qor::sim {

// Canonical form (C14N 1.0, comments dropped) of the first element whose local name is
// `localName`, with any ds:Signature inside it left out (the enveloped-signature transform).
// Throws std::invalid_argument when `xml` is not well-formed or holds no such element.
std::string CanonicalElement(const std::string& xml, const std::string& localName);

// Base64 of the SHA-1 of CanonicalElement: the DigestValue an enveloped signature of that
// element carries, and the digVal of an authorisation protocol.
std::string ElementDigest(const std::string& xml, const std::string& localName);

// Signs the first element named `localName` (it must carry an Id attribute) and appends the
// ds:Signature as the last child of that element's parent. `keyPem` and `certPem` are PEM file
// paths. Throws std::invalid_argument for an unusable document, std::runtime_error when the key
// or certificate cannot be read or used.
std::string SignEnveloped(const std::string& xml, const std::string& localName,
                          const std::string& keyPem, const std::string& certPem);

// Verifies the enveloped signature of the first element named `localName`, as the state's
// service checks a note or an event: the ds:Signature under the same parent references that
// element's Id with the profile's algorithms, its DigestValue is the element's digest, its
// SignatureValue verifies over the canonical SignedInfo with the key of the certificate in
// KeyInfo, and, when `caPem` names a PEM file, that certificate was issued by that CA.
// Returns an empty text when the signature holds, else the reason (in Portuguese).
std::string VerifyEnveloped(const std::string& xml, const std::string& localName,
                            const std::string& caPem = {});

// The CNPJ of the signer: the 14 digits after the last ':' of the common name of the
// certificate in the KeyInfo of the signature beside the first element named `localName`
// (ICP-Brasil writes the subject as "RAZAO SOCIAL:CNPJ"). Empty when there is no such
// certificate or its name carries no CNPJ; never throws for bad input.
std::string SignerCnpj(const std::string& xml, const std::string& localName);

}  // namespace qor::sim
