#include "conversion/TqorXMLDataSetNFCe.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "base/Exceptions.h"
#include "conversion/TiposDoEsquema.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

// The dictionary as the loader reads it: each group with its declarations parsed, and the
// indexes of groups and fields by name (group index; group and field index), which a model
// resolves against its own groups. The checks that need no model (names, sizes, the shape of a
// group, duplicates) are made here; a dictionary that fails them raises EqorGovException and is
// not kept. Immutable once made, so models on any thread share it.
struct TDicionarioDeclarado {
  std::vector<TGrupoDeclarado> grupos;
  TNameMap<std::size_t> gruposExato;
  TNoCaseMap<std::size_t> grupos_;
  TNameMap<std::pair<std::size_t, std::size_t>> camposExato;
  TNoCaseMap<std::pair<std::size_t, std::size_t>> campos;
};

namespace {

const std::string& Attr(const std::unordered_map<std::string, std::string>& attributes,
                        const char* name) {
  static const std::string kEmpty;
  const auto it = attributes.find(name);
  return it == attributes.end() ? kEmpty : it->second;
}

bool IsIdentifier(const std::string& name) {
  if (name.empty() || !(std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_')) {
    return false;
  }
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
  }
  return true;
}

// Whether the value is "null" in any case (a value the host writes for an absent element).
bool Nulo(const std::string& value) { return SameText(value, "null"); }

std::shared_ptr<const TDicionarioDeclarado> Declarar(const XmlElement& root) {
  auto dic = std::make_shared<TDicionarioDeclarado>();
  dic->grupos.reserve(root.children.size());
  TNoCaseMap<bool> nomesDeGrupo;
  for (const XmlElement& groupElement : root.children) {
    // A group name also names its table and prefixes its fields: it must be an identifier,
    // and a second group of the same name (in any case) would hide the first.
    if (!IsIdentifier(groupElement.name) || groupElement.children.size() != 2 ||
        !nomesDeGrupo.emplace(groupElement.name, true).second) {
      throw EqorGovException("grupo inválido");
    }
    TNoCaseMap<bool> nomesDeCampo;
    TGrupoDeclarado& grupo = dic->grupos.emplace_back();
    grupo.nome = groupElement.name;
    grupo.campos.reserve(groupElement.children[0].children.size());
    auto colunas = std::make_shared<TqorMemFields>();
    for (const XmlElement& declaration : groupElement.children[0].children) {
      TDeclaracaoCampo& campo = grupo.campos.emplace_back();
      campo.atributos = {declaration.attributes.begin(), declaration.attributes.end()};
      campo.nome = Attr(campo.atributos, "nome");
      const std::string& size = Attr(campo.atributos, "tamanho");
      if (campo.nome.empty() || size.empty() || !IsNumber(size) ||
          !nomesDeCampo.emplace(campo.nome, true).second) {
        throw EqorGovException("campo inválido");
      }
      campo.tamanho = std::atoi(size.c_str());
      campo.requerido = Attr(campo.atributos, "requerido") == "s";
      campo.visivel = Attr(campo.atributos, "visible") == "s";
      campo.tagVazia = Attr(campo.atributos, "tagvazia") == "s";
      campo.display = Attr(campo.atributos, "display");
      campo.tpNode = Attr(campo.atributos, "tpnode");
      campo.dica = Attr(campo.atributos, "dica");
      campo.tipo = Attr(campo.atributos, "tipo");
      campo.enumeracao = SplitList(Attr(campo.atributos, "enum"));
      campo.rec = Attr(campo.atributos, "rec");
      campo.xmlName = campo.nome.substr(0, campo.nome.find('_'));
      campo.elemento = campo.tpNode == "elemento";
      if (!campo.tipo.empty()) {
        campo.padrao = PadraoDoTipo(campo.tipo);
        if (campo.padrao == nullptr) throw EqorGovException("tipo inválido");
      }
      colunas->Add(campo.nome, campo.tamanho, campo.requerido, campo.visivel, campo.display);
    }
    grupo.colunas = colunas;
    for (const auto& [name, value] : groupElement.children[1].attributes) {
      if (name == "mastersource") grupo.masterSource = value;
      if (name == "masterfield") grupo.masterField = value;
      if (name == "keyfield") grupo.keyField = value;
    }
    const std::size_t g = dic->grupos.size() - 1;
    dic->gruposExato.emplace(grupo.nome, g);
    dic->grupos_.emplace(grupo.nome, g);
    grupo.primeiroVisivel = grupo.campos.size();
    for (std::size_t f = 0; f < grupo.campos.size(); ++f) {
      TDeclaracaoCampo& campo = grupo.campos[f];
      grupo.indiceExato.emplace(colunas->list[f].name, f);
      grupo.nomes.push_back(colunas->list[f].name);
      if (campo.xmlName.size() < campo.nome.size()) grupo.porNomeXml[campo.xmlName].push_back(f);
      campo.donoDoNome = dic->camposExato.emplace(campo.nome, std::pair{g, f}).second;
      dic->campos.emplace(campo.nome, std::pair{g, f});
      // Data fields: visible, neither "handle" nor the master's link field.
      if (campo.visivel && !SameText(campo.nome, "handle") &&
          !SameText(campo.nome, grupo.masterField)) {
        grupo.dados.push_back(f);
      }
      if (campo.requerido || !campo.enumeracao.empty()) grupo.verificados.push_back(f);
      if (campo.visivel) {
        grupo.primeiroVisivel = std::min(grupo.primeiroVisivel, f);
        grupo.temTagVazia = grupo.temTagVazia || campo.tagVazia;
      }
    }
  }
  return dic;
}

// The declarations of `path`, read once per process and modification time: a reader of note
// XML builds a fresh model per note, and parsing the dictionary again each time would cost more
// than the note itself. Throws EqorGovException when the file is not well-formed or a
// declaration is broken. Any thread may call it.
std::shared_ptr<const TDicionarioDeclarado> DicionarioLido(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::pair<std::chrono::system_clock::time_point,
                                         std::shared_ptr<const TDicionarioDeclarado>>>
      lidos;
  const auto idade = FileAge(path);
  {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto it = lidos.find(path);
    if (it != lidos.end() && it->second.first == idade) return it->second.second;
  }
  auto dic = Declarar(XmlDocument::Parse(LoadFromFile(path)).ElementTree());
  const std::lock_guard<std::mutex> lock(mutex);
  lidos[path] = {idade, dic};
  return dic;
}

}  // namespace

