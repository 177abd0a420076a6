// The DANFCE operations of the component: print, preview, export, layout check and the EPEC
// forms, over the print class (danfce/TqorNFCeDanfce.h) and the ESC/POS receipt.
#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "danfce/TqorNFCeDanfce.h"
#include "danfce/TqorNFCeEscPos.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr int kFormatoTxt = 3;

}  // namespace

std::string TqorNFCe::CarregarLoteNotasParaImpressao(const std::string& entrada) {
  try {
    const std::string baixa = LowerCase(entrada);
    const std::size_t virgula = entrada.find(',');
    if (baixa.find(".xml") != std::string::npos && virgula != std::string::npos) {
      const std::string primeiro = Trim(entrada.substr(0, virgula));
      const std::string segundo = Trim(entrada.substr(virgula + 1));
      if (FileExists(primeiro) && FileExists(segundo)) {
        const std::string a = LoadFromFile(primeiro);
        const std::string b = LoadFromFile(segundo);
        if ((!isXMLValido(a) && !isXMLValido(b)) ||
            (!isXMLCancelamento(a) && !isXMLCancelamento(b))) {
          throw EqorNFCeException("Não foi informado um XML de autorização ou cancelamento válido.",
                                  diretorioLogErro_);
        }
        return a + "\r\n" + b;
      }
    }
    if (FileExists(entrada)) {
      std::string texto = LoadFromFile(entrada);
      if (!isXMLValido(texto)) {
        throw EqorNFCeException("Não foi informado um XML de autorização válido.",
                                diretorioLogErro_);
      }
      return texto;
    }
    std::string texto = RemoveBOM(entrada);
    if (!isXMLValido(texto)) {
      throw EqorNFCeException("Não foi informado um XML de autorização válido.", diretorioLogErro_);
    }
    if (texto.find("</procEventoNFe>") != std::string::npos &&
        texto.find("<tpEvento>110111</tpEvento>") == std::string::npos &&
        texto.find("<tpEvento>110112</tpEvento>") == std::string::npos) {
      throw EqorNFCeException("Não foi informado um XML de cancelamento autorizado válido.",
                              diretorioLogErro_);
    }
    return texto;
  } catch (const std::exception& failure) {
    throw EqorNFCeCarregarLoteNotasImpressaoException(
        std::string("Problema ao carregar lote de notas para impressão: ") + failure.what(),
        diretorioLogErro_);
  }
}

std::string TqorNFCe::GetParametroArquivoModeloRTM(const std::string& modelo, int tipo) {
  std::string escolhido = modelo;
  if (escolhido.empty()) {
    const TDanfceSettings& d = GetDanfceSettings();
    switch (d.GetFormatoDanfce()) {
      case TFormatoDanfce::fdNormal:
        escolhido = d.GetModeloDanfce();
        break;
      case TFormatoDanfce::fdMensagemEletronica:
        escolhido = d.GetModeloDanfceMensagemEletronica();
        break;
      default:
        throw EqorNFCeFormatoDanfceInvalidoException("Formato do DANFCE inválido para NFCe. ",
                                                     diretorioLogErro_);
    }
  }
  if (tipo == kFormatoTxt) ReplaceAll(escolhido, "retrato.rtm", "retrato_texto.rtm");
  if (!escolhido.empty()) {
    paramsDanfce_.SetValue("ModeloDanfce", escolhido);
    paramsDanfce_.SetValue("ModeloDanfceMensagemEletronica", escolhido);
  }
  return escolhido;
}

std::string TqorNFCe::PreparaExportacao(int formato, const std::string& arquivo) {
  if (!arquivo.empty()) return arquivo;
  static const char* const kExtensoes[] = {"pdf", "html", "txt"};
  static const char* const kFiltros[] = {
      "Arquivo PDF (*.pdf)|*.pdf", "Arquivo HTML (*.html)|*.html", "Arquivo TXT (*.txt)|*.txt"};
  if (formato < 1 || formato > 3 || !OnSalvarComo) return {};
  return OnSalvarComo(kExtensoes[formato - 1], kFiltros[formato - 1]);
}

