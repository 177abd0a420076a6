// nfceConfig.ini: the catalogue of keys (each key saved is in it, each sets its own property and
// comes back as saved), the designed asymmetries, the defaults of the file, protected secrets, the
// loading errors, the print parameters, what each request takes from the configuration, the
// settings classes, and the rule that finds the file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "config/TDanfceSettings.h"
#include "config/TqorCertStringNFCe.h"
#include "config/TqorIntegrador.h"
#include "core/ChavesConfiguracao.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/IniFile.h"
#include "platform/SecretBox.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::ReadFile;
using test::WriteFile;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// A fresh folder whose key file protects the secrets of the test, never the user's.
struct Pasta {
  test::TempDir dir;
  Pasta() { ::setenv("QORNFCE_KEY_FILE", (dir / "chave.key").c_str(), 1); }
  std::string operator/(const std::string& name) const { return dir / name; }
};

std::string Nome(const ChaveConfig& c) {
  return (c.secao.empty() ? "NFCE" : c.secao) + "." + c.chave;
}

// The keys that do not come back as saved, by design: the certificate kind is saved as its store
// and read under another name, and the older names are only read (and kept) where a file has
// them. Listed here so that no row leaves the round trip below unnoticed.
const std::set<std::string> kSemIdaEVolta{"NFCE.Repositorio", "NFCE.TipoCertificado",
                                          "NFCE.ValidarEsquema", "MAIL.Servidor"};

// For every key that loads and saves, a value no new component has and no other key shares, so
// a row bound to another key's property shows. Texts carry what a line of the file cannot hold
// as it is (blanks at the ends, line breaks); keys whose setters check or create what they name
// get values that pass.
std::map<std::string, std::string> Valores(const Pasta& p) {
  std::map<std::string, std::string> valores{
      {"NFCE.DiretorioLogErro", p / "erros/"},
      {"NFCE.DiretorioTemporario", p / "tmp/"},
      {"NFCE.Ambiente", "1"},
      {"NFCE.VersaoManual", "5.0b"},
      {"NFCE.UF", "RS"},
      {"INTEGRADOR.DiretorioEntrada", p / "in"},
      {"INTEGRADOR.DiretorioSaida", p / "out"},
      {"DANFCE.FormatoDanfce", "MENSAGEMELETRONICA"},
      {"DANFCE.FraseHomologacao", "base64:texto comum"},
  };
  TqorNFCe novo;
  int inteiro = 100;
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (c.uso != UsoChaveConfig::LidaEGravada || valores.contains(Nome(c))) continue;
    std::string& v = valores[Nome(c)];
    if (c.tipo == TipoChaveConfig::Booleano) {
      v = c.ler(novo) == "1" ? "0" : "1";
    } else if (c.tipo == TipoChaveConfig::Inteiro) {
      v = std::to_string(inteiro++);
    } else {
      v = " " + Nome(c) + " çã\r\nfim ";
    }
  }
  return valores;
}

TEST(ConfigIni, TheCatalogueHoldsEveryKeySaved) {
  std::set<std::string> semIdaEVolta;
  std::set<int> posicoes;
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (c.uso != UsoChaveConfig::LidaEGravada) semIdaEVolta.insert(Nome(c));
    if (c.gravacao > 0) {
      EXPECT_TRUE(posicoes.insert(c.gravacao).second) << Nome(c);
    }
  }
  EXPECT_EQ(semIdaEVolta, kSemIdaEVolta);

  // Saved into an empty file and into one with the older names: every key written is in the
  // catalogue, and the empty file gets every key but those only read.
  TIniFile vazio;
  TqorNFCe().SaveConfig(&vazio);
  const auto antigo = TIniFile::FromText("[NFCE]\nValidarEsquema=0\n[MAIL]\nServidor=x\n");
  TqorNFCe().SaveConfig(antigo.get());
  for (const TIniFile* ini : {&vazio, antigo.get()}) {
    TStrings secoes;
    ini->ReadSections(secoes);
    for (std::size_t s = 0; s < secoes.Count(); ++s) {
      TStrings chaves;
      ini->ReadSection(secoes[s], chaves);
      for (std::size_t k = 0; k < chaves.Count(); ++k) {
        EXPECT_NE(ProcurarChaveConfig(secoes[s], chaves[k], "NFCE"), nullptr)
            << secoes[s] << "." << chaves[k];
      }
    }
  }
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    EXPECT_EQ(vazio.ValueExists(c.secao.empty() ? "NFCE" : c.secao, c.chave),
              c.uso != UsoChaveConfig::SomenteLida)
        << Nome(c);
  }
}

