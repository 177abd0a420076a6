#include "danfce/TqorNFCeDanfceDados.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Exceptions.h"
#include "danfce/FormatosDanfce.h"
#include "platform/Format.h"
#include "platform/GovException.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "utils/Chave.h"
#include "utils/DataHora.h"
#include "utils/Numeros.h"
#include "utils/Textos.h"

namespace qor {

namespace {

constexpr const char* kFrasePrevisao = "\rPREVISÃO DE DANFCE. SEM VALOR FISCAL";
constexpr std::size_t kTamanhoTextoLivre = 10000;
const std::string kVazio;

// ---- the data sets' fields ------------------------------------------------------------------

struct TCampo {
  const char* nome;
  int tamanho;
};
constexpr int kTexto = 255;
constexpr int kMemo = 0;  // a text of any length (ItemObs)

constexpr TCampo kCamposDados[] = {{"CodBarra", kTexto},
                                   {"CodBarraDadosNFe", kTexto},
                                   {"NatOper", kTexto},
                                   {"Serie", kTexto},
                                   {"DtEmissao", kTexto},
                                   {"DtEmissaoFormatoOriginal", kTexto},
                                   {"DtSaida", kTexto},
                                   {"nNF", kTexto},
                                   {"nTpNF", kTexto},
                                   {"tpEmis", kTexto},
                                   {"EmitNome", kTexto},
                                   {"EmitCNPJ", kTexto},
                                   {"EmitIE", kTexto},
                                   {"EmitIEST", kTexto},
                                   {"EmitLogradouro", kTexto},
                                   {"EmitEnd", kTexto},
                                   {"EmitNumero", kTexto},
                                   {"EmitBairro", kTexto},
                                   {"EmitMun", kTexto},
                                   {"EmitUF", kTexto},
                                   {"EmitCep", kTexto},
                                   {"EmitIM", kTexto},
                                   {"EmitFone", kTexto},
                                   {"EmitPais", kTexto},
                                   {"EmitFantasia", kTexto},
                                   {"LogotipoEmitente", kTexto},
                                   {"DestNome", kTexto},
                                   {"DestCNPJ", kTexto},
                                   {"DestIE", kTexto},
                                   {"DestLogradouro", kTexto},
                                   {"DestEnd", kTexto},
                                   {"DestNumero", kTexto},
                                   {"DestBairro", kTexto},
                                   {"DestMun", kTexto},
                                   {"DestUF", kTexto},
                                   {"DestCep", kTexto},
                                   {"DestFoneFax", kTexto},
                                   {"DestPaisCod", kTexto},
                                   {"DestPais", kTexto},
                                   {"DestEmail", kTexto},
                                   {"BaseCalcIcms", kTexto},
                                   {"ValorIcms", kTexto},
                                   {"BaseCalcIcmsSubs", kTexto},
                                   {"ValorIcmsSubs", kTexto},
                                   {"ValorTotProd", kTexto},
                                   {"ValorFrete", kTexto},
                                   {"ValorSeguro", kTexto},
                                   {"Desconto", kTexto},
                                   {"OutrasDesp", kTexto},
                                   {"ValorIPI", kTexto},
                                   {"ValorTotNota", kTexto},
                                   {"BaseCalcISSQN", kTexto},
                                   {"ValorTotServ", kTexto},
                                   {"ValorTotISSQN", kTexto},
                                   {"ValorTotCOFINS", kTexto},
                                   {"ValorTotPIS", kTexto},
                                   {"ValorTotTrib", kTexto},
                                   {"ValorTotOutro", kTexto},
                                   {"ValorAcrescimo", kTexto},
                                   {"ValorTotOutroServico", kTexto},
                                   {"TraModFrete", kTexto},
                                   {"TraCNPJ", kTexto},
                                   {"TraNome", kTexto},
                                   {"TraIE", kTexto},
                                   {"TraEnd", kTexto},
                                   {"TraMun", kTexto},
                                   {"TraUF", kTexto},
                                   {"TraDescMod", kTexto},
                                   {"VeiCodigoANTT", kTexto},
                                   {"VeiPlaca", kTexto},
                                   {"VeiUF", kTexto},
                                   {"VolQuantidade", kTexto},
                                   {"VolEspecie", kTexto},
                                   {"VolMarca", kTexto},
                                   {"VolNumeracao", kTexto},
                                   {"VolPesoBruto", kTexto},
                                   {"VolPesoLiquido", kTexto},
                                   {"ContinuaObsContribuinte", 8000},
                                   {"ObsContribuinte", 8000},
                                   {"nProt", kTexto},
                                   {"nProtEpec", kTexto},
                                   {"dhRecbto", kTexto},
                                   {"FraseHomologacao", kTexto},
                                   {"FraseContingencia", kTexto},
                                   {"DestComplemento", kTexto},
                                   {"EmitComplemento", kTexto},
                                   {"XCampo", kTexto},
                                   {"XTexto", kTexto},
                                   {"xMsg", kTexto},
                                   {"EntCNPJ", kTexto},
                                   {"EntEnd", kTexto},
                                   {"EntNumero", kTexto},
                                   {"EntComplemento", kTexto},
                                   {"EntBairro", kTexto},
                                   {"EntMun", kTexto},
                                   {"EntUF", kTexto},
                                   {"JustContingencia", kTexto},
                                   {"dhContingencia", kTexto},
                                   {"hSaida", kTexto},
                                   {"indPag", kTexto},
                                   {"tpImp", kTexto},
                                   {"QuantidadeItensNota", kTexto},
                                   {"tpAmb", kTexto},
                                   {"digestValue", kTexto},
                                   {"mod", kTexto},
                                   {"ExibirDetalhamentoNFCe", kTexto},
                                   {"URLQRCode", 500},
                                   {"URLChave", kTexto},
                                   {"IdentificacaoVia", kTexto},
                                   {"TextoLivre", 10000},
                                   {"TarjaCancelada", kTexto},
                                   {"QRCodeLateral", kTexto},
                                   {"ModeloQrCode", kTexto},
                                   {"ExibirAcrescimoEDesconto", kTexto},
                                   {"ImprimirFrete", kTexto},
                                   {"ImprimirFreteProduto", kTexto}};
static_assert(std::size(kCamposDados) == 116);

constexpr TCampo kCamposItens[] = {{"nNF", kTexto},
                                   {"QtdeItem", kTexto},
                                   {"Item", kTexto},
                                   {"ItemCodigo", kTexto},
                                   {"ItemEAN", kTexto},
                                   {"ItemNCM", kTexto},
                                   {"ItemDescricao", kTexto},
                                   {"ItemCST", kTexto},
                                   {"ItemORIG", kTexto},
                                   {"ItemCFOP", kTexto},
                                   {"ItemUnidade", kTexto},
                                   {"ItemQuantidade", kTexto},
                                   {"ItemVUnit", kTexto},
                                   {"ItemVTotal", kTexto},
                                   {"ItemBCalcIcms", kTexto},
                                   {"ItemVIcms", kTexto},
                                   {"ItemAliqIcms", kTexto},
                                   {"ItemObs", kMemo},
                                   {"ItemVPIS", kTexto},
                                   {"ItemBCalcPIS", kTexto},
                                   {"ItemAliqPIS", kTexto},
                                   {"ItemCSTPIS", kTexto},
                                   {"ItemQBCProdPIS", kTexto},
                                   {"ItemVAliqProdPIS", kTexto},
                                   {"ItemVCOFINS", kTexto},
                                   {"ItemBCalcCOFINS", kTexto},
                                   {"ItemAliqCOFINS", kTexto},
                                   {"ItemCSTCOFINS", kTexto},
                                   {"ItemQBCProdCOFINS", kTexto},
                                   {"ItemVAliqProdCOFINS", kTexto},
                                   {"ItemBCalcIcmsST", kTexto},
                                   {"ItemAliqIcmsST", kTexto},
                                   {"ItemVIcmsST", kTexto},
                                   {"ItemVDesc", kTexto},
                                   {"ItemVTotTrib", kTexto},
                                   {"ItemVOutro", kTexto},
                                   {"nBico", kTexto},
                                   {"nBomba", kTexto},
                                   {"nTanque", kTexto},
                                   {"vEncIni", kTexto},
                                   {"vEncFin", kTexto},
                                   {"ItemVFrete", kTexto}};
static_assert(std::size(kCamposItens) == 42);

void CriaCampos(TqorDataSet& tabela, std::initializer_list<TCampo> campos) {
  for (const TCampo& c : campos) tabela.AddField(c.nome, c.tamanho);
}
template <std::size_t N>
void CriaCampos(TqorDataSet& tabela, const TCampo (&campos)[N]) {
  for (const TCampo& c : campos) tabela.AddField(c.nome, c.tamanho);
}

// ---- reading the parsed note ----------------------------------------------------------------

// The first element named `nome` under `e` (any depth, document order).
const XmlElement* Busca(const XmlElement* e, std::string_view nome) {
  if (e == nullptr) return nullptr;
  for (const XmlElement& filho : e->children) {
    if (filho.name == nome) return &filho;
    if (const XmlElement* achado = Busca(&filho, nome)) return achado;
  }
  return nullptr;
}

// The first child of `e` named `nome`.
const XmlElement* Filho(const XmlElement* e, std::string_view nome) {
  if (e == nullptr) return nullptr;
  for (const XmlElement& filho : e->children) {
    if (filho.name == nome) return &filho;
  }
  return nullptr;
}

const std::string& Texto(const XmlElement* e, std::string_view nome) {
  const XmlElement* achado = Busca(e, nome);
  return achado == nullptr ? kVazio : achado->text;
}

const std::string& TextoFilho(const XmlElement* e, std::string_view nome) {
  const XmlElement* achado = Filho(e, nome);
  return achado == nullptr ? kVazio : achado->text;
}

const std::string& Atributo(const XmlElement& e, std::string_view nome) {
  for (const auto& [chave, valor] : e.attributes) {
    if (chave == nome) return valor;
  }
  return kVazio;
}

// Every element named `nome` under `e`, at any depth, in document order.
void Todos(const XmlElement* e, std::string_view nome, std::vector<const XmlElement*>& achados) {
  if (e == nullptr) return;
  for (const XmlElement& filho : e->children) {
    if (filho.name == nome) {
      achados.push_back(&filho);
    } else {
      Todos(&filho, nome, achados);
    }
  }
}

// Every `nome` child of `e`.
std::vector<const XmlElement*> Filhos(const XmlElement* e, std::string_view nome) {
  std::vector<const XmlElement*> achados;
  if (e == nullptr) return achados;
  for (const XmlElement& filho : e->children) {
    if (filho.name == nome) achados.push_back(&filho);
  }
  return achados;
}

// Every note of the parsed input with the NFe and nfeProc around it.
void LocalizaNotas(const XmlElement& e, const XmlElement* nfe, const XmlElement* proc,
                   std::vector<TNotaDanfce>& notas) {
  for (const XmlElement& filho : e.children) {
    if (filho.name == "infNFe") {
      notas.push_back(TNotaDanfce{&filho, e.name == "NFe" ? &e : nullptr, proc, nullptr});
    } else {
      LocalizaNotas(filho, filho.name == "NFe" ? &filho : nfe,
                    filho.name == "nfeProc" ? &filho : proc, notas);
    }
  }
}

// The input as one document: byte-order mark and XML declarations dropped, under one root (a
// batch is a list of documents).
std::string DocumentoUnico(const std::string& xml) {
  return "<root>" + SemDeclaracoesXml(xml) + "</root>";
}

// ---- numbers ----------------------------------------------------------------------------

// A number written with a decimal comma ("1234,56", "-3"); the services layer's conversion
// error otherwise.
double LeNumero(std::string texto) {
  const std::string original = texto;
  texto = Trim(texto);
  ReplaceAll(texto, ",", ".");
  if (!texto.empty() && texto[0] == '+') texto.erase(0, 1);
  double valor = 0;
  const auto [fim, erro] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
  if (texto.empty() || erro != std::errc() || fim != texto.data() + texto.size()) {
    throw EqorGovException("'" + original + "' não é um valor numérico válido");
  }
  return valor;
}

// "1234.50": two decimals, a point.
std::string DuasCasas(double valor) {
  char buffer[64];
  const auto [fim, erro] =
      std::to_chars(buffer, buffer + sizeof buffer, valor, std::chars_format::fixed, 2);
  if (erro != std::errc()) return "0.00";
  std::string texto(buffer, fim);
  if (texto == "-0.00") texto = "0.00";
  return texto;
}

// Integer with "." between thousands ("#.##0").
std::string Milhares(double valor) {
  std::string texto = VirgulaDecimal(std::to_string(std::llround(valor)) + ",");
  texto.pop_back();  // the comma that asked for the grouping
  return texto;
}

std::string Bool(bool v) { return v ? "True" : "False"; }

// The usual text of a boolean: "1", "-1", "true" (any case) are true.
std::string NomeFormaPagamento(const std::string& tPag) {
  static const std::pair<std::string_view, std::string_view> kNomes[] = {
      {"1", "Dinheiro"},
      {"2", "Cheque"},
      {"3", "Cartão de Crédito"},
      {"4", "Cartão de Débito"},
      {"5", "Crédito Loja"},
      {"10", "Vale Alimentação"},
      {"11", "Vale Refeição"},
      {"12", "Vale Presente"},
      {"13", "Vale Combustível"},
      {"14", "Duplicata Mercantil"},
      {"15", "Boleto Bancário"},
      {"16", "Depósito Bancário"},
      {"17", "Pagamento Instantâneo (PIX)"},
      {"18", "Transferência bancária, Carteira Digital"},
      {"19", "Programa de fidelidade, Cashback, Crédito Virtual"},
      {"90", "Sem pagamento"},
      {"99", "Outros"}};
  // The XML writes the code with two digits ("01").
  std::string_view codigo = tPag;
  while (codigo.size() > 1 && codigo[0] == '0') codigo.remove_prefix(1);
  for (const auto& [c, nome] : kNomes) {
    if (c == codigo) return std::string(nome);
  }
  return tPag;
}

}  // namespace

// ---- the advanced print parameters ---------------------------------------------------------

struct TqorNFCeDanfceDados::TParametros {
  std::string avancados;  // the ParamsAvancados pairs

