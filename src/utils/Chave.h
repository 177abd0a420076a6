// The 44-digit access key of a note and the other check digits the component computes: the
// municipality code digit, the GTIN digit and the contingency data string of the printed
// document.
//
// Failures raise EqorNFCeCheckParamsException (EqorNFCeCheckTXT for the contingency string)
// with the offending values in the message, logged in `logDir` (the component's
// DiretorioLogErro; empty means HomeDir()). A non-digit where a digit is summed
// raises the services layer's integer-conversion error (EqorGovException, see Numeros.h).
//
// Thread-safe: pure functions.
#pragma once

#include <string>

#include "base/Types.h"

namespace qor {

// The nine fields of an access key, in key order. Filled only by DecodeChave.
struct TqorDecodeChaveNFCe {
  std::string cUF;     // positions 1-2
  std::string AAMM;    // 3-6: year (2 digits) and month of issue
  std::string CNPJ;    // 7-20
  std::string mod;     // 21-22
  std::string serie;   // 23-25
  std::string nNF;     // 26-34
  std::string tpEmis;  // 35
  std::string cNF;     // 36-43
  std::string cDV;     // 44
};

// The key of the current layout. `dataEmissao` is the text of dhEmi or dEmi ("AAAA-MM-DD" or
// "AAAA-MM-DDThh:mm:ssTZD"). Checks, in this order: CNPJ is an integer, cNF has at most 8
// characters, tpEmis exactly 1, the date 10 or 25, and cUF, CNPJ, mod, nNF, tpEmis, cNF are not
// empty (serie may be: it becomes "000"). Widths are not otherwise checked: a CNPJ or model of
// another length gives a key of another length.
std::string CalculaChave(const std::string& dataEmissao, const std::string& cUF,
                         const std::string& CNPJ, const std::string& mod, const std::string& serie,
                         const std::string& nNF, const std::string& tpEmis, const std::string& cNF,
                         const std::string& logDir = {});
// The key of the legacy layout (no tpEmis, cNF of 9 digits); the date must be "YYYY-MM-DD".
// It takes no error-log folder (its failures go to HomeDir()): with one, a call
// with eight texts could not tell the two layouts apart.
std::string CalculaChave(const std::string& dataEmissao, const std::string& cUF,
                         const std::string& CNPJ, const std::string& mod, const std::string& serie,
                         const std::string& nNF, const std::string& cNF);

// Modulus-11 digit of the decimal text `text`: weights 2..`pesoMaximo` from the right, cycling.
// With `retornarResto` the result is the sum mod 11 ("0".."10"); otherwise 11 - (sum mod 11),
// with 10 and 11 written as "0". An empty text sums to 0.
std::string DigVerificador(const std::string& text, int pesoMaximo, bool retornarResto);

// Splits a key into its fields; a key of other than 44 characters raises
// "A Chave da NFCe %s deve possuir exatamente 44 dígitos.". The manual version does not change
// the split.
TqorDecodeChaveNFCe DecodeChave(const std::string& chave, TVersaoManual versao,
                                const std::string& logDir = {});
// Whether the last digit of `chave` is the check digit of its own fields (the fields are checked
// as CalculaChave checks them).
bool ValidaAutenticidadeDV(const std::string& chave, TVersaoManual versao,
                           const std::string& logDir = {});

// "AC=12" ... "TO=17", "AN=91": the IBGE state codes, one name=value pair per line (LF), plus
// the national environment. The component's UF table is this same text.
const char* TabelaCodigosUF();
// The two-digit code of a state abbreviation (any case); empty for an unknown one.
std::string GetCodeUF(const std::string& uf);

// The municipality check digit (weights 1,2,1,2,1,2 from the left, products above 9 reduced to
// the sum of their digits, 10 - total mod 10, 0 for a multiple of 10) of the first six digits.
std::string CalcDigVerificadorCodMunicipio(const std::string& seisDigitos);
// A seven-digit municipality code whose last digit is right, or one of the nine codes the IBGE
// table holds with a digit outside the rule. An empty code is invalid.
bool ValidaCodigoMunicipio(const std::string& codigo);

// GTIN-8/12/13/14 (and the 18-digit SSCC) check digit. An empty code is valid (the field is
// optional); another length, or a code made only of zeros, is invalid.
bool ValidaEAN(const std::string& codigo);

// The 36-digit contingency data string of the printed document: cUF (2), tpEmis, CNPJ, vNF
// (14, without decimal point), own-ICMS and ICMS-ST indicators, day of issue, and the
// modulus-11 digit. A CNPJ that is not an integer raises EqorNFCeCheckTXT.
std::string CalculaDadosDaNFCe(const std::string& cUF, const std::string& tpEmis,
                               const std::string& CNPJ, const std::string& vNF,
                               const std::string& icmsProprio, const std::string& icmsST,
                               const std::string& diaEmissao, const std::string& logDir = {});

}  // namespace qor