TqorXMLDataSetNFCe::TqorXMLDataSetNFCe() = default;
TqorXMLDataSetNFCe::~TqorXMLDataSetNFCe() {
  // Details unlink themselves from their masters; destroy details before masters so no
  // table is left pointing at a freed one.
  while (!listDataSets_.empty()) listDataSets_.pop_back();
}

void TqorXMLDataSetNFCe::SetXMLDicionario(const std::string& path) {
  xmlDicionario_ = path;
  if (!path.empty()) CreateListDataSets();
}

void TqorXMLDataSetNFCe::CreateListDataSets() {
  while (!listDataSets_.empty()) listDataSets_.pop_back();
  dicionario_.reset();
  ultimoCampo_ = nullptr;
  LoadDicXML();
}

std::unique_ptr<TXmlFieldNFCe> TqorXMLDataSetNFCe::CreateXmlField(
    TXmlDataSetNFCe& group, std::size_t index, const TDeclaracaoCampo& declaracao) {
  return std::make_unique<TXmlFieldNFCe>(group, index, declaracao);
}

void TqorXMLDataSetNFCe::LoadDicXML() {
  if (!FileExists(xmlDicionario_)) {
    throw EqorDataSetFileNotFoundException("Arquivo:  %s não encontrado.", {xmlDicionario_},
                                           diretorioLogErro_);
  }
  std::shared_ptr<const TDicionarioDeclarado> lido;
  try {
    lido = DicionarioLido(xmlDicionario_);
  } catch (const EqorGovException&) {
    throw EqorDataSetLoadTemplateException("Erro no arquivo %s .", {xmlDicionario_},
                                           diretorioLogErro_);
  }
  const auto loadError = [this] {
    return EqorDataSetLoadTemplateException("Erro no arquivo %s .", {xmlDicionario_},
                                            diretorioLogErro_);
  };
  listDataSets_.reserve(lido->grupos.size());
  handles_.reserve(lido->grupos.size());
  for (const TGrupoDeclarado& declarado : lido->grupos) {
    auto group = std::make_unique<TXmlDataSetNFCe>(declarado);
    group->UsarDiretorioLogErro(&diretorioLogErro_);
    for (std::size_t index = 0; index < declarado.campos.size(); ++index) {
      group->AddXmlField(CreateXmlField(*group, index, declarado.campos[index]));
    }
    group->Preparar();
    group->Open();
    TXmlDataSetNFCe* table = group.get();
    group->SetBeforeInsert([this, table](TqorMemTable&) { AntesDeIncluir(*table); });
    group->SetAfterInsert([this, table](TqorMemTable&) { DepoisDeIncluir(*table); });
    group->SetBeforePost([this, table](TqorMemTable&) { AntesDeSalvar(*table); });
    table->SetContadorHandle(&handles_[table->Name()]);
    listDataSets_.push_back(std::move(group));
  }
  dicionario_ = std::move(lido);
  // A link to a group the dictionary lacks, or through fields it lacks, is a broken dictionary.
  for (const auto& group : listDataSets_) {
    if (group->GetXmlMasterSource().empty()) continue;
    TXmlDataSetNFCe* master = FindDataSetOrNull(group->GetXmlMasterSource());
    if (!master || master == group.get() || group->FindField(group->GetXMLKeyField()) < 0 ||
        master->FindField(group->GetXMLMasterField()) < 0) {
      throw loadError();
    }
    group->SetXmlMaster(master);
  }
  if (activeMasterSource_) SetActiveMasterSource(true);
}

