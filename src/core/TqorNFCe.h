// TqorNFCe: the component a point-of-sale host creates to issue NFC-e.
//
// The host configures it through its properties (or its INI file, LoadConfig) and calls its
// operations; each operation runs to completion on the calling thread and returns the state
// authority's reply as text, or throws an exception of the EqorException family (Exceptions.h).
// A transport failure reaches the caller as EqorGovException, unchanged.
//
// Every public operation first records a telemetry ping named after itself and, when an
// exception leaves it, records the failure and lets the same exception pass.
//
// Not thread-safe: one instance must be used from one thread at a time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/Types.h"
#include "config/TDanfceSettings.h"
#include "config/TqorCertStringNFCe.h"
#include "config/TqorEmailSettings.h"
#include "config/TqorImplantacao.h"
#include "config/TqorIntegrador.h"
#include "platform/TStrings.h"

namespace qor {

class TqorGovX;
class TqorNFCeConverter;
class TqorNFCeDataSets;
class TqorNFCeDanfce;
class TqorNFCeXmlDestinatario;
class TqorGovUtils;
class TIniFile;
class TFileSystem;
class XmlDocument;
struct TCamposQRCode;
struct ChaveConfig;

class TqorNFCe {
 public:
  TqorNFCe();
  TqorNFCe(const TqorNFCe&) = delete;
  TqorNFCe& operator=(const TqorNFCe&) = delete;
  virtual ~TqorNFCe();

  // ---- service operations --------------------------------------------------------------
  // The service status of the configured state (consStatServ); returns the unwrapped reply.
  std::string StatusDoServico();
  // The situation of the note of access key `chave` (consSitNFe); returns the unwrapped reply.
  std::string ConsultarNF(const std::string& chave);

  // ---- sending (TqorNFCeEnvio.cpp) -------------------------------------------------------
  // Sends the signed notes `aLoteNotas` as batch `lote` (enviNFe, indSinc 0) and returns the
  // state's reply (retEnviNFe, usually with the receipt nRec; its cStat is not interpreted).
  // A batch over MaxSizeLoteEnvio KB, or `compactar`, goes compressed (nfeDadosMsgZip). Leaves
  // the batch log, one pointer file per key and one for the receipt in the recipient folder.
  std::string EnviarNF(const std::string& lote, const std::string& aLoteNotas, bool compactar);
  // Sends one signed note for synchronous authorisation (indSinc 1); an authorised or denied
  // note's distribution XML is written into the recipient folder (SalvarLogsEmDisco). More than
  // one note raises EqorNFCeQuantidadeNotasEnviarSincronoException before any other check.
  std::string EnviarNFSincrono(const std::string& lote, const std::string& aXmlNota,
                               bool compactar);
  // The processing of the batch of receipt `recibo` (15 characters); writes the distribution
  // XML of its authorised and denied notes.
  std::string ConsultarRecibo(const std::string& recibo);
  // Builds the enviNFe of the batch into `loteXml` (before any check) and checks it: the
  // certificate, no accents in `lote`, notes given, the size (EqorNFCeMaxSizeException), a
  // signature present, and the schema when ValidarEsquemaAntesEnvio.
  void ValidarLoteParaEnvio(const std::string& lote, const std::string& aLoteNotas,
                            std::string& loteXml);
  // Characters of the batch / 1000 above MaxSizeLoteEnvio raise EqorNFCeMaxSizeException.
  void ValidarTamanhoArquivoEnvio(const std::string& aLoteNotas);
  // gzip then Base64.
  static std::string CompactaLote(const std::string& xml);
  // Schema diagnosis of a batch note by note: the header of each note with a sample item, then
  // each item in a sample header; every message goes to ErrosValidador, and any raises
  // EqorSchemaValidationException at the end.
  void ValidarLoteItem(const std::string& lote, const std::string& aLoteNotas);
  // tpEmis of the event is 110111 or 110112.
  static bool isXMLCancelamento(const std::string& xml);
  // A text holding a note (xLgr) and its cancellation event.
  static bool isXMLEnvioECancelamento(const std::string& xml);
  // The nfeProc of a text that holds a processed note and its cancellation; a cancellation of
  // another note raises EqorNFCeReportException.
  std::string TratarXMLEnviCancelamento(const std::string& xml);

  // ---- recipient distribution (TqorNFCeEnvio.cpp) ----------------------------------------
  // The distribution XML of the notes a receipt or a key stands for, when its pointer file is
  // in the recipient folder; `logConsulta` is the key-query (or synchronous reply) log name.
  // `logEnvio`, when given, is the send log the note is taken from instead of the one the
  // pointer file names (the synchronous road uses the log it wrote itself).
  void GerarXMLDestinatario(const std::string& numero, const std::string& logConsulta,
                            const std::string& logEnvio = {});
  // The distribution XML of the authorised and denied notes of a receipt-query log.
  void GerarXmlDestinatarioNFsAprovadas(const std::string& recibo,
                                        const std::string& logConsultaRecibo);
  // The distribution XML of `chave` from a send log and a reply log (names or texts), written
  // to `arquivo` when given; returns the text.
  std::string GerarXMLEnvioDestinatario(const std::string& chave, const std::string& logEnvio,
                                        const std::string& logResposta, const std::string& arquivo);
  // Checks a distribution document against its schema and its digests; the errors go to
  // `erros` when given. An empty text raises EqorNFCeValidarArquivoXmlDestinatarioException.
  bool ValidarArquivoXmlDestinatario(const std::string& xml, TStrings* erros = nullptr);
  void DoOnXmlDestinatario(const std::string& arquivo);
  // The procEventoNFe of the event `idEvento` from its request and reply logs (names or texts),
  // written to `arquivo` when given; returns the text.
  std::string GerarXMLEventoDestinatario(const std::string& idEvento, const std::string& logEnvio,
                                         const std::string& logResposta,
                                         const std::string& arquivo);
  // The procEventoNFe of the cancellation of `chave` from its request and reply logs (names or
  // texts), written to `arquivo` when given; returns the text.
  std::string GerarXMLCancelamentoDestinatario(const std::string& chave,
                                               const std::string& logPedido,
                                               const std::string& logRetorno,
                                               const std::string& arquivo);
  // The ProcInutNFe: "inutxml_dest.xml" with `segundo` (the inutNFe) in the first placeholder
  // and `primeiro` (the retInutNFe) in the second.
  std::string GerarxmlDestinatarioInutilizacao(const std::string& primeiro,
                                               const std::string& segundo);
  void DoOnXmlCanDestinatario(const std::string& arquivo);

