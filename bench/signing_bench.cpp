// Enveloped signature of a note (TqorGovX::SignXmlById: parse, digest, RSA signature, serialise)
// against the signature baseline, for a 1-item and a 10-item note. The certificate is loaded
// before the timing, as a component signing many notes has it.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "Baseline.h"
#include "TestPki.h"
#include "platform/GovX.h"

namespace {

constexpr char kId[] = "NFe35240811222333000181650010000000011000000010";

std::string Det(int item) {
  const std::string n = std::to_string(item);
  return "<det nItem=\"" + n + "\"><prod><cProd>" + n +
         "</cProd><cEAN>SEM GTIN</cEAN><xProd>PRODUTO DE TESTE " + n +
         "</xProd><NCM>21069090</NCM><CFOP>5102</CFOP><uCom>UN</uCom><qCom>1.0000</qCom>"
         "<vUnCom>10.0000000000</vUnCom><vProd>10.00</vProd><cEANTrib>SEM GTIN</cEANTrib>"
         "<uTrib>UN</uTrib><qTrib>1.0000</qTrib><vUnTrib>10.0000000000</vUnTrib><indTot>1</indTot>"
         "</prod><imposto><vTotTrib>1.50</vTotTrib><ICMS><ICMSSN102><orig>0</orig>"
         "<CSOSN>102</CSOSN></ICMSSN102></ICMS><PIS><PISOutr><CST>99</CST><vBC>0.00</vBC>"
         "<pPIS>0.0000</pPIS><vPIS>0.00</vPIS></PISOutr></PIS><COFINS><COFINSOutr><CST>99</CST>"
         "<vBC>0.00</vBC><pCOFINS>0.0000</pCOFINS><vCOFINS>0.00</vCOFINS></COFINSOutr></COFINS>"
         "</imposto></det>";
}

std::string Note(int items) {
  std::string dets;
  for (int i = 1; i <= items; ++i) dets += Det(i);
  return std::string("<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe Id=\"") + kId +
         "\" versao=\"4.00\"><ide><cUF>35</cUF><cNF>00000001</cNF><natOp>VENDA</natOp><mod>65</mod>"
         "<serie>1</serie><nNF>1</nNF><dhEmi>2024-08-01T10:00:00-03:00</dhEmi><tpNF>1</tpNF>"
         "<idDest>1</idDest><cMunFG>3550308</cMunFG><tpImp>4</tpImp><tpEmis>1</tpEmis><cDV>0</cDV>"
         "<tpAmb>2</tpAmb><finNFe>1</finNFe><indFinal>1</indFinal><indPres>1</indPres>"
         "<procEmi>0</procEmi><verProc>1.0</verProc></ide><emit><CNPJ>11222333000181</CNPJ>"
         "<xNome>EMPRESA TESTE</xNome><enderEmit><xLgr>RUA A</xLgr><nro>1</nro><xBairro>CENTRO"
         "</xBairro><cMun>3550308</cMun><xMun>SAO PAULO</xMun><UF>SP</UF><CEP>01001000</CEP>"
         "</enderEmit><IE>111111111111</IE><CRT>1</CRT></emit>" +
         dets + "<total><ICMSTot><vBC>0.00</vBC><vICMS>0.00</vICMS><vProd>" +
         std::to_string(items * 10) + ".00</vProd><vNF>" + std::to_string(items * 10) +
         ".00</vNF></ICMSTot></total><transp><modFrete>9</modFrete></transp><pag><detPag>"
         "<tPag>01</tPag><vPag>" +
         std::to_string(items * 10) + ".00</vPag></detPag></pag></infNFe></NFe>";
}

void Sign(benchmark::State& state, int items) {
  const auto folder = std::filesystem::temp_directory_path() / "qornfce-bench-pki";
  const qor::sim::TestPki pki = qor::sim::CreateTestPki(folder.string(), "11222333000181", "1234");
  qor::TqorGovX govx;
  govx.Get_CertificateSettings().Path = pki.companyPfx;
  govx.Get_CertificateSettings().Password = pki.password;
  govx.Get_SignerSettings().SignedElement = "infNFe";
  const std::string note = Note(items);
  govx.SignXmlById(note, kId);  // loads the certificate and builds the key, outside the timing
  for (auto _ : state) benchmark::DoNotOptimize(govx.SignXmlById(note, kId));
  state.counters["bytes"] = static_cast<double>(note.size());
}

void BM_SignUmItem(benchmark::State& state) { Sign(state, 1); }
void BM_SignDezItens(benchmark::State& state) { Sign(state, 10); }

}  // namespace

int main(int argc, char** argv) {
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("SignXmlById/1-item", BM_SignUmItem);
  benchmark::RegisterBenchmark("SignXmlById/10-itens", BM_SignDezItens);
  return qor::bench::RunWithRatios(argc, argv);
}
