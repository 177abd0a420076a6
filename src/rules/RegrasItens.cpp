#include "rules/RegrasItens.h"

namespace qor {

namespace {

const char* const kProdutoHomologacao =
    "NOTA FISCAL EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";

char Inicial(const std::string& cfop) { return cfop.empty() ? '\0' : cfop[0]; }

bool CfopInterno(const std::string& cfop) { return Inicial(cfop) == '1' || Inicial(cfop) == '5'; }

// The sections of the national CFOP table, by the number of the last three digits.
bool CfopExiste(const std::string& cfop) {
  if (cfop.size() != 4) return false;
  for (char c : cfop) {
    if (c < '0' || c > '9') return false;
  }
  if (std::string_view("123567").find(cfop[0]) == std::string_view::npos) return false;
  static constexpr struct {
    int de, ate;
  } kSecoes[] = {{101, 135}, {151, 160}, {201, 211}, {251, 258}, {301, 360}, {401, 415},
                 {451, 452}, {501, 506}, {551, 557}, {601, 606}, {651, 667}, {901, 949}};
  const int resto = std::stoi(cfop.substr(1));
  for (const auto& secao : kSecoes) {
    if (resto >= secao.de && resto <= secao.ate) return true;
  }
  return false;
}

}  // namespace

// ---- product ------------------------------------------------------------------------------

void TqorNFCeGI04_1::execute() {
  CheckDataSet();
  if (Valor("tpAmb_B24") != "2") return;
  bool valido = true;
  AlgumRegistro("H", [&] {
    valido = Valor("xProd_I04") == kProdutoHomologacao;
    return true;  // the first item only
  });
  if (!valido) FalharValidacao();
}

bool TqorNFCeGI05_4::ExpressaoDeValidacao() { return !Entre("NCM_I05", {"77", "98", "99"}); }

bool TqorNFCeGI08_160::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CFOP_I08") == "5933" && !PossuiCampoPreenchido("U"));
}

bool TqorNFCeGI08_170::ExpressaoDeValidacao() {
  return !(IsNFCe() && PossuiCampoPreenchido("U") && Valor("CFOP_I08") != "5933");
}

bool TqorNFCeGI17_10::ExpressaoDeValidacao() {
  return CampoVazio("vDesc_I17") || Numero("vDesc_I17") <= Numero("vProd_I11");
}

bool TqorNFCeGI08_1::ExpressaoDeValidacao() {
  const char inicial = Inicial(Valor("CFOP_I08"));
  return !(Valor("tpNF_B11") == "0" && (inicial == '5' || inicial == '6' || inicial == '7'));
}

bool TqorNFCeGI08_1c::ExpressaoDeValidacao() {
  return !(CfopInterno(Valor("CFOP_I08")) && !CampoVazio("idDest_B11a") &&
           Valor("idDest_B11a") != "1");
}

bool TqorNFCeGI08_4::ExpressaoDeValidacao() {
  return !(CfopInterno(Valor("CFOP_I08")) && isEnderecoDestinatarioInformado() &&
           !CampoVazio("UF_E12") && Valor("UF_E12") != Valor("UF_C12"));
}

bool TqorNFCeGI08_5::ExpressaoDeValidacao() {
  const std::string& cfop = Valor("CFOP_I08");
  return !(!cfop.empty() && !CfopInterno(cfop) && !CampoVazio("UF_E12") &&
           Valor("UF_E12") == Valor("UF_C12"));
}

