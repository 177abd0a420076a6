// EPEC contingency (event 110140): the events built from the notes, signed, sent, and the
// distribution XML of each event the state registered.
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "distribution/TqorEventosXmlDestinatario.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovUtils.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/DataHora.h"
#include "utils/Notas.h"
#include "utils/Paths.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr const char* kFalhaEPEC =
    "Um problema foi encontrado durante a geração do XML de evento EPEC: \"";

std::string Valor(const XmlDocument& nota, const std::string& caminho) {
  std::string valor;
  nota.SelectSingleNode(caminho, valor, {}, false);
  return valor;
}

std::string Local(const char* pai, const char* filho) {
  return std::string("//*[local-name()='") + pai + "']/*[local-name()='" + filho + "']";
}

}  // namespace

std::string TqorNFCe::EventoEPEC(const XmlDocument& nota, const std::string& modelo,
                                 const std::string& dataHora) {
  std::string id;
  nota.FindAttribute("infNFe", "Id", id);
  std::string chave = id;
  if (const std::size_t nfe = FindText(chave, "NFe"); nfe != std::string::npos) {
    chave.erase(nfe, 3);
  }
  CheckParams(Trim(chave).empty(), "Chave da NFC-e está vazia.");
  CheckParams(!IsNumber(chave), "Chave da NFC-e deve conter apenas números.");
  CheckParams(chave.size() != 44, "Chave da NFC-e deve conter exatamente 44 dígitos.");

  const auto documento = [&](const std::string& cnpj, const std::string& cpf,
                             const char* mensagem) {
    const std::string valor = cnpj.empty() ? cpf : cnpj;
    if (valor.size() == 14) return "<CNPJ>" + valor + "</CNPJ>";
    if (valor.size() == 11) return "<CPF>" + valor + "</CPF>";
    throw EqorNFCeEventoCheckParams(mensagem, diretorioLogErro_);
  };
  const std::string autor =
      documento(Valor(nota, Local("emit", "CNPJ")), Valor(nota, Local("emit", "CPF")),
                "CNPJ/CPF do emitente é inválido");
  const std::string ufDestino = Valor(nota, Local("enderDest", "UF"));
  std::string identificacao;
  if (SameText(ufDestino, "EX")) {
    identificacao = "<idEstrangeiro></idEstrangeiro>";
  } else if (std::string dest; nota.SelectSingleNode("//*[local-name()='dest']", dest)) {
    // The recipient's IE is not written: the event's schema has no IE in dest.
    identificacao = documento(Valor(nota, Local("dest", "CNPJ")), Valor(nota, Local("dest", "CPF")),
                              "CNPJ/CPF do destinatário é inválido");
  }
  const std::string destinatario =
      identificacao.empty() ? std::string()
                            : Format("<dest><UF>%s</UF>%s</dest>", {ufDestino, identificacao});
  const std::string cOrgaoAutor = ufCodes_.Values(Valor(nota, Local("enderEmit", "UF")));
  return Format(
      modelo,
      {"ID110140" + chave + "01", nota.ValueTag("cUF"), TpAmb(ambiente_), autor, chave, dataHora,
       cOrgaoAutor, nota.ValueTag("dhEmi"), nota.ValueTag("tpNF"), Valor(nota, Local("emit", "IE")),
       destinatario, Valor(nota, Local("ICMSTot", "vNF")), Valor(nota, Local("ICMSTot", "vICMS"))});
}

