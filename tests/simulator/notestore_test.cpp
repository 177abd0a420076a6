// The base of notes on its own: digests checked against xmlsec1's, refusals, persistence and
// protocol numbers under concurrent recording.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "NoteStore.h"
#include "platform/Format.h"
#include "support/SimulatorFixture.h"
#include "support/TempDir.h"

namespace qor::sim {
namespace {

using test::ReadFile;
using test::RunCommand;
using test::SharedPki;
using test::TempDir;
using test::WriteFile;
using ::testing::HasSubstr;

const std::string kKey = "35240111222333000181650010000000011123456780";
const std::string kOther = "35240111222333000181650010000000021123456796";

NoteStore Store(const TempDir& dir) {
  return NoteStore(dir / "notas", SharedPki().serverKey, SharedPki().serverCert);
}

// A note signed by xmlsec1, written with attributes out of canonical order, an empty element
// and an entity, so the store's canonical form has something to get wrong.
std::string SignedNote(const TempDir& dir, const std::string& key) {
  const std::string tmpl = dir / "nota-modelo.xml", out = dir / "nota.xml";
  WriteFile(tmpl, Format(R"(<?xml version="1.0" encoding="UTF-8"?>
<NFe xmlns="http://www.portalfiscal.inf.br/nfe"><infNFe versao="4.00" Id="NFe%s">
  <ide><cUF>35</cUF><tpAmb>2</tpAmb><vazio/></ide><emit><xNome>Ação &amp; Cia</xNome></emit>
</infNFe><Signature xmlns="http://www.w3.org/2000/09/xmldsig#"><SignedInfo>
<CanonicalizationMethod Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/>
<SignatureMethod Algorithm="http://www.w3.org/2000/09/xmldsig#rsa-sha1"/><Reference URI="#NFe%s">
<Transforms><Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>
<Transform Algorithm="http://www.w3.org/TR/2001/REC-xml-c14n-20010315"/></Transforms>
<DigestMethod Algorithm="http://www.w3.org/2000/09/xmldsig#sha1"/><DigestValue/></Reference>
</SignedInfo><SignatureValue/><KeyInfo><X509Data><X509Certificate/></X509Data></KeyInfo>
</Signature></NFe>)",
                         {key, key}));
  std::string log;
  EXPECT_EQ(0, RunCommand("xmlsec1 --sign --privkey-pem " + SharedPki().companyKeyPem + "," +
                              SharedPki().companyCertPem +
                              " --id-attr:Id http://www.portalfiscal.inf.br/nfe:infNFe --output " +
                              out + " " + tmpl,
                          &log))
      << log;
  return ReadFile(out);
}

TEST(NoteStoreTest, DigestOfASignedNoteIsTheSignaturesAndSurvivesReload) {
  TempDir dir;
  const std::string nfe = SignedNote(dir, kKey);
  std::string digest;
  RunCommand("xmllint --xpath \"string(//*[local-name()='DigestValue'])\" " + dir / "nota.xml",
             &digest);
  while (digest.ends_with('\n')) digest.pop_back();

  NoteStore store = Store(dir);
  NotaRegistrada nota = store.RegistrarAutorizacao(kKey, "2", nfe);
  EXPECT_THAT(nota.protNFe, HasSubstr("<digVal>" + digest + "</digVal>"));
  EXPECT_THAT(nota.protNFe, HasSubstr("<protNFe versao=\"4.00\""));
  EXPECT_EQ(15u, nota.nProt.size());
  EXPECT_EQ("135", nota.nProt.substr(0, 3));

  NoteStore reloaded = Store(dir);
  reloaded.Carregar();
  ASSERT_TRUE(reloaded.Buscar(kKey));
  EXPECT_EQ(nota.nProt, reloaded.Buscar(kKey)->nProt);
  EXPECT_THAT(reloaded.Buscar(kKey)->protNFe, HasSubstr("<digVal>" + digest + "</digVal>"));
  // The note read back from disk still carries a signature that verifies.
  EXPECT_EQ("", test::SignatureError(reloaded.Buscar(kKey)->nfe, "infNFe", SharedPki().caCert));
}

TEST(NoteStoreTest, RefusesWhatTheBaseForbidsAndKeepsNothingOfIt) {
  TempDir dir;
  NoteStore store = Store(dir);
  store.RegistrarAutorizacao(kKey, "2");
  using Reason = NoteStoreConflict::Reason;
  auto reason = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const NoteStoreConflict& e) {
      return e.reason();
    }
    return Reason{-1};  // no conflict: equal to none of the reasons
  };
  EXPECT_EQ(Reason::JaRegistrada, reason([&] { store.RegistrarAutorizacao(kKey, "1"); }));
  EXPECT_EQ(Reason::NaoRegistrada,
            reason([&] { store.RegistrarCancelamentoSemEvento(kOther, "Justificativa longa"); }));
  // A denied note is in the base too (its number is spent), yet there is nothing to cancel.
  const std::string denied = "35240111222333000181650010000000091123456785";
  store.RegistrarDenegacao(denied, "2", {}, codes::k302);
  EXPECT_EQ(Reason::JaRegistrada, reason([&] { store.RegistrarAutorizacao(denied, "2"); }));
  EXPECT_EQ(Reason::Denegada,
            reason([&] { store.RegistrarCancelamentoSemEvento(denied, "Justificativa longa"); }));
  EXPECT_THROW(store.RegistrarDenegacao(kOther, "2", {}, codes::k100), std::invalid_argument);
  EXPECT_THROW(store.RegistrarAutorizacao(kOther, "3"), std::invalid_argument);
  EXPECT_THROW(store.RegistrarAutorizacao(kOther, "2", SignedNote(dir, kKey)),
               std::invalid_argument);
  EXPECT_THROW(store.RegistrarAutorizacao(kOther, "2", "<NFe>"), std::invalid_argument);
  EXPECT_THROW(store.RegistrarCancelamentoSemEvento(kKey, "Curta demais"), std::invalid_argument);
  EXPECT_THROW(store.RegistrarCancelamento(kKey, "<evento><infEvento/></evento>"),
               std::invalid_argument);
  EXPECT_EQ(2u, store.Quantidade());
  EXPECT_FALSE(store.Buscar(kKey)->Cancelada());

  const NotaRegistrada cancelled = store.RegistrarCancelamentoSemEvento(kKey, "Venda desfeita ok");
  EXPECT_TRUE(cancelled.Cancelada());
  EXPECT_GT(cancelled.retEvento.substr(cancelled.retEvento.find("<nProt>") + 12, 10),
            cancelled.nProt.substr(5));
  EXPECT_EQ(Reason::JaCancelada,
            reason([&] { store.RegistrarCancelamento(kKey, cancelled.evento); }));

  // A file that does not hold what its name says stops the load instead of being half-read.
  WriteFile(dir / ("notas/" + kOther + ".xml"), "<protNFe>");
  EXPECT_THROW(Store(dir).Carregar(), std::runtime_error);
}

TEST(NoteStoreTest, ConcurrentRecordingsGetUniqueIncreasingProtocols) {
  TempDir dir;
  NoteStore store = Store(dir);
  constexpr int kThreads = 4, kEach = 20;
  std::vector<std::vector<std::string>> protocols(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        std::string key = std::to_string(t * kEach + i);
        key = "35" + std::string(42 - key.size(), '0') + key;
        protocols[t].push_back(store.RegistrarAutorizacao(key, "2").nProt);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<std::string> all;
  for (const std::vector<std::string>& mine : protocols) {
    for (size_t i = 1; i < mine.size(); ++i) EXPECT_LT(mine[i - 1], mine[i]);
    all.insert(mine.begin(), mine.end());
  }
  EXPECT_EQ(size_t{kThreads * kEach}, all.size());

  NoteStore reloaded = Store(dir);
  reloaded.Carregar();
  EXPECT_EQ(size_t{kThreads * kEach}, reloaded.Quantidade());
  EXPECT_GT(reloaded.RegistrarAutorizacao(kKey, "2").nProt, *all.rbegin());
}

}  // namespace
}  // namespace qor::sim
