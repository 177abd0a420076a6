#include "conversion/XmlDataSet.h"

#include <algorithm>

#include "base/Exceptions.h"
#include "conversion/TiposDoEsquema.h"
#include "platform/Format.h"
#include "platform/Text.h"
#include "platform/XsdPattern.h"

namespace qor {

namespace {

// Code points of an escaped value, each entity the parser wrote counting as one character.
std::size_t UnescapedLength(std::string_view value) {
  static constexpr std::string_view kEntities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
  std::size_t length = 0;
  for (std::size_t i = 0; i < value.size();) {
    std::size_t step = 1;
    const auto byte = static_cast<unsigned char>(value[i]);
    if (byte == '&') {
      for (std::string_view entity : kEntities) {
        if (value.substr(i, entity.size()) == entity) step = entity.size();
      }
    } else if (byte >= 0xF0) {
      step = 4;
    } else if (byte >= 0xE0) {
      step = 3;
    } else if (byte >= 0xC0) {
      step = 2;
    }
    i += step;
    ++length;
  }
  return length;
}

}  // namespace

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    std::string item = Trim(std::string_view(text).substr(start, comma - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = comma + 1;
  }
  return items;
}

std::string Citar(std::string_view text) {
  const bool limpo = text.size() <= kQuoteLimit && IsValidUtf8(text) &&
                     std::none_of(text.begin(), text.end(), [](char c) {
                       const auto b = static_cast<unsigned char>(c);
                       return (b < 0x20 && b != '\t') || b == 0x7F;
                     });
  return limpo ? std::string(text) : QuoteForMessage(text);
}

TXmlFieldNFCe::TXmlFieldNFCe(TXmlDataSetNFCe& group, std::size_t index,
                             const TDeclaracaoCampo& declaracao)
    : group_(&group), index_(index), declaracao_(&declaracao) {}

TDeclaracaoCampo& TXmlFieldNFCe::Propria() {
  if (!propria_) {
    propria_ = std::make_unique<TDeclaracaoCampo>(*declaracao_);
    declaracao_ = propria_.get();
  }
  return *propria_;
}

const std::string& TXmlFieldNFCe::GetDiretorioLogErro() const {
  return group_->GetDiretorioLogErro();
}

const std::string& TXmlFieldNFCe::DisplayLabel() const {
  return group_->Field(index_).displayLabel;
}

void TXmlFieldNFCe::SetAsString(std::string value) {
  const int size = Size();
  // A value counts no more characters than bytes: only a longer one needs counting.
  if (size > 0 && value.size() > static_cast<std::size_t>(size) &&
      UnescapedLength(value) > static_cast<std::size_t>(size)) {
    throw EqorDataSetException(
        "O conteúdo do campo [%s] referente a [%s] excede o tamanho máximo de %d "
        "caracteres.\r\nDica: %s",
        {FieldName(), DisplayLabel(), size, GetDica()}, GetDiretorioLogErro());
  }
  // "null" stands for an absent element (nothing is written for it).
  if (Padrao() != nullptr && !value.empty() && !Padrao()->Matches(value) &&
      !SameText(value, "null")) {
    RecusarConteudo(value);
  }
  group_->SetValue(index_, std::move(value));
}

void TXmlFieldNFCe::SetTpNode(const std::string& v) {
  Propria().tpNode = v;
  Propria().elemento = v == "elemento";
}

std::string TXmlFieldNFCe::GetEnumText() const {
  std::string text;
  for (const std::string& item : Enum()) {
    if (!text.empty()) text += ',';
    text += item;
  }
  return text;
}

void TXmlFieldNFCe::SetEnum(const std::string& v) { Propria().enumeracao = SplitList(v); }

bool TXmlFieldNFCe::SetTipo(const std::string& tipo) {
  const XsdPattern* padrao = tipo.empty() ? nullptr : PadraoDoTipo(tipo);
  if (!tipo.empty() && padrao == nullptr) return false;
  Propria().tipo = tipo;
  Propria().padrao = padrao;
  return true;
}

void TXmlFieldNFCe::ValidarConteudo() const {
  const std::string& value = AsString();
  if (Enum().empty() || value.empty()) return;
  for (const std::string& allowed : Enum()) {
    if (SameText(allowed, value)) return;
  }
  RecusarConteudo(value);
}

void TXmlFieldNFCe::RecusarConteudo(const std::string& value) const {
  throw EqorDataSetException("Conteúdo %s é inválido para o campo %s [%s].\r\nDica: %s",
                             {Citar(value), FieldName(), DisplayLabel(), GetDica()},
                             GetDiretorioLogErro());
}

TXmlDataSetNFCe::TXmlDataSetNFCe(const TGrupoDeclarado& declarado)
    : TqorMemTable(declarado.nome), declarado_(&declarado) {
  static const std::string kSemPasta;
  diretorioLogErro_ = &kSemPasta;
  ShareFields(declarado.colunas);
  fields_.reserve(declarado.campos.size());
  keyField_ = declarado.keyField;
  masterField_ = declarado.masterField;
  masterSource_ = declarado.masterSource;
}

void TXmlDataSetNFCe::AddXmlField(std::unique_ptr<TXmlFieldNFCe> field) {
  fields_.push_back(std::move(field));
}

bool TXmlDataSetNFCe::PossuiCampoPreenchido() const {
  // Browsing a group without records (of this item, for a detail): every field reads empty.
  if (Active() && !Editing() && RecordCount() == 0) return false;
  for (const auto& field : fields_) {
    const int index = static_cast<int>(field->Index());
    if (index == handleIndex_ || index == keyIndex_) continue;
    if (!Value(field->Index()).empty()) return true;
  }
  return false;
}

void TXmlDataSetNFCe::Preparar() {
  handleIndex_ = FindField("handle");
  keyIndex_ = keyField_.empty() ? -1 : FindField(keyField_);
  camposDeDados_.clear();
  camposVerificados_.clear();
  camposDeDados_.reserve(declarado_->dados.size());
  camposVerificados_.reserve(declarado_->verificados.size());
  for (std::size_t i : declarado_->dados) camposDeDados_.push_back(fields_.at(i).get());
  for (std::size_t i : declarado_->verificados) camposVerificados_.push_back(fields_.at(i).get());
  primeiroVisivel_ = declarado_->primeiroVisivel;
  temTagVazia_ = declarado_->temTagVazia;
}

TXmlFieldNFCe* TXmlDataSetNFCe::FindXmlFieldNaOrdem(std::string_view name) const {
  int index = IndiceDoNome(name, proximo_);
  if (index < 0) index = IndiceDoNome(name, 0);
  if (index < 0) return FindXmlField(name);
  proximo_ = static_cast<std::size_t>(index) + 1;
  return fields_[static_cast<std::size_t>(index)].get();
}

TXmlFieldNFCe* TXmlDataSetNFCe::FindXmlField(std::string_view name) const {
  if (const auto it = declarado_->indiceExato.find(name); it != declarado_->indiceExato.end()) {
    return fields_[it->second].get();
  }
  const int index = FindField(name);
  return index < 0 ? nullptr : fields_[static_cast<std::size_t>(index)].get();
}

}  // namespace qor
