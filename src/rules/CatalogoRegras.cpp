#include "rules/CatalogoRegras.h"

#include <string>

#include "rules/RegrasNFCe.h"

namespace qor {

namespace {

template <typename Regra>
std::unique_ptr<TqorNFCeRule> Criar(const TRegraCatalogo& row, TVersaoManual versao) {
  return std::make_unique<Regra>(std::string(row.codigo), std::string(row.campo),
                                 std::string(row.cStat), std::string(row.mensagem), versao);
}

}  // namespace

const std::vector<TRegraCatalogo>& CatalogoRegras() {
  static const std::vector<TRegraCatalogo> kCatalogo = {
      {"GA03", Criar<TqorNFCeGA03>, "ID_A03", "502",
       "Rejeição: Erro na Chave de Acesso - Campo ID não corresponde à concatenação dos campos "
       "correspondentes",
       kTodos},
      {"GB12", Criar<TqorNFCeGB12>, "cMunFG_B12", "270",
       "Rejeição: Código Município do fato gerador: dígito inválido", kVm50 | kVm50a},
      {"GB12", Criar<TqorNFCeGB12>, "cMunFG_B12", "270",
       "Rejeição: Código Município do fato gerador de ICMS inexistente", kVm50b | kVm60},
      {"GB23", Criar<TqorNFCeGB23>, "cDV_B23", "253",
       "Rejeição: Dígito Verificador da chave de acesso composta inválida", kTodos},
      {"GB22_3", Criar<TqorNFCeGB22_3>, "tpEmis_B22", "570",
       "Rejeição: Tipo de Emissão 3, 6 ou 7 só é válido nas contingências SCAN/SVC",
       kVm50a | kVm50b | kVm60},
      {"GC10", Criar<TqorNFCeGC10>, "cMun_C10", "272",
       "Rejeição: Código Município deo emitente: Dígito inválido", kVm50 | kVm50a},
      {"GC10", Criar<TqorNFCeGC10>, "cMun_C10", "272",
       "Rejeição: Código Município do emitente inexistente", kVm50b | kVm60},
      {"GE10", Criar<TqorNFCeGE10>, "cMun_E10", "274",
       "Rejeição: Código do Município do Destinatário: dígito inválido", kVm50 | kVm50a},
      {"GE10", Criar<TqorNFCeGE10>, "cMun_E10", "274",
       "Rejeição: Código do Município do Destinatário inexistente", kVm50b | kVm60},
      {"GE10.1", Criar<TqorNFCeGE10_1>, "cMun_E10", "275",
       "Rejeição: Código do Município do Destinatário difere da UF do destinatário", kTodos},
      {"GF07.1", Criar<TqorNFCeGF07_1>, "cMun_F07", "276",
       "Rejeição: Código Município do Local de Retirada: dígito inválido", kVm50 | kVm50a},
      {"GF07.1", Criar<TqorNFCeGF07_1>, "cMun_F07", "276",
       "Rejeição: Código Município do Local de Retirada inexistente", kVm50b | kVm60},
      {"GF07.2", Criar<TqorNFCeGF07_2>, "cMun_F07", "277",
       "Rejeição: Código do Município do Local de Retirada difere da UF do Local de Retirada",
       kTodos},
      {"GG07.1", Criar<TqorNFCeGG07_1>, "cMun_G07", "278",
       "Rejeição: Código Município do Local de Entrega: dígito inválido", kVm50 | kVm50a},
      {"GG07.1", Criar<TqorNFCeGG07_1>, "cMun_G07", "278",
       "Rejeição: Código Município do Local de Entrega inexistente", kVm50b | kVm60},
      {"GG07.2", Criar<TqorNFCeGG07_2>, "cMun_G07", "279",
       "Rejeição: Código do Município do Local de Entrega difere da UF do Local de Entrega",
       kTodos},
      {"GI03", Criar<TqorNFCeGI03>, "cEAN_I03", "611", "Rejeição: cEAN inválido", kTodos},
      {"GI12", Criar<TqorNFCeGI12>, "cEANTrib_I12", "612", "Rejeição: cEANTrib inválido",
       kTodos},
      {"GJ01", Criar<TqorNFCeGJ01>, "tpOp_J02", "736",
       "Rejeição: NFC-e com grupo de Veículos novos", kTodos},
      {"GL01", Criar<TqorNFCeGL01>, "tpArma_L02", "738",
       "Rejeição: NFC-e com grupo de Armamentos", kTodos},
      {"GL101", Criar<TqorNFCeGL101>, "cProdANP_L102", "739",
       "Rejeição: NFC-e com grupo de Combustível", kVm50 | kVm50a},
      {"GN12_1a", Criar<TqorNFCeGN12_1a>, "CST_N12", "766",
       "Rejeição: NFC-e com CST 50-Suspensão", kTodos},
      {"GO01", Criar<TqorNFCeGO01>, "-", "742", "Rejeição: NFC-e com grupo do IPI", kTodos},
      {"GP01", Criar<TqorNFCeGP01>, "-", "743", "Rejeição: NFC-e com grupo do II", kTodos},
      {"GR01", Criar<TqorNFCeGR01>, "-", "746", "Rejeição: NFC-e com grupo do PIS-ST", kTodos},
      {"GT01", Criar<TqorNFCeGT01>, "-", "749", "Rejeição: NFC-e com grupo do COFINS-ST",
       kTodos},
      {"GU05", Criar<TqorNFCeGU05>, "cMunFG_U05", "287",
       "Rejeição: Código do município de ocorrência do fato gerador do ISSQN", kTodos},
      {"GU14_10", Criar<TqorNFCeGU14_10>, "cMun_U14", "390",
       "Rejeição: Nota Fiscal com grupo de devolução de tributos", kVm50b | kVm60},
      {"GW16_30", Criar<TqorNFCeGW16_30>, "vNF_W16", "780",
       "Rejeição: Total da NFC-e superior ao valor limite estabelecido pela SEFAZ",
       kVm50a | kVm50b | kVm60},
  };
  return kCatalogo;
}

const std::vector<std::string_view>& OrdemRegras(TVersaoManual versao) {
  static const std::vector<std::string_view> kVm50List = {
      "GA03",    "GB07",    "GB07_1",  "GB09.1",  "GB09_5",    "GB11",    "GB11a",   "GB12",
      "GB12.1",  "GB12a",   "GB21",    "GB23",    "GB25_NFCe", "GB25a",   "GB25b",   "GB26",
      "GB22.1",  "GB28",    "GB28a",   "GC02",    "GC02a.1",   "GC10",    "GC10.1",  "GC17",
      "GC18",    "GD01",    "GE02.2",  "GE03",    "GE04",      "GE10",    "GE10.1",  "GE12",
      "GE14_1",  "GE18-a",  "GF02",    "GF02a",   "GF07",      "GF07.1",  "GF07.2",  "GG02",
      "GG02a",   "GG07",    "GG07.1",  "GG07.2",  "GI03",      "GI08.1",  "GI08.1c", "GI08.4",
      "GI08.5",  "GI08.6",  "GI08.7",  "GI08.7a", "GI08.7b",   "GI08.8",  "GI08.9",  "GI10.a",
      "GI10.a1", "GI14.a",  "GI12",    "GI17b",   "GJ01",      "GL01",    "GL101",   "GN12_1",
      "GN12_1a", "GN12_1b", "GN12_1c", "GN12a",   "GN17",      "GN28",    "GN28.2",  "GO01",
      "GO07",    "GP01",    "GR01",    "GT01",    "GU01",      "GU01_1",  "GU05",    "GW03",
      "GW04",    "GW05",    "GW06",    "GW07",    "GW08",      "GW09",    "GW10",    "GW11",
      "GW12",    "GW13",    "GW14",    "GW15",    "GW16",      "GW16b",   "GW16c",   "GW16d",
      "GW16e",   "GW18",    "GW19",    "GW20",    "GW21",      "GW22",    "GX02",    "GX03",
      "GX11",    "GX18",    "GX22",    "GX25a",   "GX25b",     "GY01",    "GYA01b",  "GZB01",
      "GZC01"};
  static const std::vector<std::string_view> kVm50aList = {
      "GA03",     "GB26_1",   "GB07_1",   "GB09.1",   "GB09_4",    "GB09_5",   "GB11",
      "GB11a",    "GB12",     "GB12.1",   "GB12a",    "GB21",      "GB22_3",   "GB22_5",
      "GB22_6",   "GB23",     "GB25_NFCe", "GB25a",   "GB25b",     "GB26",     "GB26_3",
      "GB22.1",   "GB28",     "GB28a",    "GC02",     "GC02a.1",   "GC10",     "GC10.1",
      "GC17",     "GC18",     "GD01",     "GD01_2",   "GE02.2",    "GE03",     "GE04",
      "GE10",     "GE10.1",   "GE12",     "GE14_1",   "GE18-a",    "GF02",     "GF02a",
      "GF07",     "GF07.1",   "GF07.2",   "GG02",     "GG02a",     "GG07",     "GG07.1",
      "GG07.2",   "GI03",     "GI08.1",   "GI08.1c",  "GI08.4",    "GI08.5",   "GI08.6",
      "GI08.7",   "GI08.7a",  "GI08.7b",  "GI08.8",   "GI08.9",    "GI10.a",   "GI10.a1",
      "GI14.a",   "GI12",     "GI17b",    "GJ01",     "GL01",      "GL101",    "GN12_1",
      "GN12_1a",  "GN12_1b",  "GN12_1c",  "GN12a",    "GN17",      "GN28",     "GN28.2",
      "GO01",     "GO07",     "GP01",     "GR01",     "GT01",      "GU01",     "GU01_1",
      "GU05",     "GW03",     "GW04",     "GW04a_10", "GW05",      "GW06",     "GW07",
      "GW08",     "GW09",     "GW10",     "GW11",     "GW12",      "GW13",     "GW14",
      "GW15",     "GW16",     "GW16b",    "GW16c",    "GW16d",     "GW16e",    "GW16_30",
      "GW18",     "GW19",     "GW20",     "GW21",     "GW22",      "GX02",     "GX03",
      "GX11",     "GX18",     "GX22",     "GX25a",    "GX25b",     "GY01",     "GYA01b",
      "GZB01",    "GZC01",    "GB06_2",   "GB22_34",  "GBA01",     "GI05_4",   "GE01_2",
      "GE05_2",   "GE16a_1",  "GN28_20",  "GW22b_1",  "GW22b_1",   "GW22c_1",  "GW22d_1",
      "GW22e_1",  "GW22f_1",  "GX03_2",   "GX04_1",   "GZA01_1",   "GZA01_2",  "GB06_4"};
  static const std::vector<std::string_view> kVm50bList = {
      "GA03",     "GB26_1",    "GB07_1",   "GB09.1",   "GB09_4",   "GB09_5",   "GB11",
      "GB11a",    "GB12",      "GB12.1",   "GB12a",    "GB21",     "GB22_3",   "GB22_5",
      "GB22_6",   "GB23",      "GB25_NFCe", "GB25a",   "GB25b",    "GB26",     "GB26_3",
      "GB22.1",   "GB28",      "GB28a",    "GC02",     "GC02a.1",  "GC10",     "GC10.1",
      "GC17",     "GC18",      "GD01",     "GD01_2",   "GE02.2",   "GE02_20",  "GE03",
      "GE03a_60", "GE04",      "GE10",     "GE10.1",   "GE12",     "GE14_1",   "GE18-a",
      "GF02",     "GF02a",     "GF07",     "GF07.1",   "GF07.2",   "GG02",     "GG02a",
      "GG07",     "GG07.1",    "GG07.2",   "GI03",     "GI04_1",   "GI08_160", "GI08_170",
      "GI17_100", "GI08.1",    "GI08.1c",  "GI08.5",   "GI08.6",   "GI08.7",   "GI08.7a",
      "GI08.7b",  "GI08.8",    "GI08.9",   "GI10.a",   "GI10.a1",  "GI14.a",   "GI12",
      "GI17b",    "GJ01",      "GL01",     "GN12_1",   "GN12_1a",  "GN12_1b",  "GN12_1c",
      "GN12a",    "GN17",      "GN28",     "GN28.2",   "GO01",     "GO07",     "GP01",
      "GR01",     "GT01",      "GU01",     "GU01_1",   "GU05",     "GW03",     "GW04",
      "GW04a_10", "GW05",      "GW06",     "GW07",     "GW08",     "GW09",     "GW10",
      "GW11",     "GW12",      "GW13",     "GW14",     "GW15",     "GW16",     "GW16b",
      "GW16e",    "GW16_30",   "GW18",     "GW19",     "GW20",     "GW21",     "GW22",
      "GX02",     "GX03",      "GX11",     "GX18",     "GX22",     "GX25a",    "GX25b",
      "GY01",     "GZB01",     "GZC01",    "GB06_2",   "GB22_34",  "GBA01",    "GI05_4",
      "GE01_2",   "GE05_2",    "GE16a_1",  "GN28_20",  "GW22b_1",  "GW22b_1",  "GW22c_1",
      "GW22d_1",  "GW22e_1",   "GW22f_1",  "GX03_2",   "GX04_1",   "GZA01_1",  "GZA01_2",
      "GZA01_30", "GB06_4",    "GC02_a4",  "GLA16_10", "GN12_30",  "GN12_34",  "GN12_40",
      "GN12_44",  "GN12a_20",  "GN12a_34", "GN12a_40", "GN12a_44", "GU14_10",  "GO09_10",
      "GYA04a_10", "NA01_10",  "GI08.04",  "GI50.10",  "GN23.10"};
  static const std::vector<std::string_view> kVm60List = {
      "GA03",     "GB26_1",    "GB07_1",   "GB09.1",   "GB09_4",   "GB09_5",   "GB11",
      "GB11a",    "GB12",      "GB12.1",   "GB12a",    "GB21",     "GB22_3",   "GB22_5",
      "GB22_6",   "GB23",      "GB25_NFCe", "GB25a",   "GB25b",    "GB26",     "GB26_3",
      "GB22.1",   "GB28",      "GB28a",    "GC02",     "GC02a.1",  "GC10",     "GC10.1",
      "GC17",     "GC18",      "GD01",     "GD01_2",   "GE02.2",   "GE02_20",  "GE03",
      "GE03a_60", "GE04",      "GE10",     "GE10.1",   "GE12",     "GE14_1",   "GE18-a",
      "GF02",     "GF02a",     "GF07",     "GF07.1",   "GF07.2",   "GG02",     "GG02a",
      "GG07",     "GG07.1",    "GG07.2",   "GI03",     "GI04_1",   "GI08_160", "GI08_170",
      "GI17_100", "GI08.1",    "GI08.1c",  "GI08.5",   "GI08.6",   "GI08.7",   "GI08.7a",
      "GI08.7b",  "GI08.8",    "GI08.9",   "GI10.a",   "GI10.a1",  "GI14.a",   "GI12",
      "GI17b",    "GJ01",      "GL01",     "GN12_1",   "GN12_1a",  "GN12_1b",  "GN12_1c",
      "GN12a",    "GN17",      "GN28",     "GN28.2",   "GO01",     "GO07",     "GP01",
      "GR01",     "GT01",      "GU01",     "GU01_1",   "GU05",     "GW03",     "GW04",
      "GW05",     "GW06",      "GW07",     "GW08",     "GW09",     "GW10",     "GW11",
      "GW12",     "GW13",      "GW14",     "GW15",     "GW16b",    "GW16_30",  "GW18",
      "GW19",     "GW20",      "GW21",     "GW22",     "GX02",     "GX03",     "GX11",
      "GX18",     "GX22",      "GX25a",    "GX25b",    "GY01",     "GZB01",    "GZC01",
      "GB06_2",   "GB22_34",   "GBA01",    "GI05_4",   "GE01_2",   "GE05_2",   "GE16a_1",
      "GN28_20",  "GW22b_1",   "GW22b_1",  "GW22c_1",  "GW22d_1",  "GW22e_1",  "GW22f_1",
      "GX03_2",   "GX04_1",    "GZA01_41", "GZA01_1",  "GZA01_2",  "GB06_4",   "GC02_a4",
      "GLA16_10", "GN12_30",   "GN12_34",  "GN12_40",  "GN12_44",  "GN12a_20", "GN12a_34",
      "GN12a_40", "GN12a_44",  "GU14_10",  "GO09_10",  "NA01_10",  "GI08.04",  "GI50.10",
      "GN23.10",  "YA02-10",   "GW04a_10", "YA03_10",  "YA03_20",  "YA09_10",  "W04b_10",
      "GW16"};
  switch (versao) {
    case TVersaoManual::vm50:
      return kVm50List;
    case TVersaoManual::vm50a:
      return kVm50aList;
    case TVersaoManual::vm50b:
      return kVm50bList;
    case TVersaoManual::vm60:
      break;
  }
  return kVm60List;
}

}  // namespace qor
