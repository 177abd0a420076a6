// The e-mail operations on notes the simulator authorised and cancelled, delivered to a real
// SMTP server (aiosmtpd) and read back with Python's email package; the PDF with pdftotext.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "base/Exceptions.h"
#include "platform/ChildProcess.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/Expect.h"
#include "support/SimulatorFixture.h"
#include "support/SmtpServer.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::SharedPki;
using test::SmtpServer;
using test::SmtpServerKind;
using test::SmtpTls;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class EmailRoad : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    QOR_NEEDS_AIOSMTPD();
    test::SimulatorRoad::SetUp();
    nfce.SetDiretorioTemporario(rig->dir / "Temp/");
    // The mail server is verified as the state's are: against the test CA of the bundle.
    nfce.SetIgnoreInvalidCertificates(false);
    nfce.SetArquivoCadeiaCertificados(SharedPki().caCert);
    TqorEmailSettings& email = nfce.GetEmailSettings();
    email.SetServidorSmtp("127.0.0.1");
    email.SetEmailRemetente("loja@exemplo.com.br");
    email.SetEmailDestinatario("cliente@exemplo.com.br");
    email.SetUsuario("loja");
    email.SetSenha(test::kSmtpSecret);
    email.SetTimeOut(10000);
  }
  std::string Dest(const std::string& nome) const { return rig->dir / "XmlDestinatario/" + nome; }
  // Whatever the temporary folder holds, at any depth.
  std::vector<std::string> Temporarios() const {
    std::vector<std::string> achados;
    if (!std::filesystem::exists(rig->dir / "Temp")) return achados;
    for (const auto& e : std::filesystem::recursive_directory_iterator(rig->dir / "Temp")) {
      achados.push_back(e.path());
    }
    return achados;
  }
};

// The one message `server` received since the messages of `vistas`, which it joins.
std::string Nova(const SmtpServer& server, std::set<std::string>& vistas) {
  std::string nova;
  for (const std::string& m : server.Messages()) {
    if (vistas.insert(m).second) nova = m;
  }
  return nova;
}

// "Anexo: NAME TYPE SHA256" lines of what ler_email.py printed.
std::vector<std::string> Anexos(const std::string& lido) {
  std::vector<std::string> anexos;
  std::istringstream linhas(lido);
  for (std::string linha; std::getline(linhas, linha);) {
    if (linha.rfind("Anexo: ", 0) == 0) anexos.push_back(linha.substr(7));
  }
  return anexos;
}

std::string Anexo(const std::string& nome, const std::string& tipo, const std::string& arquivo) {
  return nome + " " + tipo + " " + test::Sha256Of(arquivo);
}

