// The rule engine and its catalogue on the demo samples converted into a container. For every
// code of every set, a note that fails the rule run alone ("only:CODE") with the set's code and
// cStat, and the same note corrected passing it; then the rules that shadow others, the sets, the
// clock, the exception list, the hooks of Salvar and rules run together.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <clocale>
#include <ctime>
#include <map>
#include <ostream>
#include <set>
#include <typeinfo>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"
#include "rules/CatalogoRegras.h"
#include "rules/RegrasEmitenteDestinatario.h"
#include "rules/RegrasIdentificacao.h"
#include "rules/RegrasNFCe.h"
#include "rules/RegrasTotais.h"
#include "rules/TqorControllerRulesNFCe.h"
#include "support/Expect.h"

namespace qor {
namespace {

using test::MessageOf;
using V = TVersaoManual;
using Relogio = std::chrono::system_clock::time_point;

const std::string kDicionario =
    std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/Conversor/NFCeDataSets.xml";
// The present of the catalogue's runs: 2026-12-07 10:35:00 at -03:00; the base note was issued
// two minutes before.
const Relogio kAgora = std::chrono::sys_days(std::chrono::year(2026) / 12 / 7) +
                       std::chrono::hours(13) + std::chrono::minutes(35);
const std::string kEmissao = "2026-12-07T10:33:00-03:00";
const char* const kBase = "nfce-varios-itens.tx2";
constexpr V kConjuntos[] = {V::vm50, V::vm50a, V::vm50b, V::vm60};
const char* Nome(V v) { return std::array{"vm50", "vm50a", "vm50b", "vm60"}[static_cast<int>(v)]; }

// "AAAA-MM-DDThh:mm:ss-03:00" of an instant.
std::string EmBrasilia(Relogio instante) {
  const std::time_t t = std::chrono::system_clock::to_time_t(instante - std::chrono::hours(3));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[32];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%S-03:00", &tm);
  return texto;
}

// A sample's TX2 text, with dhEmi_B09 replaced by `dhEmi` when given.
std::string Tx2(const std::string& arquivo, const std::string& dhEmi) {
  std::string tx2 = LoadFromFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/" + arquivo);
  const std::size_t inicio = tx2.find("dhEmi_B09=");
  if (!dhEmi.empty()) tx2.replace(inicio, tx2.find('\n', inicio) - inicio, "dhEmi_B09=" + dhEmi);
  return tx2;
}

// A sample converted (rules off): the base note issued at kEmissao unless told otherwise.
std::unique_ptr<TqorNFCeDataSets> Amostra(const std::string& arquivo = kBase,
                                          const std::string& dhEmi = kEmissao) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(Tx2(arquivo, dhEmi));
  std::unique_ptr<TqorNFCeDataSets> ds;
  parser.Converter(ds);
  return ds;
}

// Places H (and so every item group) on item `n` (1-based).
void IrParaItem(TqorNFCeDataSets& ds, int n) {
  TXmlDataSetNFCe& h = ds.FindDataSet("H");
  h.First();
  for (int i = 1; i < n; ++i) h.Next();
}

// Applies changes written "[item:][+|!]campo=valor" or "-GRUPO": the item's records (the note's
// when no item is given); "+" writes into a new record of the field's group; "!" leaves the
// record unposted, as a host that has not saved it yet (how a required field reads empty);
// "-GRUPO" drops every record of the group. Consecutive changes of one group share a post.
void Aplicar(TqorNFCeDataSets& ds, const std::vector<std::string>& alteracoes) {
  TXmlDataSetNFCe* pendente = nullptr;
  bool postar = true;
  const auto fechar = [&] {
    if (pendente && postar && pendente->Editing()) pendente->Post();
    pendente = nullptr;
  };
  for (std::string alteracao : alteracoes) {
    if (const std::size_t dois = alteracao.find(':');
        dois != std::string::npos && dois < alteracao.find('=')) {
      fechar();
      IrParaItem(ds, std::stoi(alteracao.substr(0, dois)));
      alteracao.erase(0, dois + 1);
    }
    if (alteracao[0] == '-') {
      fechar();
      ds.FindDataSet(alteracao.substr(1)).Empty();
      continue;
    }
    const bool novo = alteracao[0] == '+';
    const bool semPost = alteracao[0] == '!';
    if (novo || semPost) alteracao.erase(0, 1);
    const std::size_t igual = alteracao.find('=');
    TqorNFCeXMLField& campo = ds.Campo(alteracao.substr(0, igual));
    TXmlDataSetNFCe& grupo = campo.DataSet();
    if (&grupo != pendente || novo) fechar();
    if (!grupo.Editing()) {
      if (novo || grupo.RecordCount() == 0) {
        grupo.Append();
      } else {
        grupo.Edit();
      }
    }
    // Written to the table as it is: the dataset refuses a number its type does not match, and
    // the rules must still cope with a reader that hands them one ("1,5").
    grupo.SetValue(campo.Index(), alteracao.substr(igual + 1));
    pendente = &grupo;
    postar = !semPost;
  }
  fechar();
}

// Runs a set on the note under the exception list; the failure message ("" when it passes, and
// marked when another class was raised). vm50, vm50b and vm60 go through the controller with a
// schema package of that manual version; no package selects vm50a, whose rules run one by one
// under the controller's exception list, as any set's do when `umaAUma` (each walking the items
// alone).
std::string Executar(TqorNFCeDataSets& ds, V conjunto, const std::string& excecoes,
                     Relogio agora = kAgora, bool umaAUma = false) {
  TqorControllerRulesNFCe controller;
  controller.SetExcecoesDeRegras(excecoes);
  const auto relogio = [agora] { return agora; };
  try {
    if (umaAUma || conjunto == V::vm50a) {
      for (const auto& regra : TqorControllerRulesNFCe::CarregarRegras(conjunto)) {
        regra->SetDataSet(&ds.Modelo());
        regra->SetRelogio(relogio);
        if (!controller.EstaNaListaDeExcecoes(regra->GetCodigo())) regra->execute();
      }
    } else {
      static const std::map<V, TVersaoEsquema> kPacote = {{V::vm50, TVersaoEsquema::pl_006n},
                                                          {V::vm50b, TVersaoEsquema::pl_008h},
                                                          {V::vm60, TVersaoEsquema::pl_009g}};
      controller.SetNFCeDataSet(&ds.Modelo());
      controller.SetVersaoEsquema(kPacote.at(conjunto));
      controller.SetRelogio(relogio);
      controller.AplicarRegras();
    }
  } catch (const EqorNFCeRuleException& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("(outra classe) ") + e.what();
  }
  return {};
}

// Whether `mensagem` is the failure of rule `codigo` (with its cStat when given).
bool FalhaDe(const std::string& mensagem, const std::string& codigo,
             const std::string& cStat = {}) {
  return mensagem.rfind("[" + codigo + "]" + (cStat.empty() ? "" : ": " + cStat), 0) == 0;
}

// Changes written "alteração; alteração" in a table row.
std::vector<std::string> Lista(const std::string& texto) {
  std::vector<std::string> lista;
  for (std::size_t inicio = 0, fim; inicio < texto.size(); inicio = fim + 2) {
    fim = std::min(texto.find("; ", inicio), texto.size());
    lista.push_back(texto.substr(inicio, fim - inicio));
  }
  return lista;
}

struct Caso {
  const char* codigo;
  const char* cStat;
  std::string falha;     // changes that make the base note fail
  std::string correcao;  // changes on the failing note that make it pass; none means the base
                         // note passes
};

const std::string kHomologacaoNome = "NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";
const std::string kEndereco =
    "xLgr_E06=Rua B; nro_E07=1; xBairro_E09=Centro; cMun_E10=3550308; xMun_E11=Sao Paulo";

// Municipality codes: 3550309 has a wrong digit, 3304557 is in RJ, 2201919 is one of the IBGE
// codes whose digit falls outside the rule (the correction of every digit rule).
const std::vector<Caso> kCasos = {
    // ---- identification ----
    {"GA03", "502", "cDV_B23=9", ""},
    {"GB23", "253", "Id_A03=NFe35261211222333000181650010000010021123456780", ""},
    {"GB07", "266", "serie_B07=890", "serie_B07=889"},
    {"GB26_1", "266", "serie_B07=890", "procEmi_B26=1"},
    {"GB07_1", "503", "tpEmis_B22=3", "serie_B07=900"},
    {"GB09.1", "703", "dhEmi_B09=2026-12-07T10:29:59-03:00", "dhEmi_B09=2026-12-07T07:40:00-06:00"},
    {"GB09_4", "704", "dhEmi_B09=2026-12-07T10:40:01-03:00", "dhEmi_B09=2026-12-07T10:40:00-03:00"},
    {"GB09_5", "776", "tpEmis_B22=9; dhEmi_B09=2026-11-30T23:59:59-03:00",
     "dhEmi_B09=2026-12-01T00:00:00-03:00"},
    {"GB11", "706", "tpNF_B11=0", ""},
    {"GB11a", "707", "idDest_B11a=2", ""},
    {"GB12", "270", "cMunFG_B12=3550309", "cMunFG_B12=2201919"},
    {"GB12.1", "271", "cMunFG_B12=3304557", ""},
    {"GB12a", "708", "+refNFe_BA02=35261211222333000181650010000010021123456789", ""},
    {"GBA01", "708", "+mod_BA21=2D; nECF_BA22=001; nCOO_BA23=000123", ""},
    {"GB21", "709", "tpImp_B21=1", "tpImp_B21=5"},
    {"GB25_NFCe", "715", "finNFe_B25=2", "finNFe_B25=4"},
    {"GB25a", "716", "indFinal_B25a=0", ""},
    {"GB25b", "717", "indPres_B25b=2", "indPres_B25b=4"},
    {"GB26", "451", "procEmi_B26=1", "serie_B07=899"},
    {"GB26_3", "370", "procEmi_B26=2; serie_B07=890; tpEmis_B22=9", "tpEmis_B22=1"},
    {"GB22.1", "557", "tpEmis_B22=9; dhCont_B28=2026-12-07T10:00:00-03:00",
     "xJust_B29=Sem conexao com a SEFAZ autorizadora"},
    {"GB28", "558", "dhCont_B28=2026-12-07T10:33:01-03:00", "dhCont_B28=2026-12-07T09:33:00-04:00"},
    {"GB28a", "569", "dhCont_B28=2026-11-06T23:59:59-03:00",
     "dhCont_B28=2026-11-07T00:00:00-03:00"},
    {"GB22_3", "570", "tpEmis_B22=6", "tpEmis_B22=9"},
    {"GB22_5", "782", "tpEmis_B22=3", ""},
    {"GB22_6", "713", "tpEmis_B22=7", "xJust_B29=Sem conexao com a SEFAZ autorizadora"},
    {"GB06_2", "765", "mod_B06=55", ""},
    {"GB06_4", "775", "mod_B06=55", ""},
    {"GB22_34", "714", "tpEmis_B22=5", "tpEmis_B22=4"},
    // ---- issuer, recipient, places ----
    {"GC02", "207", "CNPJ_C02=11222333000182", ""},
    {"GC02a.1", "401", "CPF_C02a=12345678900", "CPF_C02a=12345678909"},
    {"GC02_a4", "337", "CPF_C02a=12345678909", ""},
    {"GC10", "272", "cMun_C10=3550301", "cMun_C10=2201919"},
    {"GC10.1", "273", "cMun_C10=3304557", ""},
    {"GC17", "229", "!IE_C17=", "IE_C17=ISENTO"},
    {"GC18", "718", "IEST_C18=123456789", ""},
    {"GD01", "403", "CNPJ_D02=00394460005887; xOrgao_D03=SEFAZ", "procEmi_B26=1; serie_B07=890"},
    {"GD01_2", "369", "procEmi_B26=1; serie_B07=890", "CNPJ_D02=00394460005887"},
    {"GE02.2", "208", "CNPJ_E02=33444555000182", "CNPJ_E02=NULL"},
    {"GE02_20", "220", "CNPJ_E02=11222333000181", "CNPJ_E02=33444555000181"},
    {"GE03", "237", "CPF_E03=12345678900", "CPF_E03=12345678909"},
    {"GE03a_60", "372", "idEstrangeiro_E03a=AB#123", "idEstrangeiro_E03a=Ab-1/2(3).4:5+"},
    {"GE04", "598", "CPF_E03=12345678909; xNome_E04=JOSE DA SILVA",
     "xNome_E04=" + kHomologacaoNome},
    {"GE10", "274", "xLgr_E06=Rua B; UF_E12=SP; cMun_E10=3550309", "cMun_E10=2201919"},
    {"GE10.1", "275", "xLgr_E06=Rua B; UF_E12=SP; cMun_E10=3304557", "UF_E12=EX"},
    {"GE12", "773", "xLgr_E06=Rua B; UF_E12=RJ", "idDest_B11a=2"},
    {"GE14_1", "511", "xLgr_E06=Rua B; cPais_E14=1600", "idDest_B11a=3"},
    {"GE18-a", "730", "ISUF_E18=123456789", ""},
    {"GE01_2", "787", "indPres_B25b=4", "CPF_E03=12345678909"},
    {"GE05_2", "788", "indPres_B25b=4; " + kEndereco, "UF_E12=SP"},
    {"GF02", "512", "CNPJ_F02=33444555000182", "CNPJ_F02=33444555000181"},
    {"GF02a", "540", "CPF_F02a=12345678900", "CPF_F02a=NULL"},
    {"GF07", "513", "UF_F09=EX; cMun_F07=3550308", "cMun_F07=9999999"},
    {"GF07.1", "276", "UF_F09=SP; cMun_F07=3550309", "cMun_F07=2201919"},
    {"GF07.2", "277", "UF_F09=SP; cMun_F07=3304557", "UF_F09=RJ"},
    {"GG02", "514", "CNPJ_G02=33444555000182", ""},
    {"GG02a", "541", "CPF_G02a=12345678900", ""},
    {"GG07", "515", "UF_G09=EX; cMun_G07=3550308", "cMun_G07=9999999"},
    {"GG07.1", "278", "UF_G09=SP; cMun_G07=3550309", "cMun_G07=2201919"},
    {"GG07.2", "279", "UF_G09=RJ; cMun_G07=3550308", "UF_G09=SP"},
    // ---- items ----
    {"GI03", "611", "2:cEAN_I03=7896006711118", "2:cEAN_I03=SEM GTIN"},
    {"GI12", "612", "3:cEANTrib_I12=7896006711110", ""},
    {"GI04_1", "373", "1:xProd_I04=ARROZ", "tpAmb_B24=1"},
    {"GI05_4", "793", "2:NCM_I05=99", "2:NCM_I05=00"},
    {"GI08_160", "374", "2:CFOP_I08=5933", "2:cMunFG_U05=3550308"},
    {"GI08_170", "374", "2:cMunFG_U05=3550308", "2:CFOP_I08=5933"},
    {"GI17_100", "483", "2:vDesc_I17=22.91", "2:vDesc_I17=22.90"},
    {"GI08.1", "519", "tpNF_B11=0", ""},
    {"GI08.1c", "733", "idDest_B11a=2", ""},
    {"GI08.4", "522", "xLgr_E06=Rua B; UF_E12=RJ", "UF_E12=SP"},
    {"GI08.5", "523", "UF_E12=SP; 4:CFOP_I08=6102", "4:CFOP_I08=5102"},
    {"GI08.6", "524", "2:CFOP_I08=7102; 2:NCM_I05=1006302", "2:NCM_I05=10063021"},
    {"GI08.7", "525", "2:CFOP_I08=3102", "2:+nDI_I19=2612345678"},
    {"GI08.7a", "597", "2:CFOP_I08=3201; 2:cEnq_O06=999", "2:CFOP_I08=3102"},
    {"GI08.7b", "599", "2:CFOP_I08=3503; 2:vII_P04=1.00", "2:vII_P04="},
    {"GI08.8", "526", "2:CFOP_I08=7102", "UFSaidaPais_ZA02=SP; xLocExporta_ZA03=Santos"},
    {"GI08.9", "725", "2:CFOP_I08=5106", ""},
    {"GI08.04", "770", "2:CFOP_I08=5199", "2:CFOP_I08=5949"},
    {"GI10.a", "629", "2:vUnCom_I10a=22.8800000000", "2:vUnCom_I10a=22.8900000000"},
    {"GI10.a1", "630", "2:vUnTrib_I14a=22.8800000000", "2:vUnTrib_I14a=22.9100000000"},
    {"GI14.a", "630", "2:vUnTrib_I14a=22.8800000000", "finNFe_B25=4"},
    {"GI17b", "774", "2:indTot_I17b=0", ""},
    {"GI50.10", "336", "2:nDraw_I51=12345678901", "idDest_B11a=3"},
    {"GJ01", "736", "1:tpOp_J02=1", ""},
    {"GL01", "738", "1:tpArma_L02=0", ""},
    {"GL101", "739", "4:cProdANP_LA02=210203001", ""},
    {"GLA16_10", "380", "4:vEncIni_LA15=100.000; 4:vEncFin_LA16=100.000", "4:vEncFin_LA16=100.001"},
    {"GN12_1", "590", "CRT_C21=1", ""},
    {"GN12_1a", "766", "2:CST_N12=50", ""},
    {"GN12_1b", "740", "2:CST_N12=51", ""},
    {"GN12_1c", "741", "2:UFST_N24=RJ", ""},
    {"GN12a", "591", "2:CSOSN_N12a=102", "CRT_C21=4"},
    {"GN17", "528", "1:vICMS_N17=2.63", "1:vICMS_N17=2.62"},
    {"GN28", "625", "2:motDesICMS_N28=7", "ISUF_E18=123456789"},
    {"GN28.2", "627", "4:motDesICMS_N28=9", "4:vICMSDeson_N28a=1.00"},
    {"GN28_20", "626", "2:motDesICMS_N28=7", "2:CFOP_I08=6109"},
    {"GN12_30", "766", "2:CST_N12=10", "2:CST_N12=41"},
    {"GN12_34", "381", "1:CST_N12=90; 1:modBCST_N18=4", "1:modBCST_N18="},
    {"GN12_40", "382", "1:CFOP_I08=5405", "1:CFOP_I08=5115"},
    {"GN12_44", "382", "3:CFOP_I08=5102", "3:CFOP_I08=5667"},
    {"GN12a_20", "383", "2:CSOSN_N12a=101", "2:CSOSN_N12a=103"},
    {"GN12a_34", "385", "2:CSOSN_N12a=900; 2:modBCST_N18=4", "2:CSOSN_N12a=500"},
    {"GN12a_40", "386", "2:CSOSN_N12a=102; 2:CFOP_I08=5405", "2:CFOP_I08=5104"},
    {"GN12a_44", "386", "2:CSOSN_N12a=500", "2:CFOP_I08=5656"},
    {"GN23.10", "806", "2:CST_N12=10; 2:vICMSST_N23=1.00", "2:CEST_I05c=0300700"},
    {"NA01_10", "807", "2:vBCUFDest_NA03=22.90", ""},
    {"GO01", "742", "1:cEnq_O06=999", ""},
    {"GO07", "529", "2:CST_O09=50; 2:NCM_I05=00", "2:NCM_I05=10063021"},
    {"GO09_10", "388", "1:CST_O09=02; 1:cEnq_O06=999", "1:cEnq_O06=301"},
    {"GP01", "743", "1:vII_P04=1.00", ""},
    {"GR01", "746", "1:vPIS_R06=1.00", ""},
    {"GT01", "749", "1:vCOFINS_T06=1.00", ""},
    {"GU01", "530", "2:cMunFG_U05=3550308", "IM_C19=12345"},
    {"GU01_1", "592", "-N", "UF_C12=DF"},
    {"GU05", "287", "1:cMunFG_U05=3550309", "1:cMunFG_U05=2201919"},
    {"GU14_10", "390", "1:cMun_U14=3550309", "1:cMun_U14=2201919"},
    // ---- totals ----
    {"GW03", "531", "vBC_W03=18.42", "vBC_W03=17.41"},
    {"GW04", "532", "vICMS_W04=3.73", "vICMS_W04=3.72"},
    {"GW04a_10", "795", "vICMSDeson_W04a=0.51", "vICMSDeson_W04a=0.50"},
    {"GW05", "533", "vBCST_W05=0.51", "vBCST_W05=0.50"},
    {"GW06", "534", "vST_W06=0.51", ""},
    {"GW07", "564", "vProd_W07=82.03", "vProd_W07=82.04"},
    {"GW08", "535", "vFrete_W08=0.51", ""},
    {"GW09", "536", "vSeg_W09=0.51", ""},
    {"GW10", "537", "vDesc_W10=0.51", ""},
    {"GW11", "601", "vII_W11=0.51", ""},
    {"GW12", "538", "vIPI_W12=0.51", ""},
    {"GW13", "602", "vPIS_W13=0.81", "vPIS_W13=0.80"},
    {"GW14", "603", "vCOFINS_W14=1.88", ""},
    {"GW15", "604", "vOutro_W15=0.51", ""},
    {"W04b_10", "861", "vFCP_W04h=0.01", "2:vFCP_N17c=0.01"},
    {"GW16", "610", "vNF_W16=83.05", ""},
    {"GW16b", "750", "vNF_W16=10000.01", "vNF_W16=10000.00"},
    {"GW16c", "751", "vNF_W16=10000.01", "xNome_E04=JOSE DA SILVA"},
    {"GW16d", "752", "vNF_W16=10000.01", "xMun_E11=Sao Paulo"},
    {"GW16e", "767", "vPag_YA03=83.55", "vPag_YA03=83.54"},
    {"GW16_30", "780", "vNF_W16=200000.01", "vNF_W16=200000.00"},
    {"GW18", "605", "2:cMunFG_U05=3550308", "vServ_W18=22.90"},
    {"GW19", "606", "vBC_W19=0.51", ""},
    {"GW20", "607", "vISS_W20=0.51", ""},
    {"GW21", "608", "vPIS_W21=0.51", "1:cMunFG_U05=3550308"},
    {"GW22", "609", "vCOFINS_W22=0.51", "1:cMunFG_U05=3550308"},
    {"GW22b_1", "364", "vDeducao_W22b=1.01", "vDeducao_W22b=1.00"},
    {"GW22c_1", "365", "vOutro_W22c=1.01", "1:vOutro_U08=0.01"},
    {"GW22d_1", "366", "vDescIncond_W22d=1.01", ""},
    {"GW22e_1", "367", "vDescCond_W22e=1.01", ""},
    {"GW22f_1", "368", "vISSRet_W22f=1.01", ""},
    // ---- transport, payment, export, purchase ----
    {"GX02", "753", "modFrete_X02=0", "indPres_B25b=4"},
    {"GX03", "754", "xNome_X06=TRANSPORTES LTDA", "indPres_B25b=4"},
    {"GX03_2", "786", "CPF_X05=12345678909", "indPres_B25b=4"},
    {"GX04_1", "362", "3:CFOP_I08=5656; modFrete_X02=0", "CNPJ_X04=33444555000181"},
    {"GX11", "755", "vServ_X12=10.00", ""},
    {"GX18", "756", "placa_X19=ABC1234", ""},
    {"GX22", "757", "placa_X23=XYZ9876", ""},
    {"GX25a", "758", "vagao_X25a=V1", ""},
    {"GX25b", "759", "balsa_X25b=B1", ""},
    {"GY01", "760", "nFat_Y03=123", ""},
    {"GYA01b", "769", "-YA", "+tPag_YA02=01; vPag_YA03=82.54"},
    {"GYA04a_10", "496", "tBand_YA06=01", "tpIntegra_YA04a=2"},
    {"YA02-10", "857", "+tPag_YA02=14; vPag_YA03=1.00", "tPag_YA02=15"},
    {"YA03_10", "865", "vPag_YA03=82.53; vTroco_YA09=", "+tPag_YA02=01; vPag_YA03=0.01"},
    {"YA03_20", "866", "vTroco_YA09=", "vTroco_YA09=17.46"},
    {"YA09_10", "869", "vTroco_YA09=17.45", "vPag_YA03=99.99"},
    {"GZA01_1", "355", "idDest_B11a=3", "UFSaidaPais_ZA02=SP; xLocExporta_ZA03=Santos"},
    {"GZA01_2", "356", "xLocDespacho_ZA04=Santos", "idDest_B11a=3"},
    {"GZA01_30", "814", "UFEmbarq_ZA02=SP", ""},
    {"GZA01_41", "814", "xLocExporta_ZA03=Santos", ""},
    {"GZB01", "762", "xPed_ZB03=123", ""},
    {"GZC01", "763", "+safra_ZC02=2026/2027", ""},
};

TEST(RuleCatalogue, EveryCodeOfEverySetFailsItsNoteAndPassesItCorrected) {
  std::map<std::string, const Caso*> porCodigo;
  for (const Caso& caso : kCasos) porCodigo[caso.codigo] = &caso;
  std::set<std::pair<std::string, V>> cobertos, esperados;
  for (V conjunto : kConjuntos) {
    for (std::string_view codigo : OrdemRegras(conjunto)) esperados.emplace(codigo, conjunto);
  }
  // The rule that cannot fail is tested on its own below.
  for (V conjunto : {V::vm50a, V::vm50b, V::vm60}) cobertos.emplace("GE16a_1", conjunto);

  for (const auto& [codigo, caso] : porCodigo) {
    SCOPED_TRACE(codigo);
    auto falha = Amostra();
    Aplicar(*falha, Lista(caso->falha));
    auto corrigida = Amostra();
    if (!caso->correcao.empty()) {
      Aplicar(*corrigida, Lista(caso->falha));
      Aplicar(*corrigida, Lista(caso->correcao));
    }
    const std::string only = "only:" + codigo;
    for (V conjunto : kConjuntos) {
      if (!esperados.count({codigo, conjunto})) continue;
      SCOPED_TRACE(Nome(conjunto));
      cobertos.emplace(codigo, conjunto);
      const std::string mensagem = Executar(*falha, conjunto, only);
      EXPECT_TRUE(FalhaDe(mensagem, codigo, std::string(caso->cStat) + " - Rejeição:")) << mensagem;
      EXPECT_EQ(Executar(*corrigida, conjunto, only), "");
    }
  }
  EXPECT_EQ(cobertos, esperados) << "a code of the order lists has no case, or a case no set";
}

TEST(RuleCatalogue, RulesWithoutADataSetAndGE16a_1) {
  auto contribuinte = Amostra();
  Aplicar(*contribuinte, {"CNPJ_E02=33444555000181", "xNome_E04=" + kHomologacaoNome,
                          "indIEDest_E16a=1", "IE_E17=123456789"});
  for (V conjunto : {V::vm50a, V::vm50b, V::vm60}) {
    EXPECT_EQ(Executar(*contribuinte, conjunto, "only:GE16a_1"), "") << Nome(conjunto);
  }
  TqorNFCeGE16a_1 ge16a("GE16a_1", "indIEDest_E16a", "789", "x");
  TqorNFCeGB22_3 gb22("GB22_3", "tpEmis_B22", "570", "x");
  for (TqorNFCeRule* regra : std::initializer_list<TqorNFCeRule*>{&ge16a, &gb22}) {
    EXPECT_EQ(MessageOf<EqorNFCeRuleException>([&] { regra->execute(); }),
              "DataSet não configurado para validação da NFCe.");
  }
  // The vm50 fuel rule reads the fuel group of any package.
  TqorNFCeGL101 combustivel("GL101", "cProdANP_L102", "739", "combustível");
  combustivel.SetDataSet(&contribuinte->Modelo());
  EXPECT_NO_THROW(combustivel.execute());
  Aplicar(*contribuinte, {"4:cProdANP_LA02=210203001"});
  EXPECT_TRUE(
      FalhaDe(MessageOf<EqorNFCeRuleException>([&] { combustivel.execute(); }), "GL101", "739"));
}

// In a whole set a rule whose fault another rule also sees is reached only past that rule.
TEST(RuleCatalogue, WhichCodeFailsFirstWhereOneRuleShadowsAnother) {
  struct Sombra {
    std::vector<std::string> falha;
    std::string excecoes;  // besides the shadowing rule
    const char* primeira;
    const char* seguinte;
  };
  const Sombra sombras[] = {
      {{"dhEmi_B09=2026-12-07T10:20:00-03:00"}, "", "GB09.1", "GB09_4"},
      {{"tpEmis_B22=3", "serie_B07=900"}, "GB26_1,", "GB22_3", "GB22_5"},
      {{"tpEmis_B22=6"}, "", "GB22_3", "GB22_6"},
      {{"mod_B06=55"}, "", "GB06_2", "GB06_4"},
      {{"+refNFe_BA02=35261211222333000181650010000010021123456789"}, "", "GB12a", "GBA01"},
      {{"2:vUnTrib_I14a=22.8800000000"}, "", "GI10.a1", "GI14.a"},
  };
  for (V conjunto : {V::vm50a, V::vm50b, V::vm60}) {
    for (const Sombra& sombra : sombras) {
      SCOPED_TRACE(std::string(Nome(conjunto)) + " " + sombra.primeira);
      auto ds = Amostra();
      // The sets before layout 4.00 know no change: the payments add up to the total.
      if (conjunto != V::vm60) Aplicar(*ds, {"vPag_YA03=82.54", "vTroco_YA09="});
      Aplicar(*ds, sombra.falha);
      const std::string primeira = Executar(*ds, conjunto, sombra.excecoes);
      EXPECT_TRUE(FalhaDe(primeira, sombra.primeira)) << primeira;
      const std::string seguinte = Executar(*ds, conjunto, sombra.excecoes + sombra.primeira);
      EXPECT_TRUE(FalhaDe(seguinte, sombra.seguinte)) << seguinte;
    }
  }
}

// Each set holds its catalogue rows in the set's order, with the set's version and text, under
// the set's code; the schema package selects the set.
TEST(RuleCatalogue, SetsFollowTheSchemaPackageAndHoldTheirRulesInOrder) {
  const std::map<V, std::size_t> tamanhos = {
      {V::vm50, 113}, {V::vm50a, 140}, {V::vm50b, 159}, {V::vm60, 162}};
  for (V conjunto : kConjuntos) {
    const auto regras = TqorControllerRulesNFCe::CarregarRegras(conjunto);
    ASSERT_EQ(regras.size(), tamanhos.at(conjunto)) << Nome(conjunto);
    const auto& ordem = OrdemRegras(conjunto);
    for (std::size_t i = 0; i < regras.size(); ++i) {
      EXPECT_EQ(regras[i]->GetCodigo(), ordem[i]) << Nome(conjunto) << " " << i;
      EXPECT_EQ(regras[i]->GetVersaoManual(), conjunto) << regras[i]->GetCodigo();
    }
  }
  const auto vm50 = TqorControllerRulesNFCe::CarregarRegras(V::vm50);
  const auto vm60 = TqorControllerRulesNFCe::CarregarRegras(V::vm60);
  const auto mensagemDe = [](const auto& regras, const std::string& codigo) {
    for (const auto& r : regras) {
      if (r->GetCodigo() == codigo) return r->GetMensagem();
    }
    return std::string("(ausente)");
  };
  EXPECT_EQ(mensagemDe(vm50, "GB12"),
            "Rejeição: Código Município do fato gerador: dígito inválido");
  EXPECT_EQ(mensagemDe(vm60, "GB12"),
            "Rejeição: Código Município do fato gerador de ICMS inexistente");
  EXPECT_EQ(mensagemDe(vm50, "GW16_30"), "(ausente)");
  EXPECT_EQ(mensagemDe(vm60, "GL101"), "(ausente)");
  // The same class under the code of its set: the series rule is GB07 in vm50 only.
  EXPECT_EQ(vm50[1]->GetCodigo(), "GB07");
  EXPECT_EQ(vm60[1]->GetCodigo(), "GB26_1");
  EXPECT_EQ(typeid(*vm50[1]), typeid(TqorNFCeGB26_1));
  EXPECT_EQ(typeid(*vm60[1]), typeid(TqorNFCeGB26_1));
  auto ds = Amostra();
  Aplicar(*ds, {"serie_B07=890"});
  EXPECT_TRUE(FalhaDe(Executar(*ds, V::vm50, ""), "GB07", "266"));
  EXPECT_TRUE(FalhaDe(Executar(*ds, V::vm60, ""), "GB26_1", "266"));
  // "only:" runs that rule alone: the series fault is not seen under another code.
  EXPECT_EQ(Executar(*ds, V::vm60, "only:GB07_1"), "");

  using P = TVersaoEsquema;
  const std::pair<P, V> pacotes[] = {{P::pl_006n, V::vm50},
                                     {P::pl_007a, V::vm50},
                                     {P::pl_008a, V::vm50b},
                                     {P::pl_008i1, V::vm50b},
                                     {P::pl_009, V::vm60}};
  for (const auto& [pacote, conjunto] : pacotes) {
    EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(pacote), conjunto);
  }
  TqorNFCeDataSets semManual;
  semManual.SetVersaoEsquema(P::pl_008c);
  semManual.SetXMLDicionario(kDicionario);
  EXPECT_EQ(MessageOf<EqorNFCeVersaoManualException>(
                [&] { semManual.AplicarRegrasDeNegocio(TTipoRegraKind::rkMarqon); }),
            "A Versão de Esquema não está referenciada a nenhuma versão de Manual de "
            "Integração.");
}

