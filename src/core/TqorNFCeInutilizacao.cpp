// Voiding of unused numbers of a series (inutNFe), its Id and its distribution XML.
#include <algorithm>
#include <cstdint>
#include <iterator>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/GovUtils.h"
#include "platform/GovX.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Conversoes.h"
#include "utils/DataHora.h"
#include "utils/Numeros.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr const char* kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";

// The current year's last two digits ("26").
std::string AnoAtual() { return DataHoraAtualComFuso().substr(2, 2); }

bool Inteiro(const std::string& texto, std::int64_t& valor) { return TryStrToInt64(texto, valor); }

}  // namespace

std::string TqorNFCe::CalculaChaveInutilizacao(const std::string& aAno, const std::string& aCNPJ,
                                               const std::string& aModelo,
                                               const std::string& aSerie,
                                               const std::string& aNumInicial,
                                               const std::string& aNumFinal) {
  SendTelemetryPing("CalculaChaveInutilizacao");
  try {
    const auto falha = [this](const std::string& mensagem) {
      throw EqorNFCeCheckParamsException(mensagem, diretorioLogErro_);
    };
    const std::string valores[] = {aAno, aCNPJ, aModelo, aSerie, aNumInicial, aNumFinal};
    if (std::any_of(std::begin(valores), std::end(valores),
                    [](const std::string& valor) { return valor.empty(); })) {
      throw EqorNFCeCheckParamsException(
          "Os Campos: Ano de inutilização = %s \rCNPJ/CPF do Emitente = %s \rCódigo do Modelo do "
          "Documento Fiscal = %s \rSérie do Documento Fiscal = %s\rNúmero da Nota Fiscal Inicial "
          "= %s\rNúmero da Nota Fiscal Final = %s\rsão campos obrigatórios para o cálculo da "
          "chave de inutilização.",
          {aAno, aCNPJ, aModelo, aSerie, aNumInicial, aNumFinal}, diretorioLogErro_);
    }
    static const char* const kSujeitos[] = {"O Ano da Inutilização ",
                                            "O CNPJ/CPF do Emitente ",
                                            "O Código do Modelo do Documento Fiscal ",
                                            "A Série do Documento Fiscal ",
                                            "O Número da Nota Fiscal Inicial ",
                                            "O Número da Nota Fiscal Final "};
    std::int64_t numeros[6] = {};
    for (int i = 0; i < 6; ++i) {
      if (!Inteiro(valores[i], numeros[i])) {
        falha(std::string(kSujeitos[i]) + "\"" + QuoteForMessage(valores[i]) +
              "\" deve ser um número Inteiro.");
      }
    }
    if (numeros[4] > numeros[5]) {
      falha("O Número da Nota Fiscal Inicial \"" + aNumInicial +
            "\" não pode ser maior que o número final \"" + aNumFinal + "\"");
    }
    const std::string ano = AnoAtual();
    if (numeros[0] < 6 || numeros[0] > std::stoll(ano)) {
      throw EqorNFCeCheckParamsException("O Ano da Inutilização deve ser entre %s e %s",
                                         {"06", ano}, diretorioLogErro_);
    }
    if (aSerie.size() > 3) falha("A Série do Documento Fiscal não pode ser maior que 999");
    const std::string documento = aCNPJ.size() == 11 ? "000" + aCNPJ : aCNPJ;
    if (versaoManual_ == TVersaoManual::vm50b) {
      throw EqorNFCeCheckParamsException(
          "Cálculo da ID de Inutilização não foi implementada para a versão (%s).",
          {VersaoManualToStr(versaoManual_)}, diretorioLogErro_);
    }
    return IdInutilizacao(aAno, documento, aModelo, aSerie, aNumInicial, aNumFinal);
  } catch (const std::exception& failure) {
    ReportFailure("CalculaChaveInutilizacao", failure);
    throw;
  }
}

std::string TqorNFCe::IdInutilizacao(const std::string& ano, const std::string& cnpj,
                                     const std::string& modelo, const std::string& serie,
                                     const std::string& inicial, const std::string& final) {
  if (ano.size() != 2) {
    throw EqorNFCeCheckParamsException(
        "O Ano informado na Inutilização deve possuir exatamente 2 dígitos.", diretorioLogErro_);
  }
  return GetLocalCode() + ano + cnpj + modelo + Czro(serie, 3) + Czro(inicial, 9) + Czro(final, 9);
}

std::string TqorNFCe::GerarxmlDestinatarioInutilizacao(const std::string& primeiro,
                                                       const std::string& segundo) {
  return RunOperation("GerarxmlDestinatarioInutilizacao", [&] {
    return Format(LoadTemplate("inutxml_dest.xml"), {segundo, primeiro});
  });
}

