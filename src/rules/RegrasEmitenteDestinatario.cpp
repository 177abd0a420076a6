#include "rules/RegrasEmitenteDestinatario.h"

#include "platform/Text.h"

namespace qor {

namespace {
const char* const kNomeHomologacao = "NF-E EMITIDA EM AMBIENTE DE HOMOLOGACAO - SEM VALOR FISCAL";
}  // namespace

void TqorNFCeGC02::execute() {
  CheckDataSet();
  const std::string& cnpj = Valor("CNPJ_C02");
  if (!cnpj.empty() && !ValidateCNPJ(cnpj)) FalharValidacao();
}

void TqorNFCeGC02_a1::execute() {
  CheckDataSet();
  const std::string& cpf = Valor("CPF_C02a");
  if (!cpf.empty() && !ValidateCPF(cpf)) FalharValidacao();
}

void TqorNFCeGC02_a4::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("CPF_C02a")) FalharValidacao();
}

void TqorNFCeGC10_1::execute() {
  CheckDataSet();
  const std::string& municipio = Valor("cMun_C10");
  if (!municipio.empty() && municipio.substr(0, 2) != Valor("cUF_B02")) FalharValidacao();
}

void TqorNFCeGC17::execute() {
  CheckDataSet();
  if (Trim(Valor("IE_C17")).empty()) FalharValidacao();
}

void TqorNFCeGC18::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("IEST_C18")) FalharValidacao();
}

void TqorNFCeGD01::execute() {
  CheckDataSet();
  if (GrupoInformado("D") && !Entre("procEmi_B26", {"1", "2"})) FalharValidacao();
}

void TqorNFCeGD01_2::execute() {
  CheckDataSet();
  if (Entre("procEmi_B26", {"1", "2"}) && !GrupoInformado("D")) FalharValidacao();
}

// ---- recipient ------------------------------------------------------------------------------

void TqorRegraDocumento::execute() {
  CheckDataSet();
  const std::string& documento = Valor(CampoDocumento());
  if (!documento.empty() && UpperCase(documento) != "NULL" && !Valido(documento)) {
    FalharValidacao();
  }
}

bool TqorNFCeGE02_2::Valido(const std::string& d) const { return ValidateCNPJ(d); }
bool TqorNFCeGE03::Valido(const std::string& d) const { return ValidateCPF(d); }
bool TqorNFCeGF02::Valido(const std::string& d) const { return ValidateCNPJ(d); }
bool TqorNFCeGF02_a::Valido(const std::string& d) const { return ValidateCPF(d); }
bool TqorNFCeGG02::Valido(const std::string& d) const { return ValidateCNPJ(d); }
bool TqorNFCeGG02_a::Valido(const std::string& d) const { return ValidateCPF(d); }

void TqorNFCeGE02_20::execute() {
  CheckDataSet();
  const std::string& cnpj = Valor("CNPJ_E02");
  if (!cnpj.empty() && cnpj == Valor("CNPJ_C02")) FalharValidacao();
}

void TqorNFCeGE03a_60::execute() {
  CheckDataSet();
  for (const char c : Valor("idEstrangeiro_E03a")) {
    const bool letraOuDigito =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letraOuDigito && std::string_view(":.+-/()").find(c) == std::string_view::npos) {
      FalharValidacao();
    }
  }
}

void TqorNFCeGE04::execute() {
  CheckDataSet();
  const bool identificado = isDestinatarioInformado() || !CampoVazio("idEstrangeiro_E03a");
  if (identificado && Valor("tpAmb_B24") == "2" && Valor("xNome_E04") != kNomeHomologacao) {
    FalharValidacao();
  }
}

void TqorNFCeGE12::execute() {
  CheckDataSet();
  if (isEnderecoDestinatarioInformado() && Valor("idDest_B11a") == "1" && !CampoVazio("UF_E12") &&
      Valor("UF_E12") != Valor("UF_C12")) {
    FalharValidacao();
  }
}

void TqorNFCeGE14_1::execute() {
  CheckDataSet();
  if (isEnderecoDestinatarioInformado() && Valor("idDest_B11a") != "3" &&
      !CampoVazio("cPais_E14") && Valor("cPais_E14") != "1058") {
    FalharValidacao();
  }
}

void TqorNFCeGE18a::execute() {
  CheckDataSet();
  if (IsNFCe() && !CampoVazio("ISUF_E18")) FalharValidacao();
}

void TqorNFCeGE01_2::execute() {
  CheckDataSet();
  if (Valor("indPres_B25b") == "4" && !isDestinatarioInformado() &&
      CampoVazio("idEstrangeiro_E03a")) {
    FalharValidacao();
  }
}

void TqorNFCeGE05_2::execute() {
  CheckDataSet();
  if (Valor("indPres_B25b") != "4") return;
  for (TNome campo : std::initializer_list<TNome>{"xLgr_E06", "nro_E07", "xBairro_E09", "cMun_E10",
                                                  "xMun_E11", "UF_E12"}) {
    if (CampoVazio(campo)) FalharValidacao();
  }
}

// ---- places of collection and delivery -------------------------------------------------------

void TqorNFCeGF07::execute() {
  CheckDataSet();
  if (Valor("UF_F09") == "EX" && Valor("cMun_F07") != "9999999") FalharValidacao();
}

void TqorNFCeGG07::execute() {
  CheckDataSet();
  if (Valor("UF_G09") == "EX" && Valor("cMun_G07") != "9999999") FalharValidacao();
}

}  // namespace qor
