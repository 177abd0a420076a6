#include "conversion/TqorNFCeDataSets.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeVersoes.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

namespace {
// The version's name, or its number for a value that names none (a number cast by a host).
std::string NomeDaVersao(TVersaoEsquema versao) {
  std::string nome = ToString(versao);
  return nome.empty() ? std::to_string(static_cast<int>(versao)) : nome;
}
}  // namespace

TqorNFCeDataSets::TqorNFCeDataSets() { SetVersaoEsquema(TVersaoEsquema::pl_009g); }
TqorNFCeDataSets::~TqorNFCeDataSets() = default;

void TqorNFCeDataSets::SetVersaoEsquema(TVersaoEsquema versao) {
  modelo_.reset();
  std::unique_ptr<TqorNFCeCustomDataSet> modelo = CriarModeloNFCe(versao);
  if (!modelo) {
    throw EqorNFCeVersaoEsquemaInvalidaException(
        "Versão de esquema não suportada %s, o NFCeDataSets suporta apenas versões de esquema "
        "a partir de pl_006n",
        {NomeDaVersao(versao)}, diretorioLogErro_);
  }
  modelo->SetDiretorioLogErro(diretorioLogErro_);
  modelo_ = std::move(modelo);
  versaoEsquema_ = versao;
}

void TqorNFCeDataSets::Salvar() {
  modelo_->Salvar();
  if (validaRegrasNegocioMarqon_) AplicarRegrasDeNegocio(TTipoRegraKind::rkMarqon);
  if (validaRegrasNegocio_) AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz);
}

void TqorNFCeDataSets::AplicarRegrasDeNegocio(TTipoRegraKind) {
  regras_.SetNFCeDataSet(modelo_.get());
  regras_.SetExcecoesDeRegras(excecoesDeRegras_);
  regras_.SetVersaoEsquema(versaoEsquema_);
  regras_.SetRelogio(relogio_);
  regras_.AplicarRegras();
}

void TqorNFCeDataSets::SetXMLDicionario(const std::string& path) {
  SetVersaoEsquema(versaoEsquema_);
  xmlDicionario_ = path;
  modelo_->SetXMLDicionario(path);
}

void TqorNFCeDataSets::SetDiretorioLogErro(const std::string& v) {
  diretorioLogErro_ = v;
  modelo_->SetDiretorioLogErro(v);
}

TqorNFCeXMLField& TqorNFCeDataSets::Campo(const std::string& group,
                                          const std::string& position) const {
  if (group.empty()) {
    throw EqorNFCeCheckParamsException(
        "O Grupo deve ser informado para encontrar o campo desejado.", diretorioLogErro_);
  }
  if (modelo_->GetListDataSets().empty()) {
    throw EqorNFCeCheckParamsException(
        "Não existem DataSets carregados. Verifique se o XMLDicionário foi informado.",
        diretorioLogErro_);
  }
  const std::string wanted = UpperCase(group + "=" + position);
  for (const auto& dataSet : modelo_->GetListDataSets()) {
    for (const auto& field : dataSet->Fields()) {
      const std::string& rec = static_cast<const TqorNFCeXMLField&>(*field).GetRec();
      std::size_t start = 0;
      while (start <= rec.size() && !rec.empty()) {
        const std::size_t comma = std::min(rec.find(',', start), rec.size());
        if (UpperCase(std::string_view(rec).substr(start, comma - start)) == wanted) {
          return static_cast<TqorNFCeXMLField&>(*field);
        }
        start = comma + 1;
      }
    }
  }
  throw EqorDataSetFieldNotFoundException(
      "Não foi encontrado campo configurado para o Grupo %s na posição %s",
      {Citar(group), Citar(position)}, diretorioLogErro_);
}

TXmlDataSetNFCe* TqorNFCeDataSets::GetGrupo(const std::string& name) const {
  if (xmlDicionario_.empty() || !modelo_) return nullptr;
  return modelo_->FindDataSetOrNull(name);
}