  // ---- e-mail to the recipient (TqorNFCeEmail.cpp) ----------------------------------------
  // Each sends one message to EmailSettings' EmailDestinatario (EnviarNotaCanceladaDestinatario:
  // to `email` when given) through the outside component's SendEmail, whose exchange failures
  // (EqorGovException) pass as they come. An empty address raises EqorNFCeCheckParamsException
  // before any work. Temporary files are made in a folder of this call inside
  // DiretorioTemporario and removed whatever happens.
  // The distribution XML of `chave`: assembled from the logs when either is given
  // (GerarXMLEnvioDestinatario), else the recipient folder's <chave>.xml or <chave>-nfce.xml;
  // attached as <chave>-nfce.xml, with the DANFCE as <chave>.pdf when AnexarDanfcePDF.
  void EnviarNotaDestinatario(const std::string& chave, const std::string& logEnvio,
                              const std::string& logResposta);
  // `pdf` (a file), `xml` (a file, or the XML text, attached as "ddmmyyyyhhnnss.xml") and the
  // files of `anexos` (one per line or separated by ";"); at least one of `pdf` and `xml`.
  void EnviarNotaDestinatarioAnexos(const std::string& pdf, const std::string& xml,
                                    const std::string& anexos);
  // The cancellation distribution of `chave`: assembled from the request and reply logs when
  // either is given (attached as <chave>-caneve.xml, also kept in the recipient folder), else
  // the recipient folder's <chave>-can.xml or <chave>-caneve.xml.
  void EnviarNotaCanceladaDestinatario(const std::string& chave, const std::string& logPedido,
                                       const std::string& logRetorno, const std::string& email);

  // ---- DANFCE (TqorNFCeImpressao.cpp) ----------------------------------------------------
  // Each operation rebuilds the print parameters (LoadDanfceSettings), loads the XML
  // (CarregarLoteNotasParaImpressao; the EPEC ones take it as given), chooses the layout
  // (GetParametroArquivoModeloRTM: `modelo` when given), prints a note given with its
  // cancellation with the "NOTA CANCELADA" stamp, and hands the rest to the print class
  // (danfce/TqorNFCeDanfce.h). The first text of the operations that take one is ignored.
  // Prints on the CUPS queue `impressora` (empty: the default one), or on the ESC/POS printer
  // of EscPosSettings when UtilizarEscPOS is set.
  void ImprimirDanfce(const std::string& ignorado, const std::string& xml,
                      const std::string& modelo, const std::string& impressora);
  // Writes the PNG image of the DANFCE in the temporary folder, hands it to
  // OnVisualizarDanfce and returns its path.
  std::string VisualizarDanfce(const std::string& ignorado, const std::string& xml,
                               const std::string& modelo);
  // The same as a preview: no validation of the note, accents removed, the preview phrase.
  std::string PreverDanfce(const std::string& xml, const std::string& modelo);
  // Exports to `arquivo` in `formato` (1 PDF, 2 HTML, 3 TXT); an empty name asks OnSalvarComo,
  // and nothing is exported when it gives none.
  void ExportarDanfce(const std::string& ignorado, const std::string& xml,
                      const std::string& arquivo, int formato, const std::string& modelo);
  // The preview exported to PDF; a failure raises EqorNFCeException "Falha ao Exportar o PDF de
  // previsão: " + cause.
  void ExportarPreverDanfce(const std::string& xml, const std::string& modelo,
                            const std::string& arquivo);
  // Checks the layout the XML prints with and hands its path to OnEditarModeloDanfce.
  void EditarModeloDanfce(const std::string& ignorado, const std::string& xml,
                          const std::string& modelo);
  // The EPEC forms: the note printed with the EPEC protocol and its date-time (25 characters,
  // "YYYY-MM-DDThh:mm:ss-XX:XX").
  void ImprimirEPEC(const std::string& xml, const std::string& protocolo,
                    const std::string& impressora, const std::string& modelo,
                    const std::string& dataHora);
  std::string VisualizarEPEC(const std::string& xml, const std::string& protocolo,
                             const std::string& modelo, const std::string& dataHora);
  void ExportarEPEC(const std::string& xml, const std::string& protocolo, const std::string& modelo,
                    const std::string& arquivo, int formato, const std::string& dataHora);
  // The XML to print: two file names separated by a comma (a note and its cancellation), one
  // file name, or the XML itself. Raises EqorNFCeCarregarLoteNotasImpressaoException "Problema
  // ao carregar lote de notas para impressão: " + cause.
  std::string CarregarLoteNotasParaImpressao(const std::string& entrada);
  // The layout: `modelo` when given, else the one of DanfceSettings' FormatoDanfce; a TXT export
  // (`tipo` 3) takes the "retrato_texto.rtm" beside a "retrato.rtm". The result goes to both
  // layout parameters.
  std::string GetParametroArquivoModeloRTM(const std::string& modelo, int tipo);

