// The e-mail operations on a note the simulator authorised and cancelled, delivered to a real
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
using ::testing::IsEmpty;

class EmailRoad : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    QOR_NEEDS_AIOSMTPD();
    test::SimulatorRoad::SetUp();
    nfce.SetDiretorioTemporario(rig->dir / "Temp/");
    proc = AutorizarExemplo("nfce-um-item-dinheiro.tx2", 8001);
    chave = GetValueTag("chNFe", ReadFile(proc));
    Apontar(FreeLoopbackPort());
  }
  // Every setting of the sending, aimed at `porta`; the mail server is verified as the state's
  // are, against the test CA of the component's bundle.
  void Apontar(int porta) {
    nfce.SetIgnoreInvalidCertificates(false);
    nfce.SetArquivoCadeiaCertificados(SharedPki().caCert);
    TqorEmailSettings& e = nfce.GetEmailSettings();
    e = TqorEmailSettings();
    e.SetServidorSmtp("127.0.0.1");
    e.SetPorta(porta);
    e.SetEmailRemetente("loja@exemplo.com.br");
    e.SetEmailDestinatario("cliente@exemplo.com.br");
    e.SetUsuario("loja");
    e.SetSenha(test::kSmtpSecret);
    e.SetTimeOut(10000);
  }
  std::string Dest(const std::string& nome) const { return rig->dir / "XmlDestinatario/" + nome; }
  std::string Log(const std::string& mascara) const {
    return rig->dir / "Log/" + Logs(mascara).at(0);
  }
  // Whatever the temporary folder holds, at any depth.
  std::vector<std::string> Temporarios() const {
    std::vector<std::string> achados;
    for (const auto& e : std::filesystem::recursive_directory_iterator(rig->dir / "Temp")) {
      achados.push_back(e.path());
    }
    return achados;
  }
  std::string proc, chave;
};

// "NAME TYPE SHA256" of the attachments in what ler_email.py printed.
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

