// The DANFCE on a thermal receipt printer: the report data sets (see the DANFCE data builder;
// every field is display text) laid out line by line on an ESC/POS printer, in the order of the
// NFC-e DANFCE manual.
//
// The printer is driven through the same four entry points the component calls:
// POS_ConfigGravarValor, POS_Ativar, ImprimirDados and POS_Desativar. POS_Configurar issues the
// whole configuration sequence from the component's ESC/POS settings.
//
// Not thread-safe: one object belongs to one thread.
#pragma once

#include <string>

#include "platform/DataSet.h"
#include "platform/EscPos.h"

namespace qor {

class TEscPosSettings;

class TqorNFCeEscPos {
 public:
  TqorNFCeEscPos() = default;
  TqorNFCeEscPos(const TqorNFCeEscPos&) = delete;
  TqorNFCeEscPos& operator=(const TqorNFCeEscPos&) = delete;

  // Forwards to the printer (TqorEscPosPrinter::ConfigGravarValor); throws as it does.
  void POS_ConfigGravarValor(const std::string& section, const std::string& key,
                             const std::string& value);
  // The configuration sequence for `settings`: section "PosPrinter" (Modelo, Porta,
  // ColunasFonteNormal, EspacoEntreLinhas, LinhasEntreCupons, CortaPapel, PaginaDeCodigo, then
  // the fixed TraduzirTags 1, IgnorarTags 0, DecodificarTags 1, CodificarPagina 1,
  // ControlePorta 1) and section "Danfe" (TipoRelatorio 1, QrCodeLateral 0,
  // ImprimeLogoLateral 0, LogoTipo empty, AlinhamentoTexto 1, then Resumido,
  // ImprimeDescAcrescItem, ImprimeNomeFantasia).
  void POS_Configurar(const TEscPosSettings& settings);
  void POS_Ativar();     // TqorEscPosPrinter::Ativar
  void POS_Desativar();  // TqorEscPosPrinter::Desativar

  // Lays out every record of `dados` (its items and payments are the records of `itens` and
  // `pagamentos` whose nNF equals the note's; a detail set without an nNF field belongs wholly
  // to each note), `copias` times (at least once), and sends the whole receipt to the port in
  // one write. The QR code of a note is its URLQRCode, or `qrCode` when that is empty. A field
  // missing from a data set reads as empty. No printed line is longer than ColunasFonteNormal.
  // REQUIRES: POS_Ativar. Port failures throw EqorGovException naming the port.
  void ImprimirDados(TqorDataSet& dados, TqorDataSet& itens, TqorDataSet& pagamentos,
                     const std::string& qrCode, int copias);

  TqorEscPosPrinter& Printer() { return printer_; }

 private:
  void ImprimirNota(TqorDataSet& dados, TqorDataSet& itens, TqorDataSet& pagamentos,
                    const std::string& qrCode);

  TqorEscPosPrinter printer_;
};

}  // namespace qor