  // ---- events and voiding (TqorNFCeEventos.cpp, TqorNFCeInutilizacao.cpp, TqorNFCeEPEC.cpp)
  // Registers the cancellation (110111) of the authorised note `aChave`: the parameters are
  // checked (EqorNFCeCheckParamsException), the event signed, the envEvento validated against
  // its schema, logged ("caneve-env") and sent; the reply is logged ("caneve-ret") and returned
  // unwrapped. A registered event (135, 136, 155) writes <chave>-caneve.xml into the recipient
  // folder and runs OnXmlCanDestinatario. Empty `aFuso` is "-03:00", empty `aIdLote` "1", empty
  // `aDataHoraEvento` now.
  std::string CancelarNF(const std::string& aChave, const std::string& aProtocolo,
                         const std::string& aJustificativa, const std::string& aDataHoraEvento,
                         int aSequencia, const std::string& aFuso, const std::string& aIdLote);
  // The same for a cancellation by substitution (110112, from vm60; before it the request is
  // logged and std::runtime_error raised, nothing sent), pointing at the note `aChaveRef`.
  std::string CancelarNFSubstituicao(const std::string& aChave, const std::string& aProtocolo,
                                     const std::string& aJustificativa,
                                     const std::string& aDataHoraEvento, int aSequencia,
                                     const std::string& aFuso, const std::string& aOrgaoAutor,
                                     const std::string& aVerAplic, const std::string& aChaveRef,
                                     TTipoAutor aTipoAutor, const std::string& aIdLote);
  // The first retEvento of a reply; EqorNFCeException when there is none.
  std::string GetRetEvento(const std::string& xml);
  // The certificate, then the schema of `comando` (whatever ValidarEsquemaAntesEnvio says).
  void ValidarLoteParaEnvioEvento(const std::string& lote, const std::string& comando);
  // Voids the numbers `aNumInicial` to `aNumFinal` of a series (inutNFe): checks, signs, validates,
  // logs ("ped-inu"), sends, logs the reply ("inu") and returns it. A homologated voiding (102,
  // from vm50b) writes <Id>-inut.xml (ProcInutNFe) into the recipient folder.
  std::string InutilizarNF(const std::string& aIdNota, const std::string& aAno,
                           const std::string& aCNPJ, const std::string& aModelo,
                           const std::string& aSerie, const std::string& aNumInicial,
                           const std::string& aNumFinal, const std::string& aJustificativa);
  // The voiding Id (without "ID"): cUF, year, CNPJ (a CPF with "000" before it), model, series
  // (3 digits), first and last numbers (9 digits each).
  std::string CalculaChaveInutilizacao(const std::string& aAno, const std::string& aCNPJ,
                                       const std::string& aModelo, const std::string& aSerie,
                                       const std::string& aNumInicial,
                                       const std::string& aNumFinal);
  // The unsigned envEvento of one EPEC event (110140) per infNFe of `aXml`.
  std::string MontarEPEC(const std::string& aIdLote, const std::string& aXml,
                         const std::string& aDataHoraEvento);
  // The EPEC batch with every event signed.
  std::string AssinarEPEC(const std::string& aXml);
  // Sends a signed EPEC batch and returns the reply as received (SOAP envelope included); each
  // event registered (136) writes <chNFe>-epec.xml into the recipient folder.
  std::string EnviarEPEC(const std::string& aXml);
  // `nome` in the schema folder without its manual-version folder, else in the installed data's
  // "Esquemas" folder (the EPEC schema is a copy the build derives from the package).
  std::string GetEsquemaEPEC(const std::string& nome);

  // ---- the Integrador exchange (TqorNFCeIntegrador.cpp) ------------------------------------
  // With Integrador's Ativar on, StatusDoServico, EnviarNFSincrono, ConsultarNF, CancelarNF and
  // InutilizarNF send their SOAP request, in Base64, inside an Integrador message written to
  // DiretorioEntrada, and take the state's reply out of the Integrador's reply file in
  // DiretorioSaida; the message and the reply are logged under GetLogFileNameIntegrador names.
  // Writes `xml` (UTF-8, whole, under a name ending ".xml" only once complete) into
  // DiretorioEntrada as "YYYY-MM-DD-HH-NN-SS-Z_<identificador>.xml", after removing the regular
  // files of DiretorioSaida (a reply there now is stale); then, every 500 ms, lists
  // DiretorioSaida for "*.xml" until a reply matches: by Integrador/Resposta/retorno, whose
  // characters 3 to 8 are the identifier's number (the result is that text), or, without a
  // retorno, by Integrador/Identificador/Valor (the result is the file without its XML
  // declaration). The matched file moves to DiretorioLog; a file that is not XML, or not whole
  // yet, or for another identifier stays. At least four rounds, and on until TimeOut seconds
  // (monotonic clock) have passed. Raises EqorNFCeCheckParamsException for an empty `xml` or,
  // with Ativar on, an empty folder; EqorNFCeIntegradorException "Ocorreu um problema ao
  // comunicar com Integrador: " + cause for every other failure, no reply included.
  std::string ComunicarIntegrador(const std::string& xml, const std::string& identificador);
  // The method of the cancellation on the Integrador road.
  static constexpr const char* kMetodoCancelamentoIntegrador = "NfeRecepcaoEvento";
  // ValorNFCe of the messages that carry no note (cancellation, voiding).
  static constexpr const char* kValorSemNota = "0.00";
  // The state's SOAP reply inside an Integrador reply: the reply unchanged when it lacks
  // "Enviado com sucesso + Retorno SEFAZ-CE"; else its seventh "|"-separated item without CR LF,
  // decoded from Base64 (empty item: empty text). An item holding "Internal Server Error", not
  // Base64 or not UTF-8 raises EqorNFCeIntegradorException "Integrador não respondeu
  // corretamente, resposta: " + the item.
  std::string PegaRespostaSefazIntegrador(const std::string& resposta);
  // dhEmi of `xml`, else dhEvento, else now, as 14 digits ("20240510140309").
  std::string FormataDataHoraIntegrador(const std::string& xml);
  // "YYYY-MM-DD-HH-NN-SS-Z-<NumeroSessao>-<tipo>-nfce.xml" of the present instant.
  std::string GetLogFileNameIntegrador(const std::string& tipo);
  // The Integrador messages. `metodo` is the bare method name; in homologation it goes with the
  // prefix "H". The identifier and numeroSessao are Integrador's NumeroSessao.
  std::string CarregarTemplateEnvioMFe(const std::string& dados, const std::string& versaoDados,
                                       const std::string& cUF, const std::string& dataHora,
                                       const std::string& valor, const std::string& numero,
                                       const std::string& metodo);
  std::string CarregarTemplateEnvioMFeSemChaveHora(const std::string& dados,
                                                   const std::string& versaoDados,
                                                   const std::string& metodo);
  std::string CarregarTemplateStatusServico(const std::string& dados,
                                            const std::string& versaoDados, const std::string& cUF,
                                            const std::string& metodo);
  // For vm50b the message names the state (uf), the batch (numero) and holds the SOAP request
  // itself; for vm60 it is the sending message's.
  std::string CarregarTemplateCancelamentoMFe(const std::string& dados,
                                              const std::string& versaoDados,
                                              const std::string& cUF, const std::string& dataHora,
                                              const std::string& valor, const std::string& numero,
                                              const std::string& metodo);
  // The file operations the exchange lists, reads, deletes and moves with, and those sending
  // writes its logs, pointer files and distribution XML with; not owned (nullptr:
  // TFileSystem::Default()). For tests that count listings or make a write fail.
  void SetFileSystem(TFileSystem* arquivos) { arquivos_ = arquivos; }

