// The thermal receipt printer: an ESC/POS byte stream built in memory and written whole to the
// printer's port.
//
// Use: configure with ConfigGravarValor (section "PosPrinter" for the printer, "Danfe" for the
// receipt options a layout reads), Ativar() to start a receipt (ESC @, the code page with ESC t,
// the line spacing with ESC 3), the building calls (text, bold, alignment, double size, a line
// of "-", feeds, QR code, FimDeCupom for the feeds and the cut), then Imprimir() or Desativar()
// to send what was built. Nothing reaches the port before that single write, so a port that
// fails leaves no half receipt behind (a file port keeps its previous content).
//
// Ports (key "Porta"):
//   "/dev/..."            a device file, opened for writing (never created or truncated);
//   "tcp:HOST[:PORT]"     a network printer (raw port 9100 when none is given); the connection
//                         and the write are each bounded by "TimeOut" milliseconds;
//   any other text        a file path: the receipt replaces its content (created when missing;
//                         written atomically, see Files.h). A path naming something that is not
//                         a regular file (a FIFO, a character device) is opened like a device.
// An empty port, or one that cannot be opened, connected or written, throws EqorGovException
// with a message that names the port.
//
// Text is UTF-8 in and the code page of "PaginaDeCodigo" out (2 -> PC850, 3 -> PC860,
// 16 -> WPC1252, selected on the printer with ESC t n). A character the page lacks is printed as
// its base letter when it is an accented Latin letter ("Ő" -> "O"), else as "?"; control
// characters other than line feeds are dropped.
//
// QR codes: "Modelo" 1 asks the printer to draw it (GS ( k: model 2, error level M, the data
// stored and printed); "Modelo" 2 draws it here (libqrencode, level M) and sends a raster image
// (GS v 0) as wide as the paper (576 dots for more than 40 columns, i.e. 80 mm paper; 384 dots
// otherwise), the symbol centred with a quiet zone of 4 modules and a whole number of dots per
// module.
//
// Not thread-safe: one printer object belongs to one thread.
#pragma once

#include <cstddef>
#include <string>

namespace qor {

enum class TEscPosAlinhamento { alEsquerda = 0, alCentro = 1, alDireita = 2 };

// What ConfigGravarValor has stored. Keys the printer accepts without a meaning here
// (TraduzirTags, IgnorarTags, DecodificarTags, CodificarPagina, ControlePorta; TipoRelatorio,
// QrCodeLateral, ImprimeLogoLateral, LogoTipo, AlinhamentoTexto) are not kept.
struct TEscPosConfig {
  int modelo = 1;
  std::string porta;
  int colunasFonteNormal = 48;
  int espacoEntreLinhas = 10;  // ESC 3 n, in motion units (dots)
  int linhasEntreCupons = 3;
  bool cortaPapel = true;
  int paginaDeCodigo = 2;
  int timeOut = 3000;  // milliseconds, tcp ports only
  // Section "Danfe": receipt options for the layout.
  bool resumido = false;
  bool imprimeDescAcrescItem = false;
  bool imprimeNomeFantasia = false;
};

class TqorEscPosPrinter {
 public:
  TqorEscPosPrinter() = default;
  ~TqorEscPosPrinter() = default;
  TqorEscPosPrinter(const TqorEscPosPrinter&) = delete;
  TqorEscPosPrinter& operator=(const TqorEscPosPrinter&) = delete;

  // Stores one setting. Section and key compare case-insensitively. Integers are decimal text;
  // booleans "1"/"0" (also "True"/"False"). An unknown section or key, a value that is not a
  // number where one is expected, a "Modelo" other than 1 or 2, a "PaginaDeCodigo" other than
  // 2, 3 or 16, or a column count outside 16..255 throws EqorGovException naming the key.
  void ConfigGravarValor(const std::string& section, const std::string& key,
                         const std::string& value);
  const TEscPosConfig& Config() const { return config_; }

  // Starts a receipt: drops anything built and not sent, then ESC @, ESC t and ESC 3.
  // An empty port throws EqorGovException (nothing else is checked before the write).
  void Ativar();
  // Sends what was built (when anything was) and ends the session. Throws as Imprimir does;
  // the session ends either way.
  void Desativar();
  bool Ativo() const { return ativo_; }
  // Writes the bytes built since Ativar (or the last Imprimir) to the port in one go, then
  // starts a new buffer. REQUIRES: Ativo(). Failures throw EqorGovException naming the port; the
  // buffer is then dropped.
  void Imprimir();

  // ---- building (REQUIRES: Ativo(); otherwise EqorGovException) ----
  int Colunas() const { return config_.colunasFonteNormal; }
  void Negrito(bool on);                     // ESC E n
  void Alinhamento(TEscPosAlinhamento al);   // ESC a n
  void DuploTamanho(bool on);                // GS ! 0x11 / 0x00 (half the columns while on)
  void Texto(const std::string& utf8);       // converted to the code page, no line feed
  void Linha(const std::string& utf8 = {});  // Texto + LF
  void Separador();                          // a line of "-" as wide as the columns
  void Avancar(int linhas);                  // ESC d n (nothing for n <= 0)
  void QrCode(const std::string& data);      // by "Modelo"; empty data prints nothing
  void Cortar();                             // GS V 1 (partial cut)
  // The end of one receipt: LinhasEntreCupons feeds, then the cut when CortaPapel.
  void FimDeCupom();
  // Bytes built and not yet sent.
  const std::string& Buffer() const { return buffer_; }

  // UTF-8 text converted to code page `pagina` (2, 3 or 16) as Texto does.
  static std::string Codificar(const std::string& utf8, int pagina);
  // The GS v 0 raster command of a QR code of `data` on paper `dots` wide (a multiple of 8).
  static std::string RasterQrCode(const std::string& data, int dots);

 private:
  void RequireAtivo() const;
  void Raw(const std::string& bytes) { buffer_ += bytes; }

  TEscPosConfig config_;
  bool ativo_ = false;
  std::string buffer_;
  std::size_t inicio_ = 0;  // size of the buffer right after Ativar's initialisation
};

}  // namespace qor
