// The homologation simulator of the state authority's NF-e web services.
//
// An HTTPS server on 127.0.0.1 (port chosen by the system unless given) that demands a client
// certificate issued by the test CA: a client without a certificate, or with one from another
// CA, is refused during the TLS handshake. Requests are SOAP 1.2, routed by path, validated
// against the official schema package; answers carry the standard's cStat and xMotivo.
//
// Services so far (paths: Services.h), each for layouts 4.00 and 3.10:
//   NFeStatusServico4 / NfeStatusServico2, the service status;
//   NFeAutorizacao4 / NfeAutorizacao, the batch of notes (enviNFe, plain or compressed), with
//     the answer at once (indSinc 1) or a receipt (indSinc 0); AuthorizationService.h;
//   NFeRetAutorizacao4 / NfeRetAutorizacao, the receipt query;
//   NFeConsultaProtocolo4 / NfeConsulta2, the note query;
//   NFeRecepcaoEvento4 / RecepcaoEvento, cancellation and cancellation by substitution, and
//     RecepcaoEPEC, the EPEC event; EventService.h;
//   NFeInutilizacao4 / NfeInutilizacao2, the voiding of ranges; VoidingService.h.
// The notes, their protocols, the batches, the EPEC events and the voided ranges live in the base
// of notes, kept in "<workFolder>/notas/" (NoteStore.h; memory only without a work folder).
//
// HTTP answers: 200 with the state's document for every business outcome (rejections included,
// as the real services do); 400 with an env:Sender Fault for a message that is not XML or has no
// Body; 500 with env:VersionMismatch for a root other than the SOAP 1.2 Envelope and with
// env:Receiver for a failure of the simulator itself; 415 for a media type other than
// application/soap+xml; 404 for an unknown path.
//
// Thread-safety: Start/Stop from one thread; the server answers on its own threads; the base of
// notes may be used from any thread.
#pragma once

#include <memory>
#include <string>

