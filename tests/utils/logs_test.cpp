// Log search on log files written by the component's own request log, and the log listing.
#include "utils/XmlLogs.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "platform/RequestLog.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;
using test::WriteFile;

const std::string kNs = "xmlns=\"http://www.portalfiscal.inf.br/nfe\"";
const std::string kChave1 = "35190511222333000181650010000000411000012343";
const std::string kChave2 = "35190511222333000181650010000000421000012340";

std::string Nfe(const std::string& chave) {
  return "<NFe " + kNs + "><infNFe versao=\"4.00\" Id=\"NFe" + chave + "\"><ide><nNF>" +
         chave.substr(25, 9) + "</nNF></ide></infNFe></NFe>";
}

std::string ProtNFe(const std::string& chave, const std::string& cStat) {
  return "<protNFe versao=\"4.00\"><infProt><tpAmb>2</tpAmb><chNFe>" + chave + "</chNFe><cStat>" +
         cStat + "</cStat></infProt></protNFe>";
}

// The logs of one batch of two notes, as the request log names them.
struct Logs {
  TempDir dir;
  std::string pasta = dir / "Log/";
  std::string envLot, proRec, eventos, retEventos;
  Logs() {
    TRequestLog log;
    envLot =
        log.Log("<enviNFe " + kNs + " versao=\"4.00\"><idLote>15</idLote><indSinc>0</indSinc>" +
                    Nfe(kChave1) + Nfe(kChave2) + "</enviNFe>",
                "env-lot", "15", "", pasta);
    proRec = log.Log("<retConsReciNFe " + kNs + " versao=\"4.00\"><cStat>104</cStat>" +
                         ProtNFe(kChave1, "100") + ProtNFe(kChave2, " 302") + "</retConsReciNFe>",
                     "pro-rec", "351000000000015", "", pasta);
    eventos = log.Log("<envEvento " + kNs + "><idLote>1</idLote>" + Evento("110111", kChave1) +
                          Evento("110111", kChave2) + "</envEvento>",
                      "caneve-env", "1", "", pasta);
    retEventos = log.Log("<retEnvEvento " + kNs +
                             "><cStat>128</cStat><retEvento><infEvento>"
                             "<chNFe>" +
                             kChave2 + "</chNFe></infEvento></retEvento></retEnvEvento>",
                         "caneve-ret", "1", "", pasta);
  }
  static std::string Evento(const std::string& tipo, const std::string& chave) {
    return "<evento versao=\"1.00\"><infEvento Id=\"ID" + tipo + chave + "01\"><chNFe>" + chave +
           "</chNFe></infEvento></evento>";
  }
};

TEST(XmlLogs, NoteSearchesByFileNameFullPathOrText) {
  Logs logs;
  ASSERT_EQ(logs.envLot, "15-env-lot.xml");
  const std::string segunda =
      TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave2, logs.envLot, logs.pasta);
  EXPECT_EQ(GetXMLAttributeByIndex(segunda, "infNFe", "Id"), "NFe" + kChave2);
  EXPECT_EQ(GetXMLNamespace(segunda), "http://www.portalfiscal.inf.br/nfe");
  EXPECT_EQ(TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave2, logs.pasta + logs.envLot, "/x"),
            segunda);
  const std::string texto = TqorNFCeXMLLogs::LoadLog(logs.envLot, logs.pasta);
  EXPECT_EQ(TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave1, texto, ""),
            TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave1, logs.envLot, logs.pasta));
  EXPECT_EQ(TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave1.substr(0, 43) + "9", texto, ""), "");
  // A name that is not in the folder is taken as XML text, which here is not XML.
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] {
              TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave1, "99-env-lot.xml", logs.pasta,
                                                        logs.dir.path());
            }),
            "Arquivo Log não contém Chave de NFCe ou é inválido.");

  const std::string prot = TqorNFCeXMLLogs::AchaInfProtLogConsRec(kChave2, logs.proRec, logs.pasta);
  EXPECT_EQ(GetValueTag("chNFe", prot), kChave2);
  EXPECT_EQ(
      TqorNFCeXMLLogs::AchaInfProtLogConsRec(kChave2.substr(1) + "1", logs.proRec, logs.pasta), "");
  // Only the protocol of the key asked for, never the first one of the log.
  EXPECT_EQ(
      GetValueTag("chNFe", TqorNFCeXMLLogs::AchaInfProtLogConsNF(kChave2, logs.proRec, logs.pasta)),
      kChave2);
  EXPECT_EQ(TqorNFCeXMLLogs::AchaInfProtLogConsNF(kChave2.substr(1) + "1", logs.proRec, logs.pasta),
            "");

  TStrings chaves;
  TqorNFCeXMLLogs::ListaChavesLogRecibo(logs.proRec, 302, &chaves, logs.pasta);
  TqorNFCeXMLLogs::ListaChavesLogRecibo(logs.proRec, 100, &chaves, logs.pasta);
  TqorNFCeXMLLogs::ListaChavesLogEnv(logs.envLot, &chaves, logs.pasta);
  EXPECT_EQ(chaves.Text(), kChave2 + "\r\n" + kChave1 + "\r\n" + kChave1 + "\r\n" + kChave2);
}

