#include "utils/Chave.h"

#include <array>
#include <cstdint>

#include "base/Exceptions.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "utils/Numeros.h"

namespace qor {

namespace {

constexpr const char* kCnpjNaoInteiro = "O campo CNPJ: %s deve ser um número Inteiro";

bool IsInt64(const std::string& text) {
  std::int64_t ignored = 0;
  return TryStrToInt64(text, ignored);
}

int Digito(char c) { return StrToInt(std::string(1, c)); }

// Year and month of the key: characters 3-4 and 6-7 of the issue date.
std::string AAMM(const std::string& dataEmissao) {
  return Utf8Substr(dataEmissao, 2, 2) + Utf8Substr(dataEmissao, 5, 2);
}

// Municipality codes the IBGE table holds although their last digit breaks the rule.
constexpr std::array<int, 9> kMunicipiosForaDaRegra{2201919, 2201988, 2202251, 2611533, 3117836,
                                                    3152131, 4305871, 5203939, 5203962};

}  // namespace

std::string DigVerificador(const std::string& text, int pesoMaximo, bool retornarResto) {
  int soma = 0;
  int peso = 2;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    soma += Digito(*it) * peso;
    peso = peso >= pesoMaximo ? 2 : peso + 1;
  }
  if (retornarResto) return std::to_string(soma % 11);
  const int digito = 11 - soma % 11;
  return std::to_string(digito > 9 ? 0 : digito);
}

std::string CalculaChave(const std::string& dataEmissao, const std::string& cUF,
                         const std::string& CNPJ, const std::string& mod, const std::string& serie,
                         const std::string& nNF, const std::string& tpEmis, const std::string& cNF,
                         const std::string& logDir) {
  if (!IsInt64(CNPJ)) throw EqorNFCeCheckParamsException(kCnpjNaoInteiro, {CNPJ}, logDir);
  if (Utf8Length(cNF) > 8) {
    throw EqorNFCeCheckParamsException(
        "O Código da nota(cNF) \"%s\", excede o máximo de 8 dígitos (Manual 4.01)", {cNF}, logDir);
  }
  if (Utf8Length(tpEmis) != 1) {
    throw EqorNFCeCheckParamsException("O valor do tipo de emissão(tpEmis) \"%s\" é inesperado.",
                                       {tpEmis}, logDir);
  }
  const std::size_t tamanhoData = Utf8Length(dataEmissao);
  if (tamanhoData != 25 && tamanhoData != 10) {
    throw EqorNFCeCheckParamsException(
        "%s Data de Emissão no Formato inválido. Utilizar AAAA-MM-DD para versão manual 4.0ou "
        "AAAA-MM-DDThh:mm:ssTZD para versão manual 5.0",
        {dataEmissao}, logDir);
  }
  if (cUF.empty() || CNPJ.empty() || mod.empty() || nNF.empty() || tpEmis.empty() || cNF.empty()) {
    throw EqorNFCeCheckParamsException(
        "Os Campos: Código da UF Emitente =  %s\rCNPJ do Emitente = %s \rCódigo do Modelo do "
        "Documento Fiscal = %s \rNúmero da Nota Fiscal = %s\rTipo de emissão = %s\rCódigo "
        "(controle do sistema) Nota Fiscal = %s\rsão campos obrigatórios para o cálculo do "
        "dígito verificador.",
        {cUF, CNPJ, mod, nNF, tpEmis, cNF}, logDir);
  }
  const std::string corpo = Czro(cUF, 2) + AAMM(dataEmissao) + CNPJ + mod + Czro(serie, 3) +
                            Czro(nNF, 9) + tpEmis + Czro(cNF, 8);
  return corpo + DigVerificador(corpo, 9, false);
}

std::string CalculaChave(const std::string& dataEmissao, const std::string& cUF,
                         const std::string& CNPJ, const std::string& mod, const std::string& serie,
                         const std::string& nNF, const std::string& cNF) {
  const std::string logDir;
  if (Utf8Length(dataEmissao) != 10) {
    throw EqorNFCeCheckParamsException(
        "%s Data de Emissão no Formato inválido. Utilizar YYYY-MM-DD", {dataEmissao}, logDir);
  }
  if (cUF.empty() || CNPJ.empty() || mod.empty() || nNF.empty() || cNF.empty()) {
    throw EqorNFCeCheckParamsException(
        "Os Campos: Código da UF Emitente =  %s\rCNPJ do Emitente = %s \rCódigo do Modelo do "
        "Documento Fiscal = %s \rNúmero da Nota Fiscal = %s\rCódigo (controle do sistema) Nota "
        "Fiscal = %s\rsão campos obrigatórios para o cálculo do dígito verificador.",
        {cUF, CNPJ, mod, nNF, cNF}, logDir);
  }
  if (!IsInt64(CNPJ)) throw EqorNFCeCheckParamsException(kCnpjNaoInteiro, {CNPJ}, logDir);
  const std::string corpo =
      Czro(cUF, 2) + AAMM(dataEmissao) + CNPJ + mod + Czro(serie, 3) + Czro(nNF, 9) + Czro(cNF, 9);
  return corpo + DigVerificador(corpo, 9, false);
}

