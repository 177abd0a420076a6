// Cancellation events (110111, and 110112 by substitution): checks, the signed envEvento, its
// sending and the cancellation's distribution XML.
#include <cstdint>
#include <stdexcept>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "distribution/TqorEventosXmlDestinatario.h"
#include "distribution/TqorNFCeEventoXmlCancelamentoDestinatario.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovUtils.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/DataHora.h"
#include "utils/Notas.h"
#include "utils/Numeros.h"
#include "utils/Paths.h"
#include "utils/Textos.h"
#include "utils/XmlLogs.h"

namespace qor {

namespace {

constexpr const char* kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";

// Sign, two digits, colon, two digits; no range check.
bool FusoValido(const std::string& fuso) {
  const auto digito = [&](std::size_t i) { return fuso[i] >= '0' && fuso[i] <= '9'; };
  return fuso.size() == 6 && (fuso[0] == '-' || fuso[0] == '+') && fuso[3] == ':' && digito(1) &&
         digito(2) && digito(4) && digito(5);
}

bool OrgaoValido(int c) {
  return (c >= 11 && c <= 17) || (c >= 21 && c <= 29) || c == 31 || c == 32 || c == 33 || c == 35 ||
         c == 41 || c == 42 || c == 43 || (c >= 50 && c <= 53) || c == 90 || c == 91;
}

const char* TpAutor(TTipoAutor tipo) {
  switch (tipo) {
    case TTipoAutor::taEmpresaEmitente:
      return "1";
    case TTipoAutor::taEmpresaDestinataria:
      return "2";
    case TTipoAutor::taEmpresa:
      return "3";
    case TTipoAutor::taFisco:
      return "5";
    case TTipoAutor::taRFB:
      return "6";
    case TTipoAutor::taOutrosOrgaos:
      return "9";
  }
  return "";
}

bool Registrado(const std::string& cStat) {
  return cStat == "135" || cStat == "136" || cStat == "155";
}

}  // namespace

std::string TqorNFCe::DataHoraEvento(const std::string& dataHora, const std::string& fuso) {
  const std::string texto = FormataDataHoraEvento(Trim(dataHora), diretorioLogErro_);
  // A date-time that carries its own offset keeps it: a second one would make it invalid.
  return texto.size() > 19 ? texto : texto + fuso;
}

std::string TqorNFCe::GetRetEvento(const std::string& xml) {
  std::string retEvento;
  if (!XPathSelectSingleNode(xml, "//*[local-name()='retEvento']", retEvento)) {
    throw EqorNFCeException("Não foi possível encontrar a tag RetEvento do XML.",
                            diretorioLogErro_);
  }
  return retEvento;
}

void TqorNFCe::ValidarLoteParaEnvioEvento(const std::string& lote, const std::string& comando) {
  CheckCertificate();
  ValidaAssinatura(lote);  // asked for as the design does; the schema below decides
  ValidarXMLNFCe(lote, comando);
}

std::string TqorNFCe::CancelarNF(const std::string& aChave, const std::string& aProtocolo,
                                 const std::string& aJustificativa,
                                 const std::string& aDataHoraEvento, int aSequencia,
                                 const std::string& aFuso, const std::string& aIdLote) {
  return RunOperation("CancelarNF", [&] {
    TCancelamento c{aChave,     aProtocolo, aJustificativa, aDataHoraEvento,
                    aSequencia, aFuso,      aIdLote};
    return Cancelar(c);
  });
}

std::string TqorNFCe::CancelarNFSubstituicao(
    const std::string& aChave, const std::string& aProtocolo, const std::string& aJustificativa,
    const std::string& aDataHoraEvento, int aSequencia, const std::string& aFuso,
    const std::string& aOrgaoAutor, const std::string& aVerAplic, const std::string& aChaveRef,
    TTipoAutor aTipoAutor, const std::string& aIdLote) {
  return RunOperation("CancelarNFSubstituicao", [&] {
    TCancelamento c{aChave,     aProtocolo, aJustificativa, aDataHoraEvento,
                    aSequencia, aFuso,      aIdLote};
    c.substituicao = true;
    c.orgaoAutor = aOrgaoAutor;
    c.verAplic = aVerAplic;
    c.chaveRef = aChaveRef;
    c.tipoAutor = aTipoAutor;
    return Cancelar(c);
  });
}

void TqorNFCe::ValidarCancelamento(const TCancelamento& c) {
  const auto falha = [this](const char* mensagem) {
    throw EqorNFCeCheckParamsException(mensagem, diretorioLogErro_);
  };
  if (c.protocolo.empty()) falha("Código do Protocolo não pode ser vazio.");
  if (!FusoValido(c.fuso)) {
    falha("Fuso Horario do evento inválido, o valor deve ser no formato -HH:MM");
  }
  if (!ValidaDataHoraEvento(c.dataHora)) falha("Data/Hora do evento inválida");
  if (Trim(c.chave).empty()) falha("Chave da NF-e está vazia");
  if (Utf8Length(c.chave) != 44) falha("Chave da NF-e deve conter exatamente 44 dígitos");
  if (c.substituicao) {
    if (Trim(c.chaveRef).empty()) falha("Chave da NF-e referenciada está vazia");
    if (Utf8Length(c.chaveRef) != 44) {
      falha("Chave da NF-e referenciada deve conter exatamente 44 dígitos");
    }
  }
  if (Utf8Length(c.justificativa) < 15) falha("Justificativa deve ter no mínimo 15 dígitos");
  if (Utf8Length(c.protocolo) != 15) falha("Número do protocolo deve ter 15 dígitos");
  if (!IsNumber(c.chave)) falha("Chave da NF-e deve conter apenas números");
  std::int64_t orgao = 0;
  if (!TryStrToInt64(GetLocalCode(), orgao) || !OrgaoValido(static_cast<int>(orgao))) {
    falha("Código do Órgão incorreto");
  }
}

std::string TqorNFCe::Cancelar(TCancelamento c) {
  CheckConfig();
  if (c.lote.empty()) c.lote = "1";
  if (c.fuso.empty()) c.fuso = "-03:00";
  ValidarCancelamento(c);

  const char* tipo = c.substituicao ? "110112" : "110111";
  const std::string id = GerarIdEvento(
      c.chave, c.sequencia,
      c.substituicao ? TTipoEvento::teCancelamentoSubstituicao : TTipoEvento::teCancelamento);
  const std::string justificativa =
      Escape(DynamicRemoveAccents(c.justificativa, caracteresRemoverAcentos_));
  const std::string cUF = GetLocalCode();
  const std::string tpAmb = TpAmb(ambiente_);
  const std::string dataHora = DataHoraEvento(c.dataHora, c.fuso);
  const std::string sequencia = std::to_string(c.sequencia);
  const std::string infEvento =
      c.substituicao
          ? Format(LoadTemplate("evento_cancelar_substituicao.xml"),
                   {id, cUF, tpAmb, cnpj_, c.chave, dataHora, tipo, sequencia, c.orgaoAutor,
                    TpAutor(c.tipoAutor), c.verAplic, c.protocolo, justificativa, c.chaveRef})
          : Format(LoadTemplate("evento_cancelar.xml"),
                   {id, cUF, tpAmb, cnpj_, c.chave, dataHora, tipo, sequencia, c.protocolo,
                    justificativa});
  std::string evento = AssinarEvento(infEvento);
  RemoveEspacosAssinatura(evento);
  std::string lote;
  XPathSelectSingleNode(Format(LoadTemplate("evento_enviocancelar.xml"), {c.lote, evento}), "/*",
                        lote);
  ValidarLoteParaEnvioEvento(lote,
                             c.substituicao ? "ENVIOCANCEVENTOSUBSTITUICAO" : "ENVIOCANCEVENTO");

  TqorGovUtils& utils = GetGovUtils();
  const std::string tipoLog = c.substituicao ? "caneve-sub" : "caneve";
  utils.Log(lote, tipoLog + "-env", c.chave, "", LogFolder());
  if (c.substituicao && versaoManual_ < TVersaoManual::vm60) {
    // Outside the component's exception family on purpose: no exception-log line.
    throw std::runtime_error(
        "Cancelamento por substituição disponível somente para NFCe a partir versão 4.00");
  }
  const bool v4 = versaoManual_ == TVersaoManual::vm60;
  const std::string service = std::string(kWsdl) + (v4 ? "NFeRecepcaoEvento4" : "RecepcaoEvento");
  // The Integrador carries the cancellation only; a substitution takes the web road.
  const std::string resposta =
      !c.substituicao && GetIntegrador().GetAtivar()
          ? TrocarComIntegrador(
                CarregarTemplateCancelamentoMFe(
                    EncodeBase64(Format(LoadTemplate("pedido_cancelamfe_integrador.soap"), {lote})),
                    VersaoDadosIntegrador(), c.chave.substr(0, 2), FormataDataHoraIntegrador(lote),
                    kValorSemNota, c.chave.substr(25, 9), kMetodoCancelamentoIntegrador),
                "caneve-env", "caneve-ret")
          : DesenveloparSoap(PostToService(
                v4 ? "nfeRecepcaoEvento4" : "nfeRecepcaoEvento3", "Evento",
                EnveloparSoapEnvio(lote), service + "/nfeRecepcaoEvento",
                v4 ? "nfeResultMsg" : "nfeRecepcaoEventoResult", service,
                {tipoLog + "-ret", c.chave, "", false}));
  utils.Log(resposta, tipoLog + "-ret", c.chave, "", LogFolder());

  std::string cStat;
  XPathSelectSingleNode(resposta, "//tec:retEvento/tec:infEvento/tec:cStat", cStat, NamespaceTec(),
                        false);
  if (Registrado(cStat) && salvarLogsEmDisco_) {
    const std::string arquivo = GetDiretorioDestinatario() + c.chave + "-caneve.xml";
    const std::string xml = Trim(qor::GerarXMLCancelamentoDestinatario(
        c.chave, lote, GetRetEvento(resposta), "",
        {LogFolder(), diretorioLogErro_, LoadTemplate("cancxmlevento_dest.xml")}));
    if (!xml.empty()) {
      SaveToFileUtf8(arquivo, xml);
      DoOnXmlCanDestinatario(arquivo);
    }
  }
  return resposta;
}

// ---- distribution of events ---------------------------------------------------------------

std::string TqorNFCe::GerarXMLEventoDestinatario(const std::string& idEvento,
                                                 const std::string& logEnvio,
                                                 const std::string& logResposta,
                                                 const std::string& arquivo) {
  // Named as the note's distribution: the telemetry records already collected carry that name.
  return RunOperation("GerarXMLEnvioDestinatario", [&] {
    if (logEnvio.empty()) {
      throw EqorNFCeEventoCheckParams("Log de envio do evento não informado", diretorioLogErro_);
    }
    if (logResposta.empty()) {
      throw EqorNFCeEventoCheckParams("Log de consulta não informado", diretorioLogErro_);
    }
    TqorEventosXmlDestinatario d;
    d.Template = LoadTemplate("evento_dest.xml");
    d.IdEvento = idEvento;
    d.DiretorioLog = LogFolder();
    d.DiretorioXmlDestinatario = GetDiretorioDestinatario();
    d.DiretorioLogErro = diretorioLogErro_;
    d.LogEnvio = logEnvio;
    d.LogConsRec = logResposta;
    d.SalvarComo = arquivo;
    return d.GerarXmlDestinatario();
  });
}

std::string TqorNFCe::GerarXMLCancelamentoDestinatario(const std::string& chave,
                                                       const std::string& logPedido,
                                                       const std::string& logRetorno,
                                                       const std::string& arquivo) {
  return RunOperation("GerarXMLCancelamentoDestinatario", [&] {
    return qor::GerarXMLCancelamentoDestinatario(
        chave, logPedido, logRetorno, arquivo,
        {LogFolder(), diretorioLogErro_, LoadTemplate("cancxmlevento_dest.xml")});
  });
}

void TqorNFCe::DoOnXmlCanDestinatario(const std::string& arquivo) {
  if (OnXmlCanDestinatario) OnXmlCanDestinatario(arquivo);
}

}  // namespace qor
