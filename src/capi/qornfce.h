/* qornfce.h: the C interface of qornfce, for hosts written in C or in any language with a C
 * foreign-function interface (ctypes, JNA, P/Invoke, cgo, Free Pascal, Node's ffi).
 *
 * A host creates a component handle (qor_nfce_new), configures it from an INI file
 * (qor_nfce_carregar_config) or property by property (qor_nfce_definir, with the names the
 * configuration file uses), and calls one function per operation. Every function returns a
 * qor_status; QOR_OK is the only success. Results come back through `char**` out-parameters as
 * NUL-terminated UTF-8 text the caller owns and releases with qor_free. On failure an out-parameter
 * is set to NULL, and the class and message of the failure can be read with qor_nfce_ultimo_erro
 * (per handle) or qor_ultimo_erro (per thread).
 *
 * Errors are values: no C++ exception leaves these functions, a NULL or malformed argument is an
 * error code, never a crash, and every handle is checked against the set of live handles, so a
 * freed or made-up handle is refused with QOR_ERRO_HANDLE in every build.
 *
 * Texts are UTF-8. Names, property values and the other text arguments that are not UTF-8 are
 * refused with QOR_ERRO_UTF8; TX2 text is the exception and follows the converter's own rule
 * (text that is not valid UTF-8 is read as Windows-1252).
 *
 * Threads: a handle must not be used by two threads at once (calls on one handle are not
 * serialised for the host). Any number of handles may be used on any number of threads, each
 * handle by one thread at a time; creating and freeing handles is safe from any thread. A
 * contingency handle counts as part of the component handle it was made from.
 */
#ifndef QORNFCE_QORNFCE_H
#define QORNFCE_QORNFCE_H

#include <stddef.h>

#if defined(__GNUC__)
#define QOR_API __attribute__((visibility("default")))
#else
#define QOR_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The result of every call. */
typedef enum qor_status {
  QOR_OK = 0,
  /* A required argument is NULL, empty where a value is needed, or out of its range. */
  QOR_ERRO_ARGUMENTO = 1,
  /* The handle is NULL, was freed, or was never returned by this library. */
  QOR_ERRO_HANDLE = 2,
  /* A text argument is not valid UTF-8. */
  QOR_ERRO_UTF8 = 3,
  /* qor_nfce_definir/qor_nfce_obter: no configuration key has that name, or the key cannot be
   * set (written-only keys) or read (passwords, the PIN, the CSC and its id, the CSRT). */
  QOR_ERRO_PROPRIEDADE = 4,
  /* The operation raised one of the component's own exceptions (the Eqor... family); the class
   * and message are in qor_nfce_ultimo_erro. */
  QOR_ERRO_OPERACAO = 5,
  /* A failure of the services layer: transport, TLS, certificate, file or XML
   * (EqorGovException). */
  QOR_ERRO_SERVICO = 6,
  /* Memory ran out. */
  QOR_ERRO_MEMORIA = 7,
  /* Any other failure inside the library (the class names the C++ type). */
  QOR_ERRO_INTERNO = 8
} qor_status;

/* The component (one per till, or one per thread). Opaque. */
typedef struct qor_nfce qor_nfce;
/* The offline contingency queue of a component. Opaque. */
typedef struct qor_contingencia qor_contingencia;

/* ---- library -------------------------------------------------------------------------------- */

/* The library's version ("1.0.0.0"); static text, never freed. */
QOR_API const char* qor_versao(void);
/* A short Portuguese description of `status`; static text, never freed. */
QOR_API const char* qor_status_texto(qor_status status);
/* Releases a text returned by this library. NULL is allowed. Never pass anything else. */
QOR_API void qor_free(void* texto);

/* The class and message of the last failure of a call made on this thread, whatever the handle
 * (the only record of a failed qor_nfce_new or of a call refused for its handle). Both are
 * empty texts when no call of this thread has failed. Each out-parameter may be NULL; the texts
 * are freed with qor_free. */
QOR_API qor_status qor_ultimo_erro(char** classe, char** mensagem);

/* ---- the component handle ------------------------------------------------------------------- */

/* A new component with its defaults. `*nfce` is set to the handle, or NULL on failure. */
QOR_API qor_status qor_nfce_new(qor_nfce** nfce);
/* Frees the component and every contingency handle made from it; the handles are unknown from
 * then on. */
QOR_API qor_status qor_nfce_free(qor_nfce* nfce);

/* The class and message of the last failed call on `nfce` (empty when none failed). Each
 * out-parameter may be NULL; the texts are freed with qor_free. */
QOR_API qor_status qor_nfce_ultimo_erro(qor_nfce* nfce, char** classe, char** mensagem);