// Every operation mails the files it names, the temporary ones removed afterwards.
TEST_F(EmailRoad, EachOperationMailsItsFiles) {
  QOR_NEEDS(test::HaveTool("pdftotext"), "pdftotext (poppler-utils)");
  const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 8001);
  const std::string chave = GetValueTag("chNFe", ReadFile(proc));
  const std::string caneve = Dest(chave + "-caneve.xml");
  ASSERT_THAT(nfce.CancelarNF(chave, GetValueTag("nProt", ReadFile(proc)),
                              "Cliente desistiu da compra", "", 1, "", ""),
              HasSubstr("<cStat>135</cStat>"));
  const std::string pedido = rig->dir / "Log/" + Logs("*caneve-env*").at(0);
  const std::string retorno = rig->dir / "Log/" + Logs("*caneve-ret*").at(0);
  const std::string logEnvio = rig->dir / "Log/" + Logs("*env-sinc-lot*").at(0);
  const std::string logResposta = rig->dir / "Log/" + Logs("*env-sinc-ret*").at(0);
  test::TempDir folder;
  SmtpServer server(folder.path(), {}, SharedPki());
  nfce.GetEmailSettings().SetPorta(server.port);
  const std::string extra = rig->dir / "condicoes.txt";
  WriteFile(extra, "Troca em 30 dias.");
  const std::string pdf = rig->dir / "danfce.pdf";
  nfce.ExportarDanfce("", proc, pdf, 1, "");
  const std::string variante = rig->dir / "variante.xml";
  WriteFile(variante, ReadFile(proc) + "<!-- de outra origem -->\n");

  const std::string xml = chave + "-nfce.xml application/xml";
  const std::string comPdf = chave + ".pdf application/pdf";
  struct Case {
    const char* name;
    std::function<void()> send;
    std::vector<std::string> anexos;  // "NAME TYPE SHA", or "NAME TYPE" for a PDF made by the call
    std::string rcptTo = "cliente@exemplo.com.br";
  };
  const std::vector<Case> cases = {
      {"key: the recipient folder's file and the DANFCE",
       [&] { nfce.EnviarNotaDestinatario(chave, "", ""); },
       {Anexo(chave + "-nfce.xml", "application/xml", proc), comPdf}},
      {"key without the DANFCE",
       [&] {
         nfce.GetEmailSettings().SetAnexarDanfcePDF(false);
         nfce.EnviarNotaDestinatario(chave, "", "");
         nfce.GetEmailSettings().SetAnexarDanfcePDF(true);
       },
       {Anexo(chave + "-nfce.xml", "application/xml", proc)}},
      {"key: assembled from the send and reply logs, the same file",
       [&] { nfce.EnviarNotaDestinatario(chave, logEnvio, logResposta); },
       {Anexo(chave + "-nfce.xml", "application/xml", proc), comPdf}},
      {"key: <key>.xml wins over <key>-nfce.xml",
       [&] {
         CopyFile(variante, Dest(chave + ".xml"));
         nfce.EnviarNotaDestinatario(chave, "", "");
         DeleteFile(Dest(chave + ".xml"));
       },
       {Anexo(chave + "-nfce.xml", "application/xml", variante), comPdf}},
      {"given files: PDF, the XML as text, further files",
       [&] { nfce.EnviarNotaDestinatarioAnexos(pdf, ReadFile(proc), extra + "\n" + proc + ";"); },
       {Anexo("ddmmyyyyhhnnss.xml", "application/xml", proc),
        Anexo("danfce.pdf", "application/pdf", pdf),
        Anexo("condicoes.txt", "application/octet-stream", extra),
        Anexo(chave + "-nfce.xml", "application/xml", proc)}},
      {"cancelled: the recipient folder's -caneve.xml, to the given address",
       [&] { nfce.EnviarNotaCanceladaDestinatario(chave, "", "", "outro@exemplo.com.br"); },
       {Anexo(chave + "-caneve.xml", "application/xml", caneve)},
       "outro@exemplo.com.br"},
      {"cancelled: assembled from the logs, the file this call made",
       [&] { nfce.EnviarNotaCanceladaDestinatario(chave, pedido, retorno, ""); },
       {Anexo(chave + "-caneve.xml", "application/xml", caneve)}},
      {"cancelled: -can.xml wins over -caneve.xml",
       [&] {
         WriteFile(Dest(chave + "-can.xml"), ReadFile(caneve));
         nfce.EnviarNotaCanceladaDestinatario(chave, "", "", "");
         DeleteFile(Dest(chave + "-can.xml"));
       },
       {Anexo(chave + "-can.xml", "application/xml", caneve)}},
  };
  std::set<std::string> vistas;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(c.send());
    const std::string recebida = Nova(server, vistas);
    ASSERT_FALSE(recebida.empty());
    test::TempDir anexos;
    const std::string lido = SmtpServer::Read(recebida, anexos.path());
    EXPECT_THAT(lido, HasSubstr("X-RcptTo: " + c.rcptTo + "\n"));
    const std::vector<std::string> vistos = Anexos(lido);
    ASSERT_EQ(vistos.size(), c.anexos.size()) << lido;
    for (std::size_t i = 0; i < vistos.size(); ++i) {
      if (c.anexos[i] == comPdf) {
        // The DANFCE made for the sending: the note's key, as a consumer reads it.
        EXPECT_EQ(vistos[i].substr(0, comPdf.size()), comPdf);
        std::string texto;
        test::RunCommand("pdftotext -layout " + anexos / (chave + ".pdf") + " -", &texto);
        EXPECT_THAT(texto, HasSubstr(test::KeyInGroupsOfFour(chave).substr(0, 39)));
      } else if (c.anexos[i].rfind("ddmmyyyyhhnnss", 0) == 0) {
        // The XML given as text goes under the moment of the sending.
        EXPECT_THAT(vistos[i], MatchesRegex("[0-9]{14}(-[0-9]+)?\\.xml .*"));
        EXPECT_EQ(vistos[i].substr(vistos[i].find(' ')), c.anexos[i].substr(c.anexos[i].find(' ')));
      } else {
        EXPECT_EQ(vistos[i], c.anexos[i]);
      }
    }
    EXPECT_THAT(Temporarios(), ::testing::IsEmpty());
  }
  // The assembled cancellation also stands in the recipient folder, equal to the one sent.
  EXPECT_TRUE(FileExists(caneve));
}

