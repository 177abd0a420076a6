// The note's distribution XML from the send and reply logs: which file each status gives, the
// pointer files, the digest check and the failures. The receipt road, with nfeProc documents
// that the official schema accepts and xmlsec1 verifies, is walked in integration/envio_test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "distribution/TqorNFCeXmlDestinatario.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/GovX.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kBin = QORNFCE_BIN_DIR;
constexpr const char* kNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kRecibo = "351000000012345";

// The one-item sample numbered `nNF`, signed, and a send log that holds it.
struct Nota {
  std::string nfe, chave, digest, logEnvio;
  explicit Nota(int nNF) {
    TqorGovX gov;
    gov.Get_CertificateSettings().Path = test::SharedPki().companyPfx;
    gov.Get_CertificateSettings().Password = test::SharedPki().password;
    gov.Get_SignerSettings().SignedElement = "infNFe";
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    TqorNFCeConvTXTDataSet parser;
    parser.SetXMLDicionario(kBin + "/Templates/vm60/Conversor/NFCeDataSets.xml");
    parser.SetTXT(tx2);
    std::string infNFe = parser.Converter();
    infNFe.resize(infNFe.size() - 2);
    const std::string id = GetXMLAttributeByIndex(infNFe, "infNFe", "Id");
    nfe = gov.SignXmlById(Format("<NFe xmlns=\"%s\">%s</NFe>", {kNs, infNFe}), id);
    chave = id.substr(3);
    digest = GetValueTag("DigestValue", nfe);
    logEnvio = Format(
        "<enviNFe xmlns=\"%s\" versao=\"4.00\"><idLote>1</idLote><indSinc>0</indSinc>%s</enviNFe>",
        {kNs, nfe});
  }
};

std::string InfProt(const std::string& chave, const std::string& digVal, const std::string& cStat,
                    const std::string& extra = {}) {
  return Format(
      "<infProt><tpAmb>2</tpAmb><verAplic>SIM-1.0</verAplic><chNFe>%s</chNFe>"
      "<dhRecbto>2026-12-07T10:15:30-03:00</dhRecbto><nProt>135260000000001</nProt>"
      "<digVal>%s</digVal><cStat>%s</cStat><xMotivo>Motivo</xMotivo>%s</infProt>",
      {chave, digVal, cStat, extra});
}

std::string RetConsReci(const std::string& infProt) {
  return Format(
      "<retConsReciNFe xmlns=\"%s\" versao=\"4.00\"><tpAmb>2</tpAmb><verAplic>SIM"
      "</verAplic><nRec>%s</nRec><cStat>104</cStat><xMotivo>Lote processado</xMotivo>"
      "<cUF>35</cUF><dhRecbto>2026-12-07T10:15:30-03:00</dhRecbto><protNFe versao=\"4.00\">%s"
      "</protNFe></retConsReciNFe>",
      {kNs, kRecibo, infProt});
}

struct Pastas {
  TempDir dir;
  std::vector<std::string> escritos;
  TqorNFCeXmlDestinatario Destinatario() {
    TqorNFCeXmlDestinatario d;
    d.DiretorioLog = dir / "Log/";
    d.DiretorioXmlDestinatario = dir / "Dest/";
    d.DiretorioLogErro = dir / "LogErro/";
    d.Template = TqorNFCeTemplates::LoadTemplate(TVersaoManual::vm60, "SP", "envioxml_dest.xml");
    d.OnXmlDestinatario = [this](const std::string& f) { escritos.push_back(f); };
    return d;
  }
  void Ponteiro(const std::string& numero) {
    WriteFile(dir / "Dest/" + numero, "env-lot=lote-env-lot.xml");
  }
};