TEST(XmlLogs, RefusalsAndTheirMessages) {
  Logs logs;
  const std::string err = logs.dir.path();
  TStrings lista;
  const std::pair<std::function<void()>, std::string> parametros[] = {
      {[&] {
         TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio("NFe" + kChave1, logs.envLot, logs.pasta, err);
       },
       "A Chave deve ser composta apenas por Números"},
      {[&] { TqorNFCeXMLLogs::AchaInfProtLogConsRec("NFe" + kChave1, "", "", err); },
       "A Chave deve ser composta apenas por Números"},
      {[&] { TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(kChave1, "", logs.pasta, err); },
       "Arquivo de Log Vazio"},
      {[&] { TqorNFCeXMLLogs::ListaChavesLogRecibo(logs.proRec, 0, &lista, logs.pasta, err); },
       "O cStat deve ser informado."},
      {[&] { TqorNFCeXMLLogs::ListaChavesLogRecibo(logs.proRec, 100, nullptr, logs.pasta, err); },
       "Lista não foi instanciada."},
      {[&] { TqorEventosXMLLogs::ListaChavesLogEnv(logs.eventos, nullptr, logs.pasta, err); },
       "Lista não foi instanciada."}};
  for (const auto& [chamada, mensagem] : parametros)
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(chamada), mensagem);
  const std::string ausente = logs.pasta + "nao-existe-env-lot.xml";
  EXPECT_EQ(MessageOf<EqorNFCeLogNotFoundException>(
                [&] { TqorNFCeXMLLogs::LoadLog(ausente, logs.pasta, err); }),
            "Arquivo de Log " + ausente + " não existe.");
  EXPECT_EQ(MessageOf<EqorNFCeEventoLogNotFoundException>(
                [&] { TqorEventosXMLLogs::LoadLog(ausente, logs.pasta, err); }),
            "Arquivo de Log " + ausente + " não existe.");
}

TEST(XmlLogs, EventSearches) {
  Logs logs;
  const std::string id = "ID110111" + kChave2 + "01";
  const std::string evento =
      TqorEventosXMLLogs::AchaEventosAssinadaLogEnvio(id, logs.eventos, logs.pasta);
  EXPECT_EQ(GetXMLAttributeByIndex(evento, "infEvento", "Id"), id);
  EXPECT_EQ(TqorEventosXMLLogs::AchaEventosAssinadaLogEnvio("ID110112" + kChave2 + "01",
                                                            logs.eventos, logs.pasta),
            "");
  EXPECT_EQ(GetValueTag("cStat", TqorEventosXMLLogs::AchaInfChaveLogConsRec(
                                     kChave2, logs.retEventos, logs.pasta)),
            "128");
  EXPECT_EQ(TqorEventosXMLLogs::getIDNotaXPath(Nfe(kChave1)), kChave1);
  TStrings chaves;
  TqorEventosXMLLogs::ListaChavesLogEnv(logs.eventos, &chaves, logs.pasta);
  EXPECT_EQ(chaves.Text(), kChave1 + "\r\n" + kChave2);
}