  explicit TParametros(const std::string& params) {
    TStrings linhas;
    linhas.SetText(params);
    avancados = linhas.Values("ParamsAvancados");
  }
  // The value of the first pair `nome` (case-insensitive); empty when absent.
  std::string Valor(std::string_view nome) const { return ParametroAvancado(avancados, nome); }
  // VALORTROCO / VALORRECEBIDO: "." or "," as decimal mark, written "0.00".
  std::string Moeda(std::string_view nome) const {
    std::string valor = Valor(nome);
    if (TrimView(valor).empty()) return {};
    ReplaceAll(valor, ".", ",");
    return DuasCasas(LeNumero(valor));
  }
};

// ---- the builder ------------------------------------------------------------------------------

TqorNFCeDanfceDados::TqorNFCeDanfceDados() {
  CriaCampos(dados_, kCamposDados);
  CriaCampos(itens_, kCamposItens);
  CriaCampos(vol_, {{"nNF", kTexto},
                    {"VolQuantidade", kTexto},
                    {"VolEspecie", kTexto},
                    {"VolMarca", kTexto},
                    {"VolNumeracao", kTexto},
                    {"VolPesoBruto", kTexto},
                    {"VolPesoLiquido", kTexto}});
  CriaCampos(cobranca_, {{"nNF", kTexto},
                         {"NumDuplicata", kTexto},
                         {"DtVencimento", kTexto},
                         {"ValorDuplicata", kTexto}});
  CriaCampos(nfeRef_, {{"nNF", kTexto}, {"ChaveNFeRef", kTexto}});
  CriaCampos(nf1aRef_, {{"nNF", kTexto},
                        {"UFNF1ARef", kTexto},
                        {"AnoMesNF1ARef", kTexto},
                        {"ModeloNF1ARef", kTexto},
                        {"SerieNF1ARef", kTexto},
                        {"NumeroNF1ARef", kTexto},
                        {"CNPJNF1ARef", kTexto}});
  CriaCampos(nfpRef_, {{"nNF", kTexto},
                       {"UFNFProdutorRef", kTexto},
                       {"AnoMesNFProdutorRef", kTexto},
                       {"ModeloNFProdutorRef", kTexto},
                       {"SerieNFProdutorRef", kTexto},
                       {"NumeroNFProdutorRef", kTexto},
                       {"IENFProdutorRef", kTexto},
                       {"CNPJNFProdutorRef", kTexto}});
  CriaCampos(cupomRef_, {{"nNF", kTexto},
                         {"NumeroECFCupomFiscalRef", kTexto},
                         {"NumeroCOOCupomFiscalRef", kTexto},
                         {"ModeloCupomFiscalRef", kTexto}});
  CriaCampos(cteRef_, {{"nNF", kTexto}, {"ChaveCTeRef", kTexto}});
  CriaCampos(pagamentos_, {{"nNF", kTexto},
                           {"formaPagamento", kTexto},
                           {"valorPago", kTexto},
                           {"valorTroco", kTexto},
                           {"valorRecebido", kTexto},
                           {"cnpj", kTexto},
                           {"bandeira", kTexto},
                           {"cAut", kTexto},
                           {"descricaoFormaPagamento", kTexto}});
  CriaCampos(obsFisco_,
             {{"nNF", kTexto}, {"InfAdicObsFiscoTexto", kTexto}, {"InfAdicObsFiscoCampo", kTexto}});
  dados_.Open();
  for (TqorDataSet* detalhe : {&itens_, &vol_, &cobranca_, &nfeRef_, &nf1aRef_, &nfpRef_,
                               &cupomRef_, &cteRef_, &pagamentos_, &obsFisco_}) {
    detalhe->Open();
    detalhe->SetMaster(&dados_, "nNF", "nNF");
  }
}

TqorNFCeDanfceDados::~TqorNFCeDanfceDados() {
  // The details go before their master (members are destroyed in reverse order); unlink first
  // all the same, so the order of the declarations does not matter.
  for (TqorDataSet* detalhe : {&itens_, &vol_, &cobranca_, &nfeRef_, &nf1aRef_, &nfpRef_,
                               &cupomRef_, &cteRef_, &pagamentos_, &obsFisco_}) {
    detalhe->SetMaster(nullptr, {}, {});
  }
}

std::string TqorNFCeDanfceDados::GetUFCode(const std::string& uf) {
  static const std::pair<std::string_view, std::string_view> kUFs[] = {
      {"AC", "12"}, {"AL", "27"}, {"AP", "16"}, {"AM", "13"}, {"BA", "29"}, {"CE", "23"},
      {"DF", "53"}, {"ES", "32"}, {"GO", "52"}, {"MA", "21"}, {"MT", "51"}, {"MS", "50"},
      {"MG", "31"}, {"PA", "15"}, {"PB", "25"}, {"PR", "41"}, {"PE", "26"}, {"PI", "22"},
      {"RJ", "33"}, {"RN", "24"}, {"RS", "43"}, {"RO", "11"}, {"RR", "14"}, {"SC", "42"},
      {"SP", "35"}, {"SE", "28"}, {"TO", "17"}, {"EX", "99"}};
  for (const auto& [sigla, codigo] : kUFs) {
    if (SameText(sigla, uf)) return std::string(codigo);
  }
  return {};
}

void TqorNFCeDanfceDados::Recusa(const std::string& mensagem) const {
  throw EqorNFCeReportException(mensagem, diretorioLogErro_);
}

void TqorNFCeDanfceDados::LimparDataSets() {
  for (TqorDataSet* tabela : {&dados_, &itens_, &vol_, &cobranca_, &nfeRef_, &nf1aRef_, &nfpRef_,
                              &cupomRef_, &cteRef_, &pagamentos_, &obsFisco_}) {
    tabela->Empty();
  }
}

void TqorNFCeDanfceDados::PopulaDataSet(const std::string& params) {
  LimparDataSets();
  const TParametros parametros(params);
  XmlElement raiz;
  try {
    raiz = ParseElementTree(DocumentoUnico(xml_));
  } catch (const EqorGovException& e) {
    Recusa(e.what());
  }
  std::vector<TNotaDanfce> notas;
  LocalizaNotas(raiz, nullptr, nullptr, notas);
  if (validarRegrasNegocio_) {
    for (const TNotaDanfce& nota : notas) ValidarXmlEntrada(nota);
  }
  try {
    for (TNotaDanfce& nota : notas) {
      const int tpEmis = GetTpEmis(nota);
      protocoloEPECNota_ = protocoloEPEC_;
      dataHoraEPECNota_ = dataHoraEPEC_;
      nota.escopo = nota.nfe != nullptr ? nota.nfe : nota.infNFe;
      if (nota.proc != nullptr) {
        const XmlElement* protocolo = Busca(nota.proc, "protNFe");
        if (validarRegrasNegocio_ && (tpEmis == 1 || tpEmis == 3 || tpEmis == 9)) {
          nota.escopo = nota.proc;
        } else if (tpEmis == 4 && Busca(protocolo, "nProt") != nullptr) {
          nota.escopo = nota.proc;
          protocoloEPECNota_ = Texto(protocolo, "nProt");
          dataHoraEPECNota_ = Texto(protocolo, "dhRecbto");
        }
      }
      PreencheNota(nota, parametros);
    }
  } catch (...) {
    LimparDataSets();  // drops a record left pending too
    throw;
  }
}

void TqorNFCeDanfceDados::PreencheNota(const TNotaDanfce& nota, const TParametros& parametros) {
  const XmlElement& infNFe = *nota.infNFe;
  dados_.Append();
  PreencheEmitenteDestinatario(infNFe);

  // The prize message of the authorisation: "a|b|c" shows "b c", "a|b" shows "b".
  const XmlElement* infProt = Busca(Busca(nota.escopo, "protNFe"), "infProt");
  const std::string& xMsg = Texto(infProt, "xMsg");
  if (xMsg.find('|') == std::string::npos) {
    Set("xMsg", xMsg);
  } else {
    std::vector<std::string_view> pecas;
    std::size_t inicio = 0;
    for (;;) {
      const std::size_t fim = xMsg.find('|', inicio);
      pecas.emplace_back(xMsg.data() + inicio,
                         (fim == std::string::npos ? xMsg.size() : fim) - inicio);
      if (fim == std::string::npos) break;
      inicio = fim + 1;
    }
    std::string mensagem(pecas[1]);
    if (pecas.size() > 2) mensagem.append(" ").append(pecas[2]);
    Set("xMsg", std::move(mensagem));
  }
  Set("IdentificacaoVia", parametros.Valor("IDENTIFICACAOVIA"));

  const XmlElement* entrega = Filho(&infNFe, "entrega");
  Set("EntCNPJ", Texto(entrega, "CNPJ"));
  Set("EntEnd", Texto(entrega, "xLgr"));
  Set("EntNumero", Texto(entrega, "nro"));
  Set("EntComplemento", Texto(entrega, "xCpl"));
  Set("EntBairro", Texto(entrega, "xBairro"));
  Set("EntMun", Texto(entrega, "xMun"));
  Set("EntUF", Texto(entrega, "UF"));

  GetDadosIdNF(nota);
  PreencheTotais(infNFe);
  const XmlElement* transp = Filho(&infNFe, "transp");
  GetDadosTransp(transp);
  const XmlElement* veiculo = Filho(transp, "veicTransp");
  Set("VeiCodigoANTT", Texto(veiculo, "RNTC"));
  Set("VeiPlaca", Texto(veiculo, "placa"));
  Set("VeiUF", Texto(veiculo, "UF"));
  std::string linhasVolume;
  PreencheVolumes(transp, linhasVolume);
  GetDadosChaveNF(nota);
  PreencheAdicionais(infNFe, linhasVolume);

  const XmlElement* issqn = Busca(Filho(&infNFe, "total"), "ISSQNtot");
  Set("ValorTotServ", VirgulaDecimal(TextoFilho(issqn, "vServ")));
  Set("BaseCalcISSQN", VirgulaDecimal(TextoFilho(issqn, "vBC")));
  Set("ValorTotISSQN", VirgulaDecimal(TextoFilho(issqn, "vISS")));
  Set("digestValue", Texto(nota.escopo, "DigestValue"));

  std::string textoLivre = parametros.Valor("textoLivre");
  ReplaceAll(textoLivre, "|", "\r");
  if (textoLivre.size() > kTamanhoTextoLivre) {
    textoLivre = Utf8Substr(textoLivre, 0, kTamanhoTextoLivre);
  }
  Set("TextoLivre", std::move(textoLivre));
  Set("QRCodeLateral", Bool(TextoVerdadeiro(parametros.Valor("QRCodeLateral"))));

  if (!validarRegrasNegocio_) Set("FraseHomologacao", kFrasePrevisao);
  Set("ExibirDetalhamentoNFCe", Bool(exibirDetalhamento_));
  Set("ExibirAcrescimoEDesconto", Bool(exibirAcrescimoEDesconto_));
  Set("ImprimirFrete", Bool(imprimirFrete_));
  Set("ImprimirFreteProduto", Bool(imprimirFreteProduto_));
  if (imprimirTarjaCancelada_) Set("TarjaCancelada", "NOTA CANCELADA");
  // The note's own QR link, when it carries one (the printing front may set its own).
  Set("URLQRCode", Texto(Filho(nota.nfe, "infNFeSupl"), "qrCode"));
  dados_.Post();

  PreencheDetalhes(infNFe, parametros);
}

void TqorNFCeDanfceDados::PreencheEmitenteDestinatario(const XmlElement& infNFe) {
  const XmlElement* emit = Filho(&infNFe, "emit");
  Set("EmitNome", Texto(emit, "xNome"));
  Set("EmitFantasia", Texto(emit, "xFant"));
  Set("EmitCNPJ", Texto(emit, "CNPJ"));
  Set("EmitIE", Texto(emit, "IE"));
  Set("EmitEnd", Texto(emit, "xLgr") + ", " + Texto(emit, "nro"));
  Set("EmitLogradouro", Texto(emit, "xLgr"));
  Set("EmitNumero", Texto(emit, "nro"));
  Set("EmitBairro", Texto(emit, "xBairro"));
  Set("EmitMun", Texto(emit, "xMun"));
  Set("EmitUF", Texto(emit, "UF"));
  Set("EmitCep", Texto(emit, "CEP"));
  Set("EmitPais", Texto(emit, "xPais"));
  Set("EmitIEST", Texto(emit, "IEST"));
  Set("EmitIM", Texto(emit, "IM"));
  Set("EmitFone", Texto(emit, "fone"));
  Set("EmitComplemento", Texto(emit, "xCpl"));

  const XmlElement* dest = Filho(&infNFe, "dest");
  std::string documento = Texto(dest, "CNPJ");
  if (documento.empty()) documento = Texto(dest, "CPF");
  if (documento.empty()) documento = Texto(dest, "idEstrangeiro");
  Set("DestCNPJ", std::move(documento));
  Set("DestIE", Texto(dest, "IE"));
  Set("DestNome", Texto(dest, "xNome"));
  Set("DestEnd", Texto(dest, "xLgr") + ", " + Texto(dest, "nro"));
  Set("DestLogradouro", Texto(dest, "xLgr"));
  Set("DestNumero", Texto(dest, "nro"));
  Set("DestBairro", Texto(dest, "xBairro"));
  Set("DestMun", Texto(dest, "xMun"));
  Set("DestUF", Texto(dest, "UF"));
  Set("DestCep", Texto(dest, "CEP"));
  Set("DestPaisCod", Texto(dest, "cPais"));
  Set("DestPais", Texto(dest, "xPais"));
  Set("DestFoneFax", Texto(dest, "fone"));
  Set("DestEmail", Texto(dest, "email"));
  Set("DestComplemento", Texto(dest, "xCpl"));
}

void TqorNFCeDanfceDados::PreencheTotais(const XmlElement& infNFe) {
  const XmlElement* total = Filho(&infNFe, "total");
  const XmlElement* icms = Filho(total, "ICMSTot");
  const auto valor = [icms](std::string_view nome) {
    return VirgulaDecimal(TextoFilho(icms, nome));
  };
  Set("BaseCalcIcms", valor("vBC"));
  Set("ValorIcms", valor("vICMS"));
  Set("BaseCalcIcmsSubs", valor("vBCST"));
  Set("ValorIcmsSubs", valor("vST"));
  Set("ValorTotProd", valor("vProd"));
  Set("ValorFrete", valor("vFrete"));
  Set("ValorSeguro", valor("vSeg"));
  Set("Desconto", valor("vDesc"));
  Set("OutrasDesp", valor("vOutro"));
  Set("ValorTotOutro", valor("vOutro"));
  Set("ValorIPI", valor("vIPI"));
  Set("ValorTotNota", valor("vNF"));
  Set("ValorTotCOFINS", valor("vCOFINS"));
  Set("ValorTotPIS", valor("vPIS"));
  Set("ValorTotTrib", valor("vTotTrib"));
  Set("ValorTotOutroServico", VirgulaDecimal(TextoFilho(Filho(total, "ISSQNtot"), "vOutro")));

  // The surcharge: other expenses (of goods and of services), insurance and, unless shown
  // apart (ImprimirFrete) or per item, the freight.
  const auto parcela = [this](const char* campo) {
    std::string texto = dados_.Value(campo);
    ReplaceAll(texto, ".", "");
    return LeNumero(texto);
  };
  const bool freteApartado = imprimirFrete_ || (exibirDetalhamento_ && imprimirFreteProduto_);
  const double acrescimo = parcela("ValorTotOutroServico") + parcela("ValorTotOutro") +
                           parcela("ValorSeguro") + (freteApartado ? 0.0 : parcela("ValorFrete"));
  Set("ValorAcrescimo", VirgulaDecimal(DuasCasas(acrescimo)));
}

void TqorNFCeDanfceDados::PreencheVolumes(const XmlElement* transp, std::string& linhasVolume) {
  const std::vector<const XmlElement*> volumes = Filhos(transp, "vol");
  double quantidade = 0, pesoBruto = 0, pesoLiquido = 0;
  for (const XmlElement* vol : volumes) {
    vol_.Append();
    vol_.SetValue("VolQuantidade", Texto(vol, "qVol"));
    vol_.SetValue("VolEspecie", Texto(vol, "esp"));
    vol_.SetValue("VolMarca", Texto(vol, "marca"));
    vol_.SetValue("VolNumeracao", Texto(vol, "nVol"));
    const std::string& pesoL = Texto(vol, "pesoL");
    const std::string& pesoB = Texto(vol, "pesoB");
    vol_.SetValue("VolPesoLiquido", pesoL.empty() ? std::string() : VirgulaDecimal(pesoL));
    vol_.SetValue("VolPesoBruto", pesoB.empty() ? std::string() : VirgulaDecimal(pesoB));
    vol_.Post();
    if (!Texto(vol, "qVol").empty()) quantidade += LeNumero(Texto(vol, "qVol"));
    if (!pesoB.empty()) pesoBruto += LeNumero(pesoB);
    if (!pesoL.empty()) pesoLiquido += LeNumero(pesoL);
    if (imprimirVolume_ && volumes.size() >= 2) {
      linhasVolume += Format("Esp.: %s Marca: %s Num.: %s",
                             {Texto(vol, "esp"), Texto(vol, "marca"), Texto(vol, "nVol")});
      linhasVolume += "\r\n";
    }
  }
  if (imprimirVolume_ && volumes.size() > 1) {
    Set("VolEspecie", "VER INF. COMP.");
    Set("VolMarca", "VER INF. COMP.");
    Set("VolNumeracao", "VER INF. COMP.");
    Set("VolQuantidade", std::to_string(std::llround(quantidade)));
    Set("VolPesoBruto", pesoBruto > 0 ? Milhares(pesoBruto) : std::string());
    Set("VolPesoLiquido", pesoLiquido > 0 ? Milhares(pesoLiquido) : std::string());
  } else if (!volumes.empty()) {
    for (const char* campo : {"VolQuantidade", "VolEspecie", "VolMarca", "VolNumeracao",
                              "VolPesoBruto", "VolPesoLiquido"}) {
      Set(campo, vol_.StoredValue(vol_.StoredCount() - 1, vol_.FieldByName(campo)));
    }
  }
}

void TqorNFCeDanfceDados::PreencheAdicionais(const XmlElement& infNFe,
                                             const std::string& linhasVolume) {
  const XmlElement* infAdic = Filho(&infNFe, "infAdic");
  std::string texto = linhasVolume;
  if (infAdic != nullptr) {
    Set("XTexto", Texto(infAdic, "xTexto"));
    Set("XCampo", Texto(infAdic, "infCpl"));
    std::string infCpl = TextoFilho(infAdic, "infCpl");
    if (!lineDelimiter_.empty()) ReplaceAll(infCpl, lineDelimiter_, "\r");
    texto += infCpl;
    if (const XmlElement* fisco = Filho(infAdic, "infAdFisco")) {
      texto += "\r\nObservações destinadas ao Fisco:\r\n" + fisco->text;
    }
  }
  std::string principal, continuacao;
  SeparaObservacoes(texto, infCplMaxCol_, infCplMaxRow_, infCplQuebrarLinhaAut_, principal,
                    continuacao);
  Set("ObsContribuinte", std::move(principal));
  Set("ContinuaObsContribuinte", std::move(continuacao));
  Set("QuantidadeItensNota", std::to_string(Filhos(&infNFe, "det").size()));
}

void TqorNFCeDanfceDados::PreencheDetalhes(const XmlElement& infNFe,
                                           const TParametros& parametros) {
  for (const XmlElement* det : Filhos(&infNFe, "det")) {
    itens_.Append();
    GetDadosItem(*det, Atributo(*det, "nItem"));
    itens_.Post();
  }

  std::vector<const XmlElement*> referencias;
  Todos(&infNFe, "NFref", referencias);
  for (const XmlElement* ref : referencias) {
    nfeRef_.Append();
    nfeRef_.SetValue("ChaveNFeRef", Texto(ref, "refNFe"));
    nfeRef_.Post();
    const XmlElement* nf = Filho(ref, "refNF");
    nf1aRef_.Append();
    nf1aRef_.SetValue("UFNF1ARef", Texto(nf, "cUF"));
    nf1aRef_.SetValue("AnoMesNF1ARef", Texto(nf, "AAMM"));
    nf1aRef_.SetValue("ModeloNF1ARef", Texto(nf, "mod"));
    nf1aRef_.SetValue("SerieNF1ARef", Texto(nf, "serie"));
    nf1aRef_.SetValue("NumeroNF1ARef", Texto(nf, "nNF"));
    nf1aRef_.SetValue("CNPJNF1ARef", Texto(nf, "CNPJ"));
    nf1aRef_.Post();
    const XmlElement* nfp = Filho(ref, "refNFP");
    nfpRef_.Append();
    nfpRef_.SetValue("UFNFProdutorRef", Texto(nfp, "cUF"));
    nfpRef_.SetValue("AnoMesNFProdutorRef", Texto(nfp, "AAMM"));
    nfpRef_.SetValue("ModeloNFProdutorRef", Texto(nfp, "mod"));
    nfpRef_.SetValue("SerieNFProdutorRef", Texto(nfp, "serie"));
    nfpRef_.SetValue("NumeroNFProdutorRef", Texto(nfp, "nNF"));
    nfpRef_.SetValue("IENFProdutorRef", Texto(nfp, "IE"));
    const std::string& cnpj = Texto(nfp, "CNPJ");
    nfpRef_.SetValue("CNPJNFProdutorRef", cnpj.empty() ? Texto(nfp, "CPF") : cnpj);
    nfpRef_.Post();
    const XmlElement* ecf = Filho(ref, "refECF");
    cupomRef_.Append();
    cupomRef_.SetValue("NumeroECFCupomFiscalRef", Texto(ecf, "nECF"));
    cupomRef_.SetValue("NumeroCOOCupomFiscalRef", Texto(ecf, "nCOO"));
    cupomRef_.SetValue("ModeloCupomFiscalRef", Texto(ecf, "mod"));
    cupomRef_.Post();
    cteRef_.Append();
    cteRef_.SetValue("ChaveCTeRef", Texto(ref, "refCTe"));
    cteRef_.Post();
  }

  PreenchePagamentos(infNFe, parametros);

  for (const XmlElement* dup : Filhos(Filho(&infNFe, "cobr"), "dup")) {
    cobranca_.Append();
    cobranca_.SetValue("NumDuplicata", Texto(dup, "nDup"));
    const std::string& vencimento = Texto(dup, "dVenc");  // yyyy-mm-dd
    cobranca_.SetValue("DtVencimento", vencimento.size() == 10 ? vencimento.substr(8, 2) + "/" +
                                                                     vencimento.substr(5, 2) + "/" +
                                                                     vencimento.substr(0, 4)
                                                               : vencimento);
    cobranca_.SetValue("ValorDuplicata", VirgulaDecimal(Texto(dup, "vDup")));
    cobranca_.Post();
  }

  GetDadosInfAdicObsFisco(infNFe);
}

void TqorNFCeDanfceDados::PreenchePagamentos(const XmlElement& infNFe,
                                             const TParametros& parametros) {
  const std::string trocoParametro = parametros.Moeda("VALORTROCO");
  const std::string recebido = parametros.Moeda("VALORRECEBIDO");
  const std::vector<const XmlElement*> grupos = Filhos(&infNFe, "pag");
  for (const XmlElement* grupo : grupos) {
    const std::vector<const XmlElement*> nos =
        PagamentosPorDetPag() ? Filhos(grupo, "detPag") : std::vector<const XmlElement*>{grupo};
    const XmlElement* vTroco = PagamentosPorDetPag() ? Filho(grupo, "vTroco") : nullptr;
    for (const XmlElement* no : nos) {
      pagamentos_.Append();
      const std::string& tPag = Texto(no, "tPag");
      pagamentos_.SetValue("formaPagamento", tPag);
      pagamentos_.SetValue("valorPago", VirgulaDecimal(Texto(no, "vPag")));
      const XmlElement* cartao = Filho(no, "card");
      pagamentos_.SetValue("cnpj", Texto(cartao, "CNPJ"));
      pagamentos_.SetValue("bandeira", Texto(cartao, "tBand"));
      pagamentos_.SetValue("cAut", Texto(cartao, "cAut"));
      const XmlElement* xPag = Busca(no, "xPag");
      const bool outros = tPag == "99" && xPag != nullptr;
      pagamentos_.SetValue("descricaoFormaPagamento",
                           outros ? xPag->text : NomeFormaPagamento(tPag));
      const XmlElement* trocoNo = PagamentosPorDetPag() ? vTroco : Busca(no, "vTroco");
      std::string troco = trocoNo != nullptr ? trocoNo->text : trocoParametro;
      if (troco.empty()) troco = "0.00";
      pagamentos_.SetValue("valorTroco", VirgulaDecimal(troco));
      pagamentos_.SetValue("valorRecebido", VirgulaDecimal(recebido));
      pagamentos_.Post();
    }
  }
}

// ---- the operations the versions change --------------------------------------------------

void TqorNFCeDanfceDados::GetDadosItem(const XmlElement& det, const std::string& nItem) {
  const XmlElement* prod = Filho(&det, "prod");
  const XmlElement* imposto = Filho(&det, "imposto");
  const auto tratado = [this](const XmlElement* e, std::string_view nome) {
    std::string texto = Texto(e, nome);
    if (!lineDelimiter_.empty()) ReplaceAll(texto, lineDelimiter_, "\r");
    return texto;
  };
  // Tax values: shown with a decimal comma when the note has them, empty otherwise.
  const auto imp = [](const XmlElement* grupo, std::string_view nome) {
    const std::string& texto = Texto(grupo, nome);
    return texto.empty() ? std::string() : VirgulaDecimal(texto);
  };
  const auto duasCasas = [](const XmlElement* e, std::string_view nome) {
    return FormataValorDuasCasas(VirgulaDecimal(Texto(e, nome)));
  };
  SetItem("Item", nItem);
  SetItem("ItemCodigo", Texto(prod, "cProd"));
  SetItem("ItemEAN", Texto(prod, "cEAN"));
  SetItem("ItemNCM", Texto(prod, "NCM"));
  SetItem("ItemDescricao", tratado(prod, "xProd"));
  const XmlElement* icms = Filho(imposto, "ICMS");
  SetItem("ItemCST", Texto(icms, "CST"));
  SetItem("ItemORIG", Texto(icms, "orig"));
  SetItem("ItemCFOP", Texto(prod, "CFOP"));
  SetItem("ItemUnidade", Texto(prod, "uCom"));
  SetItem("ItemQuantidade", FormataValorQuatroCasas(VirgulaDecimal(Texto(prod, "qCom"))));
  const std::string unitario = VirgulaDecimal(Texto(prod, "vUnCom"));
  SetItem("ItemVUnit", ValorDecimalDiferenteDeZero(unitario, 4)
                           ? RemoveZeroAposUltimoNumeroDecimal(unitario)
                           : FormataValorQuatroCasas(unitario));
  SetItem("ItemVTotal", duasCasas(prod, "vProd"));
  SetItem("ItemVDesc", duasCasas(prod, "vDesc"));
  SetItem("ItemVTotTrib", duasCasas(imposto, "vTotTrib"));
  SetItem("ItemVOutro", duasCasas(prod, "vOutro"));
  SetItem("ItemVFrete", duasCasas(prod, "vFrete"));
  SetItem("ItemObs", tratado(&det, "infAdProd"));
  SetItem("nBico", Texto(prod, "nBico"));
  SetItem("nBomba", Texto(prod, "nBomba"));
  SetItem("nTanque", Texto(prod, "nTanque"));
  SetItem("vEncIni", Texto(prod, "vEncIni"));
  SetItem("vEncFin", Texto(prod, "vEncFin"));

  SetItem("ItemVIcms", Texto(icms, "motDesICMS") == "7" ? std::string() : imp(icms, "vICMS"));
  SetItem("ItemBCalcIcms", imp(icms, "vBC"));
  SetItem("ItemAliqIcms", imp(icms, "pICMS"));
  SetItem("ItemAliqIcmsST", imp(icms, "pICMSST"));
  SetItem("ItemVIcmsST", imp(icms, "vICMSST"));
  SetItem("ItemBCalcIcmsST", imp(icms, "vBCST"));
  for (const char* grupo : {"PIS", "COFINS"}) {
    const XmlElement* g = Filho(imposto, grupo);
    const std::string s(grupo);
    itens_.SetValue("ItemV" + s, imp(g, "v" + s));
    itens_.SetValue("ItemBCalc" + s, imp(g, "vBC"));
    itens_.SetValue("ItemAliq" + s, imp(g, "p" + s));
    itens_.SetValue("ItemCST" + s, Texto(g, "CST"));
    itens_.SetValue("ItemQBCProd" + s, imp(g, "qBCProd"));
    itens_.SetValue("ItemVAliqProd" + s, imp(g, "vAliqProd"));
  }
}

void TqorNFCeDanfceDados::GetDadosChaveNF(const TNotaDanfce& nota) {
  std::string id = Atributo(*nota.infNFe, "Id");
  if (id.starts_with("NFe")) id.erase(0, 3);
  Set("CodBarra", std::move(id));
}

void TqorNFCeDanfceDados::GetDadosTransp(const XmlElement* transp) {
  const std::string& modFrete = TextoFilho(transp, "modFrete");
  Set("TraModFrete", modFrete == "0" ? "1" : modFrete == "1" ? "2" : modFrete);
  const XmlElement* transportador = Filho(transp, "transporta");
  const std::string& cnpj = Texto(transportador, "CNPJ");
  Set("TraCNPJ", cnpj.empty() ? Texto(transportador, "CPF") : cnpj);
  Set("TraNome", Texto(transportador, "xNome"));
  Set("TraIE", Texto(transportador, "IE"));
  Set("TraEnd", Texto(transportador, "xEnder"));
  Set("TraMun", Texto(transportador, "xMun"));
  Set("TraUF", Texto(transportador, "UF"));
}

void TqorNFCeDanfceDados::GetDadosIdNF(const TNotaDanfce& nota) {
  const XmlElement* ide = Filho(nota.infNFe, "ide");
  const std::string& tpEmis = TextoFilho(ide, "tpEmis");
  const std::string& tpAmb = TextoFilho(ide, "tpAmb");
  std::string emissao = TextoFilho(ide, "dhEmi");
  if (emissao.empty()) emissao = TextoFilho(ide, "dEmi");
  std::string saida = TextoFilho(ide, "dhSaiEnt");
  if (saida.empty()) saida = TextoFilho(ide, "dSaiEnt");
  Set("tpEmis", tpEmis);
  Set("tpImp", TextoFilho(ide, "tpImp"));
  Set("NatOper", TextoFilho(ide, "natOp"));
  Set("Serie", TextoFilho(ide, "serie"));
  Set("DtEmissao", ConverteData(emissao, diretorioLogErro_));
  Set("DtEmissaoFormatoOriginal", emissao);
  Set("DtSaida", ConverteData(saida, diretorioLogErro_));
  Set("nNF", Czro(TextoFilho(ide, "nNF"), 9));
  Set("indPag", TextoFilho(ide, "indPag"));
  Set("tpAmb", tpAmb);
  Set("mod", TextoFilho(ide, "mod"));
  if (tpAmb == "2") Set("FraseHomologacao", fraseHomologacao_);
  if (tpEmis != "1") Set("FraseContingencia", fraseContingencia_);
}

void TqorNFCeDanfceDados::GetDadosInfAdicObsFisco(const XmlElement& infNFe) {
  std::vector<const XmlElement*> observacoes;
  Todos(&infNFe, "obsCont", observacoes);
  for (const XmlElement* obs : observacoes) {
    obsFisco_.Append();
    std::string campo = Atributo(*obs, "xCampo");
    if (campo.empty()) campo = TextoFilho(obs, "xCampo");
    obsFisco_.SetValue("InfAdicObsFiscoCampo", std::move(campo));
    obsFisco_.SetValue("InfAdicObsFiscoTexto", TextoFilho(obs, "xTexto"));
    obsFisco_.Post();
  }
}

// ---- 2.02 ---------------------------------------------------------------------------------

void TqorNFCeDanfceDados202::ValidarXmlEntrada(const TNotaDanfce& nota) {
  const XmlElement* contexto = nota.proc != nullptr ? nota.proc : nota.nfe;
  if (Busca(contexto, "Signature") == nullptr) Recusa("A Nota não possui Assinatura");
}

int TqorNFCeDanfceDados202::GetTpEmis(const TNotaDanfce&) const { return 1; }

void TqorNFCeDanfceDados202::GetDadosIdNF(const TNotaDanfce& nota) {
  TqorNFCeDanfceDados::GetDadosIdNF(nota);
  const std::string& tpNF = TextoFilho(Filho(nota.infNFe, "ide"), "tpNF");
  Set("nTpNF", tpNF == "0" ? "1" : tpNF == "1" ? "2" : std::string());
}

void TqorNFCeDanfceDados202::GetDadosTransp(const XmlElement* transp) {
  TqorNFCeDanfceDados::GetDadosTransp(transp);
  Set("TraModFrete", TextoFilho(transp, "modFrete"));
}

// ---- 3.0 ----------------------------------------------------------------------------------

void TqorNFCeDanfceDados30::ValidarXmlEntrada(const TNotaDanfce& nota) {
  const int tpEmis = GetTpEmis(nota);
  if (tpEmis != 1 && tpEmis != 3) return;
  const XmlElement* protocolo = Busca(nota.proc, "protNFe");
  if (protocolo == nullptr) Recusa("O Xml não é válido para impressão em modo Normal");
  if (Texto(protocolo, "cStat") != "100") Recusa("Danfce não autorizada para Impressão.");
  if (Texto(protocolo, "nProt").empty()) Recusa("Número de Protocolo não encontrado.");
}

int TqorNFCeDanfceDados30::GetTpEmis(const TNotaDanfce& nota) const {
  return StrToIntDef(Trim(TextoFilho(Filho(nota.infNFe, "ide"), "tpEmis")), 1);
}

void TqorNFCeDanfceDados30::GetDadosIdNF(const TNotaDanfce& nota) {
  TqorNFCeDanfceDados::GetDadosIdNF(nota);
  Set("nTpNF", TextoFilho(Filho(nota.infNFe, "ide"), "tpNF"));
  const XmlElement* protocolo = Busca(nota.escopo, "protNFe");
  switch (GetTpEmis(nota)) {
    case 1:
    case 3:
    case 9:
      Set("nProt", Texto(protocolo, "nProt"));
      Set("dhRecbto", Texto(protocolo, "dhRecbto"));
      break;
    case 4:
      if (protocoloEPECNota_.empty()) Recusa("Protocolo de EPEC não foi informado");
      Set("nProtEpec", protocoloEPECNota_);
      Set("dhRecbto", dataHoraEPECNota_);
      break;
    default:  // 2, 5: printed before any authorisation
      Set("nProt", "");
      Set("dhRecbto", "");
  }
}

void TqorNFCeDanfceDados30::GetDadosChaveNF(const TNotaDanfce& nota) {
  TqorNFCeDanfceDados::GetDadosChaveNF(nota);
  const int tpEmis = GetTpEmis(nota);
  if (tpEmis != 2 && tpEmis != 5) return;
  const XmlElement* icms = Filho(Filho(nota.infNFe, "total"), "ICMSTot");
  const XmlElement* ide = Filho(nota.infNFe, "ide");
  std::string vNF = TextoFilho(icms, "vNF");
  ReplaceAll(vNF, ".", "");
  std::string emissao = TextoFilho(ide, "dEmi");
  if (emissao.empty()) emissao = TextoFilho(ide, "dhEmi");
  const std::string dia = emissao.size() >= 10 ? emissao.substr(8, 2) : std::string();
  Set("CodBarraDadosNFe", CalculaDadosDaNFCe(GetUFCode(Texto(Filho(nota.infNFe, "dest"), "UF")),
                                             std::to_string(tpEmis), Czro(Get("DestCNPJ"), 14), vNF,
                                             TextoFilho(icms, "vBC") != "0.00" ? "1" : "2",
                                             TextoFilho(icms, "vBCST") != "0.00" ? "1" : "2", dia,
                                             GetDiretorioLogErro()));
}

// ---- 4.0 ----------------------------------------------------------------------------------

void TqorNFCeDanfceDados40::GetDadosIdNF(const TNotaDanfce& nota) {
  TqorNFCeDanfceDados30::GetDadosIdNF(nota);
  const XmlElement* ide = Filho(nota.infNFe, "ide");
  Set("hSaida", TextoFilho(ide, "hSaiEnt"));
  if (GetTpEmis(nota) > 1) {
    const std::string& xJust = TextoFilho(ide, "xJust");
    Set("FraseContingencia", Format("%s [%s]", {GetFraseContingencia(), xJust}));
    Set("dhContingencia", TextoFilho(ide, "dhCont"));
    Set("JustContingencia", xJust);
  }
}

void TqorNFCeDanfceDados40::GetDadosItem(const XmlElement& det, const std::string& nItem) {
  TqorNFCeDanfceDados30::GetDadosItem(det, nItem);
  const XmlElement* imposto = Filho(&det, "imposto");
  if (const XmlElement* csosn = Busca(Filho(imposto, "ICMS"), "CSOSN")) {
    SetItem("ItemCST", csosn->text);
  }
  if (Filho(imposto, "ISSQN") != nullptr) SetItem("ItemCST", "");
}

void TqorNFCeDanfceDados40::GetDadosTransp(const XmlElement* transp) {
  TqorNFCeDanfceDados30::GetDadosTransp(transp);
  const std::string modFrete = TextoFilho(transp, "modFrete");
  std::string descricao = modFrete;
  if (modFrete == "0") descricao += "-Emitente";
  if (modFrete == "1") descricao += "-Dest/Rem";
  if (modFrete == "2") descricao += "-Terceiros";
  if (modFrete == "9") descricao += "-Sem Frete";
  Set("TraDescMod", std::move(descricao));
}

// ---- 6.0 ----------------------------------------------------------------------------------

void TqorNFCeDanfceDados60::GetDadosIdNF(const TNotaDanfce& nota) {
  TqorNFCeDanfceDados40::GetDadosIdNF(nota);
  const XmlElement* supl = nota.nfe != nullptr ? Filho(nota.nfe, "infNFeSupl") : nullptr;
  Set("URLChave", TextoFilho(supl, "urlChave"));
}

}  // namespace qor
