#include "rules/RegrasIdentificacao.h"

#include <algorithm>

namespace qor {

namespace {
bool ProcessoDoFisco(const std::string& procEmi) { return procEmi == "1" || procEmi == "2"; }
}  // namespace

void TqorNFCeGB26_1::execute() {
  CheckDataSet();
  if (CampoVazio("serie_B07")) return;
  const double serie = Numero("serie_B07");
  const bool avulsa = ProcessoDoFisco(Valor("procEmi_B26")) && serie >= 890 && serie <= 899;
  if (serie < 0 || (serie > 889 && !avulsa)) FalharValidacao();
}

void TqorNFCeGB07_1::execute() {
  CheckDataSet();
  if (Valor("tpEmis_B22") != "3" || CampoVazio("serie_B07")) return;
  const double serie = Numero("serie_B07");
  if (serie < 900 || serie > 999) FalharValidacao();
}

void TqorNFCeGB09::execute() {
  CheckDataSet();
  const auto emissao = DataHora("dhEmi_B09");
  if (!emissao) return;
  using namespace std::chrono;
  constexpr minutes kBrasilia{-180};
  constexpr seconds kDia = days(1);
  const auto horaDoDia = [&](sys_seconds instante) {
    const seconds local = (instante + kBrasilia).time_since_epoch();
    return ((local % kDia) + kDia) % kDia;
  };
  const seconds agora = horaDoDia(time_point_cast<seconds>(Agora()));
  const seconds emitida = horaDoDia(emissao->instante);
  seconds distancia = agora > emitida ? agora - emitida : emitida - agora;
  distancia = std::min(distancia, kDia - distancia);
  if (distancia > minutes(5)) FalharValidacao();
}

void TqorNFCeGB09_5::execute() {
  CheckDataSet();
  if (!IsNFCe() || Valor("tpEmis_B22") != "9") return;
  const auto emissao = DataHora("dhEmi_B09");
  if (!emissao) return;
  using namespace std::chrono;
  // The start of the day of issue, at the offset the note was written with.
  const sys_seconds dia = floor<days>(emissao->Local()) - emissao->offset;
  if (Agora() - dia > hours(168)) FalharValidacao();
}

void TqorNFCeGB11::execute() {
  CheckDataSet();
  if (IsNFCe() && Valor("tpNF_B11") == "0") FalharValidacao();
}

void TqorNFCeGB11a::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("idDest_B11a") && Valor("idDest_B11a") != "1") FalharValidacao();
}

void TqorNFCeGB12_1::execute() {
  CheckDataSet();
  const std::string& municipio = Valor("cMunFG_B12");
  if (!municipio.empty() && municipio.substr(0, 2) != Valor("cUF_B02")) FalharValidacao();
}

void TqorNFCeGB12a::execute() {
  CheckDataSet();
  if (!IsNFCe()) return;
  if (AlgumRegistro("NREF",
                    [&] { return !CampoVazio("refNFe_B13") || !CampoVazio("refNFe_BA02"); })) {
    FalharValidacao();
  }
}

void TqorNFCeGBA01::execute() {
  CheckDataSet();
  if (IsNFCe() && GrupoInformado("NREF")) FalharValidacao();
}

void TqorNFCeGB21::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("tpImp_B21") && !Entre("tpImp_B21", {"4", "5"})) {
    FalharValidacao();
  }
}

void TqorNFCeGB25::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("finNFe_B25") && !Entre("finNFe_B25", {"1", "4"})) {
    FalharValidacao();
  }
}

void TqorNFCeGB25a::execute() {
  CheckDataSet();
  if (IsNFCe() && Valor("indFinal_B25a") == "0") FalharValidacao();
}

void TqorNFCeGB25b::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("indPres_B25b") && !Entre("indPres_B25b", {"1", "4"})) {
    FalharValidacao();
  }
}

void TqorNFCeGB26::execute() {
  CheckDataSet();
  const std::string& procEmi = Valor("procEmi_B26");
  if (procEmi.empty()) return;
  if (!Entre("procEmi_B26", {"0", "1", "2", "3"})) FalharValidacao();
  if (ProcessoDoFisco(procEmi) && !CampoVazio("serie_B07")) {
    const double serie = Numero("serie_B07");
    if (serie < 890 || serie > 899) FalharValidacao();
  }
}

void TqorNFCeGB22_1::execute() {
  CheckDataSet();
  const std::string& tpEmis = Valor("tpEmis_B22");
  if (tpEmis.empty()) return;
  const bool dhCont = !CampoVazio("dhCont_B28"), xJust = !CampoVazio("xJust_B29");
  if (tpEmis == "1" ? (dhCont || xJust) : !(dhCont && xJust)) FalharValidacao();
}

void TqorNFCeGB28::execute() {
  CheckDataSet();
  const auto contingencia = DataHora("dhCont_B28");
  const auto emissao = DataHora("dhEmi_B09");
  if (contingencia && emissao && contingencia->instante > emissao->instante) FalharValidacao();
}

void TqorNFCeGB28a::execute() {
  CheckDataSet();
  const auto contingencia = DataHora("dhCont_B28");
  if (!contingencia) return;
  using namespace std::chrono;
  constexpr minutes kBrasilia{-180};
  const sys_days hoje = floor<days>(time_point_cast<seconds>(Agora()) + kBrasilia);
  const sys_days entrada = floor<days>(contingencia->instante + kBrasilia);
  if (hoje - entrada > days(30)) FalharValidacao();
}

void TqorNFCeGB22_5::execute() {
  CheckDataSet();
  if (Valor("tpEmis_B22") == "3") FalharValidacao();
}

void TqorNFCeGB22_6::execute() {
  CheckDataSet();
  if (Entre("tpEmis_B22", {"6", "7"}) && CampoVazio("xJust_B29") && CampoVazio("dhCont_B28")) {
    FalharValidacao();
  }
}

void TqorNFCeGB26_3::execute() {
  CheckDataSet();
  if (ProcessoDoFisco(Valor("procEmi_B26")) && Valor("tpEmis_B22") != "1") FalharValidacao();
}

void TqorNFCeGB06_2::execute() {
  CheckDataSet();
  if (!CampoVazio("mod_B06") && !IsNFCe()) FalharValidacao();
}

void TqorNFCeGB06_4::execute() {
  CheckDataSet();
  if (!CampoVazio("mod_B06") && !IsNFCe()) FalharValidacao();
}

void TqorNFCeGB22_34::execute() {
  CheckDataSet();
  if (Entre("tpEmis_B22", {"2", "5"})) FalharValidacao();
}

}  // namespace qor