// Bad arguments are refused with their message before anything is sent (nothing listens on the
// port) or left in the temporary folder.
TEST_F(EmailRoad, RefusalsNameWhatIsMissing) {
  const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 8101);
  const std::string chave = GetValueTag("chNFe", ReadFile(proc));
  const std::string logEnvio = rig->dir / "Log/" + Logs("*env-sinc-lot*").at(0);
  const std::string desconhecida = "35261211222333000181650010000099991000099990";
  // A reply whose status gives no protocol: nothing is assembled, so nothing is attached.
  const std::string semProtocolo =
      "<retConsSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><protNFe "
      "versao=\"4.00\"><infProt><tpAmb>2</tpAmb><chNFe>" +
      chave +
      "</chNFe><cStat>204</cStat>"
      "<xMotivo>Duplicidade de NF-e</xMotivo></infProt></protNFe></retConsSitNFe>";
  nfce.GetEmailSettings().SetPorta(FreeLoopbackPort());
  const auto semEndereco = [&](const std::function<void()>& f) {
    return [&, f] {
      nfce.GetEmailSettings().SetEmailDestinatario("");
      try {
        f();
      } catch (...) {
        nfce.GetEmailSettings().SetEmailDestinatario("cliente@exemplo.com.br");
        throw;
      }
    };
  };
  const std::string semEnderecoMsg =
      "O endereço de email do destinatário deve ser preenchido antes de executar o envio.";
  struct Case {
    std::function<void()> call;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[&] { nfce.EnviarNotaDestinatario(desconhecida, "", ""); },
       "Xml da NFCe: " + desconhecida + " na pasta XMLDestinatário não encontrado."},
      {[&] { nfce.EnviarNotaDestinatario(chave, logEnvio, semProtocolo); },
       "Arquivo não Encontrado: " + (rig->dir / "Temp/email-")},
      {[&] { nfce.EnviarNotaDestinatario(chave, logEnvio, ""); },
       "Log de consulta de Recibo não informado"},
      {[&] { nfce.EnviarNotaDestinatarioAnexos("", "", "outro.txt"); },
       "É necessário informar pelo menos um arquivo para anexar no email"},
      {[&] { nfce.EnviarNotaDestinatarioAnexos("/nao/existe.pdf", proc, ""); },
       "Arquivo: [/nao/existe.pdf] PDF da danfce não foi encontrado"},
      {[&] { nfce.EnviarNotaDestinatarioAnexos("", "nota.xml", ""); },
       "Arquivo: [nota.xml] XML da NFCe não foi encontrado"},
      {[&] { nfce.EnviarNotaDestinatarioAnexos("", ReadFile(proc), proc + "; /nao/existe.txt"); },
       "Arquivo /nao/existe.txt não encontrado para anexar ao email."},
      {[&] { nfce.EnviarNotaCanceladaDestinatario(chave, "", "", ""); },
       "Xml de Cancelamento da NFe: " + chave + " não foi encontrado na pasta XMLDestinatário."},
      {[&] { nfce.EnviarNotaCanceladaDestinatario(chave, logEnvio, semProtocolo, ""); },
       "O conteúdo do Log de pedido de Cancelamento é inválido."},
      {semEndereco([&] { nfce.EnviarNotaDestinatario(chave, "", ""); }), semEnderecoMsg},
      {semEndereco([&] { nfce.EnviarNotaDestinatarioAnexos("", proc, ""); }), semEnderecoMsg},
      {semEndereco([&] { nfce.EnviarNotaCanceladaDestinatario(chave, "", "", ""); }),
       semEnderecoMsg},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string message = MessageOf<EqorException>(c.call);
    EXPECT_EQ(message.substr(0, c.message.size()), c.message);
    EXPECT_THAT(Temporarios(), ::testing::IsEmpty());
  }
}

