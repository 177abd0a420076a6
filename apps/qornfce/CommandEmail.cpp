// qornfce enviar-email: a note's distribution XML, with its DANFCE in PDF, mailed to a recipient.
#include <iostream>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "utils/Notas.h"

namespace qor::cli {

namespace {

bool IsAccessKey(const std::string& text) {
  return text.size() == 44 && text.find_first_not_of("0123456789") == std::string::npos;
}

// The PDF exported for one sending, removed with its folder when the sending ends.
class TDanfceTemporario {
 public:
  TDanfceTemporario(TqorNFCe& nfce, const std::string& arquivoXml)
      : pasta_(CreateUniqueDirectory(GetTempDir(), "qornfce-email-")) {
    const std::string xml = LoadFromFile(arquivoXml);
    caminho_ = pasta_ + getIDNotaXPath(xml) + ".pdf";
    nfce.ExportarDanfce("", xml, caminho_, 1, "");
  }
  ~TDanfceTemporario() {
    DeleteFile(caminho_);
    RemoveDirectory(pasta_);
  }
  TDanfceTemporario(const TDanfceTemporario&) = delete;
  TDanfceTemporario& operator=(const TDanfceTemporario&) = delete;
  const std::string& Caminho() const { return caminho_; }

 private:
  std::string pasta_, caminho_;
};

}  // namespace

int RunEnviarEmail(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  if (options.Positional().size() != 2) {
    throw UsageError("informe o arquivo da nota (ou a chave) e o endereço do destinatário");
  }
  const std::string nota = options.Positional()[0];
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  TqorEmailSettings& email = nfce.GetEmailSettings();
  email.SetEmailDestinatario(options.Positional()[1]);
  if (IsAccessKey(nota)) {
    nfce.EnviarNotaDestinatario(nota, "", "");
  } else {
    const std::string arquivo = FromCurrentDir(nota);
    if (!FileExists(arquivo)) throw UsageError("arquivo não encontrado: " + nota);
    if (email.GetAnexarDanfcePDF()) {
      const TDanfceTemporario pdf(nfce, arquivo);
      nfce.EnviarNotaDestinatarioAnexos(pdf.Caminho(), arquivo, "");
    } else {
      nfce.EnviarNotaDestinatarioAnexos("", arquivo, "");
    }
  }
  std::cout << "email enviado para " << email.GetEmailDestinatario() << "\n";
  return 0;
}

}  // namespace qor::cli