/* Loads the configuration file `arquivo` (a file, a folder holding nfceConfig.ini, or NULL/""
 * for nfceConfig.ini of the component's writable folder: beside the executable when that holds
 * the installation data, else $QORNFCE_HOME or $XDG_DATA_HOME/qornfce/). A missing file is
 * QOR_ERRO_OPERACAO (EqorConfigINIException). */
QOR_API qor_status qor_nfce_carregar_config(qor_nfce* nfce, const char* arquivo);

/* Sets one property by the name of its configuration key, "SECAO.Chave" ("NFCE.UF",
 * "DANFCE.TokenNFCe", "MAIL.ServidorSmtp") or, for the component's main section, the bare key
 * ("UF", "CNPJ", "Ambiente"). Names ignore case. The value is text as the file holds it:
 * booleans "1"/"0" (also "true"/"false"), integers in decimal, enumerations by name, secrets in
 * clear. An empty value sets the key's default. A value the property refuses is
 * QOR_ERRO_OPERACAO with the component's message. */
QOR_API qor_status qor_nfce_definir(qor_nfce* nfce, const char* nome, const char* valor);
/* The value of a property by the same names, as the configuration file would hold it. */
QOR_API qor_status qor_nfce_obter(qor_nfce* nfce, const char* nome, char** valor);

/* ---- operations ----------------------------------------------------------------------------- */
/* Each returns the state's reply (or the document made) in `*resultado`, or NULL on failure. */

/* The service status of the configured state (consStatServ). */
QOR_API qor_status qor_nfce_status_servico(qor_nfce* nfce, char** resultado);
/* The situation of the note of access key `chave` (consSitNFe). */
QOR_API qor_status qor_nfce_consultar(qor_nfce* nfce, const char* chave, char** resultado);
/* The TX2 text `tx2` (or the name of a file holding it) converted into unsigned note XML, one
 * note per line. `esquema` names the schema package ("pl_009g", ..., "pl_006n"); NULL or ""
 * means "pl_009g". */
QOR_API qor_status qor_nfce_converter_tx2(qor_nfce* nfce, const char* tx2, const char* esquema,
                                          char** resultado);
/* The notes of `xml` signed, each with its infNFeSupl (QR code), concatenated. */
QOR_API qor_status qor_nfce_assinar_nota(qor_nfce* nfce, const char* xml, char** resultado);
/* One signed note sent for synchronous authorisation as batch `lote`; `compactar` non-zero
 * sends it compressed. The authorised note's distribution XML is written to the recipient
 * folder. */
QOR_API qor_status qor_nfce_enviar_sincrono(qor_nfce* nfce, const char* lote, const char* nota,
                                            int compactar, char** resultado);
/* Signed notes sent as batch `lote` for asynchronous processing; the reply carries the receipt
 * (nRec) to query with qor_nfce_consultar_recibo. */
QOR_API qor_status qor_nfce_enviar(qor_nfce* nfce, const char* lote, const char* notas,
                                   int compactar, char** resultado);
/* The processing of the batch of receipt `recibo`; writes the distribution XML of its notes. */
QOR_API qor_status qor_nfce_consultar_recibo(qor_nfce* nfce, const char* recibo, char** resultado);
/* Cancels the authorised note `chave` (event 110111). `data_hora` NULL or "" means now, `fuso`
 * NULL or "" means "-03:00", `id_lote` NULL or "" means "1"; `sequencia` is 1 or more. */
QOR_API qor_status qor_nfce_cancelar(qor_nfce* nfce, const char* chave, const char* protocolo,
                                     const char* justificativa, const char* data_hora,
                                     int sequencia, const char* fuso, const char* id_lote,
                                     char** resultado);
/* Cancellation by substitution (event 110112) of `chave`, replaced by the note `chave_ref`;
 * the author is the issuing company, `orgao_autor` NULL or "" is the configured state's code,
 * `ver_aplic` NULL or "" is "qornfce". */
QOR_API qor_status qor_nfce_cancelar_substituicao(qor_nfce* nfce, const char* chave,
                                                  const char* protocolo, const char* justificativa,
                                                  const char* data_hora, int sequencia,
                                                  const char* fuso, const char* orgao_autor,
                                                  const char* ver_aplic, const char* chave_ref,
                                                  const char* id_lote, char** resultado);
/* Voids the numbers `inicial` to `final` of series `serie` of model `modelo` (inutNFe); `ano`
 * has two digits. Writes <Id>-inut.xml into the recipient folder when homologated. */
QOR_API qor_status qor_nfce_inutilizar(qor_nfce* nfce, const char* ano, const char* cnpj,
                                       const char* modelo, const char* serie,
                                       const char* numero_inicial, const char* numero_final,
                                       const char* justificativa, char** resultado);