void TqorXMLDataSetNFCe::SetActiveMasterSource(bool active) {
  activeMasterSource_ = active;
  for (const auto& group : listDataSets_) {
    if (!active) {
      group->SetMaster(nullptr, {}, {});
    } else if (!group->GetXmlMasterSource().empty() && !group->Master()) {
      group->SetMaster(&FindDataSet(group->GetXmlMasterSource()), group->GetXMLKeyField(),
                       group->GetXMLMasterField());
    }
  }
}

TXmlDataSetNFCe* TqorXMLDataSetNFCe::FindDataSetOrNull(std::string_view name) const {
  if (!dicionario_) return nullptr;
  if (const auto exact = dicionario_->gruposExato.find(name);
      exact != dicionario_->gruposExato.end()) {
    return listDataSets_[exact->second].get();
  }
  const auto it = dicionario_->grupos_.find(name);
  return it == dicionario_->grupos_.end() ? nullptr : listDataSets_[it->second].get();
}

TXmlDataSetNFCe& TqorXMLDataSetNFCe::FindDataSet(std::string_view name) const {
  if (TXmlDataSetNFCe* group = FindDataSetOrNull(name)) return *group;
  throw EqorDataSetException("Parte %s não encontrada.", {Citar(UpperCase(name))},
                             diretorioLogErro_);
}

TXmlFieldNFCe* TqorXMLDataSetNFCe::FindCampo(std::string_view name) const {
  // A host writes the fields of a part mostly in dictionary order: the fields after the last
  // one found are looked at first (one is taken when the lookup by its name finds it).
  if (ultimoCampo_ != nullptr) {
    const TXmlDataSetNFCe& group = ultimoCampo_->DataSet();
    const int index = group.IndiceDoNome(name, ultimoCampo_->Index() + 1);
    if (index >= 0) {
      TXmlFieldNFCe* field = group.Fields()[static_cast<std::size_t>(index)].get();
      if (field->DonoDoNome()) return ultimoCampo_ = field;
    }
  }
  if (!dicionario_) return nullptr;
  const auto campo = [this](std::pair<std::size_t, std::size_t> onde) {
    return listDataSets_[onde.first]->Fields()[onde.second].get();
  };
  if (const auto exact = dicionario_->camposExato.find(name);
      exact != dicionario_->camposExato.end()) {
    return ultimoCampo_ = campo(exact->second);
  }
  const auto it = dicionario_->campos.find(name);
  return ultimoCampo_ = it == dicionario_->campos.end() ? nullptr : campo(it->second);
}

