// The component's fiscal utilities: access key, QR-code link, CSRT hash and log listing.
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "utils/Chave.h"
#include "utils/Paths.h"
#include "utils/QRCode.h"

namespace qor {

std::string TqorNFCe::CalculaChaveNFCe(const std::string& dEmi, const std::string& cUF,
                                       const std::string& CNPJ, const std::string& mod,
                                       const std::string& serie, const std::string& nNF,
                                       const std::string& cNF, const std::string& tpEmis) {
  // The failure is reported under another name than the ping ("NCFe"): the telemetry records
  // already collected carry that name, so it stays.
  SendTelemetryPing("CalculaChaveNFCe");
  try {
    return CalculaChave(dEmi, cUF, CNPJ, mod, serie, nNF, tpEmis, cNF, diretorioLogErro_);
  } catch (const std::exception& failure) {
    ReportFailure("CalculaChaveNCFe", failure);
    throw;
  }
}

std::string TqorNFCe::GetLinkQRCode(const std::string& xml) {
  return RunOperation("GetLinkQRCode", [&] {
    if (Trim(xml).empty()) {
      throw EqorNFCeGetLinkQRCodeException("Arquivo xml informado vazio", diretorioLogErro_);
    }
    return LinkQRCode([&] { return LerCamposQRCode(XmlDocument::Parse(xml)); });
  });
}

std::string TqorNFCe::LinkQRCode(const std::function<TCamposQRCode()>& campos) {
  try {
    LoadDanfceSettings();
    const std::string modelo = ObterModeloQrCode(GetDanfceSettings().GetParamsAvancados());
    return MontaLinkQRCode(campos(), GetParamsDanfce(), modelo, versaoManual_, diretorioLogErro_);
  } catch (const std::exception& failure) {
    throw EqorNFCeGetLinkQRCodeException(
        std::string("Ocorreu um erro na geração do link do QRCode com a seguinte mensagem: ") +
            failure.what(),
        diretorioLogErro_);
  }
}

std::string TqorNFCe::CalcularHashCSRT(const std::string& aChave, const std::string& aCSRT) {
  return RunOperation("CalcularHashCSRT",
                      [&] { return HashCSRT(aChave, aCSRT, diretorioLogErro_); });
}

void TqorNFCe::ListarLogs(TStrings* aList, TLogFilter filtro, const std::string& texto) {
  RunOperation("ListarLogs", [&] {
    if (aList == nullptr) {
      throw EqorNFCeCheckParamsException("Parâmetro aList não foi instanciado (nil).",
                                         diretorioLogErro_);
    }
    const std::string pasta = FixSlash(ExpandPath(GetDiretorioLog()));
    if (pasta.empty() || (!DirectoryExists(pasta) && !ForceDirectories(pasta))) {
      throw EqorNFCeDirNotFoundException("Diretório de log não pode ser criado ou está vazio: %s",
                                         {pasta}, diretorioLogErro_);
    }
    std::string mascara = LogFilterMask(filtro, texto);
    const std::string parte = Trim(texto);
    if (!parte.empty() && filtro != TLogFilter::lfCustom) {
      mascara = Format("*%s%s", {parte, mascara});
    }
    aList->Clear();
    for (const std::string& nome : ListFiles(pasta, mascara)) aList->Add(pasta + nome);
  });
}

std::string TqorNFCe::LerLog(const std::string& /*aNome*/) { return {}; }

}  // namespace qor
