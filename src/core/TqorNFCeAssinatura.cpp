// Signing of notes and events, the NFC-e supplement (QR-code link and key-query URL) and the
// CSRT of the responsible technician.
//
// Notes are cut out of the input as text ("<infNFe " ... "</infNFe>"), so the input may be an
// enviNFe batch, a single NFe, or the converter's one note per line. The text each note is
// signed as is the text returned: the clean-up after signing only touches what lies outside
// the signed infNFe.
#include <cctype>
#include <exception>
#include <memory>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/GovException.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "platform/XmlEdit.h"
#include "utils/Notas.h"
#include "utils/QRCode.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr int kMaxNotasLote = 50;

// Deletes every occurrence of `tag` (case-insensitive).
void DeleteAllText(std::string& text, std::string_view tag) {
  for (std::size_t at = FindText(text, tag); at != std::string::npos;
       at = FindText(text, tag, at)) {
    text.erase(at, tag.size());
  }
}

// The content of the infNFeSupl the host supplied for the note that ends at `fimDaNota` (just
// after its "</infNFe>"): the one that lies between that end and the next note (the batch holds
// them in note order). Empty when there is none. Only that stretch is searched, so a batch is
// read once however many notes it holds.
std::string SuplementoFornecido(const std::string& lote, std::size_t fimDaNota) {
  const std::size_t proxima = FindFirst(lote, "<infNFe ", fimDaNota);
  const std::string_view trecho =
      std::string_view(lote).substr(0, proxima == std::string::npos ? lote.size() : proxima);
  std::size_t abre = FindText(trecho, "<infnfesupl", fimDaNota);
  if (abre == std::string::npos) return {};
  const char depois = abre + 11 < trecho.size() ? trecho[abre + 11] : '\0';
  if (depois != '>' && !std::isspace(static_cast<unsigned char>(depois))) return {};
  abre = trecho.find('>', abre);
  if (abre == std::string::npos || trecho[abre - 1] == '/') return {};
  const std::size_t fecha = FindText(trecho, "</infnfesupl>", abre);
  if (fecha == std::string::npos) return {};
  return lote.substr(abre + 1, fecha - abre - 1);
}

}  // namespace

// ---- notes ----------------------------------------------------------------------------------

int TqorNFCe::GetNumNotas(const std::string& xml) const { return ::qor::GetNumNotas(xml); }

std::string TqorNFCe::GetNota(int indice, const std::string& xml, bool comProtocolo) const {
  return ::qor::GetNota(indice, xml, comProtocolo);
}

int TqorNFCe::ValidaNumNotas(const std::string& xml) {
  const int notas = GetNumNotas(xml);
  if (notas == 0) {
    throw EqorNFCeException("Não foi possível encontrar notas fiscais no arquivo",
                            diretorioLogErro_);
  }
  if (notas > kMaxNotasLote) {
    throw EqorNFCeMaxSizeException("O Lote não pode possuir mais de 50 notas.", diretorioLogErro_);
  }
  return notas;
}

std::string TqorNFCe::GetSignatureInfo() { return LoadTemplate("signature_info.xml"); }

std::string TqorNFCe::GetReferenceInfo(const std::string& nota) {
  std::string id;
  if (!XPathSelectSingleNode(nota, "//@Id", id, {}, false)) {
    throw EqorNFCeException("Campo Id não encontrado para nota fiscal", diretorioLogErro_);
  }
  return id;
}

std::string TqorNFCe::GetReferenceInfo(const XmlDocument& nota) {
  std::string id;
  if (!nota.FindAttribute("", "Id", id)) {
    throw EqorNFCeException("Campo Id não encontrado para nota fiscal", diretorioLogErro_);
  }
  return id;
}

void TqorNFCe::PrepararXMLAssinar(std::string& nota) {
  ReplaceAll(nota, "º", "o");
  // A CR LF pair inside a value would reach the signature as a line feed (XML reads it so) and
  // then be deleted by the clean-up after signing, which would break the signature: it goes
  // before signing instead.
  ReplaceAll(nota, "\r\n", "");
  nota = Format(LoadTemplate("assinar_nota.xml"), {nota, ""});
}

void TqorNFCe::RemoveEspacosAssinatura(std::string& xml) {
  // Without two adjacent blanks anywhere, no element text has them: nothing to read or change.
  if (xml.find("  ") == std::string::npos) return;
  for (const char* elemento : {"KeyInfo", "SignatureValue"}) {
    const std::string antigo = GetValueTag(elemento, xml);
    std::string limpo = antigo;
    while (limpo.find("  ") != std::string::npos) ReplaceAll(limpo, "  ", "");
    if (!antigo.empty() && limpo != antigo) ReplaceAll(xml, antigo, limpo);
  }
}