TEST(Destinatario, KeyPathStatusesDigestAndPointers) {
  const Nota nota(21);
  const std::string& chave = nota.chave;
  Pastas p;
  WriteFile(p.dir / "Log/lote-env-lot.xml", nota.logEnvio);
  const auto consulta = [&](const std::string& infProt) {
    WriteFile(p.dir / "Log/sit.xml",
              Format("<retConsSitNFe xmlns=\"%s\" versao=\"4.00\"><cStat>%s</cStat>"
                     "<protNFe versao=\"4.00\">%s</protNFe></retConsSitNFe>",
                     {kNs, GetValueTag("cStat", infProt), infProt}));
  };
  const auto gerar = [&] {
    TqorNFCeXmlDestinatario d = p.Destinatario();
    d.LogConsChave = "sit.xml";
    d.GerarXmlDestinatario(chave);
  };

  // Without the pointer file nothing happens.
  consulta(InfProt(chave, nota.digest, "150"));
  gerar();
  EXPECT_TRUE(p.escritos.empty());

  // 150 distributes as authorised, with the protocol rebuilt field by field and cMsg/xMsg kept.
  consulta(InfProt(chave, nota.digest, "150", "<cMsg>1</cMsg><xMsg>Aviso</xMsg>"));
  p.Ponteiro(chave);
  gerar();
  ASSERT_EQ(p.escritos.size(), 1u);
  EXPECT_EQ(p.escritos[0], p.dir / "Dest/" + chave + "-nfce.xml");
  EXPECT_THAT(ReadFile(p.escritos[0]),
              HasSubstr("<xMotivo>Motivo</xMotivo><cMsg>1</cMsg><xMsg>Aviso"));
  EXPECT_FALSE(FileExists(p.dir / "Dest/" + chave));

  // A status that is not distributed (204) writes nothing and keeps the pointer.
  consulta(InfProt(chave, nota.digest, "204"));
  p.Ponteiro(chave);
  gerar();
  EXPECT_EQ(p.escritos.size(), 1u);
  EXPECT_TRUE(FileExists(p.dir / "Dest/" + chave));

  // A protocol whose digest is not the note's: the "Erro-" file explains it.
  consulta(InfProt(chave, "AAAAAAAAAAAAAAAAAAAAAAAAAAA=", "100"));
  gerar();
  ASSERT_EQ(p.escritos.size(), 2u);
  EXPECT_EQ(p.escritos[1], p.dir / "Dest/Erro-" + chave);
  EXPECT_EQ(ReadFile(p.escritos[1]),
            "O digVal encontrado no Xml de Envio " + nota.digest +
                " difere do digVal de processamento AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
}

TEST(Destinatario, FailuresAndTheSaveSwitch) {
  const Nota nota(31);
  Pastas p;
  TqorNFCeXmlDestinatario d = p.Destinatario();
  EXPECT_EQ(MessageOf<EqorNFCeXmlDestinatarioException>(
                [&] { d.GerarXmlDestinatario("1234567890123456"); }),
            "O Número informado: 1234567890123456 não se refere nem a um Recibo e nem a uma "
            "Chave de NFce");
  EXPECT_THROW(d.GerarXmlDestinatario("../../../etc/pa"), EqorNFCeXmlDestinatarioException);

  WriteFile(p.dir / "Log/lote-env-lot.xml", nota.logEnvio);
  WriteFile(p.dir / "Log/recibo-pro-rec.xml", RetConsReci(InfProt(nota.chave, nota.digest, "100")));
  d.LogEnvio = "lote-env-lot.xml";
  d.LogConsRec = "recibo-pro-rec.xml";
  const std::string outra(44, '3');
  EXPECT_EQ(MessageOf<EqorNFCeXmlDestinatarioException>([&] { d.MontarXmlDestinatario(outra); }),
            "NFCe Id: " + outra + " não encontrada no Log : lote-env-lot.xml ");

  p.Ponteiro(kRecibo);
  d.SalvarLogsEmDisco = false;
  d.GerarXmlDestinatario(kRecibo);
  EXPECT_TRUE(p.escritos.empty());
  EXPECT_FALSE(FileExists(p.dir / "Dest/" + nota.chave + "-nfce.xml"));
}

}  // namespace
}  // namespace qor