TEST(RuleCatalogue, TheClockRulesReadTheInjectedClock) {
  using namespace std::chrono;
  auto ds = Amostra(kBase, "2026-12-07T23:58:00-03:00");
  const Relogio meiaNoite = sys_days(year(2026) / 12 / 8) + hours(3) + minutes(1);  // 00:01
  EXPECT_EQ(Executar(*ds, V::vm60, "only:GB09.1", meiaNoite), "");
  EXPECT_TRUE(FalhaDe(Executar(*ds, V::vm60, "only:GB09.1", meiaNoite + minutes(3)), "GB09.1"));
  // Without a clock the rules read the system clock: a note stamped now passes.
  auto agora = Amostra(kBase, EmBrasilia(system_clock::now()));
  TqorControllerRulesNFCe controller;
  controller.SetNFCeDataSet(&agora->Modelo());
  controller.SetExcecoesDeRegras("only:GB09_4");
  EXPECT_NO_THROW(controller.AplicarRegras());
  // A malformed date is reported, not read as another one.
  Aplicar(*agora, {"dhCont_B28=07/12/2026 10:00"});
  EXPECT_NE(MessageOf<EqorNFCeRuleException>([&] {
              controller.SetExcecoesDeRegras("only:GB28");
              controller.AplicarRegras();
            }).find("'07/12/2026 10:00' não é uma data e hora válida"),
            std::string::npos);
}

