#include "conversion/TqorNFCeConvTXTDataSet.h"

#include <string_view>

#include "core/Exceptions.h"
#include "platform/Files.h"
#include "platform/Text.h"

namespace qor {

TqorNFCeConvTXTDataSet::TqorNFCeConvTXTDataSet()
    : dataSets_(std::make_unique<TqorNFCeDataSets>()) {}
TqorNFCeConvTXTDataSet::~TqorNFCeConvTXTDataSet() = default;

void TqorNFCeConvTXTDataSet::SetDiretorioLogErro(const std::string& v) {
  diretorioLogErro_ = v;
  dataSets_->SetDiretorioLogErro(v);
}

void TqorNFCeConvTXTDataSet::SetTXT(const std::string& value) {
  // A TX2 text has line breaks and "="; a file name has neither, so only a one-line value can
  // name a file.
  const bool arquivo = value.find_first_of("\r\n") == std::string::npos && FileExists(value);
  linhas_.SetText(arquivo ? LoadFromFile(value) : value);
  if (Trim(linhas_.Text()).empty()) {
    throw EqorNFCeDataSetsException("Conteúdo a ser convertido é inválido.", diretorioLogErro_);
  }
}

std::string TqorNFCeConvTXTDataSet::EscaparValor(const std::string& value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (char c : value) {
    switch (c) {
      case '\'':
        out += "&apos;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  if (value.find('&') == std::string::npos) return out;
  // An entity the host had already escaped ("&amp;" in the input became "&amp;amp;") is
  // restored.
  static constexpr std::string_view kEntities[] = {"apos;", "quot;", "lt;", "gt;", "amp;"};
  std::string restored;
  restored.reserve(out.size());
  for (std::size_t i = 0; i < out.size();) {
    if (out.compare(i, 5, "&amp;") == 0) {
      bool kept = false;
      for (std::string_view entity : kEntities) {
        if (out.compare(i + 5, entity.size(), entity) == 0) {
          restored += '&';
          restored += entity;
          i += 5 + entity.size();
          kept = true;
          break;
        }
      }
      if (kept) continue;
    }
    restored += out[i++];
  }
  return restored;
}

namespace {
bool IsComando(const std::string& line) {
  static constexpr std::string_view kComandos[] = {
      "INCLUIR", "INCLUIRITEM", "SALVARITEM",   "INCLUIRCOBRANCA", "SALVARCOBRANCA",
      "SALVAR",  "CANCELAR",    "INCLUIRPARTE", "SALVARPARTE"};
  const std::string chave = Trim(std::string_view(line).substr(0, line.find('=')));
  for (std::string_view comando : kComandos) {
    if (chave == comando) return true;
  }
  return false;
}
}  // namespace

void TqorNFCeConvTXTDataSet::ExecutarLinha(const std::string& line) {
  const std::size_t igual = line.find('=');
  const std::string chave = Trim(std::string_view(line).substr(0, igual));
  const std::string resto = igual == std::string::npos ? std::string() : line.substr(igual + 1);
  TqorNFCeDataSets& ds = *dataSets_;
  if (chave == "INCLUIR") {
    ds.Incluir();
  } else if (chave == "INCLUIRITEM") {
    ds.IncluirItem();
  } else if (chave == "SALVARITEM") {
    ds.SalvarItem();
  } else if (chave == "INCLUIRCOBRANCA") {
    ds.IncluirCobranca();
  } else if (chave == "SALVARCOBRANCA") {
    ds.SalvarCobranca();
  } else if (chave == "SALVAR") {
    ds.Salvar();
  } else if (chave == "CANCELAR") {
    ds.Cancelar();
  } else if (chave == "INCLUIRPARTE") {
    ds.IncluirPart(resto);
  } else if (chave == "SALVARPARTE") {
    ds.SalvarPart(resto);
  } else {
    const std::string nome = line.substr(0, igual);
    ds.Campo(nome).SetAsString(EscaparValor(Trim(resto)));
  }
}

void TqorNFCeConvTXTDataSet::PopulaDataset() {
  dataSets_->SetDiretorioLogErro(diretorioLogErro_);
  const auto idade = FileExists(xmlDicionario_) ? FileAge(xmlDicionario_)
                                                : std::chrono::system_clock::time_point{};
  if (carga_.carregado && carga_.versao == versaoEsquema_ &&
      carga_.dicionario == xmlDicionario_ && carga_.idade == idade) {
    dataSets_->Cancelar();
  } else {
    carga_.carregado = false;
    dataSets_->SetVersaoEsquema(versaoEsquema_);
    dataSets_->SetXMLDicionario(xmlDicionario_);
    carga_ = {true, versaoEsquema_, xmlDicionario_, idade};
  }
  dataSets_->GetLoteNFCe().Clear();
  for (std::size_t index = 0; index < linhas_.Count(); ++index) {
    const std::string& line = linhas_[index];
    if (line.empty()) continue;
    try {
      ExecutarLinha(line);
    } catch (const std::exception& failure) {
      // Commands report their own failures; an assignment names its line.
      if (IsComando(line)) throw;
      throw EqorNFCeConvTX2Exception("Não foi possível converter a Linha: [%s] %s\rErro: %s",
                                     {std::to_string(index), line, failure.what()},
                                     diretorioLogErro_);
    }
  }
  const TDataSetState state = dataSets_->GetState();
  if (state == TDataSetState::dsEdit || state == TDataSetState::dsInsert) {
    throw EqorNFCeDataSetsException("NFCe não foi Salva.", diretorioLogErro_);
  }
}

std::string TqorNFCeConvTXTDataSet::Converter() {
  PopulaDataset();
  std::string batch;
  for (const std::string& nota : dataSets_->GetLoteNFCe().Lines()) {
    batch += nota;
    batch += "\r\n";
  }
  return batch;
}

void TqorNFCeConvTXTDataSet::Converter(std::unique_ptr<TqorNFCeDataSets>& out) {
  PopulaDataset();
  out = std::move(dataSets_);
  dataSets_ = std::make_unique<TqorNFCeDataSets>();
  carga_.carregado = false;
}

}  // namespace qor