TXmlFieldNFCe& TqorXMLDataSetNFCe::Campo(std::string_view name) const {
  if (TXmlFieldNFCe* field = FindCampo(name)) return *field;
  throw EqorDataSetFieldNotFoundException("Campo %s não encontrado", {Citar(name)},
                                          diretorioLogErro_);
}

int TqorXMLDataSetNFCe::GetHandle(const std::string& group, bool increment) {
  int& handle = handles_[group];
  if (increment) ++handle;
  return handle;
}

bool TqorXMLDataSetNFCe::PossuiDadosCampo(const TXmlDataSetNFCe& group) const {
  for (const TXmlFieldNFCe* field : group.CamposDeDados()) {
    if (!field->AsString().empty()) return true;
  }
  return false;
}

void TqorXMLDataSetNFCe::AntesDeIncluir(TXmlDataSetNFCe& group) {
  if (group.Editing() && !PossuiDadosCampo(group)) group.Cancel();
}

void TqorXMLDataSetNFCe::DepoisDeIncluir(TXmlDataSetNFCe& group) {
  if (group.HandleIndex() >= 0) {
    int& handle = *group.ContadorHandle();  // GetHandle(group.Name(), true)
    group.SetValue(static_cast<std::size_t>(group.HandleIndex()), std::to_string(++handle));
  }
  const TXmlDataSetNFCe* master = group.XmlMaster();
  if (master == nullptr || group.KeyIndex() < 0) return;
  if (master->Active()) {
    const std::size_t key = static_cast<std::size_t>(group.KeyIndex());
    const std::string& value = master->Value(static_cast<std::size_t>(group.MasterFieldIndex()));
    // The table link has usually written it already.
    if (group.Value(key) != value) group.SetValue(key, value);
  }
}

void TqorXMLDataSetNFCe::AntesDeSalvar(TXmlDataSetNFCe& group) {
  for (const TXmlFieldNFCe* field : group.CamposVerificados()) {
    if (field->Required() && TrimView(field->AsString()).empty()) {
      throw EqorDataSetException("O Campo [%s] referente a [%s] deve ser preenchido.\r\nDica: %s",
                                 {field->FieldName(), field->DisplayLabel(), field->GetDica()},
                                 diretorioLogErro_);
    }
    field->ValidarConteudo();
  }
}

void TqorXMLDataSetNFCe::IncluirPart(const std::string& name) {
  TXmlDataSetNFCe& group = FindDataSet(name);
  if (group.Editing()) {
    if (PossuiDadosCampo(group)) {
      group.Post();
    } else {
      group.Cancel();
    }
  }
  Incluir(group);
}

void TqorXMLDataSetNFCe::SalvarPart(const std::string& name) {
  TXmlDataSetNFCe& group = FindDataSet(name);
  if (group.Editing()) group.Post();
}

void TqorXMLDataSetNFCe::Incluir(TXmlDataSetNFCe& group) { group.Append(); }

void TqorXMLDataSetNFCe::ClearDataSets() {
  // Closing drops the pending record and every record: reopened, the group is empty. A group
  // in browse without records is so already.
  for (const auto& group : listDataSets_) {
    if (group->State() == TDataSetState::dsBrowse && group->StoredCount() == 0) continue;
    group->Close();
    group->Open();
    // The in-memory table always empties on close, so no note can reach this today; the check
    // stays because a group that kept records would carry them into the next note.
    if (group->StoredCount() != 0) {
      throw EqorDataSetException("Erro ao Liberar memória para próxima NFCe em (%s) ",
                                 {group->Name()}, diretorioLogErro_);
    }
  }
}