void TqorNFCe::LimparXMLAssinado(std::string& xml) {
  RemoveEspacosAssinatura(xml);
  const std::string declaracao = "<?xml version=\"1.0\"?>";
  if (const std::size_t at = FindFirst(xml, declaracao); at != std::string::npos) {
    xml.erase(at, declaracao.size());
  }
  ReplaceAll(xml, "\r\n", "");
}

void TqorNFCe::ValidarRegraDeNegocioNFCe(const std::string& nota) {
  std::unique_ptr<XmlDocument> documento;
  try {
    documento = std::make_unique<XmlDocument>(XmlDocument::Parse(nota));
  } catch (const EqorGovException&) {
    // Read as a note without tpEmis, which the first check refuses.
  }
  ValidarRegraDeNegocioNFCe(nota, documento.get());
}

void TqorNFCe::ValidarRegraDeNegocioNFCe(const std::string& nota, const XmlDocument* documento) {
  const auto valor = [documento](const char* tag) {
    return documento != nullptr ? documento->ValueTag(tag) : std::string();
  };
  const std::string tpEmis = valor("tpEmis");
  static const std::vector<std::string> kTipos{"1", "2", "3", "4", "5", "6", "7", "9"};
  bool listado = false;
  for (const std::string& tipo : kTipos) listado = listado || SameText(tipo, tpEmis);
  if (!listado) {
    throw EqorNFCeRegraDeNegocioException(
        "Tipo de Emissão %s é inválido. Utilize (1,2,3,4,5,6,7 e 9)", {tpEmis}, diretorioLogErro_);
  }
  const bool justificada = FindFirst(nota, "xJust") != std::string::npos ||
                           FindFirst(nota, "dhCon") != std::string::npos;
  if (tpEmis == "1") {
    if (justificada) {
      throw EqorNFCeRegraDeNegocioException(
          "556 - Rejeição: Justificativa de entrada em contingência não deve ser informada para "
          "tipo de emissão normal",
          diretorioLogErro_);
    }
    return;
  }
  if (!justificada) {
    throw EqorNFCeRegraDeNegocioException(
        "557 - Rejeição: A Justificativa de entrada em contingência deve ser informada",
        diretorioLogErro_);
  }
  if (Utf8Length(valor("xJust")) < 15) {
    throw EqorNFCeRegraDeNegocioException(
        "A justificativa para entrada em contingência deve ter no mínimo 15 dígitos.",
        diretorioLogErro_);
  }
}

std::string TqorNFCe::AssinarNota(const std::string& xml) {
  return RunOperation("AssinarNota", [&] {
    const std::string lote = DynamicRemoveAccents(xml, caracteresRemoverAcentos_);
    CheckCertificate();
    ValidaNumNotas(lote);
    std::string resultado;
    resultado.reserve(lote.size() + lote.size() / 2);  // room for the signatures and supplements
    for (const TTrechoNota& trecho : LocalizarNotas(lote)) {
      if (trecho.fim == std::string::npos) continue;
      std::string nota = EscaparNota(lote.substr(trecho.inicio, trecho.fim - trecho.inicio));
      PrepararXMLAssinar(nota);
      // Read once for the contingency check and the signing; a note that is not well-formed is
      // a failure of its signing, said as such, not a note with an invalid tpEmis.
      std::unique_ptr<XmlDocument> documento;
      try {
        documento = std::make_unique<XmlDocument>(XmlDocument::Parse(nota));
      } catch (const EqorGovException& failure) {
        throw EqorNFCeSignatureException(
            "A nota não é um XML válido: " + QuoteForMessage(failure.what()), diretorioLogErro_);
      }
      ValidarRegraDeNegocioNFCe(nota, documento.get());
      try {
        nota = AssinarNotaPreparada(nota, std::move(*documento),
                                    SuplementoFornecido(lote, trecho.fim));
      } catch (const std::exception& failure) {
        throw EqorNFCeSignatureException(std::string(failure.what()), diretorioLogErro_);
      }
      LimparXMLAssinado(nota);
      resultado += nota;
    }
    return resultado;
  });
}

std::string TqorNFCe::AssinarNotaPreparada(const std::string& preparada, XmlDocument documento,
                                           const std::string& suplemento) {
  std::string id;
  TqorGovX& gov = GetGov();  // configured once for the whole signing
  gov.Get_SignerSettings().SignedElement = "infNFe";
  if (!documento.FindAttribute("infNFe", "Id", id)) {
    return preparada;
  }
  const std::string chave = Utf8Substr(id, 3, 44);
  const std::string referencia = GetReferenceInfo(documento);
  DefinirCSRT(documento, chave);
  // The QR code is made of values of infNFe, which signing leaves as they are, and of the
  // signature's digest.
  TCamposQRCode campos = LerCamposQRCode(documento);
  std::string nota = gov.SignXmlById(std::move(documento), referencia, &campos.digestValue);
  AdicionarSuplemento(nota, suplemento, campos);
  return nota;
}

