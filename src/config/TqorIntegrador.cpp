#include "config/TqorIntegrador.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "base/Exceptions.h"
#include "platform/Files.h"

namespace qor {

namespace {

// Two texts name the same folder when they lead to the same folder on disk (through "..", a
// doubled separator or a link) or, for a folder not there yet, when they read the same once
// made absolute. Folder names differ by case on this system, so case alone does not make two
// folders one.
bool SameFolder(const std::string& a, const std::string& b) {
  const std::string pa = IncludeTrailingSlash(ExpandPath(a));
  const std::string pb = IncludeTrailingSlash(ExpandPath(b));
  if (pa == pb) return true;
  std::error_code ec;
  return std::filesystem::equivalent(pa, pb, ec) && !ec;
}

}  // namespace

TqorIntegrador::TqorIntegrador(std::function<std::string()> logErro)
    : logErro_(std::move(logErro)) {}

void TqorIntegrador::Check(const std::string& propriedade, const std::string& value,
                           const std::string& other) const {
  if (!ativar_) return;
  const std::string logErro = logErro_ ? logErro_() : std::string();
  if (!DirectoryExists(ExpandPath(value))) {
    throw EqorNFCeCheckParamsException(
        propriedade + ", Diretório inexistente: " + value +
            "\r\nPor favor configure o mesmo diretório monitorado pelo Integrador do Ceará.",
        logErro);
  }
  if (!value.empty() && !other.empty() && SameFolder(value, other)) {
    throw EqorNFCeCheckParamsException(
        "As propriedades DiretorioEntrada e DiretorioSaida devem ser configuradas em diretórios "
        "diferentes.",
        logErro);
  }
}

void TqorIntegrador::SetDiretorioEntrada(const std::string& v) {
  Check("DiretorioEntrada", v, diretorioSaida_);
  diretorioEntrada_ = v;
}

void TqorIntegrador::SetDiretorioSaida(const std::string& v) {
  Check("DiretorioSaida", v, diretorioEntrada_);
  diretorioSaida_ = v;
}

}  // namespace qor
