// The rule engine on a real note: set selection, exception list, the failure message and the
// hooks of Salvar (each rule of the catalogue is tested in catalogue_test.cpp). The container runs
// its rules on the system clock, so the sample's dhEmi is stamped with the present.
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <ostream>

#include "RegrasTeste.h"
#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"
#include "rules/CatalogoRegras.h"
#include "rules/RegrasNFCe.h"
#include "rules/RegrasTotais.h"
#include "rules/TqorControllerRulesNFCe.h"
#include "support/Expect.h"

namespace qor {
namespace {

using test::MessageOf;

using test::IrParaItem;
using test::kBin;
using test::kDicionario;

// The five-item sample issued now, with the rules off, as a filled container.
std::unique_ptr<TqorNFCeDataSets> Amostra() {
  return test::Amostra("nfce-varios-itens.tx2", test::EmBrasilia(std::chrono::system_clock::now()));
}

// Changes one field of a saved note, on the current record of its group.
void Alterar(TqorNFCeDataSets& ds, const std::string& campo, const std::string& valor) {
  test::Aplicar(ds, {campo + "=" + valor});
}

std::string Falha(TqorNFCeDataSets& ds, const std::string& excecoes) {
  ds.SetExcecoesDeRegras(excecoes);
  return MessageOf<EqorNFCeRuleException>(
      [&] { ds.AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz); });
}

void Passa(TqorNFCeDataSets& ds, const std::string& excecoes) {
  ds.SetExcecoesDeRegras(excecoes);
  EXPECT_NO_THROW(ds.AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz)) << excecoes;
}

TEST(RuleEngine, FailureMessageAndRulesWithoutADataSet) {
  auto ds = Amostra();
  Alterar(*ds, "cDV_B23", "9");
  EXPECT_EQ(Falha(*ds, "only:GA03"),
            "[GA03]: 502 - Rejeição: Erro na Chave de Acesso - Campo ID não corresponde à "
            "concatenação dos campos correspondentes.\r\nVerifique o Campo: ID_A03");
  TqorNFCeGB22_3 regra("GB22_3", "tpEmis_B22", "570", "x");
  EXPECT_EQ(MessageOf<EqorNFCeRuleException>([&] { regra.execute(); }),
            "DataSet não configurado para validação da NFCe.");
  // The vm50 fuel rule reads the fuel group of any package.
  TqorNFCeGL101 combustivel("GL101", "cProdANP_L102", "739", "combustível");
  combustivel.SetDataSet(&ds->Modelo());
  EXPECT_NO_THROW(combustivel.execute());
  IrParaItem(*ds, 4);
  Alterar(*ds, "cProdANP_LA02", "210203001");
  EXPECT_NE(MessageOf<EqorNFCeRuleException>([&] { combustivel.execute(); }).find("[GL101]: 739"),
            std::string::npos);
}

TEST(RuleEngine, ExceptionListOnlyAndOrder) {
  auto ds = Amostra();
  Passa(*ds, "");  // every rule of the set on the sample
  IrParaItem(*ds, 2);
  Alterar(*ds, "cEAN_I03", "7896006711118");
  IrParaItem(*ds, 4);
  Alterar(*ds, "cEAN_I03", "7896006711118");
  Alterar(*ds, "cMunFG_B12", "3550309");
  // GB12 runs before GI03; skipping it (even through a longer code that holds it) shows GI03,
  // reported for the first invalid item.
  EXPECT_EQ(Falha(*ds, "").rfind("[GB12]: 270", 0), 0u);
  EXPECT_EQ(Falha(*ds, "GB12.1").rfind("[GI03]: 611", 0), 0u);
  EXPECT_EQ(ds->FindDataSet("H").Value("nItem_H02"), "2");
  Passa(*ds, "GB12,GI03");
  Passa(*ds, "ONLY:GB23");
  EXPECT_EQ(Falha(*ds, "only:GI03").rfind("[GI03]", 0), 0u);
  // "only:" with no code runs everything but the listed codes.
  EXPECT_EQ(Falha(*ds, "only:").rfind("[GB12]", 0), 0u);
}