/* Registers in EPEC (event 110140) every note of `notas`: the events are built, signed and sent
 * as batch `id_lote` (NULL or "": "1") with the date-time `data_hora` (NULL or "": now). */
QOR_API qor_status qor_nfce_epec(qor_nfce* nfce, const char* notas, const char* id_lote,
                                 const char* data_hora, char** resultado);

/* DANFCE formats of qor_nfce_exportar_danfce. */
typedef enum qor_formato_danfce {
  QOR_DANFCE_PDF = 1,
  QOR_DANFCE_HTML = 2,
  QOR_DANFCE_TXT = 3
} qor_formato_danfce;

/* Exports the DANFCE of `xml` (the note's XML, its file name, or "note,cancellation" file
 * names) to the file `arquivo` in `formato`. `modelo` NULL or "" means the configured layout. */
QOR_API qor_status qor_nfce_exportar_danfce(qor_nfce* nfce, const char* xml, const char* arquivo,
                                            int formato, const char* modelo);
/* Mails the distribution XML of `chave` (with its DANFCE in PDF when MAIL's AnexarDanfcePDF) to
 * the configured recipient (MAIL.EmailDestinatario), through the configured SMTP server. The XML
 * is assembled from the logs `log_envio` and `log_resposta` when either is given, else taken
 * from the recipient folder. */
QOR_API qor_status qor_nfce_enviar_email(qor_nfce* nfce, const char* chave, const char* log_envio,
                                         const char* log_resposta);
/* Mails the files given: `pdf` and `xml` (at least one; the XML may be the text itself) and
 * `anexos` (more files, separated by ";" or one per line; NULL for none). */
QOR_API qor_status qor_nfce_enviar_email_anexos(qor_nfce* nfce, const char* pdf, const char* xml,
                                                const char* anexos);

/* ---- offline contingency -------------------------------------------------------------------- */

/* The next unused number (nNF) of series `serie` from the host's numbering, asked for when an
 * online attempt may have reached the state. Writes the digits, NUL-terminated, into `numero`
 * (room for `capacidade` bytes) and returns 0; any other return refuses, and the emission fails
 * with the attempt queued. `usuario` is the pointer given with the callback. Runs on the thread
 * that called qor_contingencia_emitir. */
typedef int (*qor_novo_numero_fn)(void* usuario, const char* serie, char* numero,
                                  size_t capacidade);

/* The queue in folder `pasta` (created on first write) for the component `nfce`. The failures of
 * the calls on a queue are recorded on its component (qor_nfce_ultimo_erro). */
QOR_API qor_status qor_contingencia_new(qor_nfce* nfce, const char* pasta,
                                        qor_contingencia** contingencia);
QOR_API qor_status qor_contingencia_free(qor_contingencia* contingencia);
/* Sets (or, with NULL, clears) the numbering callback. */
QOR_API qor_status qor_contingencia_definir_novo_numero(qor_contingencia* contingencia,
                                                        qor_novo_numero_fn funcao, void* usuario);
/* The till's call: signs and sends the converted note `xml`; when the state cannot be reached it
 * is issued offline (tpEmis 9, `justificativa` of 15 to 256 characters) and queued. The result
 * is a JSON object: {"offline": bool, "chave", "nota" (the signed note to print), "resposta",
 * "motivo", "chaveEmVerificacao"}. */
QOR_API qor_status qor_contingencia_emitir(qor_contingencia* contingencia, const char* xml,
                                           const char* justificativa, char** resultado);
/* Issues the converted note offline at once and queues it; the result is the signed note. */
QOR_API qor_status qor_contingencia_emitir_offline(qor_contingencia* contingencia, const char* xml,
                                                   const char* justificativa, char** resultado);
/* Sends the queue, at most `max` notes (0: all). The result is a JSON object with the counts:
 * {"filaEmUso", "interrompida", "enviadas", "autorizadas", "denegadas", "duplicadas",
 * "rejeitadas", "inutilizadas", "canceladas", "falhasTransporte", "pendentes", "emVerificacao",
 * "ultimaFalha", "danificados"}. */
QOR_API qor_status qor_contingencia_transmitir(qor_contingencia* contingencia, int max,
                                               char** resultado);
/* The queue as a JSON array, one object per note: {"chave", "estado", "idadeSegundos",
 * "restanteSegundos", "atrasada", "tentativas", "cStat", "xMotivo", "chaveRelacionada"};
 * damaged files as {"arquivo", "estado": "danificada", "motivo"}. */
QOR_API qor_status qor_contingencia_listar(qor_contingencia* contingencia, char** resultado);

#ifdef __cplusplus
}
#endif

#endif /* QORNFCE_QORNFCE_H */