  // ---- TX2 conversion (TqorNFCeConversao.cpp) --------------------------------------------
  // The batch `lote` (TX2 text, or the name of a file holding it) converted into note XML,
  // one note per line, with the dictionary of the template folder's "Conversor". Its
  // telemetry ping is "ConverterLoteParaXml" with "_DIC", "_TX2" or "_REC" for the kind.
  std::string ConverterLoteParaXml(const std::string& lote, TLayoutConvKind kind,
                                   TVersaoEsquema versao);
  // The first note of `xml` (the XML itself, or the name of a file holding it: a note, a signed
  // NFe, an nfeProc) read back into a new container the caller owns, holding it as one saved
  // note; the protocol's eight name=value lines go to `dadosAutorizacao` when given. Its ping is
  // "ConverterXmlParaDataSet". Every failure arrives as EqorNFCeDataSetsException "Ocorreu um
  // erro durante a conversão do XML com a seguinte mensagem: " + the cause.
  std::unique_ptr<TqorNFCeDataSets> ConverteXmlparaDataSet(const std::string& xml,
                                                           TVersaoEsquema versao,
                                                           TStrings* dadosAutorizacao = nullptr);
  // The `versao` attribute of the batch template "pedido_enviarnota.xml"; a template without
  // one raises EqorNFCeException.
  std::string GetVersaoNota();
  // The converter, made on first use.
  TqorNFCeConverter& GetConversor();

  // ---- signing (TqorNFCeAssinatura.cpp) --------------------------------------------------
  // The notes of `xml` (an enviNFe batch, one NFe, or any text holding "<infNFe " elements, such
  // as the converter's one note per line), each checked for its emission type, signed with the
  // company's certificate and, from vm50b on, followed inside NFe by its infNFeSupl (QR-code
  // link; from vm60 also urlChave). Returns the signed NFe elements concatenated in input order,
  // with no line break and no XML declaration: the text to send is the text that was signed.
  // No note: EqorNFCeException; more than 50: EqorNFCeMaxSizeException; a contingency-check
  // failure keeps its class (EqorNFCeRegraDeNegocioException); any failure while signing a note
  // or building its supplement: EqorNFCeSignatureException with the cause's message. A note
  // whose infNFe has no Id is passed on unsigned. Nothing is returned when one note fails.
  std::string AssinarNota(const std::string& xml);
  // The infEvento elements of `xml` (ObterEvento), each wrapped in `evento` (versao 1.00) and
  // signed; returns the signed events concatenated in input order. A failure of the signature
  // raises EqorSignatureException with the cause's message.
  std::string AssinarEvento(const std::string& xml);
  // One infNFe made ready for signing: "º" written as "o", CR LF pairs dropped, and the note
  // wrapped in the "assinar_nota.xml" template (NFe in the NF-e namespace).
  void PrepararXMLAssinar(std::string& nota);
  // Runs of blanks inside the texts of KeyInfo and SignatureValue halved until no two blanks
  // are adjacent.
  void RemoveEspacosAssinatura(std::string& xml);
  // RemoveEspacosAssinatura, then the first "<?xml version=\"1.0\"?>" and every CR LF pair
  // deleted.
  void LimparXMLAssinado(std::string& xml);
  // The XML-DSig skeleton "signature_info.xml" of the template catalogue.
  std::string GetSignatureInfo();
  // How many times "<infNFe " occurs in `xml`.
  int GetNumNotas(const std::string& xml) const;
  // GetNumNotas after the batch checks: 0 raises EqorNFCeException "Não foi possível encontrar
  // notas fiscais no arquivo", more than 50 EqorNFCeMaxSizeException.
  int ValidaNumNotas(const std::string& xml);
  // The `indice`-th (from 0) note: "<infNFe " up to the next "</infNFe>" (or "</protNFe>" when
  // `comProtocolo`); empty when there is none.
  std::string GetNota(int indice, const std::string& xml, bool comProtocolo = false) const;
  // The first Id attribute of `nota`; none raises EqorNFCeException "Campo Id não encontrado
  // para nota fiscal".
  std::string GetReferenceInfo(const std::string& nota);
  // The contingency check a note passes before it is signed: tpEmis must be 1-7 or 9; a normal
  // note (1) must not carry xJust or dhCon, a contingency note must carry them with an xJust of
  // at least 15 characters. Failures raise EqorNFCeRegraDeNegocioException.
  void ValidarRegraDeNegocioNFCe(const std::string& nota);

  // ---- schema validation -----------------------------------------------------------------
  // Validates `documento` against the schema of `comando` ("STATUS", "ENVIO", ... as listed in
  // "Mapping.txt" of the schema folder), or against the schema its own schemaLocation names.
  // An invalid document raises EqorSchemaValidationException and leaves the validator's report
  // in ErrosValidador.
  void ValidarXMLNFCe(const std::string& documento, const std::string& comando);
  // Full path of the schema of `comando`, from "Mapping.txt" of the schema folder (or, when that
  // folder has none, of the installed data's), found by LocalizarEsquema.
  std::string GetXSDFileName(const std::string& comando);
  // The folders a schema file is looked for in, in order: `pasta` (of the schemas tree), then
  // the official package as published, flat: the configured DiretorioEsquemas itself, then
  // $QORNFCE_ESQUEMAS.
  std::vector<std::string> PastasDeEsquemas(const std::string& pasta) const;
  // The first of `pastas` holding `nome`; EqorFileNotFoundException names them all otherwise.
  std::string LocalizarEsquema(const std::vector<std::string>& pastas,
                               const std::string& nome) const;
  // The namespace of the NF-e documents.
  virtual std::string GetURIEsquema() const;
  // A quick plausibility test of a note: it holds "<ide" and "<emit>" (any case).
  static bool isXMLValido(const std::string& documento);

  // ---- fiscal utilities (TqorNFCeUtils.cpp) ----------------------------------------------
  // The 44-digit access key (utils/Chave.h, CalculaChave). Note the order: cNF before tpEmis.
  // Its telemetry ping is "CalculaChaveNFCe"; a failure is reported as "CalculaChaveNCFe".
  std::string CalculaChaveNFCe(const std::string& dEmi, const std::string& cUF,
                               const std::string& CNPJ, const std::string& mod,
                               const std::string& serie, const std::string& nNF,
                               const std::string& cNF, const std::string& tpEmis);
  // The QR-code link of a signed note (utils/QRCode.h), with the addresses and CSC of the print
  // parameter list (rebuilt first by LoadDanfceSettings). An empty XML raises
  // EqorNFCeGetLinkQRCodeException "Arquivo xml informado vazio"; any later failure is raised
  // as EqorNFCeGetLinkQRCodeException "Ocorreu um erro na geração do link do QRCode com a
  // seguinte mensagem: " + its message.
  std::string GetLinkQRCode(const std::string& xml);
  // Base64 of the SHA-1 of aCSRT followed by aChave (the CSRT must have 36 characters).
  std::string CalcularHashCSRT(const std::string& aChave, const std::string& aCSRT);
  // Fills `aList` with the full names of the log files of `filtro` in the log folder; with a
  // text (and a filter other than lfCustom) only names holding it before the filter's suffix.
  // lfCustom takes `texto` as the whole mask. A null list raises EqorNFCeCheckParamsException;
  // a log folder that is empty or cannot be created, EqorNFCeDirNotFoundException.
  void ListarLogs(TStrings* aList, TLogFilter filtro, const std::string& texto);
  // Kept for hosts that call it: has no effect and returns an empty text.
  std::string LerLog(const std::string& aNome);