// Every operation mails the files it names; the temporary ones are gone afterwards.
TEST_F(EmailRoad, EachOperationMailsItsFiles) {
  QOR_NEEDS(test::HaveTool("pdftotext"), "pdftotext (poppler-utils)");
  ASSERT_THAT(nfce.CancelarNF(chave, GetValueTag("nProt", ReadFile(proc)),
                              "Cliente desistiu da compra", "", 1, "", ""),
              HasSubstr("<cStat>135</cStat>"));
  const std::string caneve = Dest(chave + "-caneve.xml");
  test::TempDir folder;
  SmtpServer server(folder.path(), {}, SharedPki());
  Apontar(server.port);
  const std::string extra = rig->dir / "condicoes.txt", pdf = rig->dir / "danfce.pdf",
                    variante = rig->dir / "variante.xml";
  WriteFile(extra, "Troca em 30 dias.");
  nfce.ExportarDanfce("", proc, pdf, 1, "");
  WriteFile(variante, ReadFile(proc) + "<!-- de outra origem -->\n");
  // The names the XML given as text could take in the next seconds, all taken.
  const auto ocuparNomes = [&] {
    std::vector<std::string> nomes;
    for (int s = 0; s < 3; ++s) {
      const std::time_t t = std::time(nullptr) + s;
      std::tm local{};
      localtime_r(&t, &local);
      char nome[32];
      std::strftime(nome, sizeof nome, "%d%m%Y%H%M%S.xml", &local);
      nomes.push_back(rig->dir / "Temp/" + nome);
      WriteFile(nomes.back(), "ocupado");
    }
    return nomes;
  };

  const std::string xml = Anexo(chave + "-nfce.xml", "application/xml", proc);
  const std::string danfce = chave + ".pdf application/pdf";  // made by the call
  const std::string comoTexto = "<instante>.xml application/xml " + test::Sha256Of(proc);
  struct Case {
    const char* name;
    std::function<void()> send;
    std::vector<std::string> anexos;
    std::string rcptTo = "cliente@exemplo.com.br";
  };
  const std::vector<Case> cases = {
      {"key: the recipient folder's file and the DANFCE",
       [&] { nfce.EnviarNotaDestinatario(chave, "", ""); },
       {xml, danfce}},
      {"key without the DANFCE",
       [&] {
         nfce.GetEmailSettings().SetAnexarDanfcePDF(false);
         nfce.EnviarNotaDestinatario(chave, "", "");
         nfce.GetEmailSettings().SetAnexarDanfcePDF(true);
       },
       {xml}},
      {"key: assembled from the send and reply logs, the same file",
       [&] { nfce.EnviarNotaDestinatario(chave, Log("*env-sinc-lot*"), Log("*env-sinc-ret*")); },
       {xml, danfce}},
      {"key: <key>.xml wins over <key>-nfce.xml",
       [&] {
         CopyFile(variante, Dest(chave + ".xml"));
         nfce.EnviarNotaDestinatario(chave, "", "");
         DeleteFile(Dest(chave + ".xml"));
       },
       {Anexo(chave + "-nfce.xml", "application/xml", variante), danfce}},
      {"given files: PDF, the XML as text, further files",
       [&] { nfce.EnviarNotaDestinatarioAnexos(pdf, ReadFile(proc), extra + "\n" + proc + ";"); },
       {comoTexto, Anexo("danfce.pdf", "application/pdf", pdf),
        Anexo("condicoes.txt", "application/octet-stream", extra), xml}},
      {"given XML text whose name is taken: a name of its own",
       [&] {
         const auto ocupados = ocuparNomes();
         nfce.EnviarNotaDestinatarioAnexos("", ReadFile(proc), "");
         for (const std::string& o : ocupados) {
           EXPECT_EQ(ReadFile(o), "ocupado");
           DeleteFile(o);
         }
       },
       {comoTexto}},
      {"cancelled: the recipient folder's -caneve.xml, to the given address",
       [&] { nfce.EnviarNotaCanceladaDestinatario(chave, "", "", "outro@exemplo.com.br"); },
       {Anexo(chave + "-caneve.xml", "application/xml", caneve)},
       "outro@exemplo.com.br"},
      {"cancelled: assembled from the logs, the file this call made",
       [&] {
         DeleteFile(caneve + ".antes");
         RenameFile(caneve, caneve + ".antes");
         nfce.EnviarNotaCanceladaDestinatario(chave, Log("*caneve-env*"), Log("*caneve-ret*"), "");
         EXPECT_EQ(ReadFile(caneve), ReadFile(caneve + ".antes"));  // kept in the folder too
       },
       {Anexo(chave + "-caneve.xml", "application/xml", caneve)}},
      {"cancelled: -can.xml wins over -caneve.xml",
       [&] {
         CopyFile(variante, Dest(chave + "-can.xml"));
         nfce.EnviarNotaCanceladaDestinatario(chave, "", "", "");
         DeleteFile(Dest(chave + "-can.xml"));
       },
       {Anexo(chave + "-can.xml", "application/xml", variante)}},
  };
  std::set<std::string> vistas;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_THROW(c.send());
    std::string recebida;
    for (const std::string& m : server.Messages()) {
      if (vistas.insert(m).second) recebida = m;
    }
    ASSERT_FALSE(recebida.empty());
    test::TempDir anexos;
    const std::string lido = SmtpServer::Read(recebida, anexos.path());
    EXPECT_THAT(lido, HasSubstr("X-RcptTo: " + c.rcptTo + "\n"));
    const std::vector<std::string> vistos = Anexos(lido);
    ASSERT_EQ(vistos.size(), c.anexos.size()) << lido;
    for (std::size_t i = 0; i < vistos.size(); ++i) {
      if (c.anexos[i] == danfce) {
        // The DANFCE made for the sending: the note's key, as a consumer reads it.
        EXPECT_EQ(vistos[i].substr(0, danfce.size()), danfce);
        std::string texto;
        test::RunCommand("pdftotext -layout " + anexos / (chave + ".pdf") + " -", &texto);
        EXPECT_THAT(texto, HasSubstr(test::KeyInGroupsOfFour(chave).substr(0, 39)));
      } else if (c.anexos[i] == comoTexto) {
        // The XML given as text goes under the moment of the sending ("ddmmyyyyhhnnss").
        EXPECT_THAT(vistos[i], ::testing::MatchesRegex("[0-9]{14}(-[0-9]+)?\\.xml .*"));
        EXPECT_EQ(vistos[i].substr(vistos[i].find(' ')), comoTexto.substr(comoTexto.find(' ')));
      } else {
        EXPECT_EQ(vistos[i], c.anexos[i]);
      }
    }
    EXPECT_THAT(Temporarios(), IsEmpty());
  }
}