namespace {

// The record holds data in a visible field other than the number and the link.
bool TemDados(const TXmlDataSetNFCe& group) {
  for (const TXmlFieldNFCe* field : group.CamposDeDados()) {
    if (!field->AsString().empty()) return true;
  }
  return false;
}

// Writes a note's groups as TX2 lines.
class EscritorTX2 {
 public:
  EscritorTX2(TqorNFCeCustomDataSet& modelo, const std::string& diretorioLogErro)
      : modelo_(modelo), diretorioLogErro_(diretorioLogErro) {
    for (const auto& group : modelo.GetListDataSets()) {
      if (TXmlDataSetNFCe* master = group->XmlMaster()) detalhes_[master].push_back(group.get());
    }
  }

  std::string Gerar() {
    for (const auto& group : modelo_.GetListDataSets()) {
      if (!group->Editing()) continue;
      if (TemDados(*group)) {
        group->Post();
      } else {
        group->Cancel();
      }
    }
    out_ = "INCLUIR\n";
    TXmlDataSetNFCe* h = modelo_.Grupo('H');
    for (const auto& group : modelo_.GetListDataSets()) {
      if (group->XmlMaster() != nullptr) continue;
      if (group.get() != h) {
        Grupo(*group, Em(modelo_.ListaNFE(), group.get()));
        continue;
      }
      for (h->First(); !h->Eof(); h->Next()) {
        out_ += "INCLUIRITEM\n";
        Registro(*h, true);
        out_ += "SALVARITEM\n";
      }
    }
    out_ += "SALVAR\n";
    return std::move(out_);
  }

 private:
  static bool Em(const std::vector<TXmlDataSetNFCe*>& lista, const TXmlDataSetNFCe* group) {
    return std::find(lista.begin(), lista.end(), group) != lista.end();
  }

  // The records of `group` in view. A group that gets a record of its own on INCLUIR or
  // INCLUIRITEM (`automatico`) and holds one is written as plain fields; any other record opens
  // a part of its own.
  void Grupo(TXmlDataSetNFCe& group, bool automatico) {
    const std::size_t count = group.RecordCount();
    if (count == 0) return;
    if (automatico && count == 1) {
      group.First();
      Registro(group, true);
      return;
    }
    const bool cobranca = group.Name() == "DUP";
    for (group.First(); !group.Eof(); group.Next()) {
      if (!TemDados(group)) continue;
      out_ += cobranca ? "INCLUIRCOBRANCA\n" : "INCLUIRPARTE=" + group.Name() + "\n";
      Registro(group, false);
      out_ += cobranca ? "SALVARCOBRANCA\n" : "SALVARPARTE=" + group.Name() + "\n";
    }
  }

  // The fields of the current record, then its details (which may take the record of their own
  // only while their master took its own too).
  void Registro(TXmlDataSetNFCe& group, bool automatico) {
    const auto& fields = group.Fields();
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (static_cast<int>(i) == group.HandleIndex() || static_cast<int>(i) == group.KeyIndex())
        continue;
      const std::string& held = fields[i]->AsString();
      if (held.empty()) continue;
      const std::string& name = fields[i]->FieldName();
      std::string value;
      if (held.starts_with("<![CDATA[") && held.ends_with("]]>")) {
        value = held.substr(9, held.size() - 12);
      } else {
        value = held.find('&') == std::string::npos ? held : Unescape(held);
      }
      if (value.find_first_of("\r\n") != std::string::npos) {
        throw EqorNFCeDataSetsException(
            "O campo %s contém uma quebra de linha, que uma linha de TX2 não representa.", {name},
            diretorioLogErro_);
      }
      out_ += name;
      out_ += '=';
      out_ += value;
      out_ += '\n';
    }
    const auto it = detalhes_.find(&group);
    if (it == detalhes_.end()) return;
    const auto& lista = group.Name() == "H" || Em(modelo_.ListaItemNFCe(), &group)
                            ? modelo_.ListaItemNFCe()
                            : modelo_.ListaNFE();
    for (TXmlDataSetNFCe* detalhe : it->second) Grupo(*detalhe, automatico && Em(lista, detalhe));
  }

  TqorNFCeCustomDataSet& modelo_;
  const std::string& diretorioLogErro_;
  std::unordered_map<const TXmlDataSetNFCe*, std::vector<TXmlDataSetNFCe*>> detalhes_;
  std::string out_;
};

}  // namespace

std::string TqorNFCeDataSets::GerarTX2() {
  modelo_->CheckParams();
  return EscritorTX2(*modelo_, diretorioLogErro_).Gerar();
}

}  // namespace qor
