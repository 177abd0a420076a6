#include "danfce/TqorNFCeDanfce.h"

#include <optional>
#include <regex>

#include "base/Exceptions.h"
#include "danfce/FormatosDanfce.h"
#include "platform/DataSet.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/InstallationFolders.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Conversoes.h"
#include "utils/Numeros.h"
#include "utils/QRCode.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr const char* kNamespaceNFe = "http://www.portalfiscal.inf.br/nfe";

// The input as one document: XML declarations dropped, everything inside one root element.
std::string EmUmaRaiz(const std::string& xml) {
  return "<root>" + SemDeclaracoesXml(xml) + "</root>";
}

}  // namespace

TqorNFCeDanfce::TqorNFCeDanfce() { SetVersao(TVersaoManual::vm60); }

TqorNFCeDanfce::~TqorNFCeDanfce() = default;

void TqorNFCeDanfce::SetVersao(TVersaoManual versao) {
  versao_ = versao;
  if (versao == TVersaoManual::vm60) {
    dados_ = std::make_unique<TqorNFCeDanfceDados60>();
  } else {
    dados_ = std::make_unique<TqorNFCeDanfceDados50>();
  }
  dados_->SetFraseContingencia(
      "DANFCE em Contingência - impresso em decorrência de problemas técnicos");
  dados_->SetFraseHomologacao("SEM VALOR FISCAL");
}

TqorGovX& TqorNFCeDanfce::GetGov() {
  if (!gov_) {
    gov_ = std::make_unique<TqorGovX>();
    gov_->Get_PrintSettings().Copies = 1;
  }
  return *gov_;
}

template <typename Body>
auto TqorNFCeDanfce::Executar(Body&& body) -> decltype(body()) {
  try {
    return body();
  } catch (const EqorException&) {
    throw;
  } catch (const std::exception& failure) {
    throw EqorException(failure.what(), diretorioLogErro_);
  }
}