TEST(ConfigIni, EachKeySetsItsOwnPropertyAndNoOther) {
  Pasta p;
  const std::map<std::string, std::string> valores = Valores(p);
  // The manual version is a folder of the template and schema paths.
  const std::set<std::string> vinculadas{"NFCE.DiretorioTemplates", "NFCE.DiretorioEsquemas"};
  const auto lidos = [](TqorNFCe& n) {
    std::map<std::string, std::string> valor;
    for (const ChaveConfig& c : ChavesConfiguracao()) {
      if (c.ler != nullptr) valor[Nome(c)] = c.ler(n);
    }
    return valor;
  };
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (c.uso != UsoChaveConfig::LidaEGravada) continue;
    TqorNFCe n;
    const std::map<std::string, std::string> antes = lidos(n);
    c.aplicar(n, valores.at(Nome(c)));
    for (const auto& [nome, depois] : lidos(n)) {
      if (nome == Nome(c)) {
        EXPECT_NE(depois, antes.at(nome)) << nome << " has its default: the row tests nothing";
      } else if (Nome(c) != "NFCE.VersaoManual" || !vinculadas.contains(nome)) {
        EXPECT_EQ(depois, antes.at(nome)) << Nome(c) << " changed " << nome;
      }
    }
  }
}

TEST(ConfigIni, EveryKeyComesBackAsSaved) {
  Pasta p;
  std::filesystem::create_directories(p / "in");
  std::filesystem::create_directories(p / "out");
  const std::map<std::string, std::string> valores = Valores(p);
  TqorNFCe original;
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (c.uso == UsoChaveConfig::LidaEGravada) c.aplicar(original, valores.at(Nome(c)));
  }
  original.SaveConfig(p / "nfceConfig.ini");
  TqorNFCe lido;
  lido.LoadConfig(p / "nfceConfig.ini");
  const std::string texto = ReadFile(p / "nfceConfig.ini");
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (c.uso != UsoChaveConfig::LidaEGravada) continue;
    EXPECT_EQ(c.ler(lido), c.ler(original)) << Nome(c);
    // Neither a secret nor a text a line cannot hold as it is is in the file as it is.
    const std::string valor = c.ler(original);
    if (c.tipo == TipoChaveConfig::Protegido || valor.find('\n') != std::string::npos ||
        valor.starts_with("base64:")) {
      EXPECT_THAT(texto, Not(HasSubstr(valor))) << Nome(c);
    }
  }
  const auto ini = TIniFile::FromText(texto);
  EXPECT_EQ(ini->ReadString("NFCE", "Ambiente", ""), "1");
  EXPECT_EQ(ini->ReadString("NFCE", "VersaoManual", ""), "5.0b");
  EXPECT_EQ(ini->ReadString("DANFCE", "FormatoDanfce", ""), "MENSAGEMELETRONICA");
}

