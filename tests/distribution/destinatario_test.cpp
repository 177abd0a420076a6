// The note's distribution XML from the send and reply logs: which file each status gives, the
// pointer files, the digest check, and nfeProc documents that the official schema accepts and
// xmlsec1 verifies.
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
#include "support/Tools.h"
#include "templates/TqorNFCeTemplates.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;
constexpr const char* kNs = "http://www.portalfiscal.inf.br/nfe";
constexpr const char* kRecibo = "351000000012345";

// Signed notes of the one-item sample numbered `nNF`, as a send log holds them.
struct Notas {
  std::vector<std::string> nfe, chave, digest;
  explicit Notas(std::initializer_list<int> numeros) {
    TqorGovX gov;
    gov.Get_CertificateSettings().Path = test::SharedPki().companyPfx;
    gov.Get_CertificateSettings().Password = test::SharedPki().password;
    gov.Get_SignerSettings().SignedElement = "infNFe";
    const std::string amostra = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    for (int n : numeros) {
      std::string tx2 = amostra;
      tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(n));
      TqorNFCeConvTXTDataSet parser;
      parser.SetXMLDicionario(kBin + "/Templates/vm60/Conversor/NFCeDataSets.xml");
      parser.SetTXT(tx2);
      std::string infNFe = parser.Converter();
      infNFe.resize(infNFe.size() - 2);
      const std::string id = GetXMLAttributeByIndex(infNFe, "infNFe", "Id");
      nfe.push_back(gov.SignXmlById(Format("<NFe xmlns=\"%s\">%s</NFe>", {kNs, infNFe}), id));
      chave.push_back(id.substr(3));
      digest.push_back(GetValueTag("DigestValue", nfe.back()));
    }
  }
  std::string LogEnvio() const {
    std::string notas;
    for (const std::string& n : nfe) notas += n;
    return Format(
        "<enviNFe xmlns=\"%s\" versao=\"4.00\"><idLote>1</idLote><indSinc>0</indSinc>"
        "%s</enviNFe>",
        {kNs, notas});
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

std::string RetConsReci(const std::vector<std::string>& infProts) {
  std::string prots;
  for (const std::string& p : infProts) prots += "<protNFe versao=\"4.00\">" + p + "</protNFe>";
  return Format(
      "<retConsReciNFe xmlns=\"%s\" versao=\"4.00\"><tpAmb>2</tpAmb><verAplic>SIM"
      "</verAplic><nRec>%s</nRec><cStat>104</cStat><xMotivo>Lote processado</xMotivo>"
      "<cUF>35</cUF><dhRecbto>2026-12-07T10:15:30-03:00</dhRecbto>%s</retConsReciNFe>",
      {kNs, kRecibo, prots});
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
    ForceDirectories(dir / "Dest");
    WriteFile(dir / "Dest/" + numero, "env-lot=lote-env-lot.xml");
  }
};

TEST(Destinatario, ReceiptWritesAuthorisedAndDeniedNotesAndRemovesThePointers) {
  const Notas notas{11, 12, 13};
  Pastas p;
  ForceDirectories(p.dir / "Log");
  WriteFile(p.dir / "Log/lote-env-lot.xml", notas.LogEnvio());
  WriteFile(p.dir / "Log/recibo-pro-rec.xml",
            RetConsReci({InfProt(notas.chave[0], notas.digest[0], "100"),
                         InfProt(notas.chave[1], notas.digest[1], "302"),
                         InfProt(notas.chave[2], notas.digest[2], "100")}));
  p.Ponteiro(kRecibo);
  for (const std::string& chave : notas.chave) p.Ponteiro(chave);
  TqorNFCeXmlDestinatario d = p.Destinatario();
  d.LogConsRec = "recibo-pro-rec.xml";
  d.GerarXmlDestinatario(kRecibo);

  const std::vector<std::string> esperados = {p.dir / "Dest/" + notas.chave[0] + "-nfce.xml",
                                              p.dir / "Dest/" + notas.chave[2] + "-nfce.xml",
                                              p.dir / "Dest/" + notas.chave[1] + "-den.xml"};
  EXPECT_EQ(p.escritos, esperados);
  EXPECT_FALSE(FileExists(p.dir / "Dest/" + kRecibo));
  for (const std::string& chave : notas.chave) EXPECT_FALSE(FileExists(p.dir / "Dest/" + chave));

  // Tools we did not write accept what was written.
  QOR_NEEDS_SCHEMAS();
  for (const std::string& arquivo : esperados) {
    const std::string xml = ReadFile(arquivo);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?><nfeProc", 0), 0u) << xml;
    EXPECT_EQ(test::SignatureError(xml, "infNFe", test::SharedPki().caCert), "");
    EXPECT_EQ(test::SchemaError(xml, "procNFe_v4.00.xsd"), "");
  }
}