bool TqorNFCeGI08_6::ExpressaoDeValidacao() {
  const char inicial = Inicial(Valor("CFOP_I08"));
  if (inicial != '1' && inicial != '7') return true;
  const std::string& ncm = Valor("NCM_I05");
  if (ncm.size() != 8) return false;
  for (char c : ncm) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

bool TqorNFCeGI08_7::ExpressaoDeValidacao() {
  return !(Inicial(Valor("CFOP_I08")) == '3' && !GrupoInformado("DI"));
}

namespace {
const std::initializer_list<std::string_view> kDevolucaoImportacao = {"3201", "3202", "3211",
                                                                      "3503", "3553"};
}  // namespace

bool TqorNFCeGI08_7a::ExpressaoDeValidacao() {
  return !(Entre("CFOP_I08", kDevolucaoImportacao) && PossuiCampoPreenchido("O"));
}

bool TqorNFCeGI08_7b::ExpressaoDeValidacao() {
  return !(Entre("CFOP_I08", kDevolucaoImportacao) && PossuiCampoPreenchido("P"));
}

bool TqorNFCeGI08_8::ExpressaoDeValidacao() {
  if (Inicial(Valor("CFOP_I08")) != '7') return true;
  const bool embarque = !CampoVazio("UFEmbarq_ZA02") && !CampoVazio("xLocEmbarq_ZA03");
  const bool saida = !CampoVazio("UFSaidaPais_ZA02") && !CampoVazio("xLocExporta_ZA03");
  return embarque || saida;
}

bool TqorNFCeGI08_9::ExpressaoDeValidacao() {
  return !IsNFCe() || CampoVazio("CFOP_I08") ||
         Entre("CFOP_I08",
               {"5101", "5102", "5103", "5104", "5115", "5405", "5656", "5667", "5933"});
}

bool TqorNFCeGI08_10::ExpressaoDeValidacao() {
  return !IsNFCe() || CampoVazio("CFOP_I08") || CfopExiste(Valor("CFOP_I08"));
}

bool TqorNFCeGI10_a::ExpressaoDeValidacao() {
  if (Valor("finNFe_B25") != "1" || CampoVazio("qCom_I10") || CampoVazio("vUnCom_I10a")) {
    return true;
  }
  return DentroDaTolerancia(static_cast<long double>(Numero("qCom_I10")) * Numero("vUnCom_I10a"),
                            Numero("vProd_I11"), 0.01L);
}

bool TqorNFCeGI10_a1::ExpressaoDeValidacao() {
  if (CampoVazio("qTrib_I14") || CampoVazio("vUnTrib_I14a")) return true;
  return DentroDaTolerancia(static_cast<long double>(Numero("qTrib_I14")) * Numero("vUnTrib_I14a"),
                            Numero("vProd_I11"), 0.01L);
}

bool TqorNFCeGI14_a::ExpressaoDeValidacao() {
  return Valor("finNFe_B25") != "1" || TqorNFCeGI10_a1::ExpressaoDeValidacao();
}

bool TqorNFCeGI17b::ExpressaoDeValidacao() { return !(IsNFCe() && Valor("indTot_I17b") == "0"); }

bool TqorNFCeGI50_10::ExpressaoDeValidacao() {
  const bool exportacao = AlgumRegistro("DETEXPORT", [&] {
    return PossuiCampoPreenchido("DETEXPORT") || GrupoInformado("EXPORTIND");
  });
  return !(exportacao && Valor("idDest_B11a") != "3");
}

// ---- ICMS -----------------------------------------------------------------------------------

bool TqorNFCeGN12_1::ExpressaoDeValidacao() {
  return !(!CampoVazio("CST_N12") && Valor("CRT_C21") == "1");
}

bool TqorNFCeGN12_1b::ExpressaoDeValidacao() { return !(IsNFCe() && Valor("CST_N12") == "51"); }

bool TqorNFCeGN12_1c::ExpressaoDeValidacao() {
  return !(IsNFCe() && (!CampoVazio("UFST_N24") || !CampoVazio("pBCOp_N25")));
}

bool TqorNFCeGN12a::ExpressaoDeValidacao() {
  return !(!CampoVazio("CSOSN_N12a") && !CampoVazio("CRT_C21") && !Entre("CRT_C21", {"1", "4"}));
}

bool TqorNFCeGN17::ExpressaoDeValidacao() {
  if (Valor("finNFe_B25") != "1" || !Entre("CST_N12", {"00", "10", "20", "70", "90"}) ||
      CampoVazio("vBC_N15")) {
    return true;
  }
  const long double calculado =
      static_cast<long double>(Numero("vBC_N15")) * Numero("pICMS_N16") / 100;
  return DentroDaTolerancia(Numero("vICMS_N17"), calculado, 1.00L);
}

bool TqorNFCeGN28::ExpressaoDeValidacao() {
  return !(Valor("motDesICMS_N28") == "7" && CampoVazio("ISUF_E18"));
}

bool TqorNFCeGN28_2::ExpressaoDeValidacao() {
  if (CampoVazio("motDesICMS_N28")) return true;
  return Numero("vICMS_N17") > 0 || Numero("vICMSDeson_N27a") > 0 || Numero("vICMSDeson_N28a") > 0;
}

bool TqorNFCeGN28_20::ExpressaoDeValidacao() {
  return !(Valor("motDesICMS_N28") == "7" && !Entre("CFOP_I08", {"6109", "6110"}));
}

namespace {
const std::initializer_list<std::string_view> kCfopVendaPropria = {"5101", "5102", "5103", "5104",
                                                                   "5115"};
const std::initializer_list<std::string_view> kCfopVendaST = {"5405", "5656", "5667"};
}  // namespace

bool TqorNFCeGN12_30::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CRT_C21") == "3" && !CampoVazio("CST_N12") &&
           !Entre("CST_N12", {"00", "20", "40", "41", "60", "90"}));
}

