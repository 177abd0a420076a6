// The component's exception family. Every failure the component reports is one of these
// classes with a Portuguese message; the class and the message are the whole report.
//
// Constructing an exception of the EqorNFCeException branch appends one line to the exception
// log of its class in the given folder (the component's DiretorioLogErro; an empty folder means
// the component's writable folder, HomeDir()):
//     [dd/mm/YYYY hh:MM:ss:zzz] <thread id> - <class name> : <message>
// to "nfce_exception.log", or to "nfceDataSets_exception.log" for the dataset branch.
// EqorException itself and EqorDataSetException write no line.
//
// The log file a class writes to is fixed by the class; it reaches the base constructor as an
// argument, because a virtual call from a C++ base-class constructor would not reach the
// derived class. A line that cannot be written is dropped: an exception under construction has
// no way to report a second failure, and the original failure must still reach the caller.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/Format.h"

namespace qor {

class EqorException : public std::runtime_error {
 public:
  EqorException(const std::string& message, const std::string& logDir)
      : EqorException(Origin{"EqorException", ""}, message, logDir) {}
  EqorException(std::string_view format, FormatArgs args, const std::string& logDir)
      : EqorException(Origin{"EqorException", ""}, Format(format, args), logDir) {}

  // Name of the exception-log file of this class ("" for none).
  const std::string& GetNomeLog() const noexcept { return nomeLog_; }
  const std::string& ClassName() const noexcept { return className_; }

 protected:
  struct Origin {
    const char* className;
    const char* nomeLog;
  };
  EqorException(Origin origin, const std::string& message, const std::string& logDir);

 private:
  std::string className_;
  std::string nomeLog_;
};

// Declares an exception class that logs like its parent.
#define QOR_DECLARE_EXCEPTION(Name, Parent, NomeLog)                          \
  class Name : public Parent {                                                \
   public:                                                                    \
    static constexpr const char* kNomeLog = NomeLog;                          \
    Name(const std::string& message, const std::string& logDir)               \
        : Parent(Origin{#Name, kNomeLog}, message, logDir) {}                 \
    Name(std::string_view format, FormatArgs args, const std::string& logDir) \
        : Parent(Origin{#Name, kNomeLog}, Format(format, args), logDir) {}    \
                                                                              \
   protected:                                                                 \
    using Parent::Parent;                                                     \
  };

#define QOR_NFCE_EXCEPTION(Name) \
  QOR_DECLARE_EXCEPTION(Name, EqorNFCeException, EqorNFCeException::kNomeLog)
#define QOR_DATASETS_EXCEPTION(Name) \
  QOR_DECLARE_EXCEPTION(Name, EqorNFCeDataSetsException, EqorNFCeDataSetsException::kNomeLog)

QOR_DECLARE_EXCEPTION(EqorDataSetException, EqorException, "")
QOR_DECLARE_EXCEPTION(EqorNFCeException, EqorException, "nfce_exception.log")
QOR_DECLARE_EXCEPTION(EqorNFCeDataSetsException, EqorNFCeException, "nfceDataSets_exception.log")

QOR_DATASETS_EXCEPTION(EqorNFCeVersaoEsquemaInvalidaException)
QOR_DATASETS_EXCEPTION(EqorNFCeConvTX2Exception)
QOR_DATASETS_EXCEPTION(EqorNFCeDataSetConfigException)
QOR_DATASETS_EXCEPTION(EqorDataSetLoadTemplateException)
QOR_DATASETS_EXCEPTION(EqorDataSetFileNotFoundException)
QOR_DATASETS_EXCEPTION(EqorDataSetFieldNotFoundException)

QOR_NFCE_EXCEPTION(EqorNFCeCheckParamsException)
QOR_NFCE_EXCEPTION(EqorNFCeMaxSizeException)
QOR_NFCE_EXCEPTION(EqorNFCeVersaoManualException)
QOR_NFCE_EXCEPTION(EqorNFCeQuantidadeNotasEnviarSincronoException)
QOR_NFCE_EXCEPTION(EqorNFCeFormatoDanfceInvalidoException)
QOR_NFCE_EXCEPTION(EqorNFCeRegraDeNegocioException)
QOR_NFCE_EXCEPTION(EqorNFCeMetodoInexistenteException)
QOR_NFCE_EXCEPTION(EqorNFCeConvertDateException)
QOR_NFCE_EXCEPTION(EqorNFCeRuleException)
QOR_NFCE_EXCEPTION(EqorNFCeAddressException)
QOR_NFCE_EXCEPTION(EqorNFCeCheckTXT)
QOR_NFCE_EXCEPTION(EqorNFCeConvXmlException)
QOR_NFCE_EXCEPTION(EqorNFCeSignatureException)
QOR_NFCE_EXCEPTION(EqorNFCeLogNotFoundException)
QOR_NFCE_EXCEPTION(EqorNFCeXmlDestinatarioException)
QOR_NFCE_EXCEPTION(EqorNFCeReportException)
QOR_NFCE_EXCEPTION(EqorNFCeDirNotFoundException)
QOR_NFCE_EXCEPTION(EqorNFCeConsultaException)
QOR_NFCE_EXCEPTION(EqorTemplateNotFoundException)
QOR_NFCE_EXCEPTION(EqorCertStoreException)
QOR_NFCE_EXCEPTION(EqorFileNotFoundException)
QOR_NFCE_EXCEPTION(EqorSchemaValidationException)
QOR_NFCE_EXCEPTION(EqorNFCeConfigException)
QOR_NFCE_EXCEPTION(EqorConfigINIException)
QOR_NFCE_EXCEPTION(EqorSignatureException)
QOR_NFCE_EXCEPTION(EqorNFCeEventoException)
QOR_NFCE_EXCEPTION(EqorNFCeEventoCheckParams)
QOR_NFCE_EXCEPTION(EqorNFCeEventoInvalidSigner)
QOR_NFCE_EXCEPTION(EqorNFCeEventoLogNotFoundException)
QOR_NFCE_EXCEPTION(EqorNFCeEventoXmlDestinatario)
QOR_NFCE_EXCEPTION(EqorNFCeEpecProtocoVazioException)
QOR_NFCE_EXCEPTION(EqorNFCeEpecDataHoraVazioException)
QOR_NFCE_EXCEPTION(EqorNFCeEpecDataHoraInvalidaException)
QOR_NFCE_EXCEPTION(EqorNFCeEpecProtocoNaoNumericoException)
QOR_NFCE_EXCEPTION(EqorNFCeValidarArquivoXmlDestinatarioException)
QOR_NFCE_EXCEPTION(EqorNFCeGetLinkQRCodeException)
QOR_NFCE_EXCEPTION(EqorNFCeCarregarLoteNotasImpressaoException)
QOR_NFCE_EXCEPTION(EqorNFCeIntegradorException)
QOR_NFCE_EXCEPTION(EqorNFCeAutoUpdaterException)

#undef QOR_NFCE_EXCEPTION
#undef QOR_DATASETS_EXCEPTION

// The exception-log line, as written by the family and by the telemetry failure report:
// "[dd/mm/YYYY hh:MM:ss:zzz] <thread id> - <className> : <message>" followed by CR LF.
std::string ExceptionLogLine(const std::string& className, const std::string& message);
// Appends ExceptionLogLine to `logDir` + `fileName` (empty folder: HomeDir()).
// Never throws.
void AppendExceptionLog(const std::string& logDir, const std::string& fileName,
                        const std::string& className, const std::string& message) noexcept;

}  // namespace qor
