// TqorNFCeConvXmlToDataset: a note in XML (an infNFe, a signed NFe, an nfeProc with its
// protocol, a batch) read back into the groups of the dataset model, so that a host can work
// on a note that exists only as XML. The result is a container holding one saved note (whose
// LoteNFCe holds the note written again from the groups) and the eight name=value lines of the
// authorisation protocol.
//
// The text is parsed once into an element tree and walked; no element is searched for again
// per field. Reading is confined to the first note of the text: its infNFe (the first element
// of that name in the NF-e namespace), the infNFeSupl beside it and the first protNFe after it.
// A text without such an infNFe is refused before anything is read.
//
// A group is read from its element: for each field, in dictionary order, the text of the first
// element inside it whose name is the field's XML name (the name up to the first underscore).
// Where the layout repeats a name in one element (refNF and refNFP in NFref, ICMSTot and
// ISSQNtot in total, transporta and veicTransp in transp), each field is read from the element
// its own part of the layout gives it. Repeated elements become one record each, details under
// their own master record (adi under its DI, exportInd under its detExport, lacres under its
// vol). Values are stored XML-escaped, as the TX2 parser stores them; the QR code keeps a CDATA
// wrapper around its raw text.
//
// Not thread-safe.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/Types.h"
#include "platform/MemTable.h"
#include "platform/TStrings.h"
#include "platform/Xml.h"

namespace qor {

class TqorNFCeDataSets;

// Elements by name (views of the names in the tree).
using TPrimeirosPorNome =
    std::unordered_map<std::string_view, const XmlElement*, TNameHash, std::equal_to<>>;

class TqorNFCeConvXmlToDataset {
 public:
  TqorNFCeConvXmlToDataset();
  virtual ~TqorNFCeConvXmlToDataset();
  TqorNFCeConvXmlToDataset(const TqorNFCeConvXmlToDataset&) = delete;
  TqorNFCeConvXmlToDataset& operator=(const TqorNFCeConvXmlToDataset&) = delete;

  const std::string& GetXML() const { return xml_; }
  void setXML(const std::string& xml) { xml_ = xml; }
  const std::string& GetXmlDicionario() const { return xmlDicionario_; }
  // Also handed to the container while one is being filled.
  void setXmlDicionario(const std::string& path);
  TVersaoEsquema GetVersaoEsquema() const { return versaoEsquema_; }
  void SetVersaoEsquema(TVersaoEsquema versao) { versaoEsquema_ = versao; }
  bool GetXmlDestinatario() const { return xmlDestinatario_; }
  void setXmlDestinatario(bool v) { xmlDestinatario_ = v; }
  // "tpAmb=", "verAplic=", "chNFe=", "dhRecbto=", "nProt=", "digVal=", "cStat=", "xMotivo=", each
  // with the value of the protocol of the note read (empty values without one).
  const TStrings& GetDadosAutorizacao() const { return dadosAutorizacao_; }
  void SetDadosAutorizacao(const TStrings& dados);
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }

  // Reads the note of GetXML() into a new container, which the caller owns. A text that is not
  // well-formed raises the parser's EqorGovException; one without an infNFe in the NF-e namespace
  // EqorNFCeDataSetsException "Não foi possível encontrar notas fiscais no arquivo"; the
  // dataset model's own failures (a missing dictionary, a value outside its enumeration or too
  // long) pass unchanged. No container is returned on failure.
  std::unique_ptr<TqorNFCeDataSets> ConvertDataset();

  // One TX2 command on the container being filled: "INCLUIR", "SALVAR", "INCLUIRITEM",
  // "SALVARITEM", "INCLUIRCOBRANCA", "SALVARCOBRANCA", "INCLUIRPARTE" and "SALVARPARTE" (with
  // the group in `parametro`). Another command raises EqorNFCeDataSetsException.
  void Exec(const std::string& comando, const std::string& parametro = {});

  // The first element named `elemento` inside `contexto` (an element of the note read; the
  // note itself when null), in document order; null when there is none.
  const XmlElement* GetNodeXml(std::string_view elemento,
                               const XmlElement* contexto = nullptr) const;
  // The field name up to its first underscore ("vProd_I11" gives "vProd").
  static std::string GetNameXML(std::string_view campo);
  // The occurrences of "<infNFe " in a text, and the `indice`-th (0-based) note of it, from
  // "<infNFe " to "</infNFe>" or, `comProtocolo`, from "<nfeProc " to "</nfeProc>"; empty when
  // the text holds fewer notes.
  static int GetNumNotas(const std::string& xml);
  static std::string GetNota(int indice, const std::string& xml, bool comProtocolo);

 protected:
  // The steps that fill the container, from INCLUIR to SALVAR.
  virtual void ConvertParts();
  void DadosDeAutorizacao();

  // The fields of `grupo` read from the first `elemento` inside `contexto` (the note when
  // null) into the group's current record; the fields named in `excecoes` (comma-separated, any
  // case) are left alone. Nothing is read when the element is absent. Returns the element.
  const XmlElement* ConvertXmlEmDataSet(const std::string& grupo, std::string_view elemento,
                                        std::string_view excecoes = {},
                                        const XmlElement* contexto = nullptr);
  // The same for one element already found (null reads nothing).
  void ConvertElemento(const std::string& grupo, const XmlElement* elemento,
                       std::string_view excecoes = {});
  // One record of `grupo` per `elemento` inside `contexto` (the note when null), in document
  // order; `detalhes`, when given, runs for each element while its record is still open, so
  // that the records it adds are linked to it.
  template <typename Detalhes>
  void ConvertXmlEmPartDataSet(const std::string& grupo, std::string_view elemento,
                               const XmlElement* contexto, Detalhes&& detalhes);
  void ConvertXmlEmPartDataSet(const std::string& grupo, std::string_view elemento,
                               const XmlElement* contexto = nullptr);
  // The field `campo` set to the text of the first element of its XML name inside `origem`
  // (empty when `origem` is null or has none).
  void AddValueField(const std::string& campo, const XmlElement* origem);

 private:
  void ConvertItens();
  void ConvertPagamentos();
  void ConvertTransporte();
  void ConvertTotais();
  void ConvertReferencias();
  void ConvertInfAdic();
  // Sets the field to `valor`, escaped as the TX2 parser escapes.
  void Atribuir(const std::string& campo, std::string_view valor);

  std::string xml_;
  std::string xmlDicionario_;
  TVersaoEsquema versaoEsquema_ = TVersaoEsquema::pl_009g;
  bool xmlDestinatario_ = false;
  TStrings dadosAutorizacao_;
  std::string diretorioLogErro_;

  // While ConvertDataset runs: the container, the tree and the parts of the note in it.
  std::unique_ptr<TqorNFCeDataSets> dataSets_;
  // ConvertElemento's working lists, kept to spare their allocations.
  std::vector<char> visto_;
  std::vector<std::pair<std::size_t, const XmlElement*>> achados_;
  XmlElement raiz_;
  // The first element of each name in the note (GetNodeXml without a context).
  TPrimeirosPorNome primeirosDaNota_;
  const XmlElement* infNFe_ = nullptr;
  const XmlElement* infNFeSupl_ = nullptr;
  const XmlElement* protNFe_ = nullptr;
};

}  // namespace qor