void TqorNFCe::CheckParamsPrintEPEC(const std::string& protocolo, const std::string& dataHora) {
  if (Trim(protocolo).empty()) {
    throw EqorNFCeEpecProtocoVazioException("Número de Protocolo do EPEC não foi informado",
                                            diretorioLogErro_);
  }
  if (Trim(dataHora).empty()) {
    throw EqorNFCeEpecDataHoraVazioException("Data Hora do EPEC não foi informado",
                                             diretorioLogErro_);
  }
  if (dataHora.size() != 25) {
    throw EqorNFCeEpecDataHoraInvalidaException(
        "Data Hora do EPEC está em um formato inválido. Formato correto: "
        "YYYY-MM-DDThh:mm:ss-XX:XX",
        diretorioLogErro_);
  }
}

TqorNFCeDanfce& TqorNFCe::PrepararDanfce(const TDanfcePedido& pedido) {
  LoadDanfceSettings();
  std::string xml = pedido.epec ? pedido.xml : CarregarLoteNotasParaImpressao(pedido.xml);
  GetParametroArquivoModeloRTM(pedido.modelo, pedido.tipo);
  if (isXMLEnvioECancelamento(SemDeclaracoesXml(xml))) {
    xml = TratarXMLEnviCancelamento(SemDeclaracoesXml(xml));
    paramsDanfce_.SetValue("ImprimirTarjaCancelada", "1");
  }
  for (const auto& [nome, valor] : pedido.extras) paramsDanfce_.SetValue(nome, valor);
  if (pedido.previa) {
    paramsDanfce_.SetValue("ValidarRegrasNegocio", "0");
    xml = "<root xmlns=\"" + GetURIEsquema() + "\">" +
          DynamicRemoveAccents(SemDeclaracoesXml(xml), caracteresRemoverAcentos_) + "</root>";
  }
  if (!danfce_) {
    danfce_ = std::make_unique<TqorNFCeDanfce>();
    danfce_->SetVersao(versaoManual_);
  }
  danfce_->SetDiretorioLogErro(diretorioLogErro_);
  danfce_->SetParams(paramsDanfce_.Text());
  // As in signing, only a stray "&" is escaped: the note's own entities stay as they are.
  danfce_->SetXML(RemoveBOM(EscaparNota(xml)));
  return *danfce_;
}

void TqorNFCe::ImprimirDanfce(const std::string&, const std::string& xml, const std::string& modelo,
                              const std::string& impressora) {
  RunOperation(utilizarEscPOS_ ? "ImprimirEscPos" : "ImprimirDanfce", [&] {
    TqorNFCeDanfce& danfce =
        PrepararDanfce({xml, modelo, 0, false, false, {{"Impressora", impressora}}});
    if (utilizarEscPOS_) {
      ImprimirEscPos(danfce);
    } else {
      danfce.Imprimir();
    }
  });
}

void TqorNFCe::ImprimirEscPos(TqorNFCeDanfce& danfce) {
  const TEscPosSettings& s = GetEscPosSettings();
  TqorNFCeEscPos impressora;
  impressora.POS_Configurar(s);
  // The receipt lays out the same report data as the DANFCE, each note with its own QR link.
  danfce.LoadParams();
  danfce.PopulaDataSet();
  impressora.POS_Ativar();
  TqorNFCeDanfceDados& dados = danfce.GetDados();
  impressora.ImprimirDados(
      dados.Dados(), dados.DadosItens(), dados.DadosPagamentos(),
      GetValueTag("qrCode", "<root>" + SemDeclaracoesXml(danfce.GetXML()) + "</root>"),
      s.GetQtdeCopiasEscPos());
  impressora.POS_Desativar();
  danfce.ClearDataSet();
}

std::string TqorNFCe::VisualizarDanfce(const std::string&, const std::string& xml,
                                       const std::string& modelo) {
  return RunOperation("VisualizarDanfce", [&] {
    const std::string imagem =
        PrepararDanfce({xml, modelo, 0, false, false, {}}).Visualizar(GetDiretorioTemporario());
    if (OnVisualizarDanfce) OnVisualizarDanfce(imagem);
    return imagem;
  });
}

