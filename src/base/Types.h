// The component's enumerations and their text forms.
#pragma once

#include <functional>
#include <string>

namespace qor {

enum class TAmbienteKind { akProducao, akHomologacao };
enum class TVersaoManual { vm50, vm50a, vm50b, vm60 };
enum class TVersaoEsquema {
  pl_006n,
  pl_006p,
  pl_006q,
  pl_006r,
  pl_007a,
  pl_008a,
  pl_008b,
  pl_008c,
  pl_008d,
  pl_008e,
  pl_008f,
  pl_008g,
  pl_008h,
  pl_008i,
  pl_008i1,
  pl_009,
  pl_009g
};
enum class TCertificadoKind { ckMemory, ckLocalMachine, ckFile, ckActiveDiretory, ckSmartCard };
enum class TTipoAutor {
  taEmpresaEmitente,
  taEmpresaDestinataria,
  taEmpresa,
  taFisco,
  taRFB,
  taOutrosOrgaos
};
enum class TLayoutConvKind { lkTXTDic, lkTXTDataSet, lkTXTRec };
enum class TTipoRegraKind { rkMarqon, rkSefaz };
enum class TLogFilter {
  lfXml,
  lfNFCe,
  lfEnvLot,
  lfRec,
  lfPedRec,
  lfProRec,
  lfDen,
  lfCaneveEnv,
  lfCaneveRet,
  lfCaneveSubEnv,
  lfCaneveSubRet,
  lfPedInu,
  lfInu,
  lfPedSit,
  lfSit,
  lfPedSta,
  lfSta,
  lfCustom,
  lfEnvSincLot,
  lfEnvSincRet
};
enum class TFormatoDanfce { fdNormal, fdMensagemEletronica };
enum class TPrintView { pvPrinter, pvPreview, pvDesigner, pvPDF, pvJPG };
enum class TAutoUpdaterNFCeOption {
  auNFCeReiniciarAplicacao,
  auNFCeNaoAtualizarRTMs,
  auNFCeNaoMostrarProgresso
};
enum class TEntregaXML { exEmail };
enum class TTipoEvento { teCancelamento, teEPEC, teCancelamentoSubstituicao };

// tpAmb of the NF-e standard: "1" production, "2" homologation.
std::string TpAmb(TAmbienteKind ambiente);
// Template and schema sub-folder: "vm50\\", "vm50a\\", "vm50b\\", "vm60\\" (design spelling,
// a backslash being a separator).
std::string VersaoManualFolder(TVersaoManual versao);
// The SEFAZ data version of the layout: "3.00", "3.10", "3.10", "4.00".
std::string VersaoDados(TVersaoManual versao);
// Enumerator names ("vm60", "pl_009g", "lfEnvLot", ...).
std::string ToString(TVersaoManual v);
std::string ToString(TVersaoEsquema v);
std::string ToString(TAmbienteKind v);
std::string ToString(TCertificadoKind v);
std::string ToString(TLogFilter v);
// Log-file mask of a filter ("*-env-lot.xml"); lfCustom gives `custom` itself.
std::string LogFilterMask(TLogFilter filter, const std::string& custom = {});

// Host events.
using TOnLogEventNFCe = std::function<void(const std::string& aNome, const std::string& aID,
                                           const std::string& aFileName)>;
using TOnLogContentEventNFCe =
    std::function<void(const std::string& aNome, const std::string& aID,
                       const std::string& aFileName, const std::string& aContent)>;
using TOnCheckCertificateEventNFCe = std::function<void(std::string& CertificateName)>;
using TOnXmlDestinatarioEvent = std::function<void(const std::string& aFileName)>;
using TOnXmlCanDestinatarioEvent = std::function<void(const std::string& aFileName)>;
using TOnSetTextEvent = std::function<void(const std::string& aText)>;
// The save dialog of the DANFCE export: receives the default extension ("pdf") and the filter
// ("Arquivo PDF (*.pdf)|*.pdf") and returns the chosen file name; empty means cancelled.
using TOnSalvarComoEvent =
    std::function<std::string(const std::string& extensao, const std::string& filtro)>;
// Receives a file the host shows or opens: the preview image, the layout to edit.
using TOnArquivoEvent = std::function<void(const std::string& arquivo)>;

}  // namespace qor
