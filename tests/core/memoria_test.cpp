// Nothing is kept per note: 2 000 notes through the offline road on one component (TX2 to XML
// with the vm60 rules, signature with the QR-code supplement, the batch checked against the
// official schema) leave the resident set within 2 MB of what it was after the first 100.
// Resident-set figures mean nothing under the address sanitizer, which keeps freed memory in
// quarantine: there the test is skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConverter.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor {
namespace {

double ResidenteMiB() {
  std::ifstream statm("/proc/self/statm");
  long total = 0, residentes = 0;
  statm >> total >> residentes;
  return static_cast<double>(residentes) * static_cast<double>(sysconf(_SC_PAGESIZE)) /
         (1024.0 * 1024.0);
}

TEST(Memoria, DuasMilNotasPeloCaminhoNaoAcumulamMemoria) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "resident set under the address sanitizer is not the program's own";
#endif
  QOR_NEEDS_SCHEMAS();
  test::TempDir dir;
  test::WriteFile(dir.path() + "hom.ini",
                  "[SP]\nURLQRCODE=https://nfce.sefaz.teste/qrcode\n[URLCONSULTACHAVE]\n"
                  "SP=https://nfce.sefaz.teste/consulta-chave\n");
  const auto& pki = test::SharedPki();
  TqorNFCe nfce;
  nfce.SetDiretorioLogErro(dir.path() + "LogErro/");
  nfce.SetDiretorioLog(dir.path() + "Log/");
  nfce.SetUF("SP");
  nfce.SetCNPJ(pki.cnpj);
  nfce.SetArquivoServidoresHom(dir.path() + "hom.ini");
  nfce.SetCaminhoCertificado(pki.companyPfx);
  nfce.SetSenhaCertificado(pki.password);

  const std::string tx2 =
      test::ReadFile(std::string(QORNFCE_SOURCE_DIR) + "/data/exemplos/nfce-varios-itens.tx2");
  TqorNFCeConvTXTDataSet conversor;
  conversor.SetXMLDicionario(nfce.GetConversor().GetTemplateCompletePath("NFCeDataSets.xml"));
  conversor.DataSets().SetValidaRegrasNegocio(true);
  conversor.DataSets().SetRelogio([] {  // the sample's dhEmi, 2026-12-07T10:32:41-03:00
    using namespace std::chrono;
    return sys_days{year{2026} / 12 / 7} + hours{13} + minutes{32} + seconds{41};
  });
  const std::string enviNFe = nfce.LoadTemplate("pedido_enviarnota.xml");

  double depoisDe100 = 0;
  for (int n = 1; n <= 2000; ++n) {
    conversor.SetTXT(tx2);
    const std::string assinada = nfce.AssinarNota(conversor.Converter());
    nfce.ValidarXMLNFCe(Format(enviNFe, {"1", assinada, ""}), "ENVIO");
    ASSERT_NE(assinada.find("<SignatureValue>"), std::string::npos);
    if (n == 100) depoisDe100 = ResidenteMiB();
  }
  EXPECT_LE(ResidenteMiB() - depoisDe100, 2.0) << "after 100 notes: " << depoisDe100 << " MB";
}

}  // namespace
}  // namespace qor
