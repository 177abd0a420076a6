#include "conversion/TqorNFCeDataSets.h"

#include "base/Exceptions.h"
#include "conversion/TqorNFCeVersoes.h"
#include "platform/Text.h"

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

}  // namespace qor