  // ---- configuration file (TqorNFCeConfig.cpp) ------------------------------------------
  // Loads the file GetINIFilePath(fileName) resolves to (config/ConfigIni.h); a missing file
  // raises EqorConfigINIException "Arquivo %s não foi encontrado". The file becomes ConfigINI.
  void LoadConfig(const std::string& fileName);
  // Loads from `ini`, which stays the caller's; ConfigINI becomes a new empty in-memory object.
  // nullptr raises EqorConfigINIException.
  void LoadConfig(const TIniFile* ini);
  // Saves into the file `fileName` as given (no path rule), which becomes ConfigINI; an empty
  // name saves into the current ConfigINI.
  void SaveConfig(const std::string& fileName);
  // Saves into `ini`, which stays the caller's; ConfigINI becomes a new empty in-memory object.
  void SaveConfig(TIniFile* ini);
  // Reads every key of ConfigINI into the properties, in the order of the keys' catalogue
  // (core/ChavesConfiguracao.h), each through its setter; a failure raises
  // EqorNFCeConfigException "Erro ao carregar configurações: " + cause, with the keys before the
  // failing one applied.
  void CarregarConfiguracoes();
  // Writes every property into ConfigINI; a failure raises EqorNFCeConfigException
  // "Erro ao salvar configurações: " + cause.
  void SalvarConfiguracoes();
  // Rebuilds the print parameter text (GetParamsDanfce) from the settings. The QR-code base
  // addresses come from the two server-address files; a missing one raises
  // EqorFileNotFoundException naming it.
  virtual void LoadDanfceSettings();
  const TStrings& GetParamsDanfce() const { return paramsDanfce_; }

  // ---- deployment (TqorNFCeImplantacao.cpp) ---------------------------------------------
  // Refreshes both server-address files when either is 4 hours old or more (a missing one counts
  // as old) from the archives of GetImplantacao(), when AtualizarArquivoServidores is on and
  // both addresses are configured. Each file is downloaded and extracted under a temporary name
  // beside it and must carry its "endereco=" line; only when both pass are both renamed over the
  // old files and dated now. Never raises: a failure leaves each file whole (old, or new when the
  // second rename failed and no backup could be restored), is recorded as the
  // "UpdateIniServidores" exception event, and the call goes on with the files as they are.
  void UpdateIniServidores();
  // An INI object over `arquivo` (expanded), which the caller owns; a missing file raises
  // EqorFileNotFoundException "O arquivo de servidores informado não existe: %s".
  std::unique_ptr<TIniFile> LoadIniFile(const std::string& arquivo);
  // The deployment values: read from "nfceImplantacao.ini" of the installation data on first use;
  // the host (or a test) may change them.
  TqorImplantacao& GetImplantacao();
  // The certificate store: the folder of CaminhoCertificado for ckFile, else
  // GetSpecialDirectories(3) + "certificados/" (README, "Certificados"). Its PKCS#12 files are
  // opened with SenhaCertificado.
  std::string GetRepositorioCertificados();
  // One line per file of the store (platform/CertStore.h). A null list raises
  // EqorNFCeCheckParamsException "A lista do certificado não foi instanciada. ".
  void ListarCertificados(TStrings* aList);
  // Removes the store's file of `serial`; false when no file holds it. Any failure (a serial in
  // two files among them) is recorded with the class "qorCertStoreException" and raised as
  // EqorCertStoreException.
  bool RemoverCertificado(const std::string& serial);
  // The configured certificate's expiry.
  std::chrono::system_clock::time_point GetVencimentoCertificado();
  // Hands the certificate name to OnCheckCertificate, when assigned, before a certificate is
  // loaded; the host may change it.
  void DoOnCheckCertificate(std::string& nomeCertificado);
  // Asks the local updater (http://127.0.0.1:<PortaAtualizador>/) to update schemas, templates
  // and server files to version `aVersao`; true when it answered with a non-empty text. An
  // empty version raises EqorNFCeAutoUpdaterException "Favor preencher o parâmetro aVersao",
  // one that is not a dotted number "Parâmetro aVersao com valor inválido."; a failed request
  // raises the platform's exception. Both are recorded as the "AtualizarVersao" event.
  bool AtualizarVersao(const std::string& aVersao,
                       const std::set<TAutoUpdaterNFCeOption>& opcoes = {});
  // The one request of AtualizarVersao; a descendant may replace it.
  virtual bool RequestAutoUpdaterLocal(const std::string& produto, const std::string& versao,
                                       std::string& saida, long long processo, long long numero,
                                       const std::string& endereco, const std::string& metodo,
                                       const std::string& parametros);