TqorDecodeChaveNFCe DecodeChave(const std::string& chave, TVersaoManual /*versao*/,
                                const std::string& logDir) {
  if (Utf8Length(chave) != 44) {
    throw EqorNFCeCheckParamsException("A Chave da NFCe %s deve possuir exatamente 44 dígitos.",
                                       {chave}, logDir);
  }
  TqorDecodeChaveNFCe campos;
  campos.cUF = Utf8Substr(chave, 0, 2);
  campos.AAMM = Utf8Substr(chave, 2, 4);
  campos.CNPJ = Utf8Substr(chave, 6, 14);
  campos.mod = Utf8Substr(chave, 20, 2);
  campos.serie = Utf8Substr(chave, 22, 3);
  campos.nNF = Utf8Substr(chave, 25, 9);
  campos.tpEmis = Utf8Substr(chave, 34, 1);
  campos.cNF = Utf8Substr(chave, 35, 8);
  campos.cDV = Utf8Substr(chave, 43, 1);
  return campos;
}

bool ValidaAutenticidadeDV(const std::string& chave, TVersaoManual versao,
                           const std::string& logDir) {
  const TqorDecodeChaveNFCe campos = DecodeChave(chave, versao, logDir);
  // Only year and month are in the key; any day of that month gives the same digits.
  const std::string data = Format(
      "%s-%s-%s", {"20" + campos.AAMM.substr(0, 2), campos.AAMM.substr(2, 2), std::string("01")});
  const std::string recalculada =
      CalculaChave(data, campos.cUF, campos.CNPJ, campos.mod, campos.serie, campos.nNF,
                   campos.tpEmis, campos.cNF, logDir);
  return Utf8Substr(recalculada, 43, 1) == campos.cDV;
}

const char* TabelaCodigosUF() {
  return "AC=12\nAL=27\nAP=16\nAM=13\nBA=29\nCE=23\nDF=53\nES=32\nGO=52\nMA=21\nMT=51\nMS=50\n"
         "MG=31\nPA=15\nPB=25\nPR=41\nPE=26\nPI=22\nRJ=33\nRN=24\nRS=43\nRO=11\nRR=14\nSC=42\n"
         "SP=35\nSE=28\nTO=17\nAN=91";
}

std::string GetCodeUF(const std::string& uf) {
  TStrings codigos;
  codigos.SetText(TabelaCodigosUF());
  return uf.empty() ? std::string() : codigos.Values(uf);
}

std::string CalcDigVerificadorCodMunicipio(const std::string& seisDigitos) {
  int total = 0;
  for (std::size_t i = 0; i < seisDigitos.size(); ++i) {
    int produto = Digito(seisDigitos[i]) * (i % 2 == 0 ? 1 : 2);
    if (produto > 9) produto = produto / 10 + produto % 10;
    total += produto;
  }
  return std::to_string(total % 10 == 0 ? 0 : 10 - total % 10);
}

bool ValidaCodigoMunicipio(const std::string& codigo) {
  if (codigo.empty()) return false;
  const int numero = StrToInt(codigo);
  for (int excecao : kMunicipiosForaDaRegra) {
    if (numero == excecao) return true;
  }
  // Only seven digits make a municipality code: an eighth would otherwise go unnoticed.
  if (codigo.size() != 7) return false;
  return CalcDigVerificadorCodMunicipio(codigo.substr(0, 6)) == codigo.substr(6, 1);
}

bool ValidaEAN(const std::string& codigo) {
  if (codigo.empty()) return true;
  const std::size_t tamanho = codigo.size();
  if (tamanho != 8 && tamanho != 12 && tamanho != 13 && tamanho != 14 && tamanho != 18) {
    return false;
  }
  if (codigo.find_first_not_of('0') == std::string::npos) return false;
  // The weights alternate 3,1 from the rightmost data digit leftwards; reading them out of a
  // fixed text from the right offset gives every length the same alignment.
  static const std::string kPesos = "31313131313131313";
  const std::size_t inicio = tamanho >= 16 ? 0 : 16 - tamanho;
  int soma = 0;
  for (std::size_t i = 0; i + 1 < tamanho; ++i) {
    soma += Digito(codigo[i]) * (kPesos[inicio + i] - '0');
  }
  const int digito = (10 - soma % 10) % 10;
  return std::to_string(digito) == codigo.substr(tamanho - 1);
}

std::string CalculaDadosDaNFCe(const std::string& cUF, const std::string& tpEmis,
                               const std::string& CNPJ, const std::string& vNF,
                               const std::string& icmsProprio, const std::string& icmsST,
                               const std::string& diaEmissao, const std::string& logDir) {
  if (!IsInt64(CNPJ)) throw EqorNFCeCheckTXT(kCnpjNaoInteiro, {CNPJ}, logDir);
  const std::string corpo =
      Czro(cUF, 2) + tpEmis + CNPJ + Czro(vNF, 14) + icmsProprio + icmsST + diaEmissao;
  return corpo + DigVerificador(corpo, 9, false);
}

}  // namespace qor
