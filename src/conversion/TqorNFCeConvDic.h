// The positional TXT converter: one note written as pipe-separated lines (a header block "C|",
// one item block "D|" per item, a footer block "R|") turned straight into NF-e XML text of the
// layout with dEmi and the 9-digit cNF, guided by the dictionaries of the template folder's
// "Conversor" folder: "dicCabecalho.txt", "dicDetalhe.txt" and "dicRodape.txt". Line k of a
// block is read with dictionary line k of its block (line 0 is the block line itself); each
// dictionary token says what the value at its position becomes:
//
//   "infNFe Id*"           the infNFe start tag, Id and versao filled in once the key is known
//   "name attr*"           <name attr="value">
//   "cDV"                  <cDV>check digit</cDV> (the value is ignored)
//   "??", "/??"            <value>: the data chooses the tag (nothing when the value is empty)
//   a name equal to value  <value>
//   a name, value "/..."   <value> (an end tag written by the data)
//   a name, other value    <name>value</name>; nothing when the value is empty
//
// In an item block a line starting with ICMS00 ... ICMS90 is read with the dictionary line that
// many places after the current one (one dictionary line per variant, in that order), and the
// line after it with the first dictionary line starting with "PIS". Values "%CNPJ", "%UF" and
// "%nNF" stand for the converter's CNPJ, cUF and nNF (the generator's template uses them).
//
// Values are XML-escaped; a tag chosen by the data must be an XML name; a data line without a
// dictionary line, a block after the footer, a line that is not UTF-8 and a file that does not
// end with the footer are refused (the message names the line where there is one). The XML is
// parsed before it is returned; a failure returns nothing. Every failure is EqorNFCeCheckTXT,
// except a missing template file (EqorTemplateNotFoundException), an unreadable input file
// (EqorFileNotFoundException) and key fields the access key refuses
// (EqorNFCeCheckParamsException).
//
// Not thread-safe: one converter per thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/TqorNFCeConverter.h"

namespace qor {

class TqorNFCeConvDic {
 public:
  TqorNFCeConvDic();
  ~TqorNFCeConvDic();
  TqorNFCeConvDic(const TqorNFCeConvDic&) = delete;
  TqorNFCeConvDic& operator=(const TqorNFCeConvDic&) = delete;

  // The TXT file Converter reads.
  void setArquivo(const std::string& arquivo) { arquivo_ = arquivo; }
  // The template folder (a separator is appended when missing); the dictionaries are in its
  // "Conversor" folder.
  void SetDiretorioTemplates(const std::string& diretorio);
  void SetDiretorioLogErro(const std::string& diretorio);

  // The note of the file named by setArquivo, as XML text on one line.
  std::string Converter(const std::string& versao = "2.00");
  // The same for TXT text already in memory (standard input of the command line).
  std::string ConverterTexto(const std::string& texto, const std::string& versao = "2.00");
  // `quantidade` notes made from the template "template.txt" for state `cUF` and issuer `CNPJ`,
  // each with a random nNF, one note per line. Checks, in this order: quantidade >= 1, cUF a
  // number, CNPJ of 14 characters.
  std::string GeraNFs_Random(int quantidade, const std::string& cUF, const std::string& CNPJ,
                             const std::string& versao = "2.00");
  // Template folder + "Conversor/" + name, expanded; a missing file raises
  // EqorTemplateNotFoundException "Arquivo de template do conversor não encontrado: %s".
  std::string GetTemplateCompletePath(const std::string& nome) const;

 private:
  // The access-key parts captured while converting.
  struct Chave {
    std::string dEmi, cUF, CNPJ, mod, serie, nNF, cNF;
  };
  // Where the key goes once it is known: the infNFe attributes or the check digit.
  struct Marca {
    std::size_t posicao;
    bool id;
  };
  // One dictionary line: its text and its tokens (each one terminated by "|").
  struct LinhaDicionario {
    std::string texto;
    std::vector<std::string> tokens;
  };
  // A dictionary file as last read, kept while its modification time stays the same.
  struct Dicionario {
    std::chrono::system_clock::time_point idade;
    std::vector<LinhaDicionario> linhas;
  };

  std::string Converte(const std::string& texto, const std::string& versao, Chave inicial);
  void ValidaPonteiro(const std::string& anterior, const std::string& atual,
                      std::size_t linha) const;
  void CarregaDicionario(const std::string& bloco);
  void ValidaQtdeCamposLinha(std::string_view linha, std::size_t indice, std::size_t numero) const;
  // Index of the dictionary line that reads data line `linha` (`detalhe`: of an item block).
  std::size_t IndiceDicionario(std::string_view linha, bool detalhe);
  void EscreveValor(const std::string& token, std::string_view valor, std::size_t numero);
  void CapturaValoresChave(const std::string& token, std::string_view valor);
  std::string Finaliza(const std::string& versao) const;

  TqorNFCeConverter caminhos_;  // the template folder and its lookup
  std::string diretorioLogErro_;
  std::string arquivo_;

  std::map<std::string, Dicionario> dicionarios_;  // by path

  // State of one conversion.
  const Dicionario* dicionario_ = nullptr;  // of the current block; null before the first
  std::string bloco_;                       // the current block line ("C|", "D|", "R|")
  std::size_t contador_ = 0;
  bool aposICMS_ = false;
  Chave chave_;
  bool capturar_ = true;
  std::string xml_;
  std::vector<Marca> marcas_;

  std::mt19937 aleatorio_;
};

}  // namespace qor