namespace qor::sim {

class NoteStore;

// The official schema package requests are validated with unless told otherwise: the copy the
// build puts in the data's "Esquemas/vm60", else the package $QORNFCE_ESQUEMAS names (an
// installed tree carries no copy of it).
std::string DefaultSchemasFolder();

struct SimulatorOptions {
  std::string workFolder;     // where the simulator keeps what it needs (created when missing)
  int port = 0;               // 0: a free port chosen by the system
  std::string schemasFolder;  // the official XSD package (layout 4.00 and 3.10 files)
  std::string caCert;         // PEM of the CA whose client certificates are accepted
  std::string serverCert;     // PEM certificate and key the server presents
  std::string serverKey;
  // How long a batch sent for a receipt (indSinc 0) answers 105 "Lote em processamento" to the
  // receipt query; 0 answers it processed at once.
  int tempoProcessamentoLoteMs = 0;
  // A cancellation received this many minutes or more after the note's authorisation is
  // registered with 155 "Cancelamento homologado fora de prazo" instead of 135.
  int prazoCancelamentoMin = 30;
  // Answer as the services that return their document escaped, as the text of the result
  // element ("&lt;retConsReciNFe ...&gt;"), instead of as its child element.
  bool resultadoEscapado = false;
  // A file another process writes to take the service down and bring it back while the
  // simulator runs (SetOutage for a process that does not hold the object). Read every 100 ms;
  // a change of its content applies it: "recusar", "503", "108", "sem-resposta MS" (MS: how long
  // the answer is held, default 5000), and "normal", empty or no file for the service in
  // operation. An unknown word is ignored. Empty: "<workFolder>/fora-do-ar" (none without a work
  // folder).
  std::string controlFile;
};

// The ways the service can be down (SetOutage).
enum class SimulatorOutage {
  None,               // in operation
  RefuseConnections,  // the port stops listening: a client's connection is refused
  Http503,            // HTTP 503 with a SOAP Fault body, the request not read
  Status108,          // the service's document with cStat 108 "Serviço Paralisado
                      // Momentaneamente (curto prazo)", nothing processed
  AnswerAfterTimeout  // the request is processed and recorded as usual, but the answer is held
                      // for the delay given (a client with a shorter time-out gives up first)
};

// Fault modes for the tests; Normal answers as the real service does.
enum class SimulatorFault {
  Normal,
  Delay,            // answer after FaultDelayMs milliseconds
  DelayFirstReply,  // the next request is processed at once but answered after FaultDelayMs;
                    // the requests after it are answered at once
  Http500,          // HTTP 500 with a SOAP Fault body
  NoSoapBody,       // HTTP 200 whose body is XML without a SOAP Body element
  FixedBody,        // HTTP 200 with the body given to SetFaultBody, whatever was asked
  OtherBatch        // a reply meant for another request: a batch or a receipt query is
                    // processed and recorded as usual, but answered with the reply the same
                    // service gave to the request before it (a receipt or protocols of
                    // another batch or note); each request's own reply is kept for the next.
                    // Without an earlier reply of that service (replies that carry a receipt
                    // or protocols, on the same path), HTTP 500. Other services as usual.
};

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options);
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  ~Simulator();  // stops the server

  // Starts listening and returns once the port accepts connections. Throws std::runtime_error
  // when the port cannot be bound or the certificates cannot be loaded.
  void Start();
  void Stop();

  int Port() const;
  std::string BaseUrl() const;  // "https://127.0.0.1:<port>"

  // Writes production and homologation server-address files with a section for every UF (and
  // AN) holding every service key the component looks up, for layouts 4.00 and 3.10, pointing
  // at this simulator; and a "URLCONSULTACHAVE" section.
  void WriteServerFiles(const std::string& productionFile,
                        const std::string& homologationFile) const;

  void SetFault(SimulatorFault fault, int delayMs = 0);

  // Takes the service down in `mode`, or brings it back (None), from the next connection or
  // request on; `delayMs` is the hold of AnswerAfterTimeout. RefuseConnections closes the
  // listening port and the connections kept alive; bringing the service back opens the same
  // port again. The work folder's control file does the same from another process.
  // Throws std::runtime_error when the port cannot be opened again.
  void SetOutage(SimulatorOutage mode, int delayMs = 0);
  SimulatorOutage Outage() const;
  // The body and Content-Type of the FixedBody fault.
  void SetFaultBody(const std::string& body, const std::string& contentType);

  // Replaces SimulatorOptions::tempoProcessamentoLoteMs. It counts from each batch's arrival
  // and is read when a receipt query comes: setting 0 makes every batch received so far
  // processed.
  void SetTempoProcessamentoLote(int ms);

  // A note whose recipient has this CPF (11 digits) is denied, 302 "Uso Denegado: Irregularidade
  // fiscal do destinatário", and recorded as denied; empty (the default) denies nothing.
  void SetDenegarCpfDestinatario(const std::string& cpf);

  // Replaces SimulatorOptions::prazoCancelamentoMin; 0 answers every cancellation with 155.
  void SetPrazoCancelamento(int minutos);

  // The environment ("1" or "2") events and voidings are received in: one of the other is
  // rejected with 252 "Ambiente informado diverge do Ambiente de recebimento". Empty (the
  // default) receives both, as every other service does.
  void SetAmbienteRecepcao(const std::string& tpAmb);

  // Replaces SimulatorOptions::resultadoEscapado for the answers that follow.
  void SetResultadoEscapado(bool escapado);

  // Number of requests answered so far (any service, any outcome).
  int RequestCount() const;
  // Number of TLS handshakes completed so far, full or resumed: one per connection, so
  // requests that reuse a connection add none.
  int HandshakeCount() const;

  // The base of notes the services answer from, for seeding and inspection. It lives as long as
  // the simulator. Start reloads it from the work folder; every recording is on disk before it
  // returns, so seeding before or after Start comes to the same. Events the base builds itself
  // (RegistrarCancelamentoSemEvento) are signed with the server's certificate.
  NoteStore& Notas();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qor::sim