bool TqorNFCeGN12_34::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CST_N12") == "90" && !CampoVazio("modBCST_N18"));
}

bool TqorNFCeGN12_40::ExpressaoDeValidacao() {
  return !(IsNFCe() && Entre("CST_N12", {"00", "20", "40", "41", "90"}) &&
           !Entre("CFOP_I08", kCfopVendaPropria));
}

bool TqorNFCeGN12_44::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CST_N12") == "60" && !Entre("CFOP_I08", kCfopVendaST));
}

bool TqorNFCeGN12a_20::ExpressaoDeValidacao() {
  return !(IsNFCe() && !CampoVazio("CSOSN_N12a") &&
           !Entre("CSOSN_N12a", {"102", "103", "300", "400", "500", "900"}));
}

bool TqorNFCeGN12a_34::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CSOSN_N12a") == "900" && !CampoVazio("modBCST_N18"));
}

bool TqorNFCeGN12a_40::ExpressaoDeValidacao() {
  return !(IsNFCe() && Entre("CSOSN_N12a", {"102", "103", "300", "400", "900"}) &&
           !Entre("CFOP_I08", kCfopVendaPropria));
}

bool TqorNFCeGN12a_44::ExpressaoDeValidacao() {
  return !(IsNFCe() && Valor("CSOSN_N12a") == "500" && !Entre("CFOP_I08", kCfopVendaST));
}

bool TqorNFCeGN23_10::ExpressaoDeValidacao() {
  const bool st = Entre("CST_N12", {"10", "30", "60", "70", "90"}) ||
                  Entre("CSOSN_N12a", {"201", "202", "203", "500", "900"});
  return !(st && Numero("vICMSST_N23") > 0 && CampoVazio("CEST_I05c"));
}

bool TqorNFCeNA01_10::ExpressaoDeValidacao() {
  return !(IsNFCe() && PossuiCampoPreenchido("ICMSUFDest"));
}

// ---- IPI, fuel, ISSQN -----------------------------------------------------------------------

bool TqorNFCeGO07::ExpressaoDeValidacao() {
  // "00" is the NCM of an item without a classification (a service).
  return !(Entre("CST_O09", {"00", "49", "50", "99"}) && Entre("NCM_I05", {"", "00"}));
}

bool TqorNFCeGO09_10::ExpressaoDeValidacao() {
  if (!IsNFCe() || CampoVazio("cEnq_O06")) return true;
  const double enquadramento = Numero("cEnq_O06");
  const auto faixa = [&](double de, double ate) {
    return enquadramento >= de && enquadramento <= ate;
  };
  if (Entre("CST_O09", {"02", "52"})) return faixa(301, 399);
  if (Entre("CST_O09", {"04", "54"})) return faixa(1, 99);
  if (Entre("CST_O09", {"05", "55"})) return faixa(101, 199);
  return true;
}

bool TqorNFCeGLA16_10::ExpressaoDeValidacao() {
  if (CampoVazio("vEncIni_LA15") && CampoVazio("vEncFin_LA16")) return true;
  return Numero("vEncFin_LA16") > Numero("vEncIni_LA15");
}

void TqorNFCeGU01::execute() {
  CheckDataSet();
  if (CampoVazio("IM_C19") && AlgumRegistro("H", [&] { return PossuiCampoPreenchido("U"); })) {
    FalharValidacao();
  }
}

void TqorNFCeGU01_1::execute() {
  CheckDataSet();
  if (Valor("UF_C12") == "DF") return;
  bool itens = false;
  const bool comICMS = AlgumRegistro("H", [&] {
    itens = true;
    return PossuiCampoPreenchido("N");
  });
  if (itens && !comICMS) FalharValidacao();
}

}  // namespace qor
