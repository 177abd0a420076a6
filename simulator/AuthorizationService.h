// The authorisation services: NFeAutorizacao4 / NfeAutorizacao (layouts 4.00 and 3.10), which
// receive a batch of signed notes (enviNFe, in nfeDadosMsg or gzip + Base64 in nfeDadosMsgZip),
// and NFeRetAutorizacao4 / NfeRetAutorizacao, which answer the receipt query (consReciNFe).
//
// Every batch is processed as it arrives, whether the client asked for the answer at once
// (indSinc 1) or for a receipt (indSinc 0): the notes are judged and recorded in the base of
// notes, and the batch is kept there under a new receipt number (NoteStore::Lote). Only the
// receipt query is held back: it answers 105 until the processing time has passed since the
// batch arrived, measured when the query comes, so a test that shortens the time sees the batch
// processed at once.
#pragma once

#include <chrono>
#include <string>

#include "NoteStore.h"
#include "Services.h"
#include "Soap.h"
#include "StatusService.h"

namespace qor::sim {

// What the services need besides the request (these and the event and voiding services). The
// simulator hands a copy to every request, so the settings tests change while it runs apply
// from the next request on.
struct AuthorizationSettings {
  std::string schemasFolder;  // the official XSD package (4.00 and 3.10 files)
  std::string caCert;         // PEM of the CA signers' certificates must chain to; empty: any
  std::chrono::milliseconds tempoProcessamento{0};  // a batch answers 105 this long
  std::string cpfDestinatarioIrregular;             // a note to this recipient CPF is denied (302)
  // Cancellations received this long after the note's authorisation are registered with 155.
  std::chrono::seconds prazoCancelamento{std::chrono::minutes(30)};
  // The only tpAmb events and voidings may carry (252 otherwise); empty: both.
  std::string tpAmbRecepcao;
};

// enviNFe -> retEnviNFe.
//
// The batch first, answered without receipt nor protocol when it fails: the 3.10 SOAP header
// (CheckCabecalho); the decoding of nfeDadosMsgZip (244); the schema enviNFe_v<layout>.xsd (225,
// or 404 for a namespace prefix); indSinc 1 with more than one note (452).
// Then each note, in the standard's order, up to its first failure:
//   297  the signature (VerifyEnveloped with the certificate in KeyInfo);
//   293  the signer's certificate does not chain to settings.caCert;
//   253  the check digit of the key in infNFe's Id;
//   502  the key differs from cUF, AAMM of dhEmi, CNPJ, mod, serie, nNF, tpEmis, cNF and cDV;
//   213  the emitter's CNPJ base (8 digits) differs from the signer certificate's;
//   204  the key is authorised already, 205 denied already (the base keeps one record per key,
//        whatever its environment);
//   539  the same CNPJ, mod, serie, nNF and tpEmis are in the base under another key;
//   206  the number (CNPJ, mod, serie, nNF) was voided in the note's environment;
//   302  the recipient's CPF is settings.cpfDestinatarioIrregular: the use is denied and the
//        denial recorded;
//   100  authorised: recorded with a new nProt and digVal = the note's DigestValue.
// indSinc 1 answers 104 "Lote processado" with the note's protNFe; indSinc 0 answers 103 with
// infRec (nRec, tMed in seconds). tpAmb and cUF of the answer are the first note's (else "2"
// and the header's cUF, else 43). The answer validates against retEnviNFe_v<layout>.xsd.
// REQUIRES: calls do not overlap (the duplicate checks and the recordings must not interleave).
// Throws EqorGovException when a schema file is missing, std::runtime_error when the base
// cannot write.
ServiceAnswer AnswerAuthorization(const ServiceRoute& route, const SoapRequest& request,
                                  const AuthorizationSettings& settings, NoteStore& notes,
                                  std::chrono::system_clock::time_point now);

// consReciNFe -> retConsReciNFe: the 3.10 header, then consReciNFe_v<layout>.xsd (215, 404);
// 106 for a receipt the base does not hold in the request's environment; 105 while the batch is
// in processing; 104 with one protNFe per note, in batch order. The answer validates against
// retConsReciNFe_v<layout>.xsd (an unreadable nRec is answered as 15 zeros).
ServiceAnswer AnswerReceiptQuery(const ServiceRoute& route, const SoapRequest& request,
                                 const AuthorizationSettings& settings, const NoteStore& notes,
                                 std::chrono::system_clock::time_point now);

}  // namespace qor::sim