TEST(Destinatario, KeyPathStatusesDigestAndPointers) {
  const Notas notas{21};
  const std::string& chave = notas.chave[0];
  Pastas p;
  ForceDirectories(p.dir / "Log");
  WriteFile(p.dir / "Log/lote-env-lot.xml", notas.LogEnvio());
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
  consulta(InfProt(chave, notas.digest[0], "150"));
  gerar();
  EXPECT_TRUE(p.escritos.empty());

  // 150 distributes as authorised, with the protocol rebuilt field by field and cMsg/xMsg kept.
  consulta(InfProt(chave, notas.digest[0], "150", "<cMsg>1</cMsg><xMsg>Aviso</xMsg>"));
  p.Ponteiro(chave);
  gerar();
  ASSERT_EQ(p.escritos.size(), 1u);
  EXPECT_EQ(p.escritos[0], p.dir / "Dest/" + chave + "-nfce.xml");
  EXPECT_NE(ReadFile(p.escritos[0]).find("<xMotivo>Motivo</xMotivo><cMsg>1</cMsg><xMsg>Aviso"),
            std::string::npos);
  EXPECT_FALSE(FileExists(p.dir / "Dest/" + chave));

  // A status that is not distributed (204) writes nothing and keeps the pointer.
  consulta(InfProt(chave, notas.digest[0], "204"));
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
            "O digVal encontrado no Xml de Envio " + notas.digest[0] +
                " difere do digVal de processamento AAAAAAAAAAAAAAAAAAAAAAAAAAA=");
}

TEST(Destinatario, FailuresAndTheSaveSwitch) {
  const Notas notas{31};
  Pastas p;
  TqorNFCeXmlDestinatario d = p.Destinatario();
  EXPECT_EQ(MessageOf<EqorNFCeXmlDestinatarioException>(
                [&] { d.GerarXmlDestinatario("1234567890123456"); }),
            "O Número informado: 1234567890123456 não se refere nem a um Recibo e nem a uma "
            "Chave de NFce");
  EXPECT_THROW(d.GerarXmlDestinatario("../../../etc/pa"), EqorNFCeXmlDestinatarioException);

  ForceDirectories(p.dir / "Log");
  WriteFile(p.dir / "Log/lote-env-lot.xml", notas.LogEnvio());
  WriteFile(p.dir / "Log/recibo-pro-rec.xml",
            RetConsReci({InfProt(notas.chave[0], notas.digest[0], "100")}));
  d.LogEnvio = "lote-env-lot.xml";
  d.LogConsRec = "recibo-pro-rec.xml";
  const std::string outra(44, '3');
  EXPECT_EQ(MessageOf<EqorNFCeXmlDestinatarioException>([&] { d.MontarXmlDestinatario(outra); }),
            "NFCe Id: " + outra + " não encontrada no Log : lote-env-lot.xml ");

  p.Ponteiro(kRecibo);
  d.SalvarLogsEmDisco = false;
  d.GerarXmlDestinatario(kRecibo);
  EXPECT_TRUE(p.escritos.empty());
  EXPECT_FALSE(FileExists(p.dir / "Dest/" + notas.chave[0] + "-nfce.xml"));
}

}  // namespace
}  // namespace qor
