#include "rules/RegrasNFCe.h"

#include "utils/Chave.h"

namespace qor {

namespace {
// The 44 digits after "NFe" in Id_A03 (characters 4 to 47).
std::string ChaveDoId(const std::string& id) { return id.size() > 3 ? id.substr(3, 44) : ""; }
}  // namespace

void TqorNFCeGA03::execute() {
  CheckDataSet();
  const TqorDecodeChaveNFCe chave =
      DecodeChave(ChaveDoId(Valor("ID_A03")), GetVersaoManual(), Modelo().GetDiretorioLogErro());
  if (chave.cDV != Valor("cDV_B23")) FalharValidacao();
}

void TqorNFCeGB23::execute() {
  CheckDataSet();
  if (!ValidaAutenticidadeDV(ChaveDoId(Valor("ID_A03")), GetVersaoManual(),
                             Modelo().GetDiretorioLogErro())) {
    FalharValidacao();
  }
}

void TqorNFCeGB22_3::execute() {
  CheckDataSet();
  const std::string& tpEmis = Valor("tpEmis_B22");
  if (tpEmis == "3" || tpEmis == "6" || tpEmis == "7") FalharValidacao();
}

void TqorNFCeGW16_30::execute() {
  CheckDataSet();
  if (Numero("vNF_W16") > 200000.0) FalharValidacao();
}

// ---- municipality codes ------------------------------------------------------------------

void TqorRegraDigitoMunicipio::execute() {
  CheckDataSet();
  const std::string& codigo = Valor(CampoMunicipio());
  if (!codigo.empty() && Aplicavel() && !ValidaCodigoMunicipio(codigo)) FalharValidacao();
}

bool TqorNFCeGE10::Aplicavel() const {
  return isEnderecoDestinatarioInformado() && Valor("UF_E12") != "EX";
}

bool TqorNFCeGU05::ExpressaoDeValidacao() {
  const std::string& codigo = Valor("cMunFG_U05");
  if (codigo.empty()) return true;
  // Services rendered abroad carry the code of "exterior".
  if (codigo == "9999999") return Valor("UF_E12") == "EX";
  return ValidaCodigoMunicipio(codigo);
}

bool TqorNFCeGU14_10::ExpressaoDeValidacao() {
  const std::string& codigo = Valor("cMun_U14");
  return codigo.empty() || ValidaCodigoMunicipio(codigo);
}

void TqorRegraMunicipioUF::execute() {
  CheckDataSet();
  const std::string& codigo = Valor(CampoMunicipio());
  if (codigo.empty()) return;
  if (codigo.substr(0, 2) != GetCodeUF(Valor(CampoUF()))) FalharValidacao();
}

void TqorNFCeGE10_1::execute() {
  CheckDataSet();
  if (Valor("UF_E12") == "EX") return;
  TqorRegraMunicipioUF::execute();
}

// ---- items ---------------------------------------------------------------------------------

namespace {
bool GtinValido(const std::string& gtin) { return gtin == "SEM GTIN" || ValidaEAN(gtin); }
}  // namespace

bool TqorNFCeGI03::ExpressaoDeValidacao() { return GtinValido(Valor("cEAN_I03")); }
bool TqorNFCeGI12::ExpressaoDeValidacao() { return GtinValido(Valor("cEANTrib_I12")); }

bool TqorRegraGrupoProibido::ExpressaoDeValidacao() {
  return !(IsNFCe() && PossuiCampoPreenchido(GrupoProibido()));
}

bool TqorNFCeGN12_1a::ExpressaoDeValidacao() { return !(IsNFCe() && Valor("CST_N12") == "50"); }

}  // namespace qor