void TqorNFCeDanfce::LoadParams() {
  TStrings params;
  params.SetText(params_);
  const auto valor = [&params](const char* nome) { return params.Values(nome); };
  const auto texto = [&](const char* nome, auto&& aplicar) {
    const std::string v = valor(nome);
    if (!v.empty()) aplicar(v);
  };
  TPrintSettings& print = GetGov().Get_PrintSettings();
  texto("VersaoManual", [&](const std::string& v) {
    const TVersaoManual versao = StrToVersaoManual(v, diretorioLogErro_);
    if (versao != versao_ || !dados_) SetVersao(versao);
  });
  TqorNFCeDanfceDados& d = *dados_;
  texto("ModeloDanfce", [&](const std::string& v) { modeloNormal_ = v; });
  texto("ModeloDanfceMensagemEletronica",
        [&](const std::string& v) { modeloMensagemEletronica_ = v; });
  texto("LogotipoEmitente", [&](const std::string& v) { print.LogoFile = ExpandPath(v); });
  texto("FraseContingencia", [&](const std::string& v) { d.SetFraseContingencia(v); });
  texto("FraseHomologacao", [&](const std::string& v) { d.SetFraseHomologacao(v); });
  texto("ProtocoloEPEC", [&](const std::string& v) { d.SetProtocoloEPEC(v); });
  texto("DataHoraEPEC", [&](const std::string& v) { d.SetDataHoraEPEC(v); });
  texto("LineDelimiter", [&](const std::string& v) { d.SetLineDelimiter(v); });
  texto("URLSefazProd", [&](const std::string& v) { urlSefazProd_ = v; });
  texto("URLSefazHom", [&](const std::string& v) { urlSefazHom_ = v; });
  texto("TokenNFCe", [&](const std::string& v) { tokenNFCe_ = v; });
  texto("IdTokenNFCe", [&](const std::string& v) { idTokenNFCe_ = v; });
  texto("UFConfigIni", [&](const std::string& v) { ufConfigIni_ = v; });
  d.SetImprimirTarjaCancelada(valor("ImprimirTarjaCancelada") == "1");
  const auto flag = [&](const char* nome, void (TqorNFCeDanfceDados::*setter)(bool)) {
    texto(nome, [&](const std::string& v) { (d.*setter)(TextoVerdadeiro(v)); });
  };
  const auto inteiro = [&](const char* nome, auto&& aplicar) {
    texto(nome, [&](const std::string& v) { aplicar(StrToIntDef(v, 0)); });
  };
  flag("ExibirDetalhamento", &TqorNFCeDanfceDados::SetExibirDetalhamento);
  flag("ExibirAcrescimoEDesconto", &TqorNFCeDanfceDados::SetExibirAcrescimoEDesconto);
  flag("ImprimirVolume", &TqorNFCeDanfceDados::SetImprimirVolume);
  inteiro("QtdeCopias", [&](int v) { print.Copies = v; });
  inteiro("InfCplMaxCol", [&](int v) { d.SetInfCplMaxCol(v); });
  inteiro("InfCplMaxRow", [&](int v) { d.SetInfCplMaxRow(v); });
  flag("ValidarRegrasNegocio", &TqorNFCeDanfceDados::SetValidarRegrasNegocio);
  flag("InfCplQuebrarLinhaAut", &TqorNFCeDanfceDados::SetInfCplQuebrarLinhaAut);
  flag("ImprimirFrete", &TqorNFCeDanfceDados::SetImprimirFrete);
  flag("ImprimirFreteProduto", &TqorNFCeDanfceDados::SetImprimirFreteProduto);
  const std::string formato = valor("FormatoExportacao");
  print.ExportFormat = formato == "2" ? 2 : formato == "3" ? 3 : 1;
  paramsAvancados_ = valor("ParamsAvancados");
  const std::string largura = Trim(ParametroAvancado(paramsAvancados_, "LarguraBobina"));
  larguraBobina_ = largura == "58" ? "58" : "80";

  // The first tpImp of the text: a simple element, found without reading the whole note.
  const std::size_t inicio = xml_.find("<tpImp>");
  const std::size_t fim = inicio == std::string::npos ? inicio : xml_.find("</tpImp>", inicio);
  const int tpImp = fim == std::string::npos
                        ? 0
                        : StrToIntDef(Trim(xml_.substr(inicio + 7, fim - inicio - 7)), 0);
  std::string modelo;
  if (tpImp == 0 || tpImp == 4) {
    modelo = modeloNormal_;
  } else if (tpImp == 5) {
    modelo = modeloMensagemEletronica_;
  } else {
    throw EqorNFCeReportException(
        "Formato de DANFCE desconhecido [Utilizar: 4 - Normal ou 5 - Mensagem Eletrônica]",
        diretorioLogErro_);
  }
  print.TemplateFile = modelo.empty() ? std::string() : ExpandDataPath(modelo);
  print.PrinterName = valor("Impressora");
  print.SaveAs = valor("SalvarComo");
  if (!FileExists(print.TemplateFile)) {
    throw EqorNFCeReportException(Format("Arquivo \"%s\" não encontrado.", {print.TemplateFile}),
                                  diretorioLogErro_);
  }
}