std::string TqorNFCe::PreverDanfce(const std::string& xml, const std::string& modelo) {
  return RunOperation("PreverDanfce", [&] {
    const std::string imagem =
        PrepararDanfce({xml, modelo, 0, false, true, {}}).Visualizar(GetDiretorioTemporario());
    if (OnVisualizarDanfce) OnVisualizarDanfce(imagem);
    return imagem;
  });
}

void TqorNFCe::ExportarDanfce(const std::string&, const std::string& xml,
                              const std::string& arquivo, int formato, const std::string& modelo) {
  RunOperation("ExportarDanfce", [&] {
    TDanfcePedido pedido{xml, modelo, formato, false, false, {}};
    pedido.extras.emplace_back("FormatoExportacao", std::to_string(formato));
    const std::string destino = PreparaExportacao(formato, arquivo);
    if (destino.empty()) return;
    pedido.extras.emplace_back("SalvarComo", destino);
    PrepararDanfce(pedido).Exportar();
  });
}

void TqorNFCe::ExportarPreverDanfce(const std::string& xml, const std::string& modelo,
                                    const std::string& arquivo) {
  RunOperation("ExportarPreverDanfce", [&] {
    try {
      const std::string destino = PreparaExportacao(1, arquivo);
      if (destino.empty()) return;
      PrepararDanfce(
          {xml, modelo, 1, false, true, {{"FormatoExportacao", "1"}, {"SalvarComo", destino}}})
          .Exportar();
    } catch (const std::exception& failure) {
      const std::string mensagem =
          std::string("Falha ao Exportar o PDF de previsão: ") + failure.what();
      SendTelemetryException("ExportarPreverDanfce", "EqorNFCeException", mensagem);
      throw EqorNFCeException(mensagem, diretorioLogErro_);
    }
  });
}

void TqorNFCe::EditarModeloDanfce(const std::string&, const std::string& xml,
                                  const std::string& modelo) {
  RunOperation("EditarModeloDanfce", [&] {
    const std::string layout = PrepararDanfce({xml, modelo, 0, false, false, {}}).Editar();
    if (OnEditarModeloDanfce) OnEditarModeloDanfce(layout);
  });
}

void TqorNFCe::ImprimirEPEC(const std::string& xml, const std::string& protocolo,
                            const std::string& impressora, const std::string& modelo,
                            const std::string& dataHora) {
  RunOperation("ImprimirEPEC", [&] {
    CheckParamsPrintEPEC(protocolo, dataHora);
    PrepararDanfce(
        {xml,
         modelo,
         0,
         true,
         false,
         {{"Impressora", impressora}, {"ProtocoloEPEC", protocolo}, {"DataHoraEPEC", dataHora}}})
        .Imprimir();
  });
}

std::string TqorNFCe::VisualizarEPEC(const std::string& xml, const std::string& protocolo,
                                     const std::string& modelo, const std::string& dataHora) {
  return RunOperation("VisualizarEPEC", [&] {
    CheckParamsPrintEPEC(protocolo, dataHora);
    const std::string imagem =
        PrepararDanfce({xml,
                        modelo,
                        0,
                        true,
                        false,
                        {{"ProtocoloEPEC", protocolo}, {"DataHoraEPEC", dataHora}}})
            .Visualizar(GetDiretorioTemporario());
    if (OnVisualizarDanfce) OnVisualizarDanfce(imagem);
    return imagem;
  });
}

void TqorNFCe::ExportarEPEC(const std::string& xml, const std::string& protocolo,
                            const std::string& modelo, const std::string& arquivo, int formato,
                            const std::string& dataHora) {
  RunOperation("ExportarEPEC", [&] {
    CheckParamsPrintEPEC(protocolo, dataHora);
    const std::string destino = PreparaExportacao(formato, arquivo);
    if (destino.empty()) return;
    PrepararDanfce({xml,
                    modelo,
                    formato,
                    true,
                    false,
                    {{"FormatoExportacao", std::to_string(formato)},
                     {"SalvarComo", destino},
                     {"ProtocoloEPEC", protocolo},
                     {"DataHoraEPEC", dataHora}}})
        .Exportar();
  });
}

}  // namespace qor