TEST(ConfigIni, TheDesignedAsymmetries) {
  Pasta p;
  TqorNFCe nfce;
  nfce.SetTipoCertificado(TCertificadoKind::ckSmartCard);
  nfce.SetValidarEsquemaAntesEnvio(true);
  nfce.GetNomeCertificado().SetTextStr("EMPRESA LTDA\r\n11222333000181");
  nfce.SetArquivoServidoresHom("servidores-hom-teste.ini");
  nfce.SetDiretorioTemplates(p / "tpl");
  std::filesystem::create_directories(p / "tpl");
  WriteFile(p / "com.ini",
            "; loja 12\n[NFCE]\nValidarEsquema=0\n[MAIL]\nServidor=antigo\n[OUTRA]\nx=1\n");
  nfce.SaveConfig(p / "com.ini");
  nfce.SaveConfig(p / "sem.ini");

  const auto com = TIniFile::FromText(ReadFile(p / "com.ini"));
  const auto sem = TIniFile::FromText(ReadFile(p / "sem.ini"));
  // The certificate kind is saved as its store and only read as TipoCertificado.
  EXPECT_EQ(sem->ReadString("NFCE", "Repositorio", ""), "SMART_CARD_USER_STORE");
  EXPECT_FALSE(sem->ValueExists("NFCE", "TipoCertificado"));
  EXPECT_EQ(sem->ReadString("NFCE", "NomeCertificado", ""), "EMPRESA LTDA11222333000181");
  // Directories and files come back expanded (the version folder included).
  EXPECT_EQ(sem->ReadString("NFCE", "ArquivoServidoresHom", ""),
            ExecutableDir() + "servidores-hom-teste.ini");
  EXPECT_EQ(sem->ReadString("NFCE", "DiretorioTemplates", ""), p / "tpl/vm60/");
  // ValidarEsquema only where it was; Servidor only where it was, ServidorSmtp otherwise.
  EXPECT_FALSE(sem->ValueExists("NFCE", "ValidarEsquema"));
  EXPECT_EQ(com->ReadString("NFCE", "ValidarEsquema", ""), "1");
  EXPECT_EQ(sem->ReadString("NFCE", "ValidarEsquemaAntesEnvio", ""), "1");
  EXPECT_EQ(com->ReadString("MAIL", "Servidor", "antigo"), "");
  EXPECT_FALSE(com->ValueExists("MAIL", "ServidorSmtp"));
  EXPECT_TRUE(sem->ValueExists("MAIL", "ServidorSmtp"));
  EXPECT_FALSE(sem->ValueExists("MAIL", "Servidor"));

  TqorNFCe lido;
  lido.LoadConfig(p / "sem.ini");
  EXPECT_EQ(lido.GetTipoCertificado(), TCertificadoKind::ckFile);
  EXPECT_EQ(lido.GetNomeCertificado().Text(), "EMPRESA LTDA11222333000181");
  EXPECT_EQ(lido.GetUF(), "");  // never set: saved empty, loaded empty (not refused)
  // What the file held besides the configuration stays.
  EXPECT_THAT(ReadFile(p / "com.ini"), StartsWith("; loja 12\n"));
  EXPECT_EQ(com->ReadString("OUTRA", "x", ""), "1");

  struct Caso {
    std::string texto;
    TCertificadoKind tipo;
    bool validar;
    std::string servidor;
  };
  for (const Caso& caso : std::vector<Caso>{
           {"[NFCE]\nTipoCertificado=FILE\nValidarEsquema=1\nValidarEsquemaAntesEnvio=0\n"
            "[MAIL]\nServidorSmtp=smtp.a\n",
            TCertificadoKind::ckFile, true, "smtp.a"},
           {"[NFCE]\nValidarEsquemaAntesEnvio=1\n[MAIL]\nServidor=smtp.b\nServidorSmtp=smtp.a\n",
            TCertificadoKind::ckFile, true, "smtp.b"},
           {"[NFCE]\nTipoCertificado=memory\nValidarEsquema=0\nValidarEsquemaAntesEnvio=1\n",
            TCertificadoKind::ckMemory, false, ""},
       }) {
    WriteFile(p / "caso.ini", caso.texto);
    TqorNFCe n;
    n.LoadConfig(p / "caso.ini");
    EXPECT_EQ(n.GetTipoCertificado(), caso.tipo) << caso.texto;
    EXPECT_EQ(n.GetValidarEsquemaAntesEnvio(), caso.validar) << caso.texto;
    EXPECT_EQ(n.GetEmailSettings().GetServidorSmtp(), caso.servidor) << caso.texto;
  }
  // A file with only ServidorSmtp saves ServidorSmtp again.
  WriteFile(p / "smtp.ini", "[MAIL]\nServidorSmtp=smtp.a\n");
  TqorNFCe smtp;
  smtp.LoadConfig(p / "smtp.ini");
  smtp.SalvarConfiguracoes();
  const auto salvo = TIniFile::FromText(ReadFile(p / "smtp.ini"));
  EXPECT_EQ(salvo->ReadString("MAIL", "ServidorSmtp", ""), "smtp.a");
  EXPECT_FALSE(salvo->ValueExists("MAIL", "Servidor"));
}