  // ---- published properties -----------------------------------------------------------
  TVersaoManual GetVersaoManual() const { return versaoManual_; }
  virtual void SetVersaoManual(TVersaoManual value);
  // Made on first read; the setter takes the object over (nullptr: a new default one).
  TDanfceSettings& GetDanfceSettings();
  void SetDanfceSettings(std::unique_ptr<TDanfceSettings> settings);
  const std::string& GetUF() const { return uf_; }
  virtual void SetUF(const std::string& value);
  std::string GetVersao() const;
  const std::string& GetCaracteresRemoverAcentos() const { return caracteresRemoverAcentos_; }
  void SetCaracteresRemoverAcentos(const std::string& v) { caracteresRemoverAcentos_ = v; }
  TCertificadoKind GetTipoCertificado() const { return tipoCertificado_; }
  void SetTipoCertificado(TCertificadoKind v) { tipoCertificado_ = v; }
  // Template folder with the manual-version sub-folder ("<exe>/Templates/vm60/").
  std::string GetDiretorioTemplates() const;
  virtual void SetDiretorioTemplates(const std::string& v) { diretorioTemplates_ = v; }
  bool GetIgnoreInvalidCertificates() const { return ignoreInvalidCertificates_; }
  void SetIgnoreInvalidCertificates(bool v) { ignoreInvalidCertificates_ = v; }
  const std::string& GetCNPJ() const { return cnpj_; }
  void SetCNPJ(const std::string& v) { cnpj_ = v; }
  std::string GetArquivoServidoresHom() const;  // expanded
  void SetArquivoServidoresHom(const std::string& v) { arquivoServidoresHom_ = v; }
  std::string GetArquivoServidoresProd() const;  // expanded
  void SetArquivoServidoresProd(const std::string& v) { arquivoServidoresProd_ = v; }
  // "Log\\" until set (relative to the writable folder, HomeDir()).
  std::string GetDiretorioLog();
  void SetDiretorioLog(const std::string& v) { diretorioLog_ = v; }
  TAmbienteKind GetAmbiente() const { return ambiente_; }
  void SetAmbiente(TAmbienteKind v) { ambiente_ = v; }
  bool GetValidarEsquemaAntesEnvio() const { return validarEsquemaAntesEnvio_; }
  void SetValidarEsquemaAntesEnvio(bool v) { validarEsquemaAntesEnvio_ = v; }
  std::string GetDiretorioEsquemas() const;  // with the manual-version sub-folder
  void SetDiretorioEsquemas(const std::string& v) { diretorioEsquemas_ = v; }
  bool GetConexaoSegura() const { return conexaoSegura_; }
  void SetConexaoSegura(bool v) { conexaoSegura_ = v; }
  // Edited in place; once the services object exists, each replacement of the whole text
  // (SetTextStr) pushes the name to it and, when not empty, checks the certificate. Every
  // request pushes the name in force anyway.
  TqorCertStringNFCe& GetNomeCertificado() { return nomeCertificado_; }
  TqorEmailSettings& GetEmailSettings();       // made on first read
  int GetTimeOut() const { return timeOut_; }  // milliseconds; 0 = the transport's default
  void SetTimeOut(int v) { timeOut_ = v; }
  TStrings& GetErrosValidador() { return errosValidador_; }
  const std::string& GetSectionINI() const { return sectionINI_; }
  void SetSectionINI(const std::string& v) { sectionINI_ = v; }
  // The configuration INI object: made on first read, file-backed on GetINIFilePath("").
  // The setter takes the object over (nullptr: made again on the next read).
  TIniFile& GetConfigINI();
  void SetConfigINI(std::unique_ptr<TIniFile> ini);
  const std::string& GetProxy() const { return proxy_; }
  void SetProxy(const std::string& v) { proxy_ = v; }
  const std::string& GetUsuario() const { return usuario_; }
  void SetUsuario(const std::string& v) { usuario_ = v; }
  const std::string& GetSenha() const { return senha_; }
  void SetSenha(const std::string& v) { senha_ = v; }
  const std::string& GetPinCode() const { return pinCode_; }
  void SetPinCode(const std::string& v) { pinCode_ = v; }
  std::string GetDiretorioXmlDestinatario() const { return diretorioXmlDestinatario_; }
  void SetDiretorioXmlDestinatario(const std::string& v);
  int GetMaxSizeLoteEnvio() const { return maxSizeLoteEnvio_; }
  void SetMaxSizeLoteEnvio(int v) { maxSizeLoteEnvio_ = v; }
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v);
  const std::string& GetDiretorioTemporarioValue() const { return diretorioTemporario_; }
  void SetDiretorioTemporario(const std::string& v);
  const std::string& GetCaminhoCertificado() const { return caminhoCertificado_; }
  void SetCaminhoCertificado(const std::string& v) { caminhoCertificado_ = v; }
  const std::string& GetSenhaCertificado() const { return senhaCertificado_; }
  void SetSenhaCertificado(const std::string& v) { senhaCertificado_ = v; }
  // PEM file of the certificate authorities trusted for the state's servers when
  // IgnoreInvalidCertificates is false (the state services use the ICP-Brasil chain, which the
  // system store does not hold). Empty: the system store.
  const std::string& GetArquivoCadeiaCertificados() const { return arquivoCadeiaCertificados_; }
  void SetArquivoCadeiaCertificados(const std::string& v) { arquivoCadeiaCertificados_ = v; }
  TEntregaXML GetEntregaXML() const { return entregaXML_; }
  void SetEntregaXML(TEntregaXML v) { entregaXML_ = v; }
  const std::string& GetHashCertificado() const { return hashCertificado_; }
  void SetHashCertificado(const std::string& v) { hashCertificado_ = v; }
  bool GetDiagnosticMode() const { return diagnosticMode_; }
  void SetDiagnosticMode(bool v) { diagnosticMode_ = v; }
  const std::string& GetIdCSRT() const { return idCSRT_; }
  void SetIdCSRT(const std::string& v) { idCSRT_ = v; }
  const std::string& GetCSRT() const { return csrt_; }
  void SetCSRT(const std::string& v) { csrt_ = v; }
  bool GetAtualizarArquivoServidores() const { return atualizarArquivoServidores_; }
  void SetAtualizarArquivoServidores(bool v) { atualizarArquivoServidores_ = v; }
  const std::string& GetHttpLibs() const { return httpLibs_; }
  void SetHttpLibs(const std::string& v) { httpLibs_ = v; }
  bool GetUtilizarEscPOS() const { return utilizarEscPOS_; }
  void SetUtilizarEscPOS(bool v) { utilizarEscPOS_ = v; }
  bool GetSalvarLogsEmDisco() const { return salvarLogsEmDisco_; }
  void SetSalvarLogsEmDisco(bool v) { salvarLogsEmDisco_ = v; }
  TqorIntegrador& GetIntegrador() { return *integrador_; }
  // Made on first read; the setter takes the object over (nullptr: a new default one).
  TEscPosSettings& GetEscPosSettings();
  void SetEscPosSettings(std::unique_ptr<TEscPosSettings> settings);

  // ---- events --------------------------------------------------------------------------
  TOnLogEventNFCe OnLog;
  TOnLogContentEventNFCe OnLogContent;
  TOnCheckCertificateEventNFCe OnCheckCertificate;
  TOnXmlDestinatarioEvent OnXmlDestinatario;
  TOnXmlCanDestinatarioEvent OnXmlCanDestinatario;
  // The save dialog of ExportarDanfce and ExportarPreverDanfce.
  TOnSalvarComoEvent OnSalvarComo;
  // The preview image (VisualizarDanfce, PreverDanfce, VisualizarEPEC).
  TOnArquivoEvent OnVisualizarDanfce;
  // The layout file EditarModeloDanfce checked.
  TOnArquivoEvent OnEditarModeloDanfce;