// Bad arguments are refused with their message before anything is sent (nothing listens on the
// port) or left in the temporary folder.
TEST_F(EmailRoad, RefusalsNameWhatIsMissing) {
  const std::string desconhecida = "35261211222333000181650010000099991000099990";
  // A reply whose status gives no protocol: nothing is assembled, so nothing is attached.
  const std::string semProtocolo =
      "<retConsSitNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\"><protNFe "
      "versao=\"4.00\"><infProt><tpAmb>2</tpAmb><chNFe>" +
      chave +
      "</chNFe><cStat>204</cStat><xMotivo>Duplicidade de NF-e</xMotivo></infProt></protNFe>"
      "</retConsSitNFe>";
  const std::string envio = Log("*env-sinc-lot*");
  const std::string semEndereco =
      "O endereço de email do destinatário deve ser preenchido antes de executar o envio.";
  struct Case {
    std::function<void()> call;
    std::string message;  // the start of the exception's message
    bool semDestinatario = false;
  };
  const std::vector<Case> cases = {
      {[&] { nfce.EnviarNotaDestinatario(desconhecida, "", ""); },
       "Xml da NFCe: " + desconhecida + " na pasta XMLDestinatário não encontrado."},
      {[&] { nfce.EnviarNotaDestinatario(chave, envio, semProtocolo); },
       "Arquivo não Encontrado: " + (rig->dir / "Temp/email-")},
      {[&] { nfce.EnviarNotaDestinatario(chave, envio, ""); },
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
      {[&] { nfce.EnviarNotaDestinatario("../Log/x", envio, Log("*env-sinc-ret*")); },
       "Xml da NFCe: ../Log/x na pasta XMLDestinatário não encontrado."},
      {[&] { nfce.EnviarNotaCanceladaDestinatario("../" + chave, envio, semProtocolo, ""); },
       "Xml de Cancelamento da NFe: ../" + chave + " não foi encontrado na pasta XMLDestinatário."},
      {[&] { nfce.EnviarNotaCanceladaDestinatario(chave, envio, semProtocolo, ""); },
       "O conteúdo do Log de pedido de Cancelamento é inválido."},
      {[&] { nfce.EnviarNotaDestinatario(chave, "", ""); }, semEndereco, true},
      {[&] { nfce.EnviarNotaDestinatarioAnexos("", proc, ""); }, semEndereco, true},
      {[&] { nfce.EnviarNotaCanceladaDestinatario(chave, "", "", ""); }, semEndereco, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    nfce.GetEmailSettings().SetEmailDestinatario(c.semDestinatario ? "" : "cliente@exemplo.com.br");
    const std::string message = MessageOf<EqorException>(c.call);
    EXPECT_EQ(message.substr(0, c.message.size()), c.message);
    EXPECT_THAT(Temporarios(), IsEmpty());
  }
}

// A refusal of the server, a stall or an untrusted certificate raises the platform's exception
// naming the server and the cause, never the password; nothing is delivered and nothing stays
// in the temporary folder.
TEST_F(EmailRoad, ExchangeFailuresRaiseAndLeaveNothingBehind) {
  struct Case {
    const char* name;
    SmtpServerKind server;
    std::function<void(TqorEmailSettings&)> adjust;
    std::string fragment;
    bool authTried = false;
  };
  const auto login = [](TqorEmailSettings& e) { e.SetAutenticacao(true); };
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
       "o servidor respondeu 550 5.1.1 Destinatario recusado"},
      {"message refused",
       {SmtpTls::StartTls, false, false, "", 0, true},
       [](TqorEmailSettings&) {},
       "o servidor respondeu 554 5.7.1 Mensagem recusada"},
      {"stalled server",
       {SmtpTls::StartTls, false, false, "", 6},
       [](TqorEmailSettings& e) { e.SetTimeOut(2000); },
       "tempo limite de 2000 ms esgotado"},
      {"login wanted, no STARTTLS offered",
       {SmtpTls::None, true, true},
       login,
       "não oferece STARTTLS"},
      {"certificate of another CA",
       {SmtpTls::StartTlsOtherCa},
       [](TqorEmailSettings&) {},
       "certificado do servidor não é confiável"},
      {"SMTPS, the bundle of another CA",
       {SmtpTls::Smtps},
       [this](TqorEmailSettings& e) {
         e.SetServidorSmtp("smtps://127.0.0.1");
         nfce.SetArquivoCadeiaCertificados(SharedPki().otherCaCert);
       },
       "certificado do servidor não é confiável"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir folder;
    SmtpServer server(folder.path(), c.server, SharedPki());
    Apontar(server.port);
    c.adjust(nfce.GetEmailSettings());
    const std::string message =
        MessageOf<EqorGovException>([&] { nfce.EnviarNotaDestinatario(chave, "", ""); });
    EXPECT_THAT(message, ::testing::StartsWith("Falha no envio do email pelo servidor 127.0.0.1:" +
                                               std::to_string(server.port) + ": "));
    EXPECT_THAT(message, HasSubstr(c.fragment));
    EXPECT_THAT(message, ::testing::Not(HasSubstr(test::kSmtpSecret)));
    EXPECT_THAT(server.Messages(), IsEmpty());
    EXPECT_THAT(Temporarios(), IsEmpty());
    EXPECT_EQ(ReadFile(server.journal).find("AUTH") != std::string::npos, c.authTried);
    if (c.server.tls == SmtpTls::StartTlsOtherCa) {
      // The component's switch reaches the mail server: told to ignore, it delivers.
      nfce.SetIgnoreInvalidCertificates(true);
      EXPECT_NO_THROW(nfce.EnviarNotaDestinatario(chave, "", ""));
      EXPECT_EQ(server.Messages().size(), 1u);
    }
  }
}

}  // namespace
}  // namespace qor