TEST(ConfigIni, AnEmptyFileGivesTheFilesDefaultsAndKeepsTheCurrentOnes) {
  Pasta p;
  TqorNFCe nfce;
  nfce.SetDiagnosticMode(false);
  nfce.GetDanfceSettings().SetFraseHomologacao("HOMOLOGAÇÃO");
  nfce.GetEscPosSettings().SetModeloEscPos(9);
  nfce.SetArquivoCadeiaCertificados(p / "ca.pem");
  TIniFile vazio;
  nfce.LoadConfig(&vazio);

  EXPECT_FALSE(nfce.GetIgnoreInvalidCertificates());
  EXPECT_TRUE(nfce.GetConexaoSegura());
  EXPECT_EQ(nfce.GetCaracteresRemoverAcentos(), "áéíóúàèìòùâêîôûäëïöü");
  EXPECT_EQ(nfce.GetDiretorioLog(), "\\Log");
  EXPECT_EQ(nfce.GetDiretorioLogErro(), ExecutableDir() + "LogErro/");
  EXPECT_EQ(nfce.GetUF(), "SP");
  EXPECT_EQ(nfce.GetAmbiente(), TAmbienteKind::akHomologacao);
  EXPECT_EQ(nfce.GetArquivoServidoresHom(), ExecutableDir() + "nfceServidoresHom.ini");
  EXPECT_EQ(nfce.GetDiretorioTemporarioValue(), ExpandPath(GetSpecialDirectories(1)));
  EXPECT_EQ(nfce.GetIntegrador().GetDiretorioEntrada(), "C:\\Integrador\\Input");
  EXPECT_EQ(nfce.GetIntegrador().GetDiretorioSaida(), "C:\\Integrador\\Output");
  EXPECT_EQ(nfce.GetIntegrador().GetTimeOut(), 30);
  EXPECT_EQ(nfce.GetIntegrador().GetNumeroSessao(), 111111);
  EXPECT_EQ(nfce.GetEmailSettings().GetTimeOut(), 30000);
  EXPECT_TRUE(nfce.GetEmailSettings().GetAnexarDanfcePDF());
  EXPECT_EQ(nfce.GetDanfceSettings().GetQtdeCopias(), 1);
  // "Current" keys: what was there before loading stays.
  EXPECT_FALSE(nfce.GetDiagnosticMode());
  EXPECT_EQ(nfce.GetDanfceSettings().GetFraseHomologacao(), "HOMOLOGAÇÃO");
  EXPECT_EQ(nfce.GetEscPosSettings().GetModeloEscPos(), 9);
  EXPECT_EQ(nfce.GetArquivoCadeiaCertificados(), p / "ca.pem");
  EXPECT_EQ(nfce.GetVersaoManual(), TVersaoManual::vm60);
}

TEST(ConfigIni, ProtectedValuesNeedTheirKeyAndRefuseDamage) {
  Pasta p;
  TqorNFCe nfce;
  nfce.SetPinCode("1234");
  nfce.GetDanfceSettings().SetTokenNFCe("CSC-SECRETO");
  nfce.SaveConfig(p / "nfceConfig.ini");
  const std::string salvo = ReadFile(p / "nfceConfig.ini");

  const auto falha = [&](const std::string& texto) {
    WriteFile(p / "outro.ini", texto);
    TqorNFCe n;
    const std::string message =
        MessageOf<EqorNFCeConfigException>([&] { n.LoadConfig(p / "outro.ini"); });
    EXPECT_THAT(message, Not(HasSubstr("1234")));
    EXPECT_THAT(message, Not(HasSubstr("CSC-SECRETO")));
    return message;
  };
  const std::string prefixo = "Erro ao carregar configurações: Chave PinCode da seção NFCE: ";
  EXPECT_THAT(falha("[NFCE]\nPinCode=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\n"), StartsWith(prefixo));
  EXPECT_THAT(falha("[NFCE]\nPinCode=1234\n"), StartsWith(prefixo));  // plain text is refused too
  EXPECT_THAT(
      falha("[DANFCE]\nMensagem=x\nFraseHomologacao=base64:%%\n"),
      StartsWith("Erro ao carregar configurações: Chave FraseHomologacao da seção DANFCE: "));

  // Another installation's key, or none at all: a clear error, never garbage.
  ::setenv("QORNFCE_KEY_FILE", (p / "outra.key").c_str(), 1);
  TqorNFCe semChave;
  EXPECT_THAT(
      MessageOf<EqorNFCeConfigException>([&] { semChave.LoadConfig(p / "nfceConfig.ini"); }),
      HasSubstr("não existe"));
  Encrypt("cria a outra chave");
  TqorNFCe outraChave;
  EXPECT_THAT(
      MessageOf<EqorNFCeConfigException>([&] { outraChave.LoadConfig(p / "nfceConfig.ini"); }),
      StartsWith(prefixo));
  // Empty protected values never need the key.
  ::setenv("QORNFCE_KEY_FILE", (p / "nenhuma/chave.key").c_str(), 1);
  WriteFile(p / "vazio.ini", "[NFCE]\nPinCode=\n[DANFCE]\nTokenNFCe=\n");
  TqorNFCe vazio;
  vazio.LoadConfig(p / "vazio.ini");
  EXPECT_EQ(vazio.GetPinCode(), "");
  EXPECT_FALSE(FileExists(p / "nenhuma/chave.key"));
  EXPECT_EQ(ReadFile(p / "nfceConfig.ini"), salvo);  // loading never rewrites the file
}

