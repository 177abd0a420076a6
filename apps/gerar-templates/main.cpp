// Writes the request template files of the manual versions that read their templates from disk.
//
// vm50 and vm50a load every template from Templates/<vm>/<UF>/<name>. Both speak the 3.10
// services, so their files hold the texts the catalogue gives vm50b, for every state and the
// national environment. The build runs this over the catalogue itself, so the files cannot drift
// from it and nobody keeps two thousand copies by hand.
//
// Usage: qornfce-gerar-templates <Templates folder>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>

#include "base/Types.h"
#include "platform/Files.h"
#include "templates/TqorNFCeTemplates.h"

namespace {

void GerarPasta(const std::string& pasta, const std::string& uf) {
  if (!qor::ForceDirectories(pasta)) throw std::runtime_error("não foi possível criar " + pasta);
  const auto nomes = qor::TqorNFCeTemplates::Nomes();
  for (const auto nome : nomes) {
    qor::SaveToFile(
        pasta + std::string(nome),
        qor::TqorNFCeTemplates::LoadTemplate(qor::TVersaoManual::vm50b, uf, std::string(nome)));
  }
  // A name the catalogue no longer has would otherwise stay in the folder and still be read.
  for (const std::string& arquivo : qor::ListFiles(pasta, "*")) {
    if (std::find(nomes.begin(), nomes.end(), arquivo) == nomes.end()) {
      qor::DeleteFile(pasta + arquivo);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "uso: %s <pasta Templates>\n", argv[0]);
    return 2;
  }
  try {
    const std::string raiz = qor::IncludeTrailingSlash(qor::NativePath(argv[1]));
    for (const auto versao : {qor::TVersaoManual::vm50, qor::TVersaoManual::vm50a}) {
      const std::string pastaVersao = raiz + qor::NativePath(qor::VersaoManualFolder(versao));
      for (const auto uf : qor::TqorNFCeTemplates::UFs()) {
        GerarPasta(pastaVersao + std::string(uf) + "/", std::string(uf));
      }
    }
  } catch (const std::exception& falha) {
    std::fprintf(stderr, "%s\n", falha.what());
    return 1;
  }
  return 0;
}