std::string TqorNFCe::InutilizarNF(const std::string& aIdNota, const std::string& aAno,
                                   const std::string& aCNPJ, const std::string& aModelo,
                                   const std::string& aSerie, const std::string& aNumInicial,
                                   const std::string& aNumFinal,
                                   const std::string& aJustificativa) {
  return RunOperation("InutilizarNF", [&] {
    CheckConfig();
    const std::pair<const char*, const std::string*> semAcento[] = {
        {"O Id da Nota não pode conter acento: %s", &aIdNota},
        {"O Ano não pode conter acento: %s", &aAno},
        {"O CNPJ não pode conter acento: %s", &aCNPJ},
        {"O Modelo não pode conter acento: %s", &aModelo},
        {"O Série não pode conter acento: %s", &aSerie}};
    for (const auto& [mensagem, valor] : semAcento) {
      if (RemoveAccents(*valor) != *valor) {
        throw EqorNFCeCheckParamsException(mensagem, {QuoteForMessage(*valor)}, diretorioLogErro_);
      }
    }
    const std::string atual = AnoAtual();
    std::int64_t ano = 0;
    if (!Inteiro(aAno, ano) || ano < 6 || ano > std::stoll(atual)) {
      throw EqorNFCeCheckParamsException("O Ano deve ser entre %s e %s", {"06", atual},
                                         diretorioLogErro_);
    }
    std::int64_t inicial = 0;
    std::int64_t final = 0;
    if (Inteiro(aNumInicial, inicial) && Inteiro(aNumFinal, final) && final - inicial > 10000) {
      throw EqorNFCeCheckParamsException(
          "[I04]: 201 - Rejeição: Número máximo de numeração a inutilizar ultrapassou o limite "
          "(10000).",
          diretorioLogErro_);
    }
    CheckCertificate();
    const std::string id = IdInutilizacao(aAno, aCNPJ, aModelo, aSerie, aNumInicial, aNumFinal);
    // The justification is escaped once, here; the whole request is then only guarded against
    // a stray "&", as a note is before signing.
    const std::string infInut = Format(
        LoadTemplate("infinut_inutilizarnf.xml"),
        {"ID" + id, TpAmb(ambiente_), GetLocalCode(), aAno, aCNPJ, aModelo, aSerie, aNumInicial,
         aNumFinal, Escape(DynamicRemoveAccents(aJustificativa, caracteresRemoverAcentos_))});
    std::string assinado =
        EscaparNota(Format(LoadTemplate("assinar_inutilizacao.xml"), {infInut, ""}));
    try {
      GetGov().Get_SignerSettings().SignedElement = "infInut";
      assinado = GetGov().SignXmlById(assinado, GetReferenceInfo(assinado));
    } catch (const std::exception& failure) {
      throw EqorSignatureException(std::string(failure.what()), diretorioLogErro_);
    }
    LimparXMLAssinado(assinado);
    std::string pedido = Format(LoadTemplate("pedido_inutilizarnf.xml"), {assinado});
    ReplaceAll(pedido, "<?xml version=\"1.0\"?>", "");
    ReplaceAll(pedido, "\r\n", "");
    ValidarXMLNFCe(pedido, "INUTILIZACAO");

    const std::string idLog = aAno + aCNPJ + aModelo + aSerie + aNumInicial + aNumFinal;
    TqorGovUtils& utils = GetGovUtils();
    utils.Log(pedido, "ped-inu", idLog, "", LogFolder());
    const bool v4 = versaoManual_ == TVersaoManual::vm60;
    const std::string soap = LoadTemplate("pedido_inutilizarnf.soap");
    const std::string envelope =
        v4 ? Format(soap, {pedido}) : Format(soap, {GetLocalCode(), pedido});
    const std::string service = std::string(kWsdl) + (v4 ? "NFeInutilizacao4" : "NfeInutilizacao2");
    const std::string resposta =
        GetIntegrador().GetAtivar()
            ? TrocarComIntegrador(
                  CarregarTemplateEnvioMFe(EncodeBase64(envelope), VersaoDadosIntegrador(),
                                           id.substr(0, 2), FormataDataHoraIntegrador(pedido),
                                           kValorSemNota, aNumInicial, "NfeInutilizacao2Soap12"),
                  "ped-inu", "ret-inu")
            : DesenveloparSoap(PostToService(
                  v4 ? "NfeInutilizacao4" : "NfeInutilizacao3", "Inutiliza", envelope,
                  service + (v4 ? "/nfeInutilizacaoNF" : "/nfeInutilizacaoNF2"),
                  v4 ? "nfeResultMsg" : "nfeInutilizacaoNF2Result", service,
                  {"inu", idLog, "", false}));
    if (salvarLogsEmDisco_ && GetValueTag("cStat", resposta) == "102" &&
        versaoManual_ >= TVersaoManual::vm50b) {
      try {
        SaveToFileUtf8(GetDiretorioDestinatario() + id + "-inut.xml",
                       GerarxmlDestinatarioInutilizacao(resposta, assinado));
      } catch (const std::exception&) {
        // The voiding is registered and its reply is logged below: a file that cannot be written
        // can be made again from the logs.
      }
    }
    utils.Log(resposta, "inu", idLog, "", LogFolder());
    return resposta;
  });
}

}  // namespace qor