// Passwords and the CSRT are stored protected ("enc:"), a new file is for its owner only, and
// values written plainly (older files, by hand) still load.
TEST(ConfigIni, SecretsAreStoredProtectedAndPlainOnesStillLoad) {
  Pasta p;
  TqorNFCe nfce;
  nfce.SetSenhaCertificado("senha-do-pfx");
  nfce.SetSenha("senha-do-proxy");
  nfce.SetCSRT("CSRT-SECRETO-0123456789");
  nfce.GetEmailSettings().SetSenha("senha-do-smtp");
  nfce.SaveConfig(p / "nfceConfig.ini");
  const std::string salvo = ReadFile(p / "nfceConfig.ini");
  EXPECT_EQ(FileMode(p / "nfceConfig.ini"), 0600);
  for (const char* segredo :
       {"senha-do-pfx", "senha-do-proxy", "CSRT-SECRETO-0123456789", "senha-do-smtp"}) {
    EXPECT_EQ(salvo.find(segredo), std::string::npos) << segredo;
  }
  for (const char* chave : {"\nSenhaCertificado=enc:", "\nSenha=enc:", "\nCSRT=enc:"}) {
    EXPECT_NE(salvo.find(chave), std::string::npos) << chave;
  }
  TqorNFCe lido;
  lido.LoadConfig(p / "nfceConfig.ini");
  EXPECT_EQ(lido.GetSenhaCertificado(), "senha-do-pfx");
  EXPECT_EQ(lido.GetSenha(), "senha-do-proxy");
  EXPECT_EQ(lido.GetCSRT(), "CSRT-SECRETO-0123456789");
  EXPECT_EQ(lido.GetEmailSettings().GetSenha(), "senha-do-smtp");

  // An older file in plain text loads, and keeps its mode when saved again.
  WriteFile(p / "antigo.ini", "[NFCE]\nSenhaCertificado=1234\n[MAIL]\nSenha=abc\n");
  ASSERT_EQ(chmod((p / "antigo.ini").c_str(), 0644), 0);
  TqorNFCe antigo;
  antigo.LoadConfig(p / "antigo.ini");
  EXPECT_EQ(antigo.GetSenhaCertificado(), "1234");
  EXPECT_EQ(antigo.GetEmailSettings().GetSenha(), "abc");
  antigo.SaveConfig(p / "antigo.ini");
  EXPECT_EQ(FileMode(p / "antigo.ini"), 0644);
  EXPECT_NE(ReadFile(p / "antigo.ini").find("SenhaCertificado=enc:"), std::string::npos);

  // A marked value that does not decrypt names its key, never the value.
  WriteFile(p / "danificado.ini", "[MAIL]\nSenha=enc:AAAAsenha\n");
  TqorNFCe danificado;
  const std::string message =
      MessageOf<EqorNFCeConfigException>([&] { danificado.LoadConfig(p / "danificado.ini"); });
  EXPECT_EQ(message.rfind("Erro ao carregar configurações: Chave Senha da seção MAIL: ", 0), 0u)
      << message;
  EXPECT_EQ(message.find("AAAAsenha"), std::string::npos);
}

TEST(ConfigIni, ALoadingFailureKeepsWhatWasAppliedBeforeIt) {
  Pasta p;
  WriteFile(p / "nfceConfig.ini", "[NFCE]\nDiretorioLogErro=" + p / "erros/" +
                                      "\nCNPJ=11222333000181\nVersaoManual=5.0b\nUF=XX\n"
                                      "MaxSizeLoteEnvio=7\n");
  TqorNFCe nfce;
  EXPECT_EQ(MessageOf<EqorNFCeConfigException>([&] { nfce.LoadConfig(p / "nfceConfig.ini"); }),
            "Erro ao carregar configurações: a sigla da UF XX, é inválida.");
  EXPECT_EQ(nfce.GetCNPJ(), "11222333000181");
  EXPECT_EQ(nfce.GetVersaoManual(), TVersaoManual::vm50b);
  EXPECT_EQ(nfce.GetMaxSizeLoteEnvio(), 500);
  EXPECT_THAT(ReadFile(p / "erros/nfce_exception.log"), HasSubstr("EqorNFCeConfigException"));

  struct Caso {
    std::string texto, mensagem;
  };
  for (
      const Caso& caso : std::vector<Caso>{
          {"[NFCE]\nAmbiente=0\n", "Ambiente 0 inválido. Utilize: 1 (produção) ou 2 (homologação)"},
          {"[NFCE]\nVersaoManual=vm60\n",
           "Versão do Manual informada: vm60 não é suportada. \rUtilize: 5.0, 5.0a, 5.0b ou 6.0"},
          {"[DANFCE]\nFormatoDanfce=A4\n",
           "Formato Danfce informado: A4 não é suportado. \rUtilize: NORMAL ou MENSAGEMELETRONICA"},
          {"[INTEGRADOR]\nAtivar=1\nDiretorioEntrada=" + p / "falta" + "\n",
           "DiretorioEntrada, Diretório inexistente: " + p / "falta" +
               "\r\nPor favor configure o mesmo diretório monitorado pelo Integrador do Ceará."},
      }) {
    WriteFile(p / "caso.ini", caso.texto);
    TqorNFCe n;
    EXPECT_EQ(MessageOf<EqorNFCeConfigException>([&] { n.LoadConfig(p / "caso.ini"); }),
              "Erro ao carregar configurações: " + caso.mensagem);
  }
  // The same folders are not checked while the file leaves the exchange off.
  WriteFile(p / "caso.ini", "[INTEGRADOR]\nAtivar=0\nDiretorioEntrada=" + p / "falta" +
                                "\nDiretorioSaida=" + p / "falta" + "\n");
  TqorNFCe inativo;
  inativo.LoadConfig(p / "caso.ini");
  EXPECT_EQ(inativo.GetIntegrador().GetDiretorioSaida(), p / "falta");

  // Saving into a place that cannot hold the file.
  EXPECT_THAT(MessageOf<EqorNFCeConfigException>([&] { inativo.SaveConfig(p / "falta/x.ini"); }),
              StartsWith("Erro ao salvar configurações: "));
}

