#include "conversion/TqorNFCeConvXmlToDataset.h"

#include <algorithm>
#include <initializer_list>
#include <unordered_map>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeDataSets.h"
#include "platform/Text.h"
#include "utils/Notas.h"

namespace qor {

namespace {

using V = TVersaoEsquema;

// The first element named `nome` below `e`, in document order.
const XmlElement* Descendente(const XmlElement& e, std::string_view nome) {
  for (const XmlElement& filho : e.children) {
    if (filho.name == nome) return &filho;
    if (const XmlElement* achado = Descendente(filho, nome)) return achado;
  }
  return nullptr;
}

// Every element named `nome` below `e`, in document order (not below a match: the layout
// nests no repeated element in another of its name).
void Descendentes(const XmlElement& e, std::string_view nome,
                  std::vector<const XmlElement*>& achados) {
  for (const XmlElement& filho : e.children) {
    if (filho.name == nome) {
      achados.push_back(&filho);
    } else {
      Descendentes(filho, nome, achados);
    }
  }
}

// Walks the elements below `e` in document order: the first of each name gives the value of
// the group's fields of that XML name (`porNomeXml`), each taken once (`visto`, by field index).
void PrimeirosPorNome(const XmlElement& e, const TNameMap<std::vector<std::size_t>>& porNomeXml,
                      std::vector<char>& visto,
                      std::vector<std::pair<std::size_t, const XmlElement*>>& achados) {
  for (const XmlElement& filho : e.children) {
    if (const auto it = porNomeXml.find(filho.name); it != porNomeXml.end()) {
      for (std::size_t campo : it->second) {
        if (visto[campo] == 0) {
          visto[campo] = 1;
          achados.emplace_back(campo, &filho);
        }
      }
    }
    PrimeirosPorNome(filho, porNomeXml, visto, achados);
  }
}

// The first element of each name below `e`, in document order.
void IndexarPrimeiros(const XmlElement& e, TPrimeirosPorNome& primeiros) {
  for (const XmlElement& filho : e.children) {
    primeiros.try_emplace(filho.name, &filho);
    IndexarPrimeiros(filho, primeiros);
  }
}

const std::string& PrimeiroAtributo(const XmlElement& e) {
  static const std::string kVazio;
  return e.attributes.empty() ? kVazio : e.attributes.front().second;
}

std::string Atributo(const XmlElement& e, std::string_view nome) {
  for (const auto& [n, v] : e.attributes) {
    if (n == nome) return v;
  }
  return {};
}

bool NaLista(std::string_view lista, std::string_view nome) {
  std::size_t inicio = 0;
  while (inicio <= lista.size() && !lista.empty()) {
    const std::size_t virgula = std::min(lista.find(',', inicio), lista.size());
    if (SameText(TrimView(lista.substr(inicio, virgula - inicio)), nome)) return true;
    inicio = virgula + 1;
  }
  return false;
}

// Where the note of a text lies: its infNFe (the first in the NF-e namespace), the infNFeSupl
// beside it and the first protNFe after it, before the next note.
struct Nota {
  const XmlElement* infNFe = nullptr;
  const XmlElement* infNFeSupl = nullptr;
  const XmlElement* protNFe = nullptr;
  bool fim = false;  // the walk met the next note
};

bool EhNota(const XmlElement& e) { return e.name == "infNFe" && e.Namespace() == kNamespaceNFe; }

void Localizar(const XmlElement& e, Nota& nota) {
  for (std::size_t i = 0; i < e.children.size() && !nota.fim; ++i) {
    const XmlElement& filho = e.children[i];
    if (EhNota(filho)) {
      if (nota.infNFe != nullptr) {
        nota.fim = true;
        return;
      }
      nota.infNFe = &filho;
      for (std::size_t j = i + 1; j < e.children.size(); ++j) {
        if (e.children[j].name == "infNFeSupl") {
          nota.infNFeSupl = &e.children[j];
          break;
        }
        if (EhNota(e.children[j])) break;
      }
      continue;
    }
    if (nota.infNFe != nullptr && nota.protNFe == nullptr && filho.name == "protNFe" &&
        filho.Namespace() == kNamespaceNFe) {
      nota.protNFe = &filho;
    }
    Localizar(filho, nota);
  }
}

}  // namespace

TqorNFCeConvXmlToDataset::TqorNFCeConvXmlToDataset() = default;
TqorNFCeConvXmlToDataset::~TqorNFCeConvXmlToDataset() = default;

void TqorNFCeConvXmlToDataset::setXmlDicionario(const std::string& path) {
  xmlDicionario_ = path;
  if (dataSets_) dataSets_->SetXMLDicionario(path);
}

void TqorNFCeConvXmlToDataset::SetDadosAutorizacao(const TStrings& dados) {
  dadosAutorizacao_.Clear();
  dadosAutorizacao_.AddStrings(dados);
}

std::string TqorNFCeConvXmlToDataset::GetNameXML(std::string_view campo) {
  return std::string(campo.substr(0, campo.find('_')));
}

int TqorNFCeConvXmlToDataset::GetNumNotas(const std::string& xml) { return qor::GetNumNotas(xml); }

std::string TqorNFCeConvXmlToDataset::GetNota(int indice, const std::string& xml,
                                              bool comProtocolo) {
  if (!comProtocolo) return qor::GetNota(indice, xml);
  std::size_t inicio = 0;
  for (int i = 0; i <= indice; ++i) {
    inicio = xml.find("<nfeProc ", i == 0 ? 0 : inicio + 1);
    if (inicio == std::string::npos || indice < 0) return {};
  }
  const std::size_t fim = xml.find("</nfeProc>", inicio);
  return fim == std::string::npos ? std::string() : xml.substr(inicio, fim + 10 - inicio);
}

std::unique_ptr<TqorNFCeDataSets> TqorNFCeConvXmlToDataset::ConvertDataset() {
  struct Limpeza {
    TqorNFCeConvXmlToDataset& c;
    ~Limpeza() {
      c.dataSets_.reset();
      c.raiz_ = {};
      c.infNFe_ = c.infNFeSupl_ = c.protNFe_ = nullptr;
      c.primeirosDaNota_.clear();
    }
  } limpeza{*this};
  raiz_ = ParseElementTree(RemoveBOM(xml_));
  Nota nota;
  if (EhNota(raiz_)) {
    nota.infNFe = &raiz_;
  } else {
    Localizar(raiz_, nota);
  }
  if (nota.infNFe == nullptr) {
    throw EqorNFCeDataSetsException("Não foi possível encontrar notas fiscais no arquivo",
                                    diretorioLogErro_);
  }
  infNFe_ = nota.infNFe;
  infNFeSupl_ = nota.infNFeSupl;
  protNFe_ = nota.protNFe;
  primeirosDaNota_.reserve(128);
  IndexarPrimeiros(*infNFe_, primeirosDaNota_);

  dataSets_ = std::make_unique<TqorNFCeDataSets>();
  dataSets_->SetDiretorioLogErro(diretorioLogErro_);
  dataSets_->SetVersaoEsquema(versaoEsquema_);
  dataSets_->SetXMLDicionario(xmlDicionario_);
  ConvertParts();
  DadosDeAutorizacao();
  return std::move(dataSets_);
}

void TqorNFCeConvXmlToDataset::Exec(const std::string& comando, const std::string& parametro) {
  TqorNFCeDataSets& ds = *dataSets_;
  if (comando == "INCLUIR") {
    ds.Incluir();
  } else if (comando == "SALVAR") {
    ds.Salvar();
  } else if (comando == "INCLUIRPARTE") {
    ds.IncluirPart(parametro);
  } else if (comando == "SALVARPARTE") {
    ds.SalvarPart(parametro);
  } else if (comando == "INCLUIRITEM") {
    ds.IncluirItem();
  } else if (comando == "SALVARITEM") {
    ds.SalvarItem();
  } else if (comando == "INCLUIRCOBRANCA") {
    ds.IncluirCobranca();
  } else if (comando == "SALVARCOBRANCA") {
    ds.SalvarCobranca();
  } else {
    throw EqorNFCeDataSetsException("Comando %s desconhecido.", {Citar(comando)},
                                    diretorioLogErro_);
  }
}

const XmlElement* TqorNFCeConvXmlToDataset::GetNodeXml(std::string_view elemento,
                                                       const XmlElement* contexto) const {
  // A name the note lacks is below none of its elements: no walk.
  const auto it = primeirosDaNota_.find(elemento);
  if (it == primeirosDaNota_.end()) return nullptr;
  return contexto != nullptr ? Descendente(*contexto, elemento) : it->second;
}

void TqorNFCeConvXmlToDataset::Atribuir(const std::string& campo, std::string_view valor) {
  dataSets_->Campo(campo).SetAsString(TqorNFCeConvTXTDataSet::EscaparValor(valor));
}

void TqorNFCeConvXmlToDataset::ConvertElemento(const std::string& grupo, const XmlElement* elemento,
                                               std::string_view excecoes) {
  if (elemento == nullptr) return;
  // Each field takes the first element of its XML name below `elemento`; one walk finds them
  // all, and they are written in the group's field order.
  const TXmlDataSetNFCe& ds = dataSets_->FindDataSet(grupo);
  visto_.assign(ds.Fields().size(), 0);
  achados_.clear();
  PrimeirosPorNome(*elemento, ds.Declarado().porNomeXml, visto_, achados_);
  std::sort(achados_.begin(), achados_.end());
  for (const auto& [indice, valor] : achados_) {
    TXmlFieldNFCe& campo = *ds.Fields()[indice];
    if (valor->text.empty() || NaLista(excecoes, campo.FieldName())) continue;
    campo.SetAsString(TqorNFCeConvTXTDataSet::EscaparValor(valor->text));
  }
}

const XmlElement* TqorNFCeConvXmlToDataset::ConvertXmlEmDataSet(const std::string& grupo,
                                                                std::string_view elemento,
                                                                std::string_view excecoes,
                                                                const XmlElement* contexto) {
  const XmlElement* achado = GetNodeXml(elemento, contexto);
  ConvertElemento(grupo, achado, excecoes);
  return achado;
}

template <typename Detalhes>
void TqorNFCeConvXmlToDataset::ConvertXmlEmPartDataSet(const std::string& grupo,
                                                       std::string_view elemento,
                                                       const XmlElement* contexto,
                                                       Detalhes&& detalhes) {
  if (GetNodeXml(elemento) == nullptr) return;  // none in the note, none below `contexto`
  const XmlElement* onde = contexto != nullptr ? contexto : infNFe_;
  std::vector<const XmlElement*> achados;
  Descendentes(*onde, elemento, achados);
  for (const XmlElement* e : achados) {
    Exec("INCLUIRPARTE", grupo);
    ConvertElemento(grupo, e);
    detalhes(*e);
    Exec("SALVARPARTE", grupo);
  }
}

void TqorNFCeConvXmlToDataset::ConvertXmlEmPartDataSet(const std::string& grupo,
                                                       std::string_view elemento,
                                                       const XmlElement* contexto) {
  ConvertXmlEmPartDataSet(grupo, elemento, contexto, [](const XmlElement&) {});
}

void TqorNFCeConvXmlToDataset::AddValueField(const std::string& campo, const XmlElement* origem) {
  const XmlElement* valor = origem == nullptr ? nullptr : GetNodeXml(GetNameXML(campo), origem);
  Atribuir(campo, valor == nullptr ? std::string_view() : std::string_view(valor->text));
}

void TqorNFCeConvXmlToDataset::ConvertParts() {
  Exec("INCLUIR");
  // The note's own version, which the schema package's default stands in for when it lacks one.
  std::string versao = Atributo(*infNFe_, "versao");
  if (versao.empty()) {
    versao = versaoEsquema_ <= V::pl_006r                                  ? "2.00"
             : versaoEsquema_ == V::pl_009 || versaoEsquema_ == V::pl_009g ? "4.00"
                                                                           : "3.10";
  }
  Atribuir("versao_A02", versao);
  ConvertXmlEmDataSet("B", "ide");
  ConvertReferencias();
  if (versaoEsquema_ >= V::pl_008a) ConvertXmlEmPartDataSet("AUTXML", "autXML");
  ConvertXmlEmDataSet("C", "emit");
  ConvertXmlEmDataSet("D", "avulsa");
  ConvertXmlEmDataSet("E", "dest");
  ConvertXmlEmDataSet("F", "retirada");
  ConvertXmlEmDataSet("G", "entrega");
  ConvertXmlEmDataSet("Z", "exporta");
  ConvertXmlEmDataSet("Z", "compra");
  if (versaoEsquema_ >= V::pl_008g && infNFeSupl_ != nullptr) {
    ConvertElemento("ZX", infNFeSupl_);
    // Written again as it came: raw inside CDATA, which the link's "&" needs.
    if (const XmlElement* qr = Descendente(*infNFeSupl_, "qrCode"); qr && !qr->text.empty()) {
      dataSets_->Campo("qrCode_ZX02").SetAsString("<![CDATA[" + qr->text + "]]>");
    }
  }
  ConvertTotais();
  if (const XmlElement* cana = GetNodeXml("cana")) {
    Exec("INCLUIRPARTE", "CANA");
    ConvertElemento("CANA", cana);
    std::vector<const XmlElement*> dias;
    Descendentes(*cana, "forDia", dias);
    for (const XmlElement* dia : dias) {
      Exec("INCLUIRPARTE", "FORDIA");
      Atribuir("dia_ZC05", PrimeiroAtributo(*dia));
      AddValueField("qtde_ZC06", dia);
      Exec("SALVARPARTE", "FORDIA");
    }
    ConvertXmlEmPartDataSet("DEDUC", "deduc", cana);
    Exec("SALVARPARTE", "CANA");
  }
  ConvertItens();
  ConvertPagamentos();
  ConvertTransporte();
  ConvertInfAdic();
  ConvertXmlEmDataSet("Y", "fat");
  std::vector<const XmlElement*> dups;
  if (const XmlElement* cobr = GetNodeXml("cobr")) Descendentes(*cobr, "dup", dups);
  for (const XmlElement* dup : dups) {
    Exec("INCLUIRCOBRANCA");
    ConvertElemento("DUP", dup);
    Exec("SALVARCOBRANCA");
  }
  Exec("SALVAR");
}

void TqorNFCeConvXmlToDataset::ConvertReferencias() {
  const XmlElement* ide = GetNodeXml("ide");
  if (ide == nullptr) return;
  // Each reference is one of five forms; its fields (the current ids and the older ones) are
  // read from its own element only, so that refNF and refNFP never share their cUF or mod.
  struct Forma {
    const char* elemento;
    std::initializer_list<const char*> campos;
  };
  static const Forma kFormas[] = {
      {"refNF",
       {"cUF_BA04", "AAMM_BA05", "CNPJ_BA06", "mod_BA07", "serie_BA08", "nNF_BA09", "cUF_B15",
        "AAMM_B16", "CNPJ_B17", "mod_B18", "serie_B19", "nNF_B20"}},
      {"refNFP",
       {"cUF_BA11", "AAMM_BA12", "CNPJ_BA13", "CPF_BA14", "IE_BA15", "mod_BA16", "serie_BA17",
        "nNF_BA18", "cUF_B20b", "AAMM_B20c", "CNPJ_B20d", "CPF_B20e", "IE_B20f", "mod_B20g",
        "serie_B20h", "nNF_B20ha"}},
      {"refECF", {"mod_BA21", "nECF_BA22", "nCOO_BA23", "mod_B20k", "nECF_B20l", "nCOO_B20m"}},
  };
  std::vector<const XmlElement*> refs;
  Descendentes(*ide, "NFref", refs);
  for (const XmlElement* ref : refs) {
    Exec("INCLUIRPARTE", "NREF");
    const auto ler = [this](const char* campo, const XmlElement* origem) {
      const XmlElement* valor = GetNodeXml(GetNameXML(campo), origem);
      if (valor != nullptr && !valor->text.empty()) Atribuir(campo, valor->text);
    };
    for (const char* campo : {"refNFe_BA02", "refNFe_B13", "refCTe_BA19", "refCTe_B20i"}) {
      ler(campo, ref);
    }
    for (const Forma& forma : kFormas) {
      if (const XmlElement* e = Descendente(*ref, forma.elemento)) {
        for (const char* campo : forma.campos) ler(campo, e);
      }
    }
    Exec("SALVARPARTE", "NREF");
  }
}

void TqorNFCeConvXmlToDataset::ConvertTotais() {
  ConvertXmlEmDataSet("W", "ICMSTot", "vOutro_W22c,vBC_W19,vPIS_W21,vCOFINS_W22");
  ConvertXmlEmDataSet("W", "retTrib");
  // The service totals share names with ICMSTot: each is read from ISSQNtot alone.
  if (const XmlElement* issqn = GetNodeXml("ISSQNtot")) {
    for (const char* campo : {"vServ_W18", "vBC_W19", "vISS_W20", "vPIS_W21", "vCOFINS_W22",
                              "dCompet_W22a", "vDeducao_W22b", "vOutro_W22c", "vDescIncond_W22d",
                              "vDescCond_W22e", "vISSRet_W22f", "cRegTrib_W22g"}) {
      AddValueField(campo, issqn);
    }
  }
}

void TqorNFCeConvXmlToDataset::ConvertItens() {
  const bool ufDest = versaoEsquema_ >= V::pl_008h;
  for (const XmlElement& det : infNFe_->children) {
    if (det.name != "det") continue;
    Exec("INCLUIRITEM");
    Atribuir("nItem_H02", PrimeiroAtributo(det));
    const XmlElement* prod = ConvertXmlEmDataSet("I", "prod", {}, &det);
    if (prod != nullptr) {
      ConvertXmlEmPartDataSet("DI", "DI", prod, [this](const XmlElement& di) {
        ConvertXmlEmPartDataSet("ADI", "adi", &di);
      });
      ConvertXmlEmPartDataSet("DETEXPORT", "detExport", prod, [this](const XmlElement& e) {
        ConvertXmlEmPartDataSet("EXPORTIND", "exportInd", &e);
      });
      ConvertXmlEmPartDataSet("I80", "rastro", prod);
      ConvertXmlEmDataSet("J", "veicProd", {}, prod);
      ConvertXmlEmPartDataSet("K", "med", prod);
      ConvertXmlEmPartDataSet("L", "arma", prod);
      ConvertXmlEmDataSet("L1", "comb", {}, prod);
    }
    if (const XmlElement* imposto = GetNodeXml("imposto", &det)) {
      for (const auto& [grupo, elemento] : {std::pair{"N", "ICMS"},
                                            {"O", "IPI"},
                                            {"P", "II"},
                                            {"Q", "PIS"},
                                            {"R", "PISST"},
                                            {"S", "COFINS"},
                                            {"T", "COFINSST"},
                                            {"U", "ISSQN"}}) {
        ConvertXmlEmDataSet(grupo, elemento, {}, imposto);
      }
      if (ufDest) ConvertXmlEmDataSet("ICMSUFDest", "ICMSUFDest", {}, imposto);
      AddValueField("vTotTrib_M02", imposto);
    }
    AddValueField("infAdProd_V01", &det);
    Exec("SALVARITEM");
  }
}

void TqorNFCeConvXmlToDataset::ConvertPagamentos() {
  if (versaoEsquema_ >= V::pl_009) {
    Exec("INCLUIRPARTE", "YA01");
    if (const XmlElement* pag = GetNodeXml("pag")) {
      ConvertXmlEmPartDataSet("YA", "detPag", pag);
      AddValueField("vTroco_YA09", pag);
    }
    Exec("SALVARPARTE", "YA01");
    ConvertXmlEmDataSet("YB", "infIntermed");
    ConvertXmlEmDataSet("ZD", "infRespTec");
    return;
  }
  ConvertXmlEmPartDataSet("YA", "pag");
}

void TqorNFCeConvXmlToDataset::ConvertTransporte() {
  const XmlElement* transp = GetNodeXml("transp");
  if (transp == nullptr) return;
  AddValueField("modFrete_X02", transp);
  ConvertXmlEmDataSet("X", "transporta", {}, transp);
  ConvertXmlEmDataSet("X", "retTransp", {}, transp);
  // transporta has a UF too: the vehicle's fields come from veicTransp alone.
  const XmlElement* veiculo = GetNodeXml("veicTransp", transp);
  for (const char* campo : {"placa_X19", "UF_X20", "RNTC_X21"}) AddValueField(campo, veiculo);
  for (const char* campo : {"vagao_X25a", "balsa_X25b"}) {
    const XmlElement* e = GetNodeXml(GetNameXML(campo), transp);
    if (e != nullptr) Atribuir(campo, e->text);
  }
  ConvertXmlEmPartDataSet("REBOQUE", "reboque", transp);
  ConvertXmlEmPartDataSet("VOL", "vol", transp, [this](const XmlElement& vol) {
    ConvertXmlEmPartDataSet("LACRE", "lacres", &vol);
  });
}

void TqorNFCeConvXmlToDataset::ConvertInfAdic() {
  const XmlElement* infAdic = ConvertXmlEmDataSet("Z", "infAdic");
  if (infAdic == nullptr) return;
  ConvertXmlEmPartDataSet("PROCREF", "procRef", infAdic);
  for (const auto& [grupo, elemento, campo] :
       {std::tuple{"OBSCONT", "obsCont", "xCampo_Z05"}, {"OBSFISCO", "obsFisco", "xCampo_Z08"}}) {
    // A structured binding cannot be captured before clang 16: the lambda takes a copy.
    ConvertXmlEmPartDataSet(grupo, elemento, infAdic, [this, nome = campo](const XmlElement& obs) {
      Atribuir(nome, PrimeiroAtributo(obs));
    });
  }
}

void TqorNFCeConvXmlToDataset::DadosDeAutorizacao() {
  dadosAutorizacao_.Clear();
  // A protocol of another note (a batch whose protocols came in another order) is not this one's.
  const XmlElement* prot = protNFe_;
  if (prot != nullptr) {
    const XmlElement* chave = Descendente(*prot, "chNFe");
    const std::string id = Atributo(*infNFe_, "Id");
    if (chave == nullptr || id.size() < 3 || chave->text != id.substr(3)) prot = nullptr;
  }
  for (const char* nome :
       {"tpAmb", "verAplic", "chNFe", "dhRecbto", "nProt", "digVal", "cStat", "xMotivo"}) {
    const XmlElement* valor = prot == nullptr ? nullptr : Descendente(*prot, nome);
    dadosAutorizacao_.Add(std::string(nome) + "=" + (valor ? valor->text : std::string()));
  }
}

}  // namespace qor
