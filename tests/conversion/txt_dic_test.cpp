// The positional TXT converter on the installed dictionaries and the sample of data/exemplos:
// every refusal with its message, the ICMS and PIS dictionary jumps, the captured key fields,
// the generator's substitutions; every note produced is checked by xmllint.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvDic.h"
#include "platform/Files.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"
#include "support/Tools.h"
#include "utils/Chave.h"

namespace qor {
namespace {

using test::MessageOf;
using L = std::vector<std::string>;

const std::string kTemplates = std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/";
const std::string kAmostra = std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/nfce-dicionario.txt";

// The sample's 20 lines (0-based: 0 "C|", 5 "D|" of item 1, 10 "D|" of item 2, 15 "R|"),
// changed by `muda`.
L Amostra(const std::function<void(L&)>& muda = {}) {
  L linhas;
  const std::string texto = LoadFromFile(kAmostra);
  for (std::size_t i = 0, f; (f = texto.find('\n', i)) != std::string::npos; i = f + 1)
    linhas.push_back(texto.substr(i, f - i));
  if (muda) muda(linhas);
  return linhas;
}

// xmllint's report on the note: empty when it is well-formed.
std::string Xmllint(const std::string& xml) {
  std::string saida;
  const std::string arquivo = test::WriteScratch(xml);
  return test::RunCommand("xmllint --noout --nonet '" + arquivo + "'", &saida) ? saida + " " : "";
}

class TxtDic : public ::testing::Test {
 protected:
  void SetUp() override {
    QOR_NEEDS_XMLLINT();
    conv.SetDiretorioTemplates(kTemplates);
    conv.SetDiretorioLogErro(dir.path());
  }
  std::string Converte(const L& linhas, const std::string& versao = "2.00") {
    std::string texto;
    for (const auto& l : linhas) texto += l + "\r\n";
    test::WriteFile(dir / "nota.txt", texto);
    conv.setArquivo(dir / "nota.txt");
    const std::string xml = conv.Converter(versao);
    EXPECT_EQ(Xmllint(xml), "");
    return xml;
  }
  // The text of the first `filho` right under a `pai`.
  static std::string Filho(const XmlDocument& nota, std::string_view pai, std::string_view filho) {
    return nota.ValuesInside({{{pai, filho}, true}}).front();
  }
  // The key holds the note's fields, the issuer's CNPJ among them, and its digit holds.
  static void ConfereChave(const XmlDocument& nota) {
    const std::string chave = nota.Attribute("infNFe", "Id").substr(3);
    ASSERT_EQ(chave.size(), 44u);
    const auto v = [&](const char* tag) { return Filho(nota, "ide", tag); };
    EXPECT_EQ(chave.substr(0, 6), v("cUF") + v("dEmi").substr(2, 2) + v("dEmi").substr(5, 2));
    EXPECT_EQ(chave.substr(6, 16), Filho(nota, "emit", "CNPJ") + v("mod"));
    EXPECT_EQ(std::stoi(chave.substr(22, 3)), std::stoi(v("serie")));
    EXPECT_EQ(std::stoi(chave.substr(25, 9)), std::stoi(v("nNF")));
    EXPECT_EQ(chave.substr(34, 10), v("cNF") + v("cDV"));
    EXPECT_TRUE(ValidaAutenticidadeDV(chave, TVersaoManual::vm60, ""));
  }
  test::TempDir dir;
  TqorNFCeConvDic conv;
};

TEST_F(TxtDic, SampleBecomesTheNoteWithItsKeyAndItsItems) {
  // Asterisks are data, never taken for the places of the key.
  const auto linhas = Amostra([](L& l) { l[18] = "infAdic||PROMO *** ***** &amp; A&B|/infAdic|"; });
  const XmlDocument nota = XmlDocument::Parse(Converte(linhas, "3.10"));
  ConfereChave(nota);
  EXPECT_EQ(nota.Attribute("infNFe", "versao"), "3.10");
  EXPECT_EQ(nota.Attribute("infNFe", "Id").substr(9, 14), "11222333000181");
  EXPECT_EQ(Filho(nota, "dest", "CNPJ"), "44555666000199");
  EXPECT_EQ(Filho(nota, "emit", "xNome"), "PADARIA PAO & CIA LTDA");
  EXPECT_EQ(Filho(nota, "dest", "xNome"), "CLIENTE D'OESTE COMERCIO <ATACADO>");
  EXPECT_EQ(nota.ValueTag("infCpl"), "PROMO *** ***** & A&B");
  // Item 2's ICMS40 line is read with the fifth ICMS line, the next with the PIS line.
  EXPECT_EQ(nota.Attribute("det", "nItem", 1), "2");
  EXPECT_EQ(Filho(nota, "ICMS40", "CST"), "40");
  EXPECT_EQ(Filho(nota, "PISNT", "CST"), "07");
  EXPECT_EQ(Filho(nota, "det", "infAdProd"), "PRODUTO ISENTO DE ICMS");
}

TEST_F(TxtDic, GeneratorFillsCnpjUfAndNumberIntoValidKeys) {
  const std::string notas = conv.GeraNFs_Random(3, "41", "99888777000166");
  std::size_t n = 0;
  for (std::size_t i = 0, f; (f = notas.find('\n', i)) != std::string::npos; i = f + 1, ++n) {
    const std::string xml = notas.substr(i, f - i);
    EXPECT_EQ(Xmllint(xml), "");
    EXPECT_EQ(xml.find('%'), std::string::npos) << xml;
    const XmlDocument nota = XmlDocument::Parse(xml);
    EXPECT_EQ(Filho(nota, "ide", "cUF"), "41");
    EXPECT_EQ(Filho(nota, "emit", "CNPJ"), "99888777000166");
    EXPECT_LT(std::stoi(nota.ValueTag("nNF")), 9999999);
    ConfereChave(nota);
  }
  EXPECT_EQ(n, 3u);
}

TEST_F(TxtDic, EveryRefusalHasItsMessageAndLeavesNoTrace) {
  const std::string semDetalhe = dir / "semDetalhe/";
  ForceDirectories(semDetalhe + "Conversor");
  CopyFile(kTemplates + "Conversor/dicCabecalho.txt", semDetalhe + "Conversor/dicCabecalho.txt");
  const std::string ultima = Amostra()[19];
  const auto gera = [](int qtd, const char* cUF, const char* CNPJ) {
    return [=](TqorNFCeConvDic& c) { c.GeraNFs_Random(qtd, cUF, CNPJ); };
  };
  const struct {
    L linhas;                                       // the TXT converted, or
    std::function<void(TqorNFCeConvDic&)> chamada;  // another call
    std::string mensagem;
  } casos[] = {
      {L{""}, {}, "Não é permitido iniciar Linha sem Caracter válido."},
      {Amostra([](L& l) { l.erase(l.begin(), l.begin() + 5); }),
       {},
       "O Arquivo deve ser iniciado com cabecalho - C."},
      {Amostra([](L& l) { l.erase(l.begin() + 5, l.begin() + 15); }),
       {},
       "O Cabecalho deve possuir pelo menos um registro de detalhe - D."},
      {Amostra([](L& l) { l[10] = "C|"; }),
       {},
       "A NF: 1001 não foi finalizada com o registro de Rodape - R"},
      {Amostra([](L& l) { l.resize(15); }),
       {},
       "A NF: 1001 não foi finalizada com o registro de Rodape - R"},
      {Amostra([](L& l) { l.erase(l.begin()); }),
       {},
       "Arquivo TXT inválido. Não foi possível identificar início de Bloco (C/D/R)."},
      {Amostra([](L& l) { l[17] = "transp|9|/transp|x|"; }),
       {},
       "transp|9|/transp|x|\rPossui 4.\rQuando deveria ter: 3"},
      {Amostra([](L& l) { l.push_back(l[5]); }),
       {},
       "Linha 21 do arquivo TXT: o bloco D| vem depois do registro de Rodape - R, que finaliza "
       "a NF: 1001"},
      {Amostra([&](L& l) { l.push_back(ultima); }),
       {},
       "Linha 21 do arquivo TXT não tem linha correspondente no dicionário do layout R|: " +
           ultima},
      {Amostra([](L& l) { l[3][20] = '\xE9'; }), {}, "Linha 4 do arquivo TXT não está em UTF-8."},
      {Amostra([](L& l) { l[13] = "PIS|PIS<NT|07||||||/PISNT|/PIS|"; }),
       {},
       "Linha 14 do arquivo TXT: \"PIS<NT\" não é um nome de tag XML válido."},
      {{}, gera(0, "41", "99888777000166"), "Quantidade de Nfs Inválido "},
      {{}, gera(1, "PR", "99888777000166"), "Valor para UF inválido. "},
      {{}, gera(1, "41", "9988877700016"), "CNPJ deve conter 14 dígitos. "},
      {{},
       [&](TqorNFCeConvDic& c) {
         c.SetDiretorioTemplates(semDetalhe);
         c.setArquivo(kAmostra);
         c.Converter();
       },
       "Não foi possível carregar o dicionário para o layout D|"},
  };
  const std::string referencia = Converte(Amostra());
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.mensagem);
    EXPECT_EQ(MessageOf<EqorNFCeCheckTXT>(
                  [&] { caso.chamada ? caso.chamada(conv) : (void)Converte(caso.linhas); }),
              caso.mensagem);
    conv.SetDiretorioTemplates(kTemplates);
    EXPECT_EQ(Converte(Amostra()), referencia) << "nothing of the failure reaches the next note";
  }
  // A tag the data closes wrongly is caught when the note is parsed.
  EXPECT_TRUE(MessageOf<EqorNFCeCheckTXT>([&] {
                Converte(Amostra([](L& l) { l[7] = "ICMS00|0|00|3|1|1|1|/ICMS01|/ICMS|"; }));
              }).starts_with("O XML gerado do arquivo TXT não é válido: "));
  conv.SetDiretorioTemplates(semDetalhe);
  EXPECT_EQ(
      MessageOf<EqorTemplateNotFoundException>(
          [&] { conv.GeraNFs_Random(1, "41", "99888777000166"); }),
      "Arquivo de template do conversor não encontrado: " + semDetalhe + "Conversor/template.txt");
}

}  // namespace
}  // namespace qor
