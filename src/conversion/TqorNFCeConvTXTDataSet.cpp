#include "conversion/TqorNFCeConvTXTDataSet.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

namespace {

// The dictionary's modification time (one look at the file); none when it cannot be read, and
// loading it then reports why.
std::chrono::system_clock::time_point IdadeDoDicionario(const std::string& path) {
  return TryFileAge(path).value_or(std::chrono::system_clock::time_point{});
}

// Position of the first CR or LF at or after `inicio`; the size of the text when none.
std::size_t FimDaLinha(std::string_view texto, std::size_t inicio) {
  const std::size_t lf = std::min(texto.find('\n', inicio), texto.size());
  const std::size_t cr = texto.substr(inicio, lf - inicio).find('\r');
  return cr == std::string_view::npos ? lf : inicio + cr;
}

// Offset of the first character of `line` no XML document may hold or no TX2 value should: a
// C0 control (a tab only inside the name or the value: around them it is white space, trimmed
// as spaces are), DEL, a C1 control (U+0080-U+009F, which the code page's undefined bytes
// become) and the non-characters U+FFFE and U+FFFF. npos when there is none.
std::size_t CaractereProibido(std::string_view line, std::string_view nome,
                              std::string_view valor) {
  const auto dentro = [](std::string_view parte, const char* at) {
    return at >= parte.data() && at < parte.data() + parte.size();
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c >= 0x20 && c != 0x7F && c != 0xC2 && c != 0xEF) continue;
    const auto next = [&](std::size_t k) {
      return i + k < line.size() ? static_cast<unsigned char>(line[i + k]) : 0;
    };
    if (c == '\t' ? dentro(nome, &line[i]) || dentro(valor, &line[i])
                  : c < 0x20 || c == 0x7F || (c == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) ||
                        (c == 0xEF && next(1) == 0xBF && (next(2) == 0xBE || next(2) == 0xBF))) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Whether `text` has a byte that may start a character CaractereProibido refuses (a tab
// included); false lets the lines of most texts go unexamined. Eight bytes at a time.
bool PodeTerCaractereProibido(std::string_view text) {
  constexpr std::uint64_t kUns = 0x0101010101010101ull, kAltos = 0x8080808080808080ull,
                          kBaixos = 0x7F7F7F7F7F7F7F7Full;
  // The high bit of each byte of `w` below `n` (n <= 0x80), or equal to `b`.
  const auto menores = [&](std::uint64_t w, unsigned n) {
    return ~(((w & kBaixos) + kUns * (0x80 - n)) | w) & kAltos;
  };
  const auto iguais = [&](std::uint64_t w, unsigned char b) {
    const std::uint64_t x = w ^ (kUns * b);
    return ~(((x & kBaixos) + kBaixos) | x) & kAltos;
  };
  const auto suspeito = [](unsigned char c) {
    return (c < 0x20 && c != '\n' && c != '\r') || c == 0x7F || c == 0xC2 || c == 0xEF;
  };
  std::size_t i = 0;
  for (std::uint64_t w; i + 8 <= text.size(); i += 8) {
    std::memcpy(&w, text.data() + i, 8);
    // Printable ASCII, most of a text, costs a few operations per eight bytes.
    const std::uint64_t controles = menores(w, 0x20);
    if ((controles | (w & kAltos) | iguais(w, 0x7F)) == 0) continue;
    // Else: controls other than the CR and LF that end lines, DEL, and the lead bytes of
    // U+0080-U+009F and of U+FFFE-U+FFFF.
    if (((controles & ~iguais(w, '\n') & ~iguais(w, '\r')) | iguais(w, 0x7F) | iguais(w, 0xC2) |
         iguais(w, 0xEF)) != 0) {
      return true;
    }
  }
  for (; i < text.size(); ++i) {
    if (suspeito(static_cast<unsigned char>(text[i]))) return true;
  }
  return false;
}

// "U+0000" for the code point at `at`.
std::string CodigoDoCaractere(std::string_view line, std::size_t at) {
  const auto c = static_cast<unsigned char>(line[at]);
  unsigned codigo = c;
  if (c == 0xC2) codigo = static_cast<unsigned char>(line[at + 1]);
  if (c == 0xEF) codigo = 0xFFC0u | (static_cast<unsigned char>(line[at + 2]) & 0x3Fu);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string texto = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) texto += kHex[(codigo >> shift) & 0xF];
  return texto;
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
  if (texto_.compare(0, 3, "\xEF\xBB\xBF") == 0) texto_.erase(0, 3);
  // Text that is not UTF-8 comes from a till writing the Windows code page: all of it is read so.
  if (!IsValidUtf8(texto_)) texto_ = Cp1252ToUtf8(texto_);
  verificarLinhas_ = PodeTerCaractereProibido(texto_);
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

void TqorNFCeConvTXTDataSet::VerificarCaracteres(std::string_view line, std::size_t index) const {
  const std::size_t igual = line.find('=');
  const std::string_view nome = TrimView(line.substr(0, igual));
  const std::string_view valor =
      igual == std::string_view::npos ? std::string_view() : TrimView(line.substr(igual + 1));
  const std::size_t at = CaractereProibido(line, nome, valor);
  if (at == std::string_view::npos) return;
  throw EqorNFCeConvTX2Exception(
      "Não foi possível converter a Linha: [%s] %s\rErro: %s",
      {std::to_string(index), Citar(line),
       Format("O campo [%s] contém o caractere não permitido %s na coluna %d.",
              {Citar(nome), CodigoDoCaractere(line, at),
               static_cast<int>(Utf8Length(line.substr(0, at)) + 1)})},
      diretorioLogErro_);
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
    if (verificarLinhas_) VerificarCaracteres(line, index);
    try {
      ExecutarLinha(line);
    } catch (const std::exception& failure) {
      // Commands report their own failures; an assignment names its line.
      if (IsComando(line)) throw;
      throw EqorNFCeConvTX2Exception("Não foi possível converter a Linha: [%s] %s\rErro: %s",
                                     {std::to_string(index), Citar(line), failure.what()},
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