  // ---- frame (used by every operation; public for hosts and tests) ----------------------
  TqorGovX& GetGov();
  TqorGovUtils& GetGovUtils();
  // The configuration check every service operation runs first.
  void CheckConfig();
  // Throws EqorNFCeEventoException with `message` when `condition` holds.
  void CheckParams(bool condition, const std::string& message);
  // Checks the configured certificate; a failure becomes EqorCertStoreException.
  void CheckCertificate();
  // The server-address file of the current environment, read again on every call.
  TIniFile& GetServersIni();
  // The address of `key` in the UF's section; EqorNFCeAddressException when absent.
  std::string GetWSAddress(const std::string& key);
  std::string GetIniVal(const std::string& key, const std::string& defaultValue);
  // cUF of the configured UF ("35" for SP).
  std::string GetLocalCode() const;
  // The request template `name` for the manual version and UF in force.
  std::string LoadTemplate(const std::string& name);
  std::string EnveloparSoapEnvio(const std::string& xml);
  // The first element of the SOAP body (or a retInutNFe anywhere); the text unchanged when
  // it has no body. When that element has no child element and its text, unescaped, is
  // well-formed XML, that XML.
  std::string DesenveloparSoap(const std::string& response);
  virtual std::string GetTemplateFolder() const;
  virtual std::string UpdatePathVersaoManual(const std::string& path) const;
  std::string GetDiretorioDestinatario() const;  // expanded and created
  std::string GetDiretorioTemporario();          // expanded and created
  // Cross-reference files of the recipient folder: for each note key of the batch log
  // `batchLogFileName`, a file named by the key holding "env-lot=<batchLogFileName>".
  void SaveFileChavesTemporario(const std::string& batchLogFileName);
  // The same for a receipt number (or any id).
  void SaveFileTemporario(const std::string& name, const std::string& batchLogFileName);
  // The pointer files of the notes of `loteXml` as they are before a sending writes its own
  // (path, and the content when the file exists), so a sending that certainly never reached the
  // state can put them back (RestaurarPonteiros) and leave no pointer to an unsent batch.
  using TPonteiros = std::vector<std::pair<std::string, std::optional<std::string>>>;
  TPonteiros LerPonteiros(const std::string& loteXml);
  void RestaurarPonteiros(const TPonteiros& anteriores) noexcept;
  // Whether a failure of posting notes leaves them possibly received by the state: anything but
  // a connection that was never made, a TLS handshake that failed, or an HTTP 4xx.
  static bool PedidoPodeTerChegado(const std::exception& falha);
  // Ends the message of every failure after notes may have reached the state (the transport's,
  // a reply that cannot be used or is not for them, a file that could not be written after the
  // post); a failure before it says nothing of the kind.
  static constexpr const char* kSituacaoDesconhecida =
      ". A situação da nota enviada é desconhecida: consulte-a pela chave (ConsultarNF) antes de "
      "emiti-la de novo.";

  void SendTelemetryPing(const std::string& evento);
  void SendTelemetryException(const std::string& evento, const std::string& classe,
                              const std::string& mensagem);

 protected:
  // Runs a public operation with its telemetry ping and failure report.
  template <typename Body>
  auto RunOperation(const std::string& name, Body&& body) -> decltype(body());

 private:
  void LoadLocal();
  void LoadServers();
  void ConfigurarPropriedades();
  void ConfigurarEmailSettings();
  void Carregar(const TIniFile& ini);
  void Salvar(TIniFile& ini);
  // The catalogue's UF row loads an empty UF as none, which the setter refuses.
  friend const std::vector<ChaveConfig>& ChavesConfiguracao();
  void SetNomeCert(const std::string& text);
  void DoOnLogGov(const std::string& kind, const std::string& id, const std::string& file);
  void DoOnLogContent(const std::string& kind, const std::string& id, const std::string& file,
                      const std::string& content);
  bool Telemetry();
  std::string LogFolder();
  // Where the reply of a post is logged: kind, id and, when it is not the kind's own, the name.
  // `notaEnviada` says the request carried notes, whose fate an unusable reply leaves unknown.
  struct TLogResposta {
    std::string tipo, id, arquivo;
    bool notaEnviada = false;
  };
  // Posts `envelope` to the service of address key `addressKey`, with the SOAP values of the
  // server file's "SoapAction<op>", "ResultTag<op>", "TargetNamespace<op>" or the defaults.
  // A reply that came but cannot be used (HTTP error, no SOAP envelope) is logged whole as
  // `resposta` says before its exception goes on.
  std::string PostToService(const std::string& addressKey, const std::string& op,
                            const std::string& envelope, const std::string& defaultAction,
                            const std::string& defaultResultTag,
                            const std::string& defaultNamespace, const TLogResposta& resposta);
  void ReportFailure(const std::string& operation, const std::exception& failure);
  // A cancellation request, of either kind.
  struct TCancelamento {
    TCancelamento(std::string aChave, std::string aProtocolo, std::string aJustificativa,
                  std::string aDataHora, int aSequencia, std::string aFuso, std::string aLote)
        : chave(std::move(aChave)),
          protocolo(std::move(aProtocolo)),
          justificativa(std::move(aJustificativa)),
          dataHora(std::move(aDataHora)),
          sequencia(aSequencia),
          fuso(std::move(aFuso)),
          lote(std::move(aLote)) {}
    std::string chave, protocolo, justificativa, dataHora;
    int sequencia;
    std::string fuso, lote;
    bool substituicao = false;
    std::string orgaoAutor, verAplic, chaveRef;
    TTipoAutor tipoAutor = TTipoAutor::taEmpresaEmitente;
  };
  std::string Cancelar(TCancelamento c);
  void ValidarCancelamento(const TCancelamento& c);
  // An event's date-time: now when empty, normalised otherwise, with `fuso` appended unless it
  // carries an offset already.
  std::string DataHoraEvento(const std::string& dataHora, const std::string& fuso);
  // The voiding Id of the parameters as given (the year must have two digits).
  std::string IdInutilizacao(const std::string& ano, const std::string& cnpj,
                             const std::string& modelo, const std::string& serie,
                             const std::string& inicial, const std::string& final);
  // `documento` against the schema file `xsd`: EqorSchemaValidationException with the problems
  // in ErrosValidador when it fails.
  void ValidarPeloEsquema(const std::string& documento, const std::string& xsd);
  // One EPEC evento from one infNFe.
  std::string EventoEPEC(const XmlDocument& nota, const std::string& modelo,
                         const std::string& dataHora);
  // ValidarLoteParaEnvio without its failure report, for the sending operations. With `grande`,
  // a batch over MaxSizeLoteEnvio sets it instead of raising, and the checks after the size
  // (signature, schema) still run.
  void ChecarLoteParaEnvio(const std::string& lote, const std::string& aLoteNotas,
                           std::string& loteXml, bool* grande = nullptr);
  // Signing of one prepared note (AssinarNota, per note): the CSRT, the signature and the
  // supplement; `suplemento` is the content of the infNFeSupl the host supplied for it, and
  // `documento` the note's text read (parsed rather than searched leniently: a note that is
  // not well-formed is a failure of its signing, not a note without Id to pass on unsigned),
  // which is signed as it stands, with the CSRT set in it.
  std::string AssinarNotaPreparada(const std::string& nota, XmlDocument documento,
                                   const std::string& suplemento);
  // ValidarRegraDeNegocioNFCe of a note already read (null: not well-formed).
  void ValidarRegraDeNegocioNFCe(const std::string& nota, const XmlDocument* documento);
  // GetReferenceInfo of a note already parsed.
  std::string GetReferenceInfo(const XmlDocument& nota);
  // Sets idCSRT and hashCSRT in the note's infRespTec (read) when a CSRT is configured.
  void DefinirCSRT(XmlDocument& nota, const std::string& chave);
  // Posts an enviNFe (compressed or not) with the SOAP values of kind `tipo`; the unwrapped
  // reply.
  std::string PostarLote(const std::string& loteXml, bool compactar, const std::string& tipo,
                         const TLogResposta& resposta);
  TqorNFCeXmlDestinatario CriarXmlDestinatario();
  // `email`, else EmailSettings' EmailDestinatario; both empty raise EqorNFCeCheckParamsException.
  std::string EnderecoDoDestinatario(const std::string& email);
  // The supplement of a signed note: the host's `suplemento`, the QR-code link made of `campos`
  // when the host gave none, and the key-query URL.
  void AdicionarSuplemento(std::string& nota, const std::string& suplemento,
                           const TCamposQRCode& campos);
  // What the DANFCE operations share: steps of the common sequence up to the print class, which
  // it returns with its parameters and XML set. `extras` are the operation's own parameters.
  struct TDanfcePedido {
    std::string xml, modelo;
    int tipo = 0;  // the export format, for the layout choice
    bool epec = false, previa = false;
    std::vector<std::pair<std::string, std::string>> extras;
  };
  TqorNFCeDanfce& PrepararDanfce(const TDanfcePedido& pedido);
  // The export file: `arquivo`, or the save dialog's answer for `formato`; empty: cancelled.
  std::string PreparaExportacao(int formato, const std::string& arquivo);
  void CheckParamsPrintEPEC(const std::string& protocolo, const std::string& dataHora);
  void ImprimirEscPos(TqorNFCeDanfce& danfce);
  // GetLinkQRCode of the values `campos` gives (read after the print settings are loaded), with
  // its failures.
  std::string LinkQRCode(const std::function<TCamposQRCode()>& campos);

