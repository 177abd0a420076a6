// The event reception services: NFeRecepcaoEvento4 / RecepcaoEvento (layouts 4.00 and 3.10, the
// latter with versaoDados "1.00" in its header), which register cancellations (110111) and
// cancellations by substitution (110112) of the notes in the base, and RecepcaoEPEC, which
// registers EPEC events (110140) of notes the state has not seen yet.
#pragma once

#include <chrono>

#include "AuthorizationService.h"
#include "NoteStore.h"
#include "Services.h"
#include "Soap.h"
#include "StatusService.h"

namespace qor::sim {

// envEvento -> retEnvEvento (versao "1.00").
//
// The batch first, answered without any retEvento when it fails: the 3.10 SOAP header
// (CheckCabecalho); the schema (215, or 404 for a namespace prefix): envEventoCancNFe_v1.00.xsd,
// or envEventoCancSubst_v1.00.xsd when the first event is a 110112 (a batch holds events of
// one type), eventoEPEC_v1.00.xsd on the EPEC route. Then 128 "Lote de Evento Processado"
// with one retEvento per event, in batch order, each the first failure of:
//   297  the signature of infEvento (VerifyEnveloped with the certificate in KeyInfo);
//   252  tpAmb is not settings.tpAmbRecepcao (when that is set);
//   572  the Id is not "ID" + tpEvento + chNFe + nSeqEvento in two digits;
//   236  the key's check digit;
// for a cancellation:
//   494  the key is not in the base in the event's environment;
//   573  the note's cancellation has this tpEvento and nSeqEvento already; 218 it has another;
//   205  the note's use was denied;
//   222  nProt is not the note's authorisation protocol;
//   494  (110112) chNFeRef is not an authorised, uncancelled note of the same emitter (CNPJ of
//        the key) in the same environment, other than the one cancelled;
//   135  registered (NoteStore::RegistrarCancelamento), or 155 once settings.prazoCancelamento
//        has passed since the note's dhRecbto;
// for an EPEC (the key is not looked up among the notes):
//   573  the key has an EPEC already;
//   136  registered (NoteStore::RegistrarEpec).
// Registered events carry nProt and xEvento; every retEvento carries dhRegEvento. tpAmb and
// cOrgao of the answer are the first event's (else "2" and the header's cUF, else 91). The
// answer validates against retEnvEventoCancNFe_v1.00.xsd, retEnvEventoCancSubst_v1.00.xsd or
// retEnvEvento_v1.00.xsd.
// REQUIRES: calls do not overlap with each other or with the authorisation service.
// Throws EqorGovException when a schema file is missing, std::runtime_error when the base cannot
// write.
ServiceAnswer AnswerEvent(const ServiceRoute& route, const SoapRequest& request,
                          const AuthorizationSettings& settings, NoteStore& notes,
                          std::chrono::system_clock::time_point now);

}  // namespace qor::sim
