// The settings classes: the Integrador folder checks, the certificate-name list's handler, the
// version folder of the default template path, and where the configuration file is found.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "config/TDanfceSettings.h"
#include "config/TqorCertStringNFCe.h"
#include "config/TqorIntegrador.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::MessageOf;
using test::TempDir;

TEST(Integrador, FoldersAreCheckedOnlyWhileAtivar) {
  TempDir dir;
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
  EXPECT_NE(MessageOf<EqorNFCeCheckParamsException>([&] {
              integrador.SetDiretorioSaida(dir / "falta");
            }).rfind("DiretorioSaida, Diretório inexistente: ", 0),
            std::string::npos);

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
  EXPECT_NE(test::ReadFile(dir / "nfce_exception.log").find("EqorNFCeCheckParamsException"),
            std::string::npos);
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
  TempDir dir;
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
  TempDir dir;
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