void TqorNFCeDanfce::PopulaDataSet() {
  if (Trim(xml_).empty()) {
    throw EqorNFCeReportException("XML para impressão da Danfce está vazio.", diretorioLogErro_);
  }
  std::string xml = xml_;
  // A note not signed yet may come without the namespace its elements belong to.
  if (xml.find("DigestValue") == std::string::npos) {
    std::smatch tag;
    static const std::regex infNFe("<infNFe[^>]*>");
    if (std::regex_search(xml, tag, infNFe) && tag.str().find(kNamespaceNFe) == std::string::npos) {
      xml.replace(tag.position(), 7, std::string("<infNFe xmlns=\"") + kNamespaceNFe + "\"");
    }
  }
  dados_->SetXml(xml);
  dados_->PopulaDataSet(params_);

  // Each note gets its own link: the one it carries (read by the builder), or one made of its
  // values; the input is parsed again only for a note that needs one made.
  std::optional<XmlDocument> documento;
  TqorDataSet& registros = dados_->Dados();
  std::string ultimoLink;
  for (registros.First(); !registros.Eof(); registros.Next()) {
    const std::string lido = registros.Value("URLQRCode");
    std::string link = Trim(RemoveCDATA(lido));
    if (!ValidaExisteLink(link)) {
      if (!documento) documento.emplace(XmlDocument::Parse(EmUmaRaiz(xml)));
      std::string nota;
      documento->SelectSingleNode("//*[local-name()='NFe'][*[local-name()='infNFe'][@Id='NFe" +
                                      registros.Value("CodBarra") + "']]",
                                  nota);
      link = GerarURLQrCode(nota.empty() ? xml : nota);
    }
    if (link != lido) {
      registros.Edit();
      registros.SetValue("URLQRCode", link);
      registros.Post();
    }
    ultimoLink = link;
  }

  TPrintSettings& print = GetGov().Get_PrintSettings();
  TStrings variaveis;
  variaveis.SetText(print.Variables);
  variaveis.SetValue("Barcode", ultimoLink);
  variaveis.SetValue("Barcode2", ultimoLink);
  variaveis.SetValue("LarguraBobina", larguraBobina_);
  print.Variables = variaveis.Text();
  print.ReportData = SerializeTDataSourceList(
      {&dados_->Dados(), &dados_->DadosItens(), &dados_->DadosCobranca(),
       &dados_->DadosNFeReferenciada(), &dados_->DadosNF1AReferenciada(),
       &dados_->DadosNFProdutorRuralReferenciada(), &dados_->DadosCupomFiscalReferenciado(),
       &dados_->DadosCTeReferenciado(), &dados_->DadosPagamentos()});
}

std::string TqorNFCeDanfce::GerarURLQrCode(const std::string& nota) {
  TqorDataSet& registro = dados_->Dados();
  if (!SameText(registro.Value("EmitUF"), ufConfigIni_)) {
    throw EqorNFCeConfigException(
        "A UF do emitente no XML é diferente da UF configurada. Valide a configuração e tente "
        "realizar novamente.",
        diretorioLogErro_);
  }
  TStrings parametros;
  parametros.SetValue("URLSefazProd", urlSefazProd_);
  parametros.SetValue("URLSefazHom", urlSefazHom_);
  parametros.SetValue("TokenNFCe", tokenNFCe_);
  parametros.SetValue("IdTokenNFCe", idTokenNFCe_);
  const std::string modelo = ObterModeloQrCode(paramsAvancados_);
  return MontaLinkQRCode(nota, parametros, modelo, versao_, diretorioLogErro_);
}

void TqorNFCeDanfce::ClearDataSet() { dados_->LimparDataSets(); }

void TqorNFCeDanfce::Imprimir() {
  Executar([&] {
    LoadParams();
    PopulaDataSet();
    GetGov().PrintReport();
    ClearDataSet();
  });
}

std::string TqorNFCeDanfce::Visualizar(const std::string& pasta) {
  return Executar([&] {
    LoadParams();
    PopulaDataSet();
    std::string imagem = GetGov().PreviewReport(pasta);
    ClearDataSet();
    return imagem;
  });
}

void TqorNFCeDanfce::Exportar() {
  Executar([&] {
    LoadParams();
    PopulaDataSet();
    GetGov().ExportReport();
    ClearDataSet();
  });
}

std::string TqorNFCeDanfce::Editar() {
  return Executar([&] {
    LoadParams();
    PopulaDataSet();
    GetGov().EditReport();
    ClearDataSet();
    return GetGov().Get_PrintSettings().TemplateFile;
  });
}

}  // namespace qor
