#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/GovException.h"
#include "support/TempDir.h"

namespace qor {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(IniFile, ReadsCaseInsensitivelyWithTypedDefaults) {
  auto ini = TIniFile::FromText(
      "[NFCE]\r\n"
      "CNPJ = 12345678000190\r\n"
      "TimeOut=30000\r\n"
      "Ruim=12a\r\n"
      "Grande=99999999999\r\n"
      "Ligado=true\r\n"
      "Menos=-1\r\n"
      "Zero=0\r\n"
      "Vazio=\r\n");
  EXPECT_EQ(ini->ReadString("nfce", "cnpj", "x"), "12345678000190");
  EXPECT_EQ(ini->ReadString("NFCE", "Vazio", "x"), "");
  EXPECT_EQ(ini->ReadString("NFCE", "Falta", "padrão"), "padrão");
  EXPECT_EQ(ini->ReadString("OUTRA", "CNPJ", "padrão"), "padrão");
  EXPECT_EQ(ini->ReadInteger("Nfce", "TIMEOUT", 0), 30000);
  EXPECT_EQ(ini->ReadInteger("NFCE", "Ruim", 7), 7);
  EXPECT_EQ(ini->ReadInteger("NFCE", "Grande", 7), 7);
  EXPECT_TRUE(ini->ReadBool("NFCE", "Ligado", false));
  EXPECT_TRUE(ini->ReadBool("NFCE", "Menos", false));
  EXPECT_FALSE(ini->ReadBool("NFCE", "Zero", true));
  EXPECT_TRUE(ini->ReadBool("NFCE", "CNPJ", false));
  EXPECT_TRUE(ini->ReadBool("NFCE", "Falta", true));
  EXPECT_TRUE(ini->SectionExists("nFcE"));
  EXPECT_TRUE(ini->ValueExists("NFCE", "vazio"));
  EXPECT_FALSE(ini->ValueExists("NFCE", "Falta"));
  EXPECT_TRUE(ini->FileName().empty());

  // Keys keep the case they were first written with.
  ini->WriteBool("nfce", "LIGADO", false);
  ini->WriteBool("MAIL", "Autenticacao", true);
  ini->WriteInteger("mail", "Porta", 587);
  EXPECT_NE(ini->Text().find("Ligado=0\n"), std::string::npos) << ini->Text();
  EXPECT_NE(ini->Text().find("[MAIL]\nAutenticacao=1\nPorta=587\n"), std::string::npos);
}

TEST(IniFile, FileBackedWritesReachTheDiskAtOnceAndKeepEveryOtherLine) {
  TempDir tmp;
  const std::string path = tmp / "nfceConfig.ini";
  const std::string original =
      "; configuração do caixa 3\n"
      "\n"
      "[NFCE]\n"
      "# certificado\n"
      "CNPJ=12345678000190\n"
      "\n"
      "; integrador desligado\n"
      "[INTEGRADOR]\n"
      "Ativar=0\n";
  WriteFile(path, original);
  {
    TIniFile ini(path);
    ini.WriteString("NFCE", "UF", "SP");
    ini.WriteString("nfce", "cnpj", "99999999000191");
  }
  EXPECT_EQ(ReadFile(path),
            "; configuração do caixa 3\n"
            "\n"
            "[NFCE]\n"
            "# certificado\n"
            "CNPJ=99999999000191\n"
            "UF=SP\n"
            "\n"
            "; integrador desligado\n"
            "[INTEGRADOR]\n"
            "Ativar=0\n");
  std::vector<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    entries.push_back(e.path().filename().string());
  }
  EXPECT_EQ(entries, std::vector<std::string>{"nfceConfig.ini"});

  TIniFile again(path);
  EXPECT_EQ(again.ReadString("NFCE", "UF", ""), "SP");
  EXPECT_EQ(again.FileName(), path);
}

TEST(IniFile, AccentedUtf8RoundTripsAndABomIsIgnored) {
  TempDir tmp;
  const std::string path = tmp / "acentos.ini";
  const std::string frase = "EMITIDA EM AMBIENTE DE HOMOLOGAÇÃO – SEM VALOR FISCAL ✓";
  TIniFile(path).WriteString("DANFCE", "FraseHomologacao", frase);
  EXPECT_EQ(TIniFile(path).ReadString("DANFCE", "FraseHomologacao", ""), frase);

  WriteFile(tmp / "bom.ini", "\xEF\xBB\xBF[NFCE]\nUF=MG\n");
  EXPECT_EQ(TIniFile(tmp / "bom.ini").ReadString("NFCE", "UF", ""), "MG");
}

TEST(IniFile, TwoObjectsOnOneFileDoNotRevertEachOther) {
  TempDir tmp;
  const std::string path = tmp / "compartilhado.ini";
  TIniFile a(path);
  TIniFile b(path);
  a.WriteString("NFCE", "UF", "SP");
  b.WriteString("NFCE", "CNPJ", "12345678000190");
  TIniFile c(path);
  EXPECT_EQ(c.ReadString("NFCE", "UF", ""), "SP");
  EXPECT_EQ(c.ReadString("NFCE", "CNPJ", ""), "12345678000190");
}

TEST(IniFile, SectionListingAndRemoval) {
  TempDir tmp;
  const std::string path = tmp / "s.ini";
  TIniFile ini(path);
  ini.WriteString("NFCE", "UF", "SP");
  ini.WriteString("NFCE", "Ambiente", "2");
  ini.WriteString("MAIL", "Porta", "25");
  TStrings list;
  list.Add("lixo");
  ini.ReadSections(list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"NFCE", "MAIL"}));
  ini.ReadSection("nfce", list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"UF", "Ambiente"}));
  ini.ReadSectionValues("NFCE", list);
  EXPECT_EQ(list.Lines(), (std::vector<std::string>{"UF=SP", "Ambiente=2"}));

  ini.DeleteKey("NFCE", "uf");
  ini.EraseSection("mail");
  EXPECT_EQ(ReadFile(path), "[NFCE]\nAmbiente=2\n");
  EXPECT_FALSE(TIniFile(path).SectionExists("MAIL"));
}

TEST(IniFile, RefusesWhatWouldCorruptTheFileAndUnreadablePaths) {
  TempDir tmp;
  const std::string path = tmp / "c.ini";
  TIniFile ini(path);
  ini.WriteString("NFCE", "UF", "SP");
  const std::string before = ReadFile(path);
  EXPECT_THROW(ini.WriteString("NFCE", "Mensagem", "linha1\n[NFCE]\nCNPJ=1"), EqorGovException);
  EXPECT_THROW(ini.WriteString("NFCE", "a=b", "x"), EqorGovException);
  EXPECT_THROW(ini.WriteString("NF]CE", "x", "x"), EqorGovException);
  EXPECT_THROW(ini.WriteString("", "x", "x"), EqorGovException);
  EXPECT_EQ(ReadFile(path), before);

  EXPECT_THROW(TIniFile{tmp.path()}, EqorGovException);  // a folder, not a file
  TIniFile missing(tmp / "novo.ini");
  EXPECT_FALSE(std::filesystem::exists(tmp / "novo.ini"));
  missing.WriteInteger("NFCE", "MaxSizeLoteEnvio", 500);
  EXPECT_EQ(ReadFile(tmp / "novo.ini"), "[NFCE]\nMaxSizeLoteEnvio=500\n");
}

}  // namespace
}  // namespace qor
