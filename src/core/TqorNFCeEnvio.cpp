// Batch sending, the synchronous sending and the receipt query, with their checks, and the
// recipient's distribution XML they produce.
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "distribution/TqorNFCeXmlDestinatario.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GovUtils.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Notas.h"
#include "utils/Paths.h"
#include "utils/Textos.h"
#include "utils/XmlLogs.h"

namespace qor {

namespace {

constexpr const char* kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";

bool XmlDocumentHas(const std::string& xml, const std::string& localName) {
  std::string ignorado;
  return XPathSelectSingleNode(xml, "//*[local-name()='" + localName + "']", ignorado);
}

bool Contem(std::initializer_list<const char*> lista, const std::string& valor) {
  for (const char* item : lista) {
    if (valor == item) return true;
  }
  return false;
}

// The size of a batch in KB as the message prints it: a point as decimal separator whatever the
// locale, and no more digits than it needs ("500.001", "512").
std::string TamanhoKB(double kb) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", kb);
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

// The notes without the XML declarations and byte-order marks right before each NFe: a note
// signed alone may carry its own, which inside a batch makes the batch ill-formed. Both lie
// outside the signed infNFe, so the signatures hold; nothing inside a note is touched.
std::string SemDeclaracoes(const std::string& notas) {
  std::vector<std::pair<std::size_t, std::size_t>> cortes;  // [begin, end) to drop, in order
  const auto espaco = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (std::size_t at = FindFirst(notas, "<NFe"); at != std::string::npos;
       at = FindFirst(notas, "<NFe", at + 4)) {
    if (at + 4 < notas.size() && notas[at + 4] != ' ' && notas[at + 4] != '>') continue;
    std::vector<std::pair<std::size_t, std::size_t>> antes;
    for (std::size_t fim = at;;) {
      while (fim > 0 && espaco(notas[fim - 1])) --fim;
      if (fim >= 3 && notas.compare(fim - 3, 3, "\xEF\xBB\xBF") == 0) {
        antes.emplace_back(fim - 3, fim);
        fim -= 3;
        continue;
      }
      if (fim >= 2 && notas.compare(fim - 2, 2, "?>") == 0) {
        const std::size_t inicio = notas.rfind("<?xml", fim - 2);
        if (inicio != std::string::npos && inicio + 5 < fim && espaco(notas[inicio + 5]) &&
            notas.find('>', inicio) == fim - 1) {
          antes.emplace_back(inicio, fim);
          fim = inicio;
          continue;
        }
      }
      break;
    }
    cortes.insert(cortes.end(), antes.rbegin(), antes.rend());
  }
  if (cortes.empty()) return notas;
  std::string limpo;
  limpo.reserve(notas.size());
  std::size_t de = 0;
  for (const auto& [inicio, fim] : cortes) {
    limpo.append(notas, de, inicio - de);
    de = fim;
  }
  limpo.append(notas, de, std::string::npos);
  return limpo;
}

// A failure after notes were posted (a reply log or pointer file that could not be written, a
// reply that is not theirs), in its own class, with the notes' fate said unknown.
[[noreturn]] void FalhaAposEnvio(const std::exception& falha) {
  const std::string mensagem = std::string(falha.what()) + TqorNFCe::kSituacaoDesconhecida;
  if (const auto* resposta = dynamic_cast<const EqorGovReplyException*>(&falha)) {
    throw EqorGovReplyException(mensagem, resposta->Status(), resposta->Body());
  }
  if (dynamic_cast<const EqorGovException*>(&falha) != nullptr) throw EqorGovException(mensagem);
  throw;
}

// The keys of the notes a document holds protocols for.
std::vector<std::string> ChavesProtocoladas(const std::string& resposta) {
  std::vector<std::string> chaves;
  XPathSelectNodes(resposta, "//*[local-name()='infProt']/*[local-name()='chNFe']", chaves, {},
                   false);
  return chaves;
}

std::vector<std::string> ChavesDoLote(const std::string& lote) {
  std::vector<std::string> ids;
  XPathSelectNodes(lote, "//*[local-name()='infNFe']/@Id", ids, {}, false);
  for (std::string& id : ids) {
    if (id.size() > 3) id.erase(0, 3);
  }
  return ids;
}

bool Contem(const std::vector<std::string>& lista, const std::string& valor) {
  return std::find(lista.begin(), lista.end(), valor) != lista.end();
}

}  // namespace

std::string TqorNFCe::CompactaLote(const std::string& xml) { return EncodeBase64(GZipString(xml)); }

void TqorNFCe::ValidarTamanhoArquivoEnvio(const std::string& aLoteNotas) {
  // Characters, not bytes: the limit is the state's, over the text of the batch.
  const double kb = static_cast<double>(Utf8Length(aLoteNotas)) / 1000.0;
  if (kb > maxSizeLoteEnvio_) {
    throw EqorNFCeMaxSizeException("O Lote de NFCes possui %s KB ultrapassando o limite de %s KB.",
                                   {TamanhoKB(kb), std::to_string(maxSizeLoteEnvio_)},
                                   diretorioLogErro_);
  }
}

void TqorNFCe::ValidarLoteParaEnvio(const std::string& lote, const std::string& aLoteNotas,
                                    std::string& loteXml) {
  // Only a host's own call reports its failures: inside a sending, the size exception means
  // "compress", and every other failure is the sending's own to report.
  try {
    ChecarLoteParaEnvio(lote, aLoteNotas, loteXml);
  } catch (const std::exception& failure) {
    ReportFailure("ValidarLoteParaEnvio", failure);
    throw;
  }
}

void TqorNFCe::ChecarLoteParaEnvio(const std::string& lote, const std::string& aLoteNotas,
                                   std::string& loteXml, bool* grande) {
  SendTelemetryPing("ValidarLoteParaEnvio");
  loteXml = Format(LoadTemplate("pedido_enviarnota.xml"), {lote, aLoteNotas, ""});
  CheckCertificate();
  if (RemoveAccents(lote) != lote) {
    throw EqorNFCeCheckParamsException("Numero do Lote não pode conter acento: %s",
                                       {QuoteForMessage(lote)}, diretorioLogErro_);
  }
  if (Trim(aLoteNotas).empty()) {
    throw EqorNFCeCheckParamsException("Favor preencher o parâmetro aLoteNotas", diretorioLogErro_);
  }
  try {
    ValidarTamanhoArquivoEnvio(aLoteNotas);
  } catch (const EqorNFCeMaxSizeException&) {
    // A sending compresses a batch over the limit; the checks after this one still hold for it.
    if (grande == nullptr) throw;
    *grande = true;
  }
  if (!ValidaAssinatura(aLoteNotas)) {
    throw EqorSignatureException("A nota não possui assinatura", diretorioLogErro_);
  }
  if (validarEsquemaAntesEnvio_) ValidarXMLNFCe(loteXml, "ENVIO");
}

std::string TqorNFCe::PostarLote(const std::string& loteXml, bool compactar,
                                 const std::string& tipo, const TLogResposta& resposta) {
  const bool v4 = versaoManual_ == TVersaoManual::vm60;
  const std::string service = std::string(kWsdl) + (v4 ? "NfeAutorizacao4" : "NfeAutorizacao");
  const std::string conteudo = compactar ? CompactaLote(loteXml) : loteXml;
  const std::string soap =
      LoadTemplate(compactar ? "pedido_enviarnfezip.soap" : "pedido_enviarnfe.soap");
  const std::string envelope =
      v4 ? Format(soap, {conteudo}) : Format(soap, {GetLocalCode(), conteudo});
  const std::string op = tipo + (compactar ? "Zip" : "");
  const std::string action =
      service + (compactar ? "/nfeAutorizacaoLoteZip" : "/nfeAutorizacaoLote");
  const std::string result =
      std::string(compactar ? "nfeAutorizacaoLoteZipResult" : "nfeAutorizacaoLoteResult") +
      (v4 ? "4" : "");
  return DesenveloparSoap(PostToService(v4 ? "NfeRecepcao4" : "NfeRecepcao3", op, envelope, action,
                                        result, service, resposta));
}

std::string TqorNFCe::EnviarNF(const std::string& lote, const std::string& aLoteNotas,
                               bool compactar) {
  return RunOperation("EnviarNF", [&] {
    if (GetIntegrador().GetAtivar()) {
      throw EqorNFCeException("Envio assíncrono não está disponível para MFe", diretorioLogErro_);
    }
    if (Trim(aLoteNotas).empty()) {
      throw EqorNFCeCheckParamsException("Favor preencher o parâmetro aLoteNotas",
                                         diretorioLogErro_);
    }
    CheckConfig();
    UpdateIniServidores();
    const std::string notas = SemDeclaracoes(aLoteNotas);
    std::string loteXml;
    bool grande = false;
    ChecarLoteParaEnvio(lote, notas, loteXml, &grande);
    TqorGovUtils& utils = GetGovUtils();
    // The send log, then the notes' pointers to it, then the post: a pointer never names a log
    // that is not there, and one is left only when the notes may have reached the state.
    const std::string logEnvio = utils.Log(loteXml, "env-lot", lote, "", LogFolder());
    const TPonteiros anteriores = LerPonteiros(loteXml);
    bool postado = false;
    std::string resposta;
    try {
      SaveFileChavesTemporario(logEnvio);
      postado = true;
      resposta = PostarLote(loteXml, compactar || grande, "Enviar", {"rec", lote, "", true});
    } catch (const std::exception& falha) {
      if (!postado || !PedidoPodeTerChegado(falha)) RestaurarPonteiros(anteriores);
      throw;
    }
    try {
      utils.Log(resposta, "rec", lote, "", LogFolder());
      const std::string nRec = GetValueTag("nRec", resposta);
      if (!nRec.empty()) {
        // A receipt this folder already holds for another send log belongs to another batch:
        // a mixed-up reply, whose receipt would lead to that batch's notes.
        TqorNFCeXmlDestinatario d = CriarXmlDestinatario();
        const std::string dono = d.GetTempNameLogEnv(nRec);
        if (!dono.empty() && dono != LogFolder() + logEnvio) {
          throw EqorGovReplyException(
              Format("O recibo %s da resposta ao lote %s é de outro lote (%s)",
                     {nRec, lote, ExtractFileName(dono)}),
              200, resposta);
        }
        SaveFileTemporario(nRec, logEnvio);
      }
    } catch (const std::exception& falha) {
      FalhaAposEnvio(falha);
    }
    return resposta;
  });
}

std::string TqorNFCe::EnviarNFSincrono(const std::string& lote, const std::string& aXmlNota,
                                       bool compactar) {
  return RunOperation("EnviarNFSincrono", [&] {
    if (Trim(aXmlNota).empty()) {
      throw EqorNFCeCheckParamsException("Favor preencher o parâmetro aXmlNota", diretorioLogErro_);
    }
    if (GetNumNotas(aXmlNota) > 1) {
      throw EqorNFCeQuantidadeNotasEnviarSincronoException(
          "O lote de notas para envio síncrono deve conter somente uma NFCe", diretorioLogErro_);
    }
    CheckConfig();
    UpdateIniServidores();
    const std::string nota = SemDeclaracoes(aXmlNota);
    std::string loteXml;
    bool grande = false;
    ChecarLoteParaEnvio(lote, nota, loteXml, &grande);
    if (const std::size_t at = FindText(loteXml, "<indsinc>0</indsinc>"); at != std::string::npos) {
      loteXml.replace(at, 20, "<indSinc>1</indSinc>");
    }
    const std::string id = ObterNotaID(nota);
    TqorGovUtils& utils = GetGovUtils();
    const std::string logEnvio = utils.Log(loteXml, "env-sinc-lot", id, "", LogFolder());
    const TPonteiros anteriores = LerPonteiros(loteXml);
    const TLogResposta log{"rec-sinc", id, utils.GetLogFileName("env-sinc-ret", id), true};
    std::string resposta;
    bool postado = false;
    // What the Integrador did with a request it took is never known from its failure.
    const bool integrador = GetIntegrador().GetAtivar();
    try {
      SaveFileChavesTemporario(logEnvio);
      postado = true;
      if (integrador) {
        // The Integrador takes the batch as it is: it compresses nothing.
        std::string valor = GetValueTag("vNF", loteXml);
        ReplaceAll(valor, ".", ",");
        resposta = TrocarComIntegrador(
            CarregarTemplateEnvioMFe(
                EncodeBase64(Format(LoadTemplate("pedido_enviarnfe_integrador.soap"), {loteXml})),
                VersaoDadosIntegrador(), GetValueTag("cUF", loteXml),
                FormataDataHoraIntegrador(loteXml), valor, GetValueTag("nNF", loteXml),
                "NfeAutorizacaoLote12"),
            "env", "rec");
      } else {
        resposta = PostarLote(loteXml, compactar || grande, "EnviarSincrono", log);
      }
    } catch (const std::exception& falha) {
      if (!postado || (!integrador && !PedidoPodeTerChegado(falha))) {
        RestaurarPonteiros(anteriores);
      }
      throw;
    }
    try {
      const std::string logResposta = utils.Log(resposta, log.tipo, id, log.arquivo, LogFolder());
      // A protocol of another note is never this one's: the note stays unsettled, its pointer
      // with it, until a query by its key.
      const std::string chave = id.rfind("NFe", 0) == 0 ? id.substr(3) : id;
      for (const std::string& outra : ChavesProtocoladas(resposta)) {
        if (outra != chave) {
          throw EqorGovReplyException(
              Format("A resposta ao envio da NFC-e %s traz o protocolo de outra NFC-e (%s)",
                     {chave, outra}),
              200, resposta);
        }
      }
      std::string cStat;
      XPathSelectSingleNode(resposta, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat,
                            {}, false);
      if (salvarLogsEmDisco_ && Contem({"100", "110", "301", "302", "150"}, cStat)) {
        GerarXMLDestinatario(id, logResposta, logEnvio);
      }
    } catch (const std::exception& falha) {
      FalhaAposEnvio(falha);
    }
    return resposta;
  });
}

std::string TqorNFCe::ConsultarRecibo(const std::string& recibo) {
  return RunOperation("ConsultarRecibo", [&] {
    CheckConfig();
    UpdateIniServidores();
    CheckCertificate();
    if (Utf8Length(recibo) != 15) {
      throw EqorNFCeCheckParamsException("Número do Recibo deve ter exatamente 15 dígitos: %s",
                                         {QuoteForMessage(recibo)}, diretorioLogErro_);
    }
    if (RemoveAccents(recibo) != recibo) {
      throw EqorNFCeCheckParamsException("Número do Recibo não pode conter acentos: %s",
                                         {QuoteForMessage(recibo)}, diretorioLogErro_);
    }
    const bool v4 = versaoManual_ == TVersaoManual::vm60;
    const std::string body =
        Format(LoadTemplate("pedido_consultarecibo.xml"), {TpAmb(ambiente_), recibo});
    ValidarXMLNFCe(body, "CONSULTARECIBO");
    TqorGovUtils& utils = GetGovUtils();
    utils.Log(body, "ped-rec", recibo, "", LogFolder());
    // The body goes into the envelope as XML, as in the note query: the service reads
    // nfeDadosMsg as an element.
    const std::string soap = LoadTemplate("pedido_consultarecibo.soap");
    const std::string envelope = v4 ? Format(soap, {body}) : Format(soap, {GetLocalCode(), body});
    const std::string service =
        std::string(kWsdl) + (v4 ? "NFeRetAutorizacao4" : "NfeRetAutorizacao");
    const std::string resposta = DesenveloparSoap(
        PostToService(v4 ? "NfeRetRecepcao4" : "NfeRetRecepcao3", "ConsultaRecibo", envelope,
                      service + (v4 ? "/nfeRetAutorizacaoLote4" : "/nfeRetAutorizacaoLote"),
                      "nfeRetAutorizacaoLoteResult", service, {"pro-rec", recibo, "", false}));
    const std::string logResposta = utils.Log(resposta, "pro-rec", recibo, "", LogFolder());
    // A reply about another receipt, or with protocols of notes this receipt's batch does not
    // hold, is not this batch's: none of it is distributed as its notes'.
    const std::string nRec = GetValueTag("nRec", resposta);
    if (!nRec.empty() && nRec != recibo) {
      throw EqorGovReplyException(
          Format("A resposta à consulta do recibo %s é do recibo %s", {recibo, nRec}) +
              kSituacaoDesconhecida,
          200, resposta);
    }
    TqorNFCeXmlDestinatario d = CriarXmlDestinatario();
    if (const std::string logLote = d.GetTempNameLogEnv(recibo); !logLote.empty()) {
      const std::vector<std::string> doLote =
          FileExists(logLote) ? ChavesDoLote(LoadFromFile(logLote)) : std::vector<std::string>();
      for (const std::string& chave : ChavesProtocoladas(resposta)) {
        if (!Contem(doLote, chave)) {
          throw EqorGovReplyException(
              Format("A resposta à consulta do recibo %s traz o protocolo da NFC-e %s, que não "
                     "está no lote enviado (%s)",
                     {recibo, chave, ExtractFileName(logLote)}) +
                  kSituacaoDesconhecida,
              200, resposta);
        }
      }
    }
    if (salvarLogsEmDisco_ &&
        Contem({"104", "110", "301", "302"}, GetValueTag("cStat", resposta))) {
      GerarXmlDestinatarioNFsAprovadas(recibo, logResposta);
    }
    return resposta;
  });
}

// ---- diagnosis and inspections ------------------------------------------------------------

namespace {

// The note without its items; `item` where they were (right after dest, or before total when
// the note has no dest there).
std::string CabecalhoComItem(std::string nota, const std::string& item) {
  for (std::size_t at; (at = nota.find("<det ")) != std::string::npos;) {
    const std::size_t end = nota.find("</det>", at);
    if (end == std::string::npos) break;
    nota.erase(at, end + 6 - at);
  }
  const std::size_t destTotal = nota.find("</dest><total>");
  const std::size_t at = destTotal != std::string::npos ? destTotal + 7 : nota.find("<total>");
  if (at != std::string::npos) nota.insert(at, item);
  return nota;
}

std::vector<std::string> Itens(const std::string& nota) {
  std::vector<std::string> itens;
  for (std::size_t at = 0; (at = nota.find("<det ", at)) != std::string::npos;) {
    const std::size_t end = nota.find("</det>", at);
    if (end == std::string::npos) break;
    itens.push_back(nota.substr(at, end + 6 - at));
    at = end;
  }
  return itens;
}

}  // namespace

void TqorNFCe::ValidarLoteItem(const std::string& lote, const std::string& aLoteNotas) {
  RunOperation("ValidarLoteItem", [&] {
    errosValidador_.Clear();
    CheckCertificate();
    if (RemoveAccents(lote) != lote) {
      throw EqorNFCeCheckParamsException("Numero do Lote não pode conter acento: %s",
                                         {QuoteForMessage(lote)}, diretorioLogErro_);
    }
    ValidarTamanhoArquivoEnvio(aLoteNotas);
    ValidaAssinatura(aLoteNotas);  // asked for as the batch checks do; the diagnosis goes on
    TStrings erros;
    const auto validar = [&](const std::string& documento, const std::string& prefixo) {
      if (!validarEsquemaAntesEnvio_) return;
      try {
        ValidarXMLNFCe(documento, "ENVIO");
      } catch (const EqorSchemaValidationException&) {
        for (const std::string& linha : errosValidador_.Lines()) erros.Add(prefixo + linha);
      }
    };
    const std::string cabecalho = LoadTemplate("valida_itemcabec.xml");
    const std::string amostraItem = LoadTemplate("valida_item.xml");
    const std::string amostraLote = LoadTemplate("valida_cabecalho.xml");
    for (const TTrechoNota& trecho : LocalizarNotas(aLoteNotas)) {
      if (trecho.fim == std::string::npos) continue;
      const std::string nota = aLoteNotas.substr(trecho.inicio, trecho.fim - trecho.inicio);
      validar(Format(cabecalho, {CabecalhoComItem(nota, amostraItem)}),
              Format("Lote: %s - ", {lote}));
      for (const std::string& item : Itens(nota)) {
        validar(
            Format(amostraLote, {item}),
            Format("Lote: %s - Item: %s - ", {lote, GetXMLAttributeByIndex(item, "det", "nItem")}));
      }
    }
    errosValidador_ = erros;
    if (!erros.Empty()) {
      throw EqorSchemaValidationException(
          "O arquivo contém 1 ou mais erros no de validação de esquema.", diretorioLogErro_);
    }
  });
}

namespace {
bool TipoCancelamento(const std::string& xml) {
  std::vector<std::string> tipos;
  XPathSelectNodes(xml, "//*[local-name()='evento']//*[local-name()='tpEvento']", tipos, {}, false);
  for (const std::string& tipo : tipos) {
    if (tipo == "110111" || tipo == "110112") return true;
  }
  return false;
}
}  // namespace

bool TqorNFCe::isXMLCancelamento(const std::string& xml) { return TipoCancelamento(xml); }

bool TqorNFCe::isXMLEnvioECancelamento(const std::string& xml) {
  const std::string juntos = "<root>" + xml + "</root>";
  return TipoCancelamento(juntos) && XmlDocumentHas(juntos, "xLgr");
}

std::string TqorNFCe::TratarXMLEnviCancelamento(const std::string& xml) {
  std::string texto = xml;
  const std::string declaracao = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
  for (std::size_t at; (at = texto.find(declaracao)) != std::string::npos;) {
    texto.erase(at, declaracao.size());
  }
  const std::string raiz = "<root xmlns=\"" + GetURIEsquema() + "\">" + Trim(texto) + "</root>";
  std::string nfeProc, chave;
  XPathSelectSingleNode(raiz, "//*[local-name()='nfeProc']", nfeProc);
  XPathSelectSingleNode(
      raiz, "//*[local-name()='evento']/*[local-name()='infEvento']/*[local-name()='chNFe']", chave,
      {}, false);
  if (LowerCase(nfeProc).find(LowerCase(chave)) == std::string::npos || chave.empty()) {
    throw EqorNFCeReportException(
        "Os XMLs de envio e cancelamento informados não pertencem a mesma NFC-e",
        diretorioLogErro_);
  }
  return nfeProc;
}

// ---- recipient distribution ------------------------------------------------------------

TqorNFCeXmlDestinatario TqorNFCe::CriarXmlDestinatario() {
  TqorNFCeXmlDestinatario d;
  d.Template = LoadTemplate("envioxml_dest.xml");
  d.DiretorioXmlDestinatario = GetDiretorioDestinatario();
  d.DiretorioLog = LogFolder();
  d.DiretorioLogErro = diretorioLogErro_;
  d.SalvarLogsEmDisco = salvarLogsEmDisco_;
  d.Arquivos = arquivos_;
  d.OnXmlDestinatario = [this](const std::string& arquivo) { DoOnXmlDestinatario(arquivo); };
  return d;
}

void TqorNFCe::DoOnXmlDestinatario(const std::string& arquivo) {
  if (OnXmlDestinatario) OnXmlDestinatario(arquivo);
}

void TqorNFCe::GerarXMLDestinatario(const std::string& numero, const std::string& logConsulta,
                                    const std::string& logEnvio) {
  if (!IsPlainFileName(numero) || !FileExists(GetDiretorioDestinatario() + numero)) return;
  TqorNFCeXmlDestinatario d = CriarXmlDestinatario();
  d.ChaveNFCe = numero;
  d.LogConsChave = LogFolder() + logConsulta;
  if (!logEnvio.empty()) d.LogEnvio = LogFolder() + logEnvio;
  d.SalvarComo = GetDiretorioDestinatario() + numero + "-nfce.xml";
  d.GerarXmlDestinatario(numero);
}

void TqorNFCe::GerarXmlDestinatarioNFsAprovadas(const std::string& recibo,
                                                const std::string& logConsultaRecibo) {
  CheckConfig();
  if (logConsultaRecibo.empty()) {
    throw EqorNFCeCheckParamsException("Log de consulta de Recibo não informado",
                                       diretorioLogErro_);
  }
  TqorNFCeXmlDestinatario d = CriarXmlDestinatario();
  d.LogConsRec = LogFolder() + logConsultaRecibo;
  d.GerarXmlDestinatario(recibo);
}

std::string TqorNFCe::GerarXMLEnvioDestinatario(const std::string& chave,
                                                const std::string& logEnvio,
                                                const std::string& logResposta,
                                                const std::string& arquivo) {
  return RunOperation("GerarXMLEnvioDestinatario", [&] {
    if (logResposta.empty()) {
      throw EqorNFCeCheckParamsException("Log de consulta de Recibo não informado",
                                         diretorioLogErro_);
    }
    TqorNFCeXmlDestinatario d = CriarXmlDestinatario();
    d.LogEnvio = TqorNFCeXMLLogs::LoadLog(logEnvio, LogFolder(), diretorioLogErro_);
    const std::string resposta =
        TqorNFCeXMLLogs::LoadLog(logResposta, LogFolder(), diretorioLogErro_);
    const std::string upper = UpperCase(resposta);
    if (upper.find("RETCONSRECINFE") != std::string::npos) {
      d.LogConsRec = resposta;
    } else if (upper.find("RETENVINFE") != std::string::npos ||
               upper.find("RETCONSSITNFE") != std::string::npos) {
      d.LogConsChave = resposta;
    }
    d.SalvarComo = arquivo;
    const std::string texto = Trim(d.MontarXmlDestinatario(chave));
    if (!texto.empty() && salvarLogsEmDisco_) {
      if (!d.SalvarComo.empty()) d.SalvarEmArquivo(texto);
      d.DeleteTempFile(chave);
    }
    return texto;
  });
}

bool TqorNFCe::ValidarArquivoXmlDestinatario(const std::string& xml, TStrings* erros) {
  SendTelemetryPing("ValidarArquivoXmlDestinatario");
  if (Trim(xml).empty()) {
    throw EqorNFCeValidarArquivoXmlDestinatarioException(
        "Xml sem conteúdo, informar um xml válido.", diretorioLogErro_);
  }
  TStrings lista;
  try {
    ValidarXMLNFCe(xml, "XMLDESTINATARIO");
  } catch (const EqorSchemaValidationException&) {
    lista.AddStrings(errosValidador_);
  }
  if (GetValueTag("DigestValue", xml) != GetValueTag("digVal", xml)) {
    lista.Add("O DigestValue da nota assinada, difere do digVal do protocolo processado");
  }
  if (erros) *erros = lista;
  return lista.Empty();
}

}  // namespace qor