// ---- XML output ---------------------------------------------------------------------------

void TqorXMLDataSetNFCe::AppendFieldXML(std::string& out, const TXmlFieldNFCe& field) const {
  if (!field.Visible()) return;
  const std::string& value = field.AsString();
  if (Nulo(value)) return;
  if (value.empty() && !field.GetGeraTagVazia()) return;
  const std::string& name = field.XmlName();
  if (field.IsElement()) {
    out += '<';
    out += name;
    out += '>';
    out += value;
    out += "</";
    out += name;
    out += '>';
  } else {
    out += name;
    out += "=\"";
    out += value;
    out += '"';
  }
}

const std::string& TqorXMLDataSetNFCe::ValorDe(const TXmlDataSetNFCe& group,
                                               std::string_view name) const {
  const int index = group.IndiceDoNome(name, 0);
  return index >= 0 ? group.Value(static_cast<std::size_t>(index)) : group.Value(name);
}

std::string TqorXMLDataSetNFCe::ConvertFieldParaXML(const TXmlFieldNFCe& field) const {
  std::string out;
  AppendFieldXML(out, field);
  return out;
}

std::string TqorXMLDataSetNFCe::ConvertFieldParaXML(const TXmlDataSetNFCe& group,
                                                    std::string_view name) const {
  const TXmlFieldNFCe* field = group.FindXmlFieldNaOrdem(name);
  return field ? ConvertFieldParaXML(*field) : std::string();
}

void TqorXMLDataSetNFCe::AppendFieldsXML(std::string& out, const TXmlDataSetNFCe& group,
                                         std::initializer_list<std::string_view> names) const {
  if (group.NadaAEscrever()) return;  // every field of it would be skipped
  for (std::string_view name : names) {
    if (const TXmlFieldNFCe* field = group.FindXmlFieldNaOrdem(name)) AppendFieldXML(out, *field);
  }
}

std::string TqorXMLDataSetNFCe::ConvertFieldsParaXML(
    const TXmlDataSetNFCe& group, std::initializer_list<std::string_view> names) const {
  std::string out;
  AppendFieldsXML(out, group, names);
  return out;
}

std::string TqorXMLDataSetNFCe::ConvertDataSetParaXML(const TXmlDataSetNFCe& group) const {
  std::string out;
  AppendDataSetXML(out, group);
  return out;
}

void TqorXMLDataSetNFCe::AppendDataSetXML(std::string& out, const TXmlDataSetNFCe& group) const {
  if (group.SemValoresVisiveis()) return;
  bool hasData = false;
  for (const auto& field : group.Fields()) {
    if (field->Visible() && !field->AsString().empty()) {
      hasData = true;
      break;
    }
  }
  if (!hasData) return;
  const std::string& tag = group.GetTagXML();
  if (!tag.empty()) {
    out += '<';
    out += tag;
    out += '>';
  }
  for (const auto& field : group.Fields()) AppendFieldXML(out, *field);
  if (!tag.empty()) {
    out += "</";
    out += tag;
    out += '>';
  }
}

std::string TqorXMLDataSetNFCe::ParserConverter(const std::string& text) const {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    // A reference: "@", one group letter, "(", a field name or "*", ")".
    if (c == '@' && i + 2 < text.size() && text[i + 2] == '(') {
      const std::size_t close = text.find(')', i + 3);
      if (close != std::string::npos) {
        const std::string group(1, text[i + 1]);
        const std::string name = text.substr(i + 3, std::min<std::size_t>(close - i - 3, 100));
        const TXmlDataSetNFCe& dataSet = FindDataSet(group);
        if (name == "*") {
          out += ConvertDataSetParaXML(dataSet);
        } else {
          out += ConvertFieldParaXML(dataSet, name);
        }
        i = close + 1;
        continue;
      }
    }
    if (c != '@' && c != '(' && c != ')') out += c;
    ++i;
  }
  return out;
}

}  // namespace qor