TEST(RuleEngine, SetsFollowTheSchemaPackage) {
  using V = TVersaoEsquema;
  EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(V::pl_006n), TVersaoManual::vm50);
  EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(V::pl_007a), TVersaoManual::vm50);
  EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(V::pl_008a), TVersaoManual::vm50b);
  EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(V::pl_008i1), TVersaoManual::vm50b);
  EXPECT_EQ(TqorControllerRulesNFCe::GetVersaoManualDoEsquema(V::pl_009), TVersaoManual::vm60);
  TqorNFCeDataSets ds;
  ds.SetVersaoEsquema(V::pl_008c);
  ds.SetXMLDicionario(kDicionario);
  EXPECT_EQ(MessageOf<EqorNFCeVersaoManualException>(
                [&] { ds.AplicarRegrasDeNegocio(TTipoRegraKind::rkMarqon); }),
            "A Versão de Esquema não está referenciada a nenhuma versão de Manual de "
            "Integração.");

  // Each set holds its catalogue rows in the set's order, with the set's version and text.
  for (TVersaoManual versao :
       {TVersaoManual::vm50, TVersaoManual::vm50a, TVersaoManual::vm50b, TVersaoManual::vm60}) {
    const auto regras = TqorControllerRulesNFCe::CarregarRegras(versao);
    const auto& ordem = OrdemRegras(versao);
    std::size_t posicao = 0;
    for (const auto& regra : regras) {
      EXPECT_EQ(regra->GetVersaoManual(), versao);
      while (posicao < ordem.size() && ordem[posicao] != regra->GetCodigo()) ++posicao;
      EXPECT_LT(posicao, ordem.size()) << regra->GetCodigo() << " out of order";
    }
  }
  const auto vm50 = TqorControllerRulesNFCe::CarregarRegras(TVersaoManual::vm50);
  const auto vm60 = TqorControllerRulesNFCe::CarregarRegras(TVersaoManual::vm60);
  const auto mensagemDe = [](const auto& regras, const std::string& codigo) {
    for (const auto& r : regras) {
      if (r->GetCodigo() == codigo) return r->GetMensagem();
    }
    return std::string("(ausente)");
  };
  EXPECT_EQ(mensagemDe(vm50, "GB12"),
            "Rejeição: Código Município do fato gerador: dígito inválido");
  EXPECT_EQ(mensagemDe(vm60, "GB12"),
            "Rejeição: Código Município do fato gerador de ICMS inexistente");
  EXPECT_EQ(mensagemDe(vm50, "GW16_30"), "(ausente)");
  EXPECT_EQ(mensagemDe(vm60, "GL101"), "(ausente)");
}

TEST(RuleEngine, NumbersAndMunicipalityCodesIndependentOfTheLocale) {
  const char* anterior = std::setlocale(LC_ALL, nullptr);
  const std::string salvo = anterior ? anterior : "C";
  if (!std::setlocale(LC_ALL, "pt_BR.UTF-8")) {
    GTEST_SKIP() << "locale pt_BR.UTF-8 not installed (scripts/bootstrap generates it)";
  }
  auto ds = Amostra();
  Alterar(*ds, "vNF_W16", "200000.00");
  Passa(*ds, "only:GW16_30");
  Alterar(*ds, "vNF_W16", "200000.01");
  EXPECT_EQ(Falha(*ds, "only:GW16_30").rfind("[GW16_30]: 780", 0), 0u);
  Alterar(*ds, "vNF_W16", "1,5");
  EXPECT_NE(MessageOf<EqorNFCeRuleException>([&] {
              ds->SetExcecoesDeRegras("only:GW16_30");
              ds->AplicarRegrasDeNegocio(TTipoRegraKind::rkSefaz);
            }).find("'1,5' não é um valor numérico válido"),
            std::string::npos);
  std::setlocale(LC_ALL, salvo.c_str());

  // 2201919 is one of the IBGE codes whose digit falls outside the rule.
  Alterar(*ds, "cMunFG_B12", "2201919");
  Passa(*ds, "only:GB12");
}