// A refusal of the server, a stall or an untrusted certificate raises the platform's exception
// naming the server and the cause, never the password; nothing is delivered and nothing stays
// in the temporary folder.
TEST_F(EmailRoad, ExchangeFailuresRaiseAndLeaveNothingBehind) {
  const std::string proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 8201);
  const std::string chave = GetValueTag("chNFe", ReadFile(proc));
  struct Case {
    const char* name;
    SmtpServerKind server;
    std::function<void(TqorEmailSettings&)> adjust;
    std::string fragment;
    bool authTried;
  };
  const std::vector<Case> cases = {
      {"wrong password",
       {SmtpTls::StartTls, true},
       [](TqorEmailSettings& e) {
         e.SetAutenticacao(true);
         e.SetSenha(std::string(test::kSmtpSecret) + "-errada");
       },
       "o servidor respondeu 535",
       true},
      {"refused recipient",
       {SmtpTls::StartTls, false, false, "recusado@exemplo.com.br"},
       [](TqorEmailSettings& e) {
         e.SetEmailDestinatario("cliente@exemplo.com.br, recusado@exemplo.com.br");
       },
       "o servidor respondeu 550 5.1.1 Destinatario recusado",
       false},
      {"stalled server",
       {SmtpTls::StartTls, false, false, "", 6},
       [](TqorEmailSettings& e) { e.SetTimeOut(2000); },
       "tempo limite de 2000 ms esgotado",
       false},
      {"login wanted, no STARTTLS offered",
       {SmtpTls::None, true, true},
       [](TqorEmailSettings& e) { e.SetAutenticacao(true); },
       "não oferece STARTTLS",
       false},
      {"certificate of another CA",
       {SmtpTls::StartTlsOtherCa},
       [](TqorEmailSettings&) {},
       "certificado do servidor não é confiável",
       false},
      {"another CA, SMTPS",
       {SmtpTls::Smtps},
       [](TqorEmailSettings&) {},
       "certificado do servidor não é confiável",
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    SmtpServer server(folder.path(), c.server, SharedPki());
    TqorNFCe componente;
    rig->Configure(componente);
    componente.SetDiretorioTemporario(rig->dir / "Temp/");
    componente.SetIgnoreInvalidCertificates(false);
    componente.SetArquivoCadeiaCertificados(c.server.tls == SmtpTls::Smtps ? SharedPki().otherCaCert
                                                                           : SharedPki().caCert);
    TqorEmailSettings& e = componente.GetEmailSettings();
    e.SetServidorSmtp(c.server.tls == SmtpTls::Smtps ? "smtps://127.0.0.1" : "127.0.0.1");
    e.SetPorta(server.port);
    e.SetEmailRemetente("loja@exemplo.com.br");
    e.SetEmailDestinatario("cliente@exemplo.com.br");
    e.SetUsuario("loja");
    e.SetSenha(test::kSmtpSecret);
    e.SetTimeOut(10000);
    c.adjust(e);
    const std::string message =
        MessageOf<EqorGovException>([&] { componente.EnviarNotaDestinatario(chave, "", ""); });
    EXPECT_EQ(message.rfind("Falha no envio do email pelo servidor 127.0.0.1:" +
                                std::to_string(server.port) + ": ",
                            0),
              0u)
        << message;
    EXPECT_THAT(message, HasSubstr(c.fragment));
    EXPECT_THAT(message, ::testing::Not(HasSubstr(test::kSmtpSecret)));
    EXPECT_TRUE(server.Messages().empty());
    EXPECT_THAT(Temporarios(), ::testing::IsEmpty());
    EXPECT_EQ(ReadFile(server.journal).find("AUTH") != std::string::npos, c.authTried);
    if (c.server.tls == SmtpTls::StartTlsOtherCa) {
      // The component's switch reaches the mail server: told to ignore, it delivers.
      componente.SetIgnoreInvalidCertificates(true);
      EXPECT_NO_THROW(componente.EnviarNotaDestinatario(chave, "", ""));
      EXPECT_EQ(server.Messages().size(), 1u);
    }
  }
}

}  // namespace
}  // namespace qor