TEST(ConfigIni, ThePrintParameterText) {
  Pasta p;
  WriteFile(p / "prod.ini",
            "[SP]\nURLQRCODE=https://prod/sp\n[SP_6.0]\nURLQRCODE=https://prod/v6\n");
  WriteFile(p / "hom.ini", "[SP]\nURLQRCODE=https://hom/sp\n[SP_5.0b]\nURLQRCODE=https://hom/v5\n");
  TqorNFCe nfce;
  nfce.SetUF("SP");
  nfce.SetArquivoServidoresProd(p / "prod.ini");
  nfce.SetArquivoServidoresHom(p / "hom.ini");
  TDanfceSettings& d = nfce.GetDanfceSettings();
  d.SetFraseContingencia("Linha 1\r\nLinha 2\nLinha 3");
  d.SetModeloDanfce("normal.rtm");
  d.SetModeloDanfceMensagemEletronica("msg.rtm");
  d.SetExibirDetalhamento(true);
  d.SetTokenNFCe("TOKEN");
  d.SetIdTokenNFCe("000001");
  d.SetParamsAvancados("ModeloQrCode=100");
  nfce.LoadDanfceSettings();
  EXPECT_EQ(nfce.GetParamsDanfce().Text(),
            "QtdeCopias=1\r\nVersao=6.0\r\nLogotipoEmitente=\r\n"
            "FraseContingencia=Linha 1|Linha 2|Linha 3\r\nFraseHomologacao=SEM VALOR FISCAL\r\n"
            "VersaoManual=6.0\r\nLineDelimiter=|\r\nInfCplMaxCol=68\r\nInfCplMaxRow=7\r\n"
            "InfCplQuebrarLinhaAut=0\r\nModeloDanfce=normal.rtm\r\n"
            "ModeloDanfceMensagemEletronica=msg.rtm\r\nURLSefazProd=https://prod/v6\r\n"
            "URLSefazHom=https://hom/sp\r\nExibirDetalhamento=-1\r\nExibirAcrescimoEDesconto=0\r\n"
            "ImprimirFrete=0\r\nImprimirFreteProduto=0\r\nTokenNFCe=TOKEN\r\n"
            "IdTokenNFCe=000001\r\nParamsAvancados=ModeloQrCode=100\r\nUFConfigIni=SP");
  nfce.SetVersaoManual(TVersaoManual::vm50b);
  nfce.LoadDanfceSettings();
  EXPECT_EQ(nfce.GetParamsDanfce().Values("URLSefazProd"), "https://prod/sp");
  EXPECT_EQ(nfce.GetParamsDanfce().Values("URLSefazHom"), "https://hom/v5");

  // Homologation needs only its own file; the production address is then empty.
  nfce.SetArquivoServidoresProd(p / "falta.ini");
  nfce.LoadDanfceSettings();
  EXPECT_EQ(nfce.GetParamsDanfce().Values("URLSefazProd"), "");
  EXPECT_EQ(nfce.GetParamsDanfce().Values("URLSefazHom"), "https://hom/v5");
  nfce.SetAmbiente(TAmbienteKind::akProducao);
  EXPECT_EQ(MessageOf<EqorFileNotFoundException>([&] { nfce.LoadDanfceSettings(); }),
            "O arquivo de servidores informado não existe: " + p / "falta.ini");
  EXPECT_EQ(nfce.GetParamsDanfce().Values("URLSefazHom"), "https://hom/v5");  // kept
}