void TqorNFCe::DefinirCSRT(XmlDocument& nota, const std::string& chave) {
  if (idCSRT_.empty() || csrt_.empty() || nota.CountTag("infRespTec") == 0) return;
  const std::string hash = CalcularHashCSRT(chave, csrt_);
  SetChildElementText(nota, "infRespTec", "idCSRT", idCSRT_);
  SetChildElementText(nota, "infRespTec", "hashCSRT", hash, "idCSRT");
}

void TqorNFCe::AdicionarSuplemento(std::string& nota, const std::string& suplemento,
                                   const TCamposQRCode& campos) {
  if (versaoManual_ != TVersaoManual::vm50b && versaoManual_ != TVersaoManual::vm60) return;
  // The note is the serialiser's text of a tree whose infNFe was found by its exact name, and
  // element names are not case-insensitive: its closing tag is the last one, near the end.
  const std::size_t fimInfNFe = FindLast(nota, "</infNFe>");
  if (fimInfNFe == std::string::npos) return;
  // The supplement is made apart and then put right after infNFe: what is looked for in it is
  // looked for in it alone, not in the note's own texts (an observation may well mention a
  // "urlChave").
  constexpr std::string_view kAbre = "<infNFeSupl>";
  std::string supl = std::string(kAbre) + suplemento + "</infNFeSupl>";
  if (FindText(supl, "<qrcode>") == std::string::npos) {
    std::string link = LinkQRCode([&] { return campos; });
    const std::string modelo = LoadTemplate("qrcode.xml");
    if (modelo.find("<![CDATA[%s]]>") == std::string::npos) ReplaceAll(link, "&", "&amp;");
    supl.insert(kAbre.size(), Format(modelo, {link}));
  }
  if (versaoManual_ == TVersaoManual::vm60 && FindText(supl, "urlchave") == std::string::npos) {
    std::string url = GetServersIni().ReadString("URLCONSULTACHAVE", uf_, "");
    ReplaceAll(url, "&", "&amp;");
    supl.insert(FindText(supl, "</infnfesupl>"), Format("<urlChave>%s</urlChave>", {url}));
  }
  DeleteAllText(supl, "<infNFeSupl></infNFeSupl>");
  nota.insert(fimInfNFe + 9, supl);
}

// ---- events ---------------------------------------------------------------------------------

std::string TqorNFCe::AssinarEvento(const std::string& xml) {
  return RunOperation("AssinarEvento", [&] {
    CheckCertificate();
    // Nothing to sign is a failure, never an empty result: the host would send nothing and
    // believe the events sent.
    if (Trim(xml).empty()) {
      throw EqorSignatureException("Nenhum evento informado para assinar.", diretorioLogErro_);
    }
    try {
      XmlDocument::Parse(xml);
    } catch (const EqorGovException& failure) {
      throw EqorSignatureException(
          "O XML dos eventos não é válido: " + QuoteForMessage(failure.what()), diretorioLogErro_);
    }
    const int eventos = ObterNumEventos(xml);
    if (eventos == 0) {
      throw EqorSignatureException("Nenhum evento (infEvento) encontrado no XML informado.",
                                   diretorioLogErro_);
    }
    std::string resultado;
    for (int indice = 0; indice < eventos; ++indice) {
      std::string evento = ObterEvento(xml, indice);
      std::string id;
      XPathSelectSingleNode(evento, "/*/@Id", id, {}, false);
      const std::string nome = Format("O evento %s (Id \"%s\") não pôde ser assinado: ",
                                      {std::to_string(indice + 1), QuoteForMessage(id)});
      if (id.empty()) {
        throw EqorSignatureException(nome + "infEvento sem o atributo Id.", diretorioLogErro_);
      }
      evento = EscaparNota(evento);
      ReplaceAll(evento, "º", "o");
      evento = Format(LoadTemplate("assinarevento.xml"), {evento, ""});
      try {
        GetGov().Get_SignerSettings().SignedElement = "infEvento";
        evento = GetGov().SignXmlById(evento, GetReferenceInfo(evento));
      } catch (const std::exception& failure) {
        throw EqorSignatureException(nome + failure.what(), diretorioLogErro_);
      }
      LimparXMLAssinado(evento);
      resultado += evento;
    }
    return resultado;
  });
}

}  // namespace qor