TEST(XmlLogs, LoadLogKeepsUtf8AndReadsOtherFilesAsWindows1252) {
  TempDir dir;
  WriteFile(dir / "cp1252.xml", "<a>A\xE7\xE3o \x80</a>");
  WriteFile(dir / "utf8.xml", "\xEF\xBB\xBF<a>Ação €</a>");
  EXPECT_EQ(TqorNFCeXMLLogs::LoadLog("cp1252.xml", dir.path()), "<a>Ação €</a>");
  EXPECT_EQ(TqorNFCeXMLLogs::LoadLog(dir / "utf8.xml", ""), "<a>Ação €</a>");
  EXPECT_EQ(TqorEventosXMLLogs::LoadLog("cp1252.xml", dir.path()), "<a>Ação €</a>");
  EXPECT_EQ(TqorNFCeXMLLogs::LoadLog("\xEF\xBB\xBF<b/>", dir.path()), "<b/>");
  // Only the name part of a relative argument is looked up: nothing outside the folder.
  WriteFile(dir / "fora.xml", "<fora/>");
  EXPECT_EQ(TqorNFCeXMLLogs::LoadLog("../fora.xml", dir / "sub/"), "../fora.xml");
}

TEST(XmlLogs, ListarLogsMasks) {
  TempDir dir;
  TqorNFCe nfce;
  nfce.SetDiretorioLogErro(dir / "LogErro/");
  nfce.SetDiretorioLog(dir / "Log/");
  nfce.SetDiagnosticMode(false);
  const std::string pasta = dir / "Log/";
  for (const char* nome : {"41150-nfce.xml", "35150-nfce.xml", "4115-env-lot.xml",
                           "99-env-sinc-lot.xml", "1-ped-sta.xml", "1-sta.xml", "notas.txt"}) {
    WriteFile(pasta + nome, "<x/>");
  }
  TStrings lista;
  lista.Add("antigo");
  nfce.ListarLogs(&lista, TLogFilter::lfNFCe, " 4115 ");
  EXPECT_EQ(lista.Text(), pasta + "41150-nfce.xml");
  nfce.ListarLogs(&lista, TLogFilter::lfNFCe, "");
  EXPECT_EQ(lista.Text(), pasta + "35150-nfce.xml\r\n" + pasta + "41150-nfce.xml");
  nfce.ListarLogs(&lista, TLogFilter::lfSta, "");
  EXPECT_EQ(lista.Text(), pasta + "1-ped-sta.xml\r\n" + pasta + "1-sta.xml");
  nfce.ListarLogs(&lista, TLogFilter::lfEnvLot, "");
  EXPECT_EQ(lista.Text(), pasta + "4115-env-lot.xml");
  nfce.ListarLogs(&lista, TLogFilter::lfEnvSincLot, "");
  EXPECT_EQ(lista.Text(), pasta + "99-env-sinc-lot.xml");
  nfce.ListarLogs(&lista, TLogFilter::lfXml, "");
  EXPECT_EQ(lista.Count(), 6u);
  nfce.ListarLogs(&lista, TLogFilter::lfCustom, "*.txt");
  EXPECT_EQ(lista.Text(), pasta + "notas.txt");
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                [&] { nfce.ListarLogs(nullptr, TLogFilter::lfXml, ""); }),
            "Parâmetro aList não foi instanciado (nil).");
  WriteFile(dir / "arquivo", "x");
  nfce.SetDiretorioLog(dir / "arquivo/Log/");
  EXPECT_EQ(MessageOf<EqorNFCeDirNotFoundException>(
                [&] { nfce.ListarLogs(&lista, TLogFilter::lfXml, ""); }),
            "Diretório de log não pode ser criado ou está vazio: " + dir / "arquivo/Log/");
  EXPECT_EQ(nfce.LerLog("1-sta.xml"), "");
}

}  // namespace
}  // namespace qor