TEST(ConfigIni, EveryAccessToTheServicesObjectPushesTheConfiguration) {
  Pasta p;
  WriteFile(p / "nfceConfig.ini",
            "[NFCE]\nProxy=proxy:3128\nUsuario=u\nSenha=s\nTimeOut=2500\n"
            "IgnoreInvalidCertificates=0\nCaminhoCertificado=" +
                p / "e.pfx" + "\nSenhaCertificado=pw\nHashCertificado=AB12\nDiretorioTemplates=" +
                p / "tpl/vm60/\n"
                    "[MAIL]\nServidorSmtp=smtp.loja\nPorta=587\nAutenticacao=1\nSenha=ms\n"
                    "Mensagem=base64:" +
                "T2zDoQ0KZmlt" + "\nConteudoHtml=1\n");
  TqorNFCe nfce;
  nfce.LoadConfig(p / "nfceConfig.ini");
  TqorGovX& gov = nfce.GetGov();
  EXPECT_EQ(gov.Get_HttpSettings().Proxy, "proxy:3128");
  EXPECT_EQ(gov.Get_HttpSettings().ProxyPassword, "s");
  EXPECT_EQ(gov.Get_HttpSettings().TimeOut, 2500);
  EXPECT_FALSE(gov.Get_HttpSettings().IgnoreInvalidCertificates);
  EXPECT_EQ(gov.Get_CertificateSettings().Path, p / "e.pfx");
  EXPECT_EQ(gov.Get_CertificateSettings().Password, "pw");
  EXPECT_EQ(gov.Get_CertificateSettings().Hash, "AB12");
  EXPECT_EQ(gov.Get_SignerSettings().AllowedElementsFile, p / "tpl/elementospermitidos.bin");
  EXPECT_EQ(gov.Get_EmailSettings().Server, "smtp.loja");
  EXPECT_EQ(gov.Get_EmailSettings().Port, 587);
  EXPECT_TRUE(gov.Get_EmailSettings().Authenticate);
  EXPECT_EQ(gov.Get_EmailSettings().Password, "ms");
  EXPECT_EQ(gov.Get_EmailSettings().Body, "Olá\r\nfim");
  EXPECT_TRUE(gov.Get_EmailSettings().Html);

  nfce.GetEmailSettings().SetServidorSmtp("smtp.novo");
  nfce.SetTimeOut(100);
  EXPECT_EQ(nfce.GetGov().Get_EmailSettings().Server, "smtp.novo");
  EXPECT_EQ(nfce.GetGov().Get_HttpSettings().TimeOut, 100);
}

// ---- the settings classes and where the configuration file is found ----

TEST(Integrador, FoldersAreCheckedOnlyWhileAtivar) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "in");
  std::filesystem::create_directories(dir / "out");
  TqorIntegrador integrador([&] { return dir.path(); });

  // Inactive: anything goes, a missing folder and equal folders included.
  integrador.SetDiretorioEntrada(dir / "nao-existe");
  integrador.SetDiretorioSaida(dir / "nao-existe");
  EXPECT_EQ(integrador.GetDiretorioSaida(), dir / "nao-existe");

  integrador.SetAtivar(true);
  EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>(
                [&] { integrador.SetDiretorioEntrada(dir / "falta"); }),
            "DiretorioEntrada, Diretório inexistente: " + dir / "falta" +
                "\r\nPor favor configure o mesmo diretório monitorado pelo Integrador do Ceará.");
  EXPECT_EQ(integrador.GetDiretorioEntrada(), dir / "nao-existe");  // kept
  EXPECT_THAT(
      MessageOf<EqorNFCeCheckParamsException>([&] { integrador.SetDiretorioSaida(dir / "falta"); }),
      StartsWith("DiretorioSaida, Diretório inexistente: "));

  integrador.SetDiretorioEntrada(dir / "in");
  // The same folder written another way (trailing separator, "." or "..") is the same folder.
  for (const std::string& same : {dir / "in", dir / "in/", dir / "./in", dir / "out/../in"}) {
    EXPECT_EQ(MessageOf<EqorNFCeCheckParamsException>([&] { integrador.SetDiretorioSaida(same); }),
              "As propriedades DiretorioEntrada e DiretorioSaida devem ser configuradas em "
              "diretórios diferentes.")
        << same;
  }
  EXPECT_EQ(integrador.GetDiretorioSaida(), dir / "nao-existe");
  integrador.SetDiretorioSaida(dir / "out");
  EXPECT_EQ(integrador.GetDiretorioSaida(), dir / "out");
  EXPECT_THAT(test::ReadFile(dir / "nfce_exception.log"),
              HasSubstr("EqorNFCeCheckParamsException"));
}