  // The Integrador road of an operation: `mensagem` logged as `tipoPedido`, exchanged, the
  // state's reply taken out, unwrapped and logged as `tipoResposta`; returns it.
  std::string TrocarComIntegrador(const std::string& mensagem, const std::string& tipoPedido,
                                  const std::string& tipoResposta);
  // The SEFAZ data version of VersaoManual ("3.00", "3.10", "3.10", "4.00").
  std::string VersaoDadosIntegrador() const;

  TFileSystem* arquivos_ = nullptr;
  std::unique_ptr<TqorGovX> gov_;
  std::unique_ptr<TqorNFCeConverter> conversor_;
  std::unique_ptr<TqorNFCeDanfce> danfce_;
  // The batch template GetVersaoNota read last and its enviNFe version, so converting note
  // after note does not parse the same template again.
  std::string templateDaVersaoNota_;
  std::string versaoNota_;
  std::unique_ptr<TqorGovUtils> govUtils_;
  std::unique_ptr<TIniFile> serversIni_;
  std::shared_ptr<const std::string> serversIniTexto_;  // the text serversIni_ was parsed from
  // "Mapping.txt" as last read, reused while the file keeps its path and modification time:
  // every request is validated, and the mapping rarely changes.
  struct SchemaMapping {
    std::string path;
    std::chrono::system_clock::time_point age;
    std::unique_ptr<TIniFile> ini;
  } schemaMapping_;
  std::unique_ptr<TIniFile> configIni_;
  std::unique_ptr<TqorEmailSettings> emailSettings_;
  std::unique_ptr<TDanfceSettings> danfceSettings_;
  std::unique_ptr<TEscPosSettings> escPosSettings_;
  std::unique_ptr<TqorIntegrador> integrador_;
  std::unique_ptr<TqorImplantacao> implantacao_;
  TqorCertStringNFCe nomeCertificado_;
  TStrings paramsDanfce_;
  TStrings errosValidador_;
  TStrings ufCodes_;

  std::string diretorioXmlDestinatario_;
  int maxSizeLoteEnvio_ = 500;
  bool validarEsquemaAntesEnvio_ = false;
  std::string cnpj_;
  TAmbienteKind ambiente_ = TAmbienteKind::akHomologacao;
  std::string arquivoServidoresHom_, arquivoServidoresProd_;
  std::string uf_;
  std::string diretorioLog_;
  std::string sectionINI_;
  TVersaoManual versaoManual_ = TVersaoManual::vm60;
  std::string diretorioTemplates_, diretorioEsquemas_, diretorioLogErro_, diretorioTemporario_;
  std::string caracteresRemoverAcentos_;
  TCertificadoKind tipoCertificado_ = TCertificadoKind::ckFile;
  bool ignoreInvalidCertificates_ = true;
  bool conexaoSegura_ = false;
  int timeOut_ = 0;
  std::string senha_, proxy_, usuario_, pinCode_;
  bool salvarLogsEmDisco_ = true;
  std::string caminhoCertificado_, senhaCertificado_, arquivoCadeiaCertificados_;
  TEntregaXML entregaXML_ = TEntregaXML::exEmail;
  bool diagnosticMode_ = true;
  std::string idCSRT_, csrt_;
  bool atualizarArquivoServidores_ = true;
  std::string httpLibs_;
  bool utilizarEscPOS_ = false;
  std::string hashCertificado_;
};

template <typename Body>
auto TqorNFCe::RunOperation(const std::string& name, Body&& body) -> decltype(body()) {
  SendTelemetryPing(name);
  try {
    return body();
  } catch (const std::exception& failure) {
    ReportFailure(name, failure);
    throw;
  }
}

}  // namespace qor