TEST(RuleCatalogue, TheDemoSamplesPassTheWholeVm60Set) {
  for (const char* exemplo :
       {"nfce-um-item-dinheiro.tx2", "nfce-varios-itens.tx2", "nfce-cartao-troco.tx2",
        "nfce-consumidor-identificado.tx2", "nfce-simples-nacional.tx2"}) {
    auto ds = Amostra(exemplo, EmBrasilia(kAgora - std::chrono::minutes(1)));
    EXPECT_EQ(Executar(*ds, V::vm60, ""), "") << exemplo;
  }
}

// ---- the container's own runs, on the system clock: the sample is stamped with the present

std::string Falha(TqorNFCeDataSets& ds, const std::string& excecoes) {
  ds.SetExcecoesDeRegras(excecoes);
  return MessageOf<EqorNFCeRuleException>(
      [&] { ds.AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz); });
}

void Passa(TqorNFCeDataSets& ds, const std::string& excecoes) {
  ds.SetExcecoesDeRegras(excecoes);
  EXPECT_NO_THROW(ds.AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz)) << excecoes;
}

TEST(RuleEngine, FailureMessageExceptionListOnlyAndOrder) {
  auto ds = Amostra(kBase, EmBrasilia(std::chrono::system_clock::now()));
  Passa(*ds, "");  // every rule of the set on the sample
  Aplicar(*ds, {"2:cEAN_I03=7896006711118", "4:cEAN_I03=7896006711118", "cMunFG_B12=3550309"});
  // GB12 runs before GI03; skipping it (even through a longer code that holds it) shows GI03,
  // reported for the first invalid item.
  EXPECT_TRUE(FalhaDe(Falha(*ds, ""), "GB12", "270"));
  EXPECT_TRUE(FalhaDe(Falha(*ds, "GB12.1"), "GI03", "611"));
  EXPECT_EQ(ds->FindDataSet("H").Value("nItem_H02"), "2");
  Passa(*ds, "GB12,GI03");
  Passa(*ds, "ONLY:GB23");
  EXPECT_TRUE(FalhaDe(Falha(*ds, "only:GI03"), "GI03"));
  // "only:" with no code runs everything but the listed codes.
  EXPECT_TRUE(FalhaDe(Falha(*ds, "only:"), "GB12"));
  Aplicar(*ds, {"cDV_B23=9"});
  EXPECT_EQ(Falha(*ds, "only:GA03"),
            "[GA03]: 502 - Rejeição: Erro na Chave de Acesso - Campo ID não corresponde à "
            "concatenação dos campos correspondentes.\r\nVerifique o Campo: ID_A03");
}

