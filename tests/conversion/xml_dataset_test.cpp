// Note XML read back into the datasets and written out as TX2: the round trip TX2 -> XML ->
// datasets -> TX2 -> XML over every sample and corpus note (the pl_009g ones checked by xmllint
// against the official schema), the shapes real files come in (tests/conversion/data), bad input
// and its messages, and a note the simulator authorised, whose infNFe written again still passes
// xmlsec1.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "utils/Notas.h"

namespace qor {
namespace {

using test::MessageOf;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using V = TVersaoEsquema;

const std::string kTemplates = std::string(QORNFCE_BIN_DIR) + "/Templates/vm60/";
const std::string kFonte = std::string(QORNFCE_SOURCE_DIR) + "/";
const std::string kDados = kFonte + "tests/conversion/data/";

// The notes of a TX2 text or file, one per line as the converter writes them.
std::vector<std::string> Notas(const std::string& tx2, V versao) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetVersaoEsquema(versao);
  parser.SetXMLDicionario(kTemplates + "Conversor/NFCeDataSets.xml");
  parser.SetTXT(tx2);
  std::vector<std::string> notas;
  TStrings linhas;
  linhas.SetText(parser.Converter());
  for (const std::string& nota : linhas.Lines()) notas.push_back(nota);
  return notas;
}

std::unique_ptr<TqorNFCeDataSets> Ler(const std::string& xml, V versao, TStrings* dados = nullptr) {
  TqorNFCeConverter conversor;
  conversor.SetDiretorioTemplates(kTemplates);
  return conversor.ConvertXmlToDataSet(xml, versao, dados);
}

TEST(XmlParaDataSet, RoundTripIsByteIdenticalForEverySampleAndCorpusNote) {
  const std::vector<V> k400 = {V::pl_009g, V::pl_009},
                       k310 = {V::pl_008g, V::pl_008h, V::pl_008i, V::pl_008i1};
  const std::vector<std::pair<std::string, std::vector<V>>> casos = {
      {"tests/conversion/corpus/icms-regime-normal.tx2", k400},
      {"tests/conversion/corpus/icms-simples-nacional.tx2", k400},
      {"tests/conversion/corpus/pagamentos-destinatarios.tx2", k400},
      {"tests/conversion/corpus/rastro-exportacao-observacoes.tx2", k400},
      {"tests/conversion/corpus/leiaute-310.tx2", k310},
      {"tests/conversion/corpus/medicamentos-310.tx2", k310},
      {"tests/conversion/corpus/leiaute-antigo.tx2",
       {V::pl_006n, V::pl_007a, V::pl_008a, V::pl_008b, V::pl_008f}},
      {"data/exemplos/nfce-um-item-dinheiro.tx2", {V::pl_009g}},
      {"data/exemplos/nfce-varios-itens.tx2", {V::pl_009g}},
      {"data/exemplos/nfce-cartao-troco.tx2", {V::pl_009g}},
      {"data/exemplos/nfce-consumidor-identificado.tx2", {V::pl_009g}},
      {"data/exemplos/nfce-simples-nacional.tx2", {V::pl_009g}},
  };
  const bool esquemas = test::HaveXmllint() && !test::SchemasFolder().empty();
  if (!esquemas && test::ToolsRequired()) ADD_FAILURE() << "xmllint or the schema package";
  for (const auto& [arquivo, pacotes] : casos) {
    for (V pacote : pacotes) {
      SCOPED_TRACE(arquivo + " with " + ToString(pacote));
      for (const std::string& nota : Notas(kFonte + arquivo, pacote)) {
        std::string tx2;
        std::vector<std::string> de_novo;
        try {
          tx2 = Ler(test::NFe(nota), pacote)->GerarTX2();
          de_novo = Notas(tx2, pacote);
        } catch (const std::exception& e) {
          ADD_FAILURE() << e.what() << "\n" << nota << "\n" << tx2;
          continue;
        }
        ASSERT_EQ(de_novo.size(), 1u) << tx2;
        EXPECT_EQ(de_novo[0], nota) << tx2;
        if (esquemas && pacote == V::pl_009g) {
          EXPECT_EQ(test::SchemaError(test::NFe(de_novo[0]), "nfe_v4.00.xsd"), "");
        }
      }
    }
  }
}

// Every file holds the same first note (names with "&", apostrophes and accents; a QR code in
// CDATA) in the shape a file may come in.
TEST(XmlParaDataSet, ReadsTheFirstNoteOfEveryShape) {
  const std::string base = test::ReadFile(kDados + "nfeproc.xml");
  const std::string esperada =
      base.substr(base.find("<infNFe "), base.find("<Signature") - base.find("<infNFe "));
  const std::string chave = esperada.substr(15, 44);
  const struct {
    const char* arquivo;
    bool protocolo;
  } casos[] = {{"nfeproc.xml", true},
               {"nfeproc-prefixado.xml", true},
               {"nfeproc-bom-crlf.xml", true},
               {"nfe-assinada.xml", false},
               {"lote-duas-notas.xml", false}};
  for (const auto& caso : casos) {
    SCOPED_TRACE(caso.arquivo);
    TStrings dados;
    const auto ds = Ler(test::ReadFile(kDados + caso.arquivo), V::pl_009g, &dados);
    ASSERT_EQ(ds->GetLoteNFCe().Count(), 1u);
    EXPECT_EQ(ds->GetLoteNFCe()[0], esperada);
    ASSERT_EQ(dados.Count(), 8u);
    EXPECT_EQ(dados.Values("chNFe"), caso.protocolo ? chave : "");
    EXPECT_EQ(dados.Values("cStat"), caso.protocolo ? "100" : "");
    EXPECT_EQ(dados.Names(7), "xMotivo");
    const std::string tx2 = ds->GerarTX2();
    EXPECT_THAT(tx2, HasSubstr("\nxNome_E04=JOÃO D'ÁVILA & FILHOS\n"));
    EXPECT_THAT(tx2, HasSubstr("\nqrCode_ZX02=https://"));
    EXPECT_THAT(tx2, ::testing::Not(HasSubstr("handle=")));
  }
  // A protocol of another note gives no authorisation data.
  std::string outra = base;
  outra.replace(outra.find("<chNFe>") + 7, 44, std::string(44, '1'));
  TStrings dados;
  Ler(outra, V::pl_009g, &dados);
  ASSERT_EQ(dados.Count(), 8u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(dados.ValueFromIndex(i), "") << dados.Names(i);
  // TX2 has no line break inside a value.
  const auto ds = Ler(base, V::pl_009g);
  ds->FindDataSet("Z").Edit();
  ds->Campo("infCpl_Z03").SetAsString("linha 1&#10;linha 2");
  EXPECT_THAT(MessageOf<EqorNFCeDataSetsException>([&] { ds->GerarTX2(); }),
              HasSubstr("infCpl_Z03"));
}

TEST(XmlParaDataSet, FailuresArriveBehindThePrefix) {
  test::TempDir dir;
  const std::string prefixo =
      "Ocorreu um erro durante a conversão do XML com a seguinte mensagem: ";
  const std::string nota = test::ReadFile(kDados + "nfe-assinada.xml");
  std::string ambiente3 = nota;
  ambiente3.replace(ambiente3.find("<tpAmb>2"), 8, "<tpAmb>3");
  const std::string xmlns = " xmlns=\"http://www.portalfiscal.inf.br/nfe\"";
  std::string semNamespace = nota;
  semNamespace.erase(semNamespace.find(xmlns), xmlns.size());
  const std::string semNota = "Não foi possível encontrar notas fiscais no arquivo";
  const std::pair<std::string, std::string> casos[] = {
      {"isto não é XML", "XML mal formado: "},
      {"", "XML mal formado: line 0: Document is empty"},
      {nota.substr(0, nota.size() / 2), "XML mal formado: "},
      {dir / "nao-existe.xml", "XML mal formado: "},
      {test::ReadFile(kDados + "evento.xml"), semNota},
      {semNamespace, semNota},
      {ambiente3, "Conteúdo 3 é inválido para o campo tpAmb_B24"},
  };
  TqorNFCe nfce;
  nfce.SetDiretorioLog(dir / "Log/");
  nfce.SetCNPJ("11222333000181");
  nfce.SetDiretorioTemplates(std::string(QORNFCE_BIN_DIR) + "/Templates/");
  for (const auto& [xml, causa] : casos) {
    EXPECT_THAT(
        MessageOf<EqorNFCeDataSetsException>([&] { nfce.ConverteXmlparaDataSet(xml, V::pl_009g); }),
        StartsWith(prefixo + causa));
  }
  test::WriteFile(dir / "nota.xml", nota);
  EXPECT_EQ(nfce.ConverteXmlparaDataSet(dir / "nota.xml", V::pl_009g)->GetLoteNFCe().Count(), 1u);
  const auto telemetria = ListFiles(dir / "Log/diagnosticmode/nfce/", "telemetria-*.jsonl");
  ASSERT_EQ(telemetria.size(), 1u);
  EXPECT_THAT(test::ReadFile(dir / "Log/diagnosticmode/nfce/" + telemetria[0]),
              HasSubstr("\"ConverterXmlParaDataSet\""));
  nfce.SetDiretorioTemplates(dir / "vazio/");
  EXPECT_THAT(
      MessageOf<EqorNFCeDataSetsException>([&] { nfce.ConverteXmlparaDataSet(nota, V::pl_009g); }),
      StartsWith(prefixo + "Arquivo de template do conversor não encontrado: "));
}

class XmlAutorizada : public test::SimulatorRoad {};

// The authorised nfeProc read back: its infNFe written again and spliced in place of the
// original still passes xmlsec1, and the TX2 of it converts into that infNFe.
TEST_F(XmlAutorizada, ReEmittedNoteStillVerifiesAndItsTx2GivesItBack) {
  test::WriteFile(rig->dir / "nota.tx2",
                  LoadFromFile(std::string(QORNFCE_BIN_DIR) + "/exemplos/nfce-cartao-troco.tx2"));
  const std::string assinada = nfce.AssinarNota(
      nfce.ConverterLoteParaXml(rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, V::pl_009g));
  const std::string chave = assinada.substr(assinada.find("Id=\"NFe") + 7, 44);
  nfce.EnviarNFSincrono("1", assinada, false);
  const std::string arquivo = rig->dir / "XmlDestinatario/" + chave + "-nfce.xml";
  ASSERT_TRUE(FileExists(arquivo));
  std::string proc = test::ReadFile(arquivo);
  TStrings dados;
  const auto ds = nfce.ConverteXmlparaDataSet(arquivo, V::pl_009g, &dados);
  EXPECT_EQ(dados.Values("cStat"), "100");
  EXPECT_EQ(dados.Values("nProt").size(), 15u);
  const std::string original = GetNota(0, proc);
  const std::string reescrita = GetNota(0, ds->GetLoteNFCe()[0]);
  proc.replace(proc.find(original), original.size(), reescrita);
  EXPECT_EQ(test::SignatureError(proc, "infNFe", test::SharedPki().caCert), "");
  EXPECT_EQ(GetNota(0, nfce.ConverterLoteParaXml(ds->GerarTX2(), TLayoutConvKind::lkTXTDataSet,
                                                 V::pl_009g)),
            original);
}

}  // namespace
}  // namespace qor