TEST(CertString, TellsItsHandlerOnlyWhenTheWholeTextIsReplaced) {
  TqorCertStringNFCe list;
  list.SetTextStr("a\r\nb");  // no handler: a plain list
  EXPECT_EQ(list.Count(), 2u);
  std::vector<std::string> told;
  list.SetOnSetText([&](const std::string& text) { told.push_back(text); });
  list.SetTextStr("EMPRESA:11222333000181");
  list.Add("outra");
  list.SetTextStr("");
  EXPECT_EQ(told, (std::vector<std::string>{"EMPRESA:11222333000181", ""}));
}

TEST(CertString, TheComponentChecksTheCertificateOnceItsServicesObjectExists) {
  TqorNFCe nfce;
  // Before the services object exists the name is only kept (a configuration being loaded is
  // not held up by a certificate check); every request pushes it anyway.
  nfce.GetNomeCertificado().SetTextStr("EMPRESA");
  nfce.GetGov();
  EXPECT_EQ(nfce.GetGov().Get_CertificateSettings().Name, "EMPRESA");
  // Once it exists, a new name is checked at once; with no certificate file the check fails.
  MessageOf<EqorCertStoreException>([&] { nfce.GetNomeCertificado().SetTextStr("OUTRA"); });
  EXPECT_EQ(nfce.GetGov().Get_CertificateSettings().Name, "OUTRA");
}

TEST(DanfceSettings, TheVersionFolderOfATemplatePathTakesTheCaseOnDisk) {
  test::TempDir dir;
  const std::string path = dir / "Templates\\Vm60\\Danfce\\retrato.rtm";
  EXPECT_EQ(ExpandPathPastaVersao(path), dir / "Templates/vm60/Danfce/retrato.rtm");
  std::filesystem::create_directories(dir / "Templates/VM60");
  EXPECT_EQ(ExpandPathPastaVersao(path), dir / "Templates/VM60/Danfce/retrato.rtm");
  // Only version folders: other names keep the case they are written in.
  EXPECT_EQ(ExpandPathPastaVersao(dir / "templates/x.rtm"), dir / "templates/x.rtm");

  const TDanfceSettings settings;
  EXPECT_EQ(settings.GetModeloDanfce(),
            ExpandPathPastaVersao(ExecutableDir() + "Templates/Vm60/Danfce/retrato.rtm"));
  EXPECT_EQ(settings.GetModeloDanfceMensagemEletronica(), settings.GetModeloDanfce());
}

TEST(ConfigFile, ThePathRule) {
  test::TempDir dir;
  const std::string beside = ExecutableDir() + RetornaNomeArquivoConfig();
  EXPECT_EQ(GetINIFilePath(""), beside);

  test::WriteFile(dir / "loja.ini", "");
  EXPECT_EQ(GetINIFilePath(dir / "loja.ini"), dir / "loja.ini");
  // A folder, with or without its trailing separator, means its own nfceConfig.ini.
  EXPECT_EQ(GetINIFilePath(dir.path()), dir / "nfceConfig.ini");
  EXPECT_EQ(GetINIFilePath(dir.path().substr(0, dir.path().size() - 1)), dir / "nfceConfig.ini");

  // Neither: the file of that name beside the executable when it is there, else the default.
  const std::string name = "config-teste-" + std::to_string(::getpid()) + ".ini";
  EXPECT_EQ(GetINIFilePath(dir / "outra/" + name), beside);
  test::WriteFile(ExecutableDir() + name, "");
  EXPECT_EQ(GetINIFilePath(dir / "outra/" + name), ExecutableDir() + name);
  DeleteFile(ExecutableDir() + name);

  if (!FileExists(beside)) {
    TqorNFCe nfce;
    EXPECT_EQ(MessageOf<EqorConfigINIException>([&] { nfce.LoadConfig(dir / "outra/" + name); }),
              "Arquivo " + beside + " não foi encontrado");
  }
  TqorNFCe nfce;
  EXPECT_EQ(MessageOf<EqorConfigINIException>(
                [&] { nfce.LoadConfig(static_cast<const TIniFile*>(nullptr)); }),
            "O parâmetro não pode ser nil para realizar o LoadConfig");
  EXPECT_EQ(
      MessageOf<EqorConfigINIException>([&] { nfce.SaveConfig(static_cast<TIniFile*>(nullptr)); }),
      "Parâmetro não pode ser nil para realizar o SaveConfig");
}

}  // namespace
}  // namespace qor
