#include "conversion/TqorNFCeConvTXTDataSet.h"

#include <algorithm>
#include <string_view>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

namespace {

// The dictionary's modification time (one look at the file); none when it cannot be read, and
// loading it then reports why.
std::chrono::system_clock::time_point IdadeDoDicionario(const std::string& path) {
  try {
    return FileAge(path);
  } catch (const std::exception&) {
    return {};
  }
}

// Position of the first CR or LF at or after `inicio`; the size of the text when none.
std::size_t FimDaLinha(std::string_view texto, std::size_t inicio) {
  const std::size_t lf = std::min(texto.find('\n', inicio), texto.size());
  const std::size_t cr = texto.substr(inicio, lf - inicio).find('\r');
  return cr == std::string_view::npos ? lf : inicio + cr;
}

}  // namespace

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
  texto_ = arquivo ? LoadFromFile(value) : value;
  if (TrimView(texto_).empty()) {
    throw EqorNFCeDataSetsException("Conteúdo a ser convertido é inválido.", diretorioLogErro_);
  }
}

namespace {
// A plain loop: find_first_of with a set searches the set once per character.
bool TemEspecial(std::string_view value) {
  for (const char c : value) {
    if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return true;
  }
  return false;
}
}  // namespace

std::string TqorNFCeConvTXTDataSet::EscaparValor(std::string_view value) {
  // Most values have nothing to escape: they are handed back without the copies below.
  if (!TemEspecial(value)) return std::string(value);
  std::string out = Escape(std::string(value));
  if (value.find('&') == std::string_view::npos) return out;
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
bool IsComando(std::string_view line) {
  static constexpr std::string_view kComandos[] = {
      "INCLUIR", "INCLUIRITEM", "SALVARITEM",   "INCLUIRCOBRANCA", "SALVARCOBRANCA",
      "SALVAR",  "CANCELAR",    "INCLUIRPARTE", "SALVARPARTE"};
  const std::string_view chave = TrimView(line.substr(0, line.find('=')));
  for (std::string_view comando : kComandos) {
    if (chave == comando) return true;
  }
  return false;
}
}  // namespace

void TqorNFCeConvTXTDataSet::ExecutarLinha(std::string_view line) {
  const std::size_t igual = line.find('=');
  const std::string_view chave = TrimView(line.substr(0, igual));
  const std::string_view resto =
      igual == std::string_view::npos ? std::string_view() : line.substr(igual + 1);
  TqorNFCeDataSets& ds = *dataSets_;
  // No command has an underscore, which the field names have: those are not compared with them.
  const bool comando = chave.find('_') == std::string_view::npos;
  if (!comando) {
    ds.Campo(line.substr(0, igual)).SetAsString(EscaparValor(TrimView(resto)));
  } else if (chave == "INCLUIR") {
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
    ds.IncluirPart(std::string(resto));
  } else if (chave == "SALVARPARTE") {
    ds.SalvarPart(std::string(resto));
  } else {
    ds.Campo(line.substr(0, igual)).SetAsString(EscaparValor(TrimView(resto)));
  }
}

void TqorNFCeConvTXTDataSet::PopulaDataset() {
  dataSets_->SetDiretorioLogErro(diretorioLogErro_);
  const auto idade = IdadeDoDicionario(xmlDicionario_);
  if (carga_.carregado && carga_.versao == versaoEsquema_ && carga_.dicionario == xmlDicionario_ &&
      carga_.idade == idade) {
    dataSets_->Cancelar();
  } else {
    carga_.carregado = false;
    dataSets_->SetVersaoEsquema(versaoEsquema_);
    dataSets_->SetXMLDicionario(xmlDicionario_);
    carga_ = {true, versaoEsquema_, xmlDicionario_, idade};
  }
  dataSets_->LimparLote();
  // Lines end at CR LF, LF or CR; `index` counts them from zero, empty ones included.
  const std::string_view texto = texto_;
  std::size_t inicio = 0;
  for (std::size_t index = 0; inicio < texto.size(); ++index) {
    const std::size_t fim = FimDaLinha(texto, inicio);
    const std::string_view line = texto.substr(inicio, fim - inicio);
    const bool crlf = fim + 1 < texto.size() && texto[fim] == '\r' && texto[fim + 1] == '\n';
    inicio = fim + (crlf ? 2 : 1);
    if (line.empty()) continue;
    try {
      ExecutarLinha(line);
    } catch (const std::exception& failure) {
      // Commands report their own failures; an assignment names its line.
      if (IsComando(line)) throw;
      throw EqorNFCeConvTX2Exception("Não foi possível converter a Linha: [%s] %s\rErro: %s",
                                     {std::to_string(index), std::string(line), failure.what()},
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
  std::size_t tamanho = 0;
  for (const std::string& nota : dataSets_->GetLoteNFCe().Lines()) tamanho += nota.size() + 2;
  batch.reserve(tamanho);
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