TEST(RuleEngine, NumbersAndMunicipalityCodesIndependentOfTheLocale) {
  const char* anterior = std::setlocale(LC_ALL, nullptr);
  const std::string salvo = anterior ? anterior : "C";
  if (!std::setlocale(LC_ALL, "pt_BR.UTF-8")) {
    GTEST_SKIP() << "locale pt_BR.UTF-8 not installed (scripts/bootstrap generates it)";
  }
  auto ds = Amostra(kBase, EmBrasilia(std::chrono::system_clock::now()));
  Aplicar(*ds, {"vNF_W16=200000.00"});
  Passa(*ds, "only:GW16_30");
  Aplicar(*ds, {"vNF_W16=200000.01"});
  EXPECT_TRUE(FalhaDe(Falha(*ds, "only:GW16_30"), "GW16_30", "780"));
  Aplicar(*ds, {"vNF_W16=1,5"});
  EXPECT_NE(Falha(*ds, "only:GW16_30").find("'1,5' não é um valor numérico válido"),
            std::string::npos);
  std::setlocale(LC_ALL, salvo.c_str());
  Aplicar(*ds, {"cMunFG_B12=2201919"});
  Passa(*ds, "only:GB12");
}

TEST(RuleEngine, SalvarAppliesTheRulesWhenAsked) {
  std::string tx2 = Tx2(kBase, EmBrasilia(std::chrono::system_clock::now()));
  tx2.replace(tx2.find("cMunFG_B12=3550308"), 18, "cMunFG_B12=3550309");
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  EXPECT_NO_THROW(parser.Converter());  // rules off by default
  parser.DataSets().SetValidaRegrasNegocio(true);
  EXPECT_TRUE(FalhaDe(MessageOf<EqorNFCeRuleException>([&] { parser.Converter(); }), "GB12"));
  parser.DataSets().SetExcecoesDeRegras("GB12");
  EXPECT_NO_THROW(parser.Converter());
  parser.DataSets().SetValidaRegrasNegocio(false);
  parser.DataSets().SetValidaRegrasNegocioMarqon(true);
  parser.DataSets().SetExcecoesDeRegras("");
  EXPECT_THROW(parser.Converter(), EqorNFCeRuleException);
}

