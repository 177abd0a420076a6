#include "utils/Conversoes.h"

#include <array>
#include <cstddef>

#include "base/Exceptions.h"
#include "platform/Text.h"

namespace qor {

namespace {

constexpr std::array kVersoesEsquema{"pl_006n", "pl_006p", "pl_006q", "pl_006r", "pl_007a",
                                     "pl_008a", "pl_008b", "pl_008c", "pl_008d", "pl_008e",
                                     "pl_008f", "pl_008g", "pl_008h", "pl_008i", "pl_008i1",
                                     "pl_009",  "pl_009g"};
constexpr std::array kVersoesManual{"5.0", "5.0a", "5.0b", "6.0"};
constexpr std::array kTiposCertificado{"MEMORY", "LOCALMACHINE", "FILE", "ACTIVEDIRECTORY",
                                       "SMARTCARD"};
constexpr std::array kFormatosDanfce{"NORMAL", "MENSAGEMELETRONICA"};

// Index of `text` in `names` ignoring case, or -1.
template <std::size_t N>
int IndexOfText(const std::string& text, const std::array<const char*, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (SameText(text, names[i])) return static_cast<int>(i);
  }
  return -1;
}

template <typename E, std::size_t N>
std::string NameOf(E value, const std::array<const char*, N>& names) {
  const auto index = static_cast<std::size_t>(value);
  return index < N ? names[index] : std::string();
}

}  // namespace

TVersaoEsquema StrToVersaoEsquema(const std::string& text, const std::string& logDir) {
  const int index = IndexOfText(text, kVersoesEsquema);
  if (index < 0) {
    throw EqorNFCeVersaoEsquemaInvalidaException(
        "Versão de Esquema informado: %s não é suportada. \rUtilize: pl_006n, pl_006p, "
        "pl_006q,pl_006r, pl_007a, pl_008a, pl_008b, pl_008c, pl_008d, pl_008e, pl_008f, "
        "pl_008g, pl_008h, pl_008i, pl_008i1, pl_009, pl_009g",
        {text}, logDir);
  }
  return static_cast<TVersaoEsquema>(index);
}

std::string VersaoEsquemaToStr(TVersaoEsquema versao) { return NameOf(versao, kVersoesEsquema); }

TVersaoManual StrToVersaoManual(const std::string& text, const std::string& logDir) {
  const int index = IndexOfText(text, kVersoesManual);
  if (index < 0) {
    throw EqorNFCeVersaoManualException(
        "Versão do Manual informada: %s não é suportada. \rUtilize: 5.0, 5.0a, 5.0b ou 6.0", {text},
        logDir);
  }
  return static_cast<TVersaoManual>(index);
}

std::string VersaoManualToStr(TVersaoManual versao) { return NameOf(versao, kVersoesManual); }

std::string VersaoManualToVersaoSefaz(TVersaoManual versao) { return VersaoDados(versao); }

TCertificadoKind StrToTipoCertificado(const std::string& text) {
  const int index = IndexOfText(text, kTiposCertificado);
  return index < 0 ? TCertificadoKind::ckFile : static_cast<TCertificadoKind>(index);
}

std::string TipoCertificadoToString(TCertificadoKind kind) {
  return NameOf(kind, kTiposCertificado);
}

TFormatoDanfce StrToFormatoDanfce(const std::string& text, const std::string& logDir) {
  const int index = IndexOfText(text, kFormatosDanfce);
  if (index < 0) {
    throw EqorNFCeFormatoDanfceInvalidoException(
        "Formato Danfce informado: %s não é suportado. \rUtilize: NORMAL ou MENSAGEMELETRONICA",
        {text}, logDir);
  }
  return static_cast<TFormatoDanfce>(index);
}

std::string FormatoDanfceToStr(TFormatoDanfce formato) { return NameOf(formato, kFormatosDanfce); }

std::string GetTipoAmbiente(TAmbienteKind ambiente) { return TpAmb(ambiente); }

std::string GetTipoAutor(TTipoAutor autor) {
  return NameOf(autor, std::array{"1", "2", "3", "5", "6", "9"});
}

bool ValidaOrgao(int orgao) {
  return (orgao >= 11 && orgao <= 17) || (orgao >= 21 && orgao <= 29) ||
         (orgao >= 31 && orgao <= 33) || orgao == 35 || (orgao >= 41 && orgao <= 43) ||
         (orgao >= 50 && orgao <= 53) || orgao == 90 || orgao == 91;
}

}  // namespace qor
