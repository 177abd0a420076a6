// Schema validation of requests and the note query.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovUtils.h"
#include "platform/IniFile.h"
#include "platform/InstallationFolders.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Paths.h"

namespace qor {

namespace {
constexpr const char* kWsdl = "http://www.portalfiscal.inf.br/nfe/wsdl/";
}  // namespace

std::string TqorNFCe::GetURIEsquema() const { return "http://www.portalfiscal.inf.br/nfe"; }

bool TqorNFCe::isXMLValido(const std::string& documento) {
  const std::string lower = LowerCase(documento);
  return lower.find("<ide") != std::string::npos && lower.find("<emit>") != std::string::npos;
}

std::string TqorNFCe::GetXSDFileName(const std::string& comando) {
  const std::string folder = GetDiretorioEsquemas();
  std::string mapping = folder + "Mapping.txt";
  if (!FileExists(mapping)) {
    // A schemas folder that is the official package itself has no mapping: the installed
    // data's serves it.
    const std::string instalado = UpdatePathVersaoManual(DataDir() + "Esquemas/") + "Mapping.txt";
    if (FileExists(instalado)) mapping = instalado;
  }
  if (!FileExists(mapping)) {
    throw EqorFileNotFoundException(
        "Arquivo %s utilizado na validação de esquema, não foi encontrado", {mapping},
        diretorioLogErro_);
  }
  const auto age = FileAge(mapping);
  if (!schemaMapping_.ini || schemaMapping_.path != mapping || schemaMapping_.age != age) {
    schemaMapping_ = {mapping, age, TIniFile::FromText(LoadFromFile(mapping))};
  }
  const std::string xsd = schemaMapping_.ini->ReadString("ValidarXML", comando, "");
  if (xsd.empty()) {
    throw EqorNFCeCheckParamsException("Não foi encontrado mapeamento de XSD para o comando %s ",
                                       {comando}, diretorioLogErro_);
  }
  return LocalizarEsquema(PastasDeEsquemas(folder), xsd);
}

std::vector<std::string> TqorNFCe::PastasDeEsquemas(const std::string& pasta) const {
  std::vector<std::string> pastas{pasta};
  const auto acrescentar = [&](const std::string& outra) {
    if (std::find(pastas.begin(), pastas.end(), outra) == pastas.end()) pastas.push_back(outra);
  };
  if (!diretorioEsquemas_.empty()) {
    acrescentar(FixSlash(RemoveVersaoManualDoPath(GetDiretorioEsquemas())));
  }
  const char* pacote = std::getenv("QORNFCE_ESQUEMAS");
  if (pacote != nullptr && *pacote != '\0') acrescentar(FixSlash(pacote));
  return pastas;
}

std::string TqorNFCe::LocalizarEsquema(const std::vector<std::string>& pastas,
                                       const std::string& nome) const {
  std::string procuradas;
  for (const std::string& pasta : pastas) {
    if (FileExists(pasta + nome)) return pasta + nome;
    procuradas += (procuradas.empty() ? "" : ", ") + pasta;
  }
  throw EqorFileNotFoundException(
      "Esquema %s não encontrado em %s: indique a pasta do pacote oficial de esquemas em "
      "DiretorioEsquemas ou em $QORNFCE_ESQUEMAS",
      {nome, procuradas}, diretorioLogErro_);
}

void TqorNFCe::ValidarXMLNFCe(const std::string& documento, const std::string& comando) {
  // The mapping is configuration: a missing file or command keeps its own class and message,
  // and only the document's validation is reported as a schema failure.
  if (FindFirst(documento, "schemaLocation") == std::string::npos) {
    ValidarPeloEsquema(documento, GetXSDFileName(comando));
    return;
  }
  TqorGovUtils& utils = GetGovUtils();
  try {
    utils.ValidateSchemaByDirectory(documento, PastasDeEsquemas(GetDiretorioEsquemas()));
  } catch (const std::exception& failure) {
    errosValidador_.SetText(utils.Get_ValidatorErrors().Text());
    throw EqorSchemaValidationException(failure.what(), diretorioLogErro_);
  }
}

void TqorNFCe::ValidarPeloEsquema(const std::string& documento, const std::string& xsd) {
  TqorGovUtils& utils = GetGovUtils();
  try {
    utils.ValidateSchema(documento, xsd);
  } catch (const std::exception& failure) {
    errosValidador_.SetText(utils.Get_ValidatorErrors().Text());
    throw EqorSchemaValidationException(failure.what(), diretorioLogErro_);
  }
}

std::string TqorNFCe::ConsultarNF(const std::string& chave) {
  return RunOperation("ConsultarNF", [&] {
    CheckConfig();
    UpdateIniServidores();
    CheckCertificate();
    if (RemoveAccents(chave) != chave) {
      throw EqorNFCeCheckParamsException("ID da Nota não pode conter acentos: %s",
                                         {QuoteForMessage(chave)}, diretorioLogErro_);
    }
    const bool v4 = versaoManual_ == TVersaoManual::vm60;
    const std::string body =
        Format(LoadTemplate("pedido_consultanf.xml"), {TpAmb(ambiente_), chave});
    ValidarXMLNFCe(body, "CONSULTANF");
    GetGovUtils().Log(body, "ped-sit", chave, "", LogFolder());

    // The body goes into the envelope as XML: the state's service reads nfeDadosMsg as an
    // element, and an escaped text would be refused.
    const std::string soapTemplate = LoadTemplate("pedido_consultanf.soap");
    const std::string envelope =
        v4 ? Format(soapTemplate, {body}) : Format(soapTemplate, {GetLocalCode(), body});
    std::string reply;
    try {
      // The action and namespace are those of the service's published description, which the
      // state's server dispatches on.
      const std::string service =
          std::string(kWsdl) + (v4 ? "NFeConsultaProtocolo4" : "NfeConsulta2");
      const std::string response =
          GetIntegrador().GetAtivar()
              ? TrocarComIntegrador(
                    CarregarTemplateEnvioMFeSemChaveHora(
                        EncodeBase64(envelope), VersaoDadosIntegrador(), "NfeConsulta2Soap12"),
                    "ped-sit", "sit")
              : PostToService(v4 ? "NfeConsulta4" : "NfeConsulta3", "Consulta", envelope,
                              service + (v4 ? "/nfeConsultaNF" : "/nfeConsultaNF2"),
                              v4 ? "nfeConsultaNF4Result" : "nfeConsultaNF2Result", service,
                              {"sit", chave, "", false});
      reply = DesenveloparSoap(response);
    } catch (const std::exception& failure) {
      throw EqorNFCeConsultaException(
          std::string("Erro ao enviar pedido de consulta: ") + failure.what(), diretorioLogErro_);
    }
    const std::string logSit = GetGovUtils().Log(reply, "sit", chave, "", LogFolder());
    const std::string cStat = GetValueTag("cStat", reply);
    if (salvarLogsEmDisco_ &&
        (cStat == "100" || cStat == "110" || cStat == "301" || cStat == "302" || cStat == "150")) {
      GerarXMLDestinatario(chave, logSit);
    }
    return reply;
  });
}

}  // namespace qor
