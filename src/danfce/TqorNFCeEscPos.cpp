#include "danfce/TqorNFCeEscPos.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "config/TDanfceSettings.h"
#include "platform/Text.h"

namespace qor {
namespace {

using TLinhas = std::vector<std::string>;

// A field of the current record; empty when the set has no such field.
std::string Campo(const TqorDataSet& ds, std::string_view field) {
  const int i = ds.FindField(field);
  return i < 0 ? std::string() : ds.Value(static_cast<std::size_t>(i));
}

// A field of a stored record; empty when the set has no such field.
std::string Campo(const TqorDataSet& ds, std::size_t record, std::string_view field) {
  const int i = ds.FindField(field);
  return i < 0 ? std::string() : ds.StoredValue(record, static_cast<std::size_t>(i));
}

// The stored records of a detail set that belong to note `nNF`.
std::vector<std::size_t> RegistrosDaNota(const TqorDataSet& ds, const std::string& nNF) {
  std::vector<std::size_t> out;
  if (!ds.Active()) return out;
  const int key = ds.FindField("nNF");
  for (std::size_t r = 0; r < ds.StoredCount(); ++r)
    if (key < 0 || ds.StoredValue(r, static_cast<std::size_t>(key)) == nNF) out.push_back(r);
  return out;
}

// Empty, or a number whose digits are all zero ("0,00").
bool Zero(std::string_view valor) {
  return std::all_of(valor.begin(), valor.end(), [](char c) { return c < '1' || c > '9'; });
}

// `text` broken into lines of at most `cols` code points, at blanks where it can and inside a
// word longer than a line; line breaks (CR LF, CR, LF) in the text are kept.
TLinhas Quebrar(const std::string& text, std::size_t cols) {
  TLinhas out = WrapText(text, cols);
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

// Label on the left and value on the right of one line; when both do not fit, the label's lines
// and then the value on a line of its own, to the right.
TLinhas Par(const std::string& label, const std::string& value, std::size_t cols) {
  const std::size_t l = Utf8Length(label);
  const std::size_t v = Utf8Length(value);
  if (l + 1 + v <= cols) return {label + std::string(cols - l - v, ' ') + value};
  TLinhas out = Quebrar(label, cols);
  for (const std::string& part : Quebrar(value, cols))
    out.push_back(std::string(cols - Utf8Length(part), ' ') + part);
  return out;
}

std::string Juntar(std::initializer_list<std::string> parts, const char* sep) {
  std::string out;
  for (const std::string& p : parts) {
    if (Trim(p).empty()) continue;
    if (!out.empty()) out += sep;
    out += Trim(p);
  }
  return out;
}

}  // namespace

void TqorNFCeEscPos::POS_ConfigGravarValor(const std::string& section, const std::string& key,
                                           const std::string& value) {
  printer_.ConfigGravarValor(section, key, value);
}

void TqorNFCeEscPos::POS_Configurar(const TEscPosSettings& s) {
  auto b = [](bool v) { return std::string(v ? "1" : "0"); };
  const std::pair<const char*, std::string> posPrinter[] = {
      {"Modelo", std::to_string(s.GetModeloEscPos())},
      {"Porta", s.GetPortaEscPos()},
      {"ColunasFonteNormal", std::to_string(s.GetColunasFonteNormalEscPos())},
      {"EspacoEntreLinhas", std::to_string(s.GetEspacoEntreLinhasEscPos())},
      {"LinhasEntreCupons", std::to_string(s.GetLinhasEntreCuponsEscPos())},
      {"CortaPapel", b(s.GetCortaPapelEscPos())},
      {"PaginaDeCodigo", std::to_string(s.GetPaginaDeCodigoEscPos())},
      {"TraduzirTags", "1"},
      {"IgnorarTags", "0"},
      {"DecodificarTags", "1"},
      {"CodificarPagina", "1"},
      {"ControlePorta", "1"}};
  for (const auto& [key, value] : posPrinter) POS_ConfigGravarValor("PosPrinter", key, value);
  const std::pair<const char*, std::string> danfe[] = {
      {"TipoRelatorio", "1"},
      {"QrCodeLateral", "0"},
      {"ImprimeLogoLateral", "0"},
      {"LogoTipo", ""},
      {"AlinhamentoTexto", "1"},
      {"Resumido", b(s.GetResumidoEscPos())},
      {"ImprimeDescAcrescItem", b(s.GetImprimeDescAcrescItemEscPos())},
      {"ImprimeNomeFantasia", b(s.GetImprimeNomeFantasiaEscPos())}};
  for (const auto& [key, value] : danfe) POS_ConfigGravarValor("Danfe", key, value);
}

void TqorNFCeEscPos::POS_Ativar() { printer_.Ativar(); }

void TqorNFCeEscPos::POS_Desativar() { printer_.Desativar(); }

void TqorNFCeEscPos::ImprimirDados(TqorDataSet& dados, TqorDataSet& itens, TqorDataSet& pagamentos,
                                   const std::string& qrCode, int copias) {
  if (!dados.Active() || dados.RecordCount() == 0) return;
  for (int copia = 0; copia < std::max(copias, 1); ++copia) {
    for (dados.First(); !dados.Eof(); dados.Next()) {
      ImprimirNota(dados, itens, pagamentos, qrCode);
    }
  }
  printer_.Imprimir();
}

void TqorNFCeEscPos::ImprimirNota(TqorDataSet& dados, TqorDataSet& itens, TqorDataSet& pagamentos,
                                  const std::string& qrCode) {
  TqorEscPosPrinter& p = printer_;
  const TEscPosConfig& cfg = p.Config();
  const auto cols = static_cast<std::size_t>(p.Colunas());
  auto linhas = [&p](const TLinhas& ls) {
    for (const std::string& l : ls) p.Linha(l);
  };
  auto centro = [&](const std::string& text, bool negrito = false) {
    if (Trim(text).empty()) return;
    p.Alinhamento(TEscPosAlinhamento::alCentro);
    if (negrito) p.Negrito(true);
    linhas(Quebrar(text, cols));
    if (negrito) p.Negrito(false);
    p.Alinhamento(TEscPosAlinhamento::alEsquerda);
  };
  auto par = [&](const std::string& label, const std::string& value) {
    linhas(Par(label, value, cols));
  };
  auto d = [&dados](std::string_view field) { return Campo(dados, field); };
  const std::string nNF = d("nNF");

  // Emitter.
  std::string nome = cfg.imprimeNomeFantasia ? d("EmitFantasia") : std::string();
  if (Trim(nome).empty()) nome = d("EmitNome");
  centro(nome, true);
  centro(Juntar({d("EmitCNPJ").empty() ? "" : "CNPJ: " + d("EmitCNPJ"),
                 d("EmitIE").empty() ? "" : "IE: " + d("EmitIE")},
                " "));
  const std::string logradouro = d("EmitLogradouro").empty() ? d("EmitEnd") : d("EmitLogradouro");
  centro(Juntar({logradouro, d("EmitNumero"), d("EmitComplemento"), d("EmitBairro"),
                 Juntar({d("EmitMun"), d("EmitUF")}, " - ")},
                ", "));
  p.Separador();
  centro("Documento Auxiliar da Nota Fiscal de Consumidor Eletrônica", true);
  p.Separador();

  // Items.
  const std::vector<std::size_t> registrosItens = RegistrosDaNota(itens, nNF);
  if (!cfg.resumido && !registrosItens.empty()) {
    p.Linha(Utf8Substr("# CÓDIGO DESCRIÇÃO", 0, cols));
    par("QTDE UN x VL UNIT R$", "VL TOTAL R$");
    for (std::size_t r : registrosItens) {
      auto i = [&itens, r](std::string_view field) { return Campo(itens, r, field); };
      linhas(Quebrar(Juntar({i("Item"), i("ItemCodigo"), i("ItemDescricao")}, " "), cols));
      par("  " + Juntar({i("ItemQuantidade"), i("ItemUnidade"), "x", i("ItemVUnit")}, " "),
          i("ItemVTotal"));
      if (cfg.imprimeDescAcrescItem && !Zero(i("ItemVDesc")))
        par("  Desconto", "-" + i("ItemVDesc"));
      if (cfg.imprimeDescAcrescItem && !Zero(i("ItemVOutro")))
        par("  Acréscimo", "+" + i("ItemVOutro"));
    }
    p.Separador();
  }

  // Totals and payments.
  const std::string quantidade =
      registrosItens.empty() ? d("QuantidadeItensNota") : std::to_string(registrosItens.size());
  par("QTD. TOTAL DE ITENS", quantidade);
  par("VALOR TOTAL R$", d("ValorTotProd").empty() ? d("ValorTotNota") : d("ValorTotProd"));
  if (!Zero(d("Desconto"))) par("Desconto R$", d("Desconto"));
  if (!Zero(d("ValorAcrescimo"))) par("Acréscimo R$", d("ValorAcrescimo"));
  p.Negrito(true);
  par("VALOR A PAGAR R$", d("ValorTotNota"));
  p.Negrito(false);
  par("FORMA DE PAGAMENTO", "VALOR PAGO R$");
  std::string troco;
  for (std::size_t r : RegistrosDaNota(pagamentos, nNF)) {
    std::string forma = Campo(pagamentos, r, "descricaoFormaPagamento");
    if (forma.empty()) forma = Campo(pagamentos, r, "formaPagamento");
    par(forma, Campo(pagamentos, r, "valorPago"));
    if (troco.empty()) troco = Campo(pagamentos, r, "valorTroco");
  }
  par("TROCO R$", troco.empty() ? "0,00" : troco);
  if (!d("ValorTotTrib").empty())
    par("Informação dos Tributos Totais Incidentes (Lei Federal 12.741/2012) R$",
        d("ValorTotTrib"));
  p.Separador();

  // Query by key.
  centro("Consulte pela Chave de Acesso em", true);
  centro(d("URLChave"));
  std::string chave;
  for (char c : d("CodBarra")) {
    if (c < '0' || c > '9') continue;
    if (!chave.empty() && (chave.size() + 1) % 5 == 0) chave += ' ';
    chave += c;
  }
  centro(chave);
  p.Separador();

  // Consumer and the note's identification.
  if (Trim(d("DestCNPJ")).empty()) {
    centro("CONSUMIDOR NÃO IDENTIFICADO", true);
  } else {
    const std::string doc = d("DestCNPJ");
    const auto digitos =
        std::count_if(doc.begin(), doc.end(), [](char c) { return c >= '0' && c <= '9'; });
    centro("CONSUMIDOR " + std::string(digitos == 11 ? "CPF: " : "CNPJ: ") + doc, true);
    centro(d("DestNome"));
    centro(
        Juntar({d("DestLogradouro").empty() ? d("DestEnd") : d("DestLogradouro"), d("DestNumero"),
                d("DestComplemento"), d("DestBairro"), Juntar({d("DestMun"), d("DestUF")}, " - ")},
               ", "));
  }
  centro(Juntar({"NFC-e nº " + d("nNF"), d("Serie").empty() ? "" : "Série " + d("Serie"),
                 d("DtEmissao")},
                " "),
         true);
  if (d("tpEmis") == "4" && !d("nProtEpec").empty()) {
    centro("Protocolo EPEC: " + d("nProtEpec"));
  } else if (!d("nProt").empty()) {
    centro("Protocolo de autorização: " + d("nProt"));
    if (!d("dhRecbto").empty()) centro("Data de autorização: " + d("dhRecbto"));
  }

  // QR code, the environment's and contingency's phrases, the free texts.
  const std::string qr = d("URLQRCode").empty() ? qrCode : d("URLQRCode");
  if (!qr.empty()) {
    p.Alinhamento(TEscPosAlinhamento::alCentro);
    p.QrCode(qr);
    p.Alinhamento(TEscPosAlinhamento::alEsquerda);
  }
  if (d("tpAmb") == "2") centro("EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO - SEM VALOR FISCAL", true);
  centro(d("FraseHomologacao"), true);
  if (!d("tpEmis").empty() && d("tpEmis") != "1") centro("EMITIDA EM CONTINGÊNCIA", true);
  centro(d("FraseContingencia"), true);
  for (const char* texto : {"ObsContribuinte", "xMsg", "TextoLivre"})
    if (!Trim(d(texto)).empty()) linhas(Quebrar(d(texto), cols));
  if (!Trim(d("TarjaCancelada")).empty()) {
    p.Alinhamento(TEscPosAlinhamento::alCentro);
    p.Negrito(true);
    p.DuploTamanho(true);
    linhas(Quebrar(d("TarjaCancelada"), cols / 2));
    p.DuploTamanho(false);
    p.Negrito(false);
    p.Alinhamento(TEscPosAlinhamento::alEsquerda);
  }
  p.FimDeCupom();
}

}  // namespace qor
