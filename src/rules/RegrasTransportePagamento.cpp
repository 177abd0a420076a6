#include "rules/RegrasTransportePagamento.h"

namespace qor {

// ---- transport ----------------------------------------------------------------------------

void TqorNFCeGX02::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("modFrete_X02") && Valor("modFrete_X02") != "9" &&
      Valor("indPres_B25b") != "4") {
    FalharValidacao();
  }
}

void TqorNFCeGX03::execute() {
  CheckDataSet();
  if (IsNFCe() && Valor("indPres_B25b") != "4" &&
      AlgumPreenchido({"CNPJ_X04", "CPF_X05", "xNome_X06", "IE_X07", "xEnder_X08", "xMun_X09"})) {
    FalharValidacao();
  }
}

void TqorNFCeGX03_2::execute() {
  CheckDataSet();
  if (Valor("indPres_B25b") != "4" &&
      AlgumPreenchido({"CNPJ_X04", "CPF_X05", "xNome_X06", "IE_X07", "xEnder_X08", "xMun_X09"})) {
    FalharValidacao();
  }
}

void TqorNFCeGX04_1::execute() {
  CheckDataSet();
  if (CampoVazio("modFrete_X02") || Valor("modFrete_X02") == "9" || !CampoVazio("CNPJ_X04") ||
      !CampoVazio("CPF_X05")) {
    return;
  }
  const bool combustivel = AlgumRegistro("H", [&] {
    return Entre("CFOP_I08", {"5651", "5652", "5653", "5654", "5655", "5656", "5667", "6651",
                              "6652", "6653", "6654", "6655", "6656", "6667"});
  });
  if (combustivel) FalharValidacao();
}

void TqorNFCeGX11::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumPreenchido({"vServ_X12", "vBCRet_X13", "pICMSRet_X14", "vICMSRet_X15",
                                   "CFOP_X16", "cMunFG_X17"})) {
    FalharValidacao();
  }
}

void TqorNFCeGX18::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumPreenchido({"placa_X19", "UF_X20", "RNTC_X21"})) FalharValidacao();
}

void TqorNFCeGX22::execute() {
  CheckDataSet();
  if (IsNFCe() && GrupoInformado("REBOQUE")) FalharValidacao();
}

void TqorNFCeGX25a::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("vagao_X25a")) FalharValidacao();
}

void TqorNFCeGX25b::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("balsa_X25b")) FalharValidacao();
}

// ---- billing and payment ----------------------------------------------------------------------

void TqorNFCeGY01::execute() {
  CheckDataSet();
  if (IsNFCe() && (GrupoInformado("Y") || GrupoInformado("DUP"))) FalharValidacao();
}

void TqorNFCeGYA01b::execute() {
  CheckDataSet();
  if (IsNFCe() && !GrupoInformado("YA")) FalharValidacao();
}

void TqorNFCeGYA04a_10::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumRegistro("YA", [&] {
        return !CampoVazio("tBand_YA06") && CampoVazio("tpIntegra_YA04a");
      })) {
    FalharValidacao();
  }
}

void TqorNFCeYA02_10::execute() {
  CheckDataSet();
  if (AlgumRegistro("YA", [&] { return Valor("tPag_YA02") == "14"; })) FalharValidacao();
}

namespace {
constexpr long double kAoCentavo = 0.00L;
}  // namespace

void TqorNFCeYA03_10::execute() {
  CheckDataSet();
  if (!GrupoInformado("YA")) return;
  const long double pago = SomaRegistros("YA", "vPag_YA03"), total = Numero("vNF_W16");
  if (pago < total && !DentroDaTolerancia(pago, total, kAoCentavo)) FalharValidacao();
}

void TqorNFCeYA03_20::execute() {
  CheckDataSet();
  if (!GrupoInformado("YA") || !CampoVazio("vTroco_YA09")) return;
  const long double pago = SomaRegistros("YA", "vPag_YA03"), total = Numero("vNF_W16");
  if (pago > total && !DentroDaTolerancia(pago, total, kAoCentavo)) FalharValidacao();
}

void TqorNFCeYA09_10::execute() {
  CheckDataSet();
  if (!GrupoInformado("YA")) return;
  const long double troco = SomaRegistros("YA", "vPag_YA03") - Numero("vNF_W16");
  if (!DentroDaTolerancia(Numero("vTroco_YA09"), troco, kAoCentavo)) FalharValidacao();
}

// ---- export, purchase, sugar cane --------------------------------------------------------------

void TqorNFCeGZA01_1::execute() {
  CheckDataSet();
  if (Valor("tpNF_B11") == "1" && Valor("idDest_B11a") == "3" &&
      (CampoVazio("UFSaidaPais_ZA02") || CampoVazio("xLocExporta_ZA03"))) {
    FalharValidacao();
  }
}

void TqorNFCeGZA02_1::execute() {
  CheckDataSet();
  const bool exportacao = Valor("tpNF_B11") == "1" && Valor("idDest_B11a") == "3";
  if (!exportacao &&
      AlgumPreenchido({"UFSaidaPais_ZA02", "xLocExporta_ZA03", "xLocDespacho_ZA04"})) {
    FalharValidacao();
  }
}

void TqorNFCeGZA01_30::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumPreenchido({"UFEmbarq_ZA02", "xLocEmbarq_ZA03", "UFSaidaPais_ZA02",
                                   "xLocExporta_ZA03"})) {
    FalharValidacao();
  }
}

void TqorNFCeGZA01_41::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumPreenchido({"UFSaidaPais_ZA02", "xLocExporta_ZA03", "xLocDespacho_ZA04"})) {
    FalharValidacao();
  }
}

void TqorNFCeGZB01::execute() {
  CheckDataSet();
  if (IsNFCe() && AlgumPreenchido({"xNEmp_ZB02", "xPed_ZB03", "xCont_ZB04"})) FalharValidacao();
}

void TqorNFCeGZC01::execute() {
  CheckDataSet();
  if (IsNFCe() && (GrupoInformado("CANA") || GrupoInformado("FORDIA") || GrupoInformado("DEDUC"))) {
    FalharValidacao();
  }
}

}  // namespace qor