// ---- rules run together: how a run ended, its message and where it left the items

struct Desfecho {
  std::string mensagem;
  std::string item;  // nItem_H02 of H's current record
  bool fim = false;  // H past its last item
  bool operator==(const Desfecho&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Desfecho& d) {
  return os << "{\"" << d.mensagem << "\", item " << d.item << (d.fim ? ", fim}" : "}");
}

// The vm60 set through the controller (consecutive item rules, and consecutive total rules, run
// together in one walk of the items), or its rules one after the other.
Desfecho Rodar(TqorNFCeDataSets& ds, const std::string& excecoes, bool umaAUma = false) {
  const std::string mensagem = Executar(ds, V::vm60, excecoes, kAgora, umaAUma);
  TXmlDataSetNFCe& h = ds.FindDataSet("H");
  return {mensagem, h.Value("nItem_H02"), !h.Editing() && h.Eof()};
}

TEST(RuleEngine, RulesRunTogetherReportWhatRunningThemOneByOneWould) {
  // The codes of the item rules, to see the totals alone.
  std::string itens;
  for (const auto& regra : TqorControllerRulesNFCe::CarregarRegras(V::vm60)) {
    if (dynamic_cast<TqorNFCeTemplateItem*>(regra.get())) itens += regra->GetCodigo() + ",";
  }
  const std::pair<std::vector<std::string>, std::string> casos[] = {
      {{}, ""},
      // Item rules of one walk: the earlier rule fails a later item than the later rule.
      {{"2:CST_N12=50", "4:cEANTrib_I12=7896006711118"}, ""},
      // An earlier rule cannot read an item value; a later rule fails an earlier item.
      {{"1:CST_N12=50", "3:vProd_I11=1,5"}, ""},
      // The first rule of the walk fails: the walk stops on its item.
      {{"3:CFOP_I08=5933", "5:CST_N12=50"}, ""},
      // Totals: an item value that cannot be read, then a later rule's total.
      {{"3:vFrete_I15=1,0", "vSeg_W09=x"}, itens},
      // A total that cannot be read, then a later rule's item value.
      {{"vFrete_W08=x", "3:vSeg_I16=1,0"}, itens},
      // The first total rule's total.
      {{"vBC_W03=x", "2:vFrete_I15=1,0"}, itens},
      // A sum off its total, then a later rule's item value.
      {{"vDesc_W10=5.00", "4:vOutro_I17a=1,0"}, itens},
      // H left unposted on item 3: the item rules cannot walk it; the totals sum its pending
      // record alone (GI04_1 reads it as the first item).
      {{"3:!nItem_H02=3"}, ""},
      {{"3:!nItem_H02=3"}, itens + "GI04_1"},
      {{"3:vFrete_I15=1,0", "3:!nItem_H02=3"}, itens + "GI04_1,GW03,GW04,GW07"},
  };
  for (const auto& [alteracoes, excecoes] : casos) {
    SCOPED_TRACE(testing::PrintToString(alteracoes) + (excecoes.empty() ? "" : " (totals)"));
    auto juntas = Amostra();
    auto sozinhas = Amostra();
    Aplicar(*juntas, alteracoes);
    Aplicar(*sozinhas, alteracoes);
    // Twice: a run starts where the last left the items.
    for (int vez = 0; vez < 2; ++vez) {
      EXPECT_EQ(Rodar(*juntas, excecoes), Rodar(*sozinhas, excecoes, true)) << vez;
    }
  }
}

TEST(RuleEngine, ARunReadsItsOwnNote) {
  auto invalida = Amostra();
  Aplicar(*invalida, {"4:cEANTrib_I12=7896006711118"});
  const Desfecho falha = Rodar(*invalida, "");
  EXPECT_TRUE(FalhaDe(falha.mensagem, "GI12", "612")) << falha;
  EXPECT_EQ(falha.item, "4");
  EXPECT_EQ(Rodar(*Amostra(), "").mensagem, "");
  EXPECT_EQ(Rodar(*invalida, ""), falha);
  // The same model with its dictionary loaded again: new groups, an empty note.
  invalida->Modelo().SetXMLDicionario(kDicionario);
  EXPECT_EQ(Rodar(*invalida, ""), Rodar(*invalida, "", true));
  auto outra = Amostra();
  Aplicar(*outra, {"2:cEANTrib_I12=7896006711118"});
  EXPECT_EQ(Rodar(*outra, "").item, "2");
}

}  // namespace
}  // namespace qor