TEST(RuleEngine, SalvarAppliesTheRulesWhenAsked) {
  std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-varios-itens.tx2");
  tx2.replace(tx2.find("cMunFG_B12=3550308"), 18, "cMunFG_B12=3550309");
  const std::size_t dhEmi = tx2.find("dhEmi_B09=") + 10;
  tx2.replace(dhEmi, 25, test::EmBrasilia(std::chrono::system_clock::now()));
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  EXPECT_NO_THROW(parser.Converter());  // rules off by default
  parser.DataSets().SetValidaRegrasNegocio(true);
  EXPECT_EQ(MessageOf<EqorNFCeRuleException>([&] { parser.Converter(); }).rfind("[GB12]", 0), 0u);
  parser.DataSets().SetExcecoesDeRegras("GB12");
  EXPECT_NO_THROW(parser.Converter());
  parser.DataSets().SetValidaRegrasNegocio(false);
  parser.DataSets().SetValidaRegrasNegocioMarqon(true);
  parser.DataSets().SetExcecoesDeRegras("");
  EXPECT_THROW(parser.Converter(), EqorNFCeRuleException);
}

// ---- rules run together ---------------------------------------------------------------------

// How a run ended: its message ("" when every rule passed) and where it left the items.
struct Desfecho {
  std::string mensagem;
  std::string item;  // nItem_H02 of H's current record
  bool fim = false;  // H past its last item
  bool operator==(const Desfecho&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Desfecho& d) {
  return os << "{\"" << d.mensagem << "\", item " << d.item << (d.fim ? ", fim}" : "}");
}

Desfecho Observar(TqorNFCeDataSets& ds, const std::function<void()>& executar) {
  Desfecho d;
  try {
    executar();
  } catch (const std::exception& e) {
    d.mensagem = e.what();
  }
  TXmlDataSetNFCe& h = ds.FindDataSet("H");
  d.item = h.Value("nItem_H02");
  d.fim = !h.Editing() && h.Eof();
  return d;
}

const std::string kEmissao = "2026-12-07T10:33:00-03:00";
std::chrono::system_clock::time_point Agora() {
  using namespace std::chrono;
  return sys_days(year(2026) / 12 / 7) + hours(13) + minutes(35);
}

// The vm60 set through the controller: consecutive item rules, and consecutive total rules,
// run together in one walk of the items.
Desfecho EmConjunto(TqorNFCeDataSets& ds, const std::string& excecoes) {
  return Observar(ds, [&] {
    TqorControllerRulesNFCe controller;
    controller.SetNFCeDataSet(&ds.Modelo());
    controller.SetExcecoesDeRegras(excecoes);
    controller.SetRelogio(Agora);
    controller.AplicarRegras();
  });
}

// The same rules one after the other, each walking the items alone.
Desfecho UmaAUma(TqorNFCeDataSets& ds, const std::string& excecoes) {
  const auto regras = TqorControllerRulesNFCe::CarregarRegras(TVersaoManual::vm60);
  TqorControllerRulesNFCe lista;
  lista.SetExcecoesDeRegras(excecoes);
  return Observar(ds, [&] {
    for (const auto& regra : regras) {
      regra->SetDataSet(&ds.Modelo());
      regra->SetRelogio(Agora);
      if (!lista.EstaNaListaDeExcecoes(regra->GetCodigo())) regra->execute();
    }
  });
}

TEST(RuleEngine, RulesRunTogetherReportWhatRunningThemOneByOneWould) {
  // The codes of the item rules, to see the totals alone.
  std::string itens;
  for (const auto& regra : TqorControllerRulesNFCe::CarregarRegras(TVersaoManual::vm60)) {
    if (dynamic_cast<TqorNFCeTemplateItem*>(regra.get())) itens += regra->GetCodigo() + ",";
  }
  struct Caso {
    std::vector<std::string> alteracoes;
    std::string excecoes;
  };
  const Caso casos[] = {
      {{}, ""},
      // Item rules of one walk: the earlier rule fails a later item than the later rule.
      {{"2:CST_N12=50", "4:cEANTrib_I12=7896006711118"}, ""},
      // An earlier rule cannot read an item value; a later rule fails an earlier item.
      {{"1:CST_N12=50", "3:vProd_I11=1,5"}, ""},
      // The first rule of the walk fails: the walk stops on its item.
      {{"3:CFOP_I08=5933", "5:CST_N12=50"}, ""},
      // Totals: an item value that cannot be read, then a later rule's total.
      {{"3:vFrete_I15=1,0", "vSeg_W09=x"}, itens},
      // A total that cannot be read, then a later rule's item value.
      {{"vFrete_W08=x", "3:vSeg_I16=1,0"}, itens},
      // The first total rule's total.
      {{"vBC_W03=x", "2:vFrete_I15=1,0"}, itens},
      // A sum off its total, then a later rule's item value.
      {{"vDesc_W10=5.00", "4:vOutro_I17a=1,0"}, itens},
      // H left unposted on item 3: the item rules cannot walk it; the totals sum its pending
      // record alone (GI04_1 reads it as the first item).
      {{"3:!nItem_H02=3"}, ""},
      {{"3:!nItem_H02=3"}, itens + "GI04_1"},
      {{"3:vFrete_I15=1,0", "3:!nItem_H02=3"}, itens + "GI04_1,GW03,GW04,GW07"},
  };
  for (const Caso& caso : casos) {
    SCOPED_TRACE(testing::PrintToString(caso.alteracoes) +
                 (caso.excecoes.empty() ? "" : " (totals)"));
    auto juntas = test::Amostra("nfce-varios-itens.tx2", kEmissao);
    auto sozinhas = test::Amostra("nfce-varios-itens.tx2", kEmissao);
    test::Aplicar(*juntas, caso.alteracoes);
    test::Aplicar(*sozinhas, caso.alteracoes);
    // Twice: a run starts where the last left the items, and reuses the rule objects.
    for (int vez = 0; vez < 2; ++vez) {
      EXPECT_EQ(EmConjunto(*juntas, caso.excecoes), UmaAUma(*sozinhas, caso.excecoes)) << vez;
    }
  }
}

TEST(RuleEngine, ARunReadsItsOwnNote) {
  auto invalida = test::Amostra("nfce-varios-itens.tx2", kEmissao);
  test::Aplicar(*invalida, {"4:cEANTrib_I12=7896006711118"});
  auto valida = test::Amostra("nfce-varios-itens.tx2", kEmissao);
  const Desfecho falha = EmConjunto(*invalida, "");
  EXPECT_EQ(falha.mensagem.rfind("[GI12]: 612", 0), 0u) << falha;
  EXPECT_EQ(falha.item, "4");
  EXPECT_EQ(EmConjunto(*valida, "").mensagem, "");
  EXPECT_EQ(EmConjunto(*invalida, ""), falha);
  // The same model with its dictionary loaded again: new groups, an empty note.
  invalida->Modelo().SetXMLDicionario(kDicionario);
  EXPECT_EQ(EmConjunto(*invalida, ""), UmaAUma(*invalida, ""));
  auto outra = test::Amostra("nfce-varios-itens.tx2", kEmissao);
  test::Aplicar(*outra, {"2:cEANTrib_I12=7896006711118"});
  EXPECT_EQ(EmConjunto(*outra, "").item, "2");
}

}  // namespace
}  // namespace qor