std::string TqorNFCe::MontarEPEC(const std::string& aIdLote, const std::string& aXml,
                                 const std::string& aDataHoraEvento) {
  return RunOperation("MontarEPEC", [&] {
    CheckParams(Trim(aDataHoraEvento).empty(), "Data/Hora do evento não pode ser vazio.");
    CheckParams(Trim(aXml).empty(), "Xml de envio não pode ser vazio.");
    CheckParams(!aIdLote.empty() && !IsNumber(aIdLote), "idLote deve conter apenas números.");
    CheckParams(Trim(cnpj_).empty(), "Favor preencher CNPJ.");
    CheckParams(!IsNumber(cnpj_), "CNPJ deve conter apenas números.");
    CheckParams(cnpj_.size() != 14, "CNPJ deve conter exatamente 14 dígitos.");
    CheckParams(!ValidaDataHoraEvento(aDataHoraEvento), "Data/Hora do evento inválida");
    try {
      const std::string lote = LoadTemplate("envio_epec.xml");
      const std::string modelo = LoadTemplate("evento_epec.xml");
      // Each infNFe read on its own: the notes may come one after another, as signing and the
      // converter give them, which is no single document.
      std::string eventos;
      int notas = 0;
      for (const TTrechoNota& trecho : LocalizarNotas(aXml)) {
        if (trecho.fim == std::string::npos) continue;
        const XmlDocument nota =
            XmlDocument::Parse(aXml.substr(trecho.inicio, trecho.fim - trecho.inicio));
        eventos += EventoEPEC(nota, modelo, aDataHoraEvento);
        ++notas;
      }
      CheckParams(notas == 0, "Xml inválido para montar o evento EPEC.");
      return Format(lote, {aIdLote, eventos});
    } catch (const std::exception& failure) {
      throw EqorNFCeEventoException(kFalhaEPEC + std::string(failure.what()) + "\"",
                                    diretorioLogErro_);
    }
  });
}

std::string TqorNFCe::AssinarEPEC(const std::string& aXml) {
  return RunOperation("AssinarEPEC", [&] {
    CheckParams(aXml.empty(), "Xml para assinar não pode ser vazio.");
    try {
      const std::string eventos = AssinarEvento(aXml);
      std::string lote = GetValueTag("idLote", aXml);
      if (lote.empty()) lote = "1";
      return Format(LoadTemplate("envio_epec.xml"), {lote, eventos});
    } catch (const std::exception& failure) {
      throw EqorNFCeEventoException(kFalhaEPEC + std::string(failure.what()) + "\"",
                                    diretorioLogErro_);
    }
  });
}

std::string TqorNFCe::GetEsquemaEPEC(const std::string& nome) {
  return LocalizarEsquema(
      {FixSlash(RemoveVersaoManualDoPath(GetDiretorioEsquemas())), DataDir() + "Esquemas/"},
      NativePath(nome));
}

std::string TqorNFCe::EnviarEPEC(const std::string& aXml) {
  return RunOperation("EnviarEPEC", [&] {
    ValidarTamanhoArquivoEnvio(aXml);
    if (!ValidaAssinatura(aXml)) {
      throw EqorNFCeEventoInvalidSigner("A nota não possui assinatura", diretorioLogErro_);
    }
    if (validarEsquemaAntesEnvio_) {
      ValidarPeloEsquema(aXml, GetEsquemaEPEC("epec\\eventoEPEC_v0.01.xsd"));
    }
    const std::string lote = GetValueTag("idLote", aXml);
    TqorGovUtils& utils = GetGovUtils();
    utils.Log(aXml, "epec-env", lote, "", LogFolder());
    const std::string envelope =
        Format(LoadTemplate("pedido_envia_epec.soap"), {GetLocalCode(), aXml});
    const std::string service = "http://www.portalfiscal.inf.br/nfe/wsdl/RecepcaoEvento";
    const std::string resposta =
        PostToService("NfeRecepcaoEPEC", "Evento", envelope, service + "/nfeRecepcaoEvento",
                      "nfeRecepcaoEventoResult", service, {"epec-ret", lote, "", false});
    utils.Log(resposta, "epec-ret", lote, "", LogFolder());

    // Every event the state registered gets its file, from its own retEvento and the evento of
    // its key.
    std::vector<std::string> retornos;
    XPathSelectNodes(resposta, "//*[local-name()='retEvento']", retornos);
    for (const std::string& retorno : retornos) {
      if (GetValueTag("cStat", retorno) != "136") continue;
      const std::string chave = GetValueTag("chNFe", retorno);
      std::vector<std::string> ids;
      XPathSelectNodes(aXml,
                       "//*[local-name()='infEvento'][*[local-name()='chNFe']='" +
                           (IsNumber(chave) ? chave : std::string()) + "']/@Id",
                       ids, {}, false);
      if (ids.empty() || !IsPlainFileName(chave + "-epec.xml")) continue;
      GerarXMLEventoDestinatario(ids.front(), aXml, retorno,
                                 GetDiretorioDestinatario() + chave + "-epec.xml");
    }
    return resposta;
  });
}

}  // namespace qor
