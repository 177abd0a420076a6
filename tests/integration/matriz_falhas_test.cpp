// The fault matrix of sending and distribution. File faults: a file seam fails the k-th write,
// rename or folder creation of each road, and what is left must be whole files or none, a
// failure naming its cause, and the same call (then a key query, when the notes had left) must
// bring the full set. Transport faults: for each one the exception and the files left say
// whether the note may have been authorised, and a key query settles it.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "NoteStore.h"
#include "Simulator.h"
#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Xml.h"
#include "support/SimulatorFixture.h"
#include "support/TlsFaultServer.h"

namespace qor {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kBin = QORNFCE_BIN_DIR;
const std::string kTalvez = "A situação da nota enviada é desconhecida";

enum class Passo { Escrita, Renomeacao, Pasta };
const char* Nome(Passo p) {
  return p == Passo::Escrita ? "escrita" : p == Passo::Renomeacao ? "renomeação" : "pasta";
}

// Counts the write, rename (and link) and folder-creation steps, and fails the k-th of one kind
// as a full disk would.
class FalhaNoPasso : public TFileSystemWrapper {
 public:
  FalhaNoPasso() : TFileSystemWrapper(TFileSystem::Default()) {}
  void Armar(Passo passo, int k) {
    passo_ = passo;
    alvo_ = k;
    contagem_.clear();
    falhou_.clear();
  }
  int Contagem(Passo passo) { return contagem_[passo]; }
  const std::string& Falhou() const { return falhou_; }

  std::string WriteTemporary(const std::string& path, const std::string& content) override {
    Contar(Passo::Escrita, path);
    return TFileSystemWrapper::WriteTemporary(path, content);
  }
  void RenameFile(const std::string& from, const std::string& to) override {
    Contar(Passo::Renomeacao, to);
    TFileSystemWrapper::RenameFile(from, to);
  }
  bool LinkNewName(const std::string& tmp, const std::string& path) override {
    Contar(Passo::Renomeacao, path);
    return TFileSystemWrapper::LinkNewName(tmp, path);
  }
  void CreateDirectories(const std::string& path) override {
    Contar(Passo::Pasta, path);
    TFileSystemWrapper::CreateDirectories(path);
  }

 private:
  void Contar(Passo passo, const std::string& path) {
    if (++contagem_[passo] != alvo_ || passo != passo_) return;
    falhou_ = path;
    throw EqorGovException("Não foi possível gravar \"" + path + "\": " + std::strerror(ENOSPC));
  }
  Passo passo_ = Passo::Escrita;
  int alvo_ = 0;
  std::map<Passo, int> contagem_;
  std::string falhou_;
};

class MatrizFalhas : public test::SimulatorRoad {
 protected:
  void SetUp() override {
    test::SimulatorRoad::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    nfce.SetFileSystem(&arquivos);
  }
  // The one-item sample numbered `nNF`, converted and signed.
  std::string Nota(int nNF) {
    std::string tx2 = LoadFromFile(kBin + "/exemplos/nfce-um-item-dinheiro.tx2");
    tx2.replace(tx2.find("nNF_B08=1001"), 12, "nNF_B08=" + std::to_string(nNF));
    WriteFile(rig->dir / "nota.tx2", tx2);
    return nfce.AssinarNota(nfce.ConverterLoteParaXml(
        rig->dir / "nota.tx2", TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  }
  std::string Log(const std::string& nome) { return rig->dir / "Log/" + nome; }
  std::string Dest(const std::string& nome) { return rig->dir / "XmlDestinatario/" + nome; }

  // Whole files or none: no temporary left, every log and distribution file parses, every
  // pointer names a send log that is there, every nfeProc has its note's send and reply logs.
  void ConferirArquivos(const std::string& caso) {
    for (const char* pasta : {"Log/", "XmlDestinatario/"}) {
      EXPECT_TRUE(ListFiles(rig->dir / pasta, ".qor-tmp-*").empty()) << caso << ": " << pasta;
    }
    for (const std::string& nome : ListFiles(rig->dir / "Log/", "*.xml")) {
      EXPECT_TRUE(IsValidXml(ReadFile(Log(nome)))) << caso << ": " << nome;
    }
    for (const std::string& nome : ListFiles(rig->dir / "XmlDestinatario/", "*")) {
      const std::string texto = ReadFile(Dest(nome));
      if (nome.ends_with(".xml")) {
        EXPECT_TRUE(IsValidXml(texto)) << caso << ": " << nome;
        const std::string chave = nome.substr(0, 44);
        EXPECT_TRUE(LogCom(chave, {"-env-lot.xml", "-env-sinc-lot.xml"}))
            << caso << ": no send log of " << nome;
        EXPECT_TRUE(LogCom(chave, {"-env-sinc-ret.xml", "-pro-rec.xml", "-sit.xml"}))
            << caso << ": no reply log of " << nome;
        continue;
      }
      ASSERT_EQ(texto.rfind("env-lot=", 0), 0u) << caso << ": " << nome;
      const std::string log = Log(texto.substr(8));
      EXPECT_TRUE(FileExists(log)) << caso << ": the pointer " << nome << " names " << log;
    }
  }
  // Whether a log whose name ends with one of `sufixos` holds `chave`.
  bool LogCom(const std::string& chave, std::initializer_list<const char*> sufixos) {
    for (const std::string& nome : ListFiles(rig->dir / "Log/", "*.xml")) {
      for (const char* sufixo : sufixos) {
        if (nome.ends_with(sufixo) && ReadFile(Log(nome)).find(chave) != std::string::npos) {
          return true;
        }
      }
    }
    return false;
  }
  // The nfeProc of `chave` is there and the official schema takes it.
  void ConferirNfeProc(const std::string& chave, const std::string& caso) {
    ASSERT_TRUE(FileExists(Dest(chave + "-nfce.xml"))) << caso;
    EXPECT_EQ(test::SchemaError(ReadFile(Dest(chave + "-nfce.xml")), "procNFe_v4.00.xsd"), "")
        << caso;
  }
  static std::string Chave(const std::string& nota) {
    return GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3);
  }

  FalhaNoPasso arquivos;
};

// Each road's every write, rename and folder creation made to fail once, k = 1..n.
TEST_F(MatrizFalhas, EveryFileStepOfSendingFailsCleanlyAndTheCallAgainCompletesIt) {
  struct Estrada {
    const char* nome;
    // Runs before the measured call, without faults; returns what the call needs (a receipt).
    std::function<std::string(const std::string& nota)> preparar;
    std::function<std::string(const std::string& nota, const std::string& dado)> chamar;
    // Checks the full set the call left, given its reply.
    std::function<void(const std::string& nota, const std::string& dado,
                       const std::string& resposta, const std::string& caso)>
        conferir;
  };
  const auto nada = [](const std::string&) { return std::string(); };
  const Estrada estradas[] = {
      {"EnviarNFSincrono", nada,
       [&](const std::string& nota, const std::string&) {
         return nfce.EnviarNFSincrono("1", nota, false);
       },
       [&](const std::string& nota, const std::string&, const std::string&,
           const std::string& caso) {
         ConferirNfeProc(Chave(nota), caso);
         EXPECT_FALSE(FileExists(Dest(Chave(nota)))) << caso << ": the pointer stays";
       }},
      {"EnviarNF", nada,
       [&](const std::string& nota, const std::string&) { return nfce.EnviarNF("5", nota, false); },
       [&](const std::string& nota, const std::string&, const std::string& resposta,
           const std::string& caso) {
         const std::string nRec = GetValueTag("nRec", resposta);
         ASSERT_EQ(nRec.size(), 15u) << caso << ": " << resposta;
         // Both pointers name one send log, which holds the note.
         const std::string ponteiro = ReadFile(Dest(Chave(nota)));
         EXPECT_EQ(ReadFile(Dest(nRec)), ponteiro) << caso;
         EXPECT_NE(ReadFile(Log(ponteiro.substr(8))).find(Chave(nota)), std::string::npos) << caso;
       }},
      {"ConsultarRecibo",
       [&](const std::string& nota) {
         return GetValueTag("nRec", nfce.EnviarNF("5", nota, false));
       },
       [&](const std::string&, const std::string& nRec) { return nfce.ConsultarRecibo(nRec); },
       [&](const std::string& nota, const std::string& nRec, const std::string&,
           const std::string& caso) {
         ConferirNfeProc(Chave(nota), caso);
         EXPECT_FALSE(FileExists(Dest(nRec))) << caso;
         EXPECT_FALSE(FileExists(Dest(Chave(nota)))) << caso;
       }},
  };
  int nNF = 2000;
  int casos = 0;
  for (const Estrada& estrada : estradas) {
    // The steps of the road, counted on a clean run.
    std::map<Passo, int> passos;
    {
      const std::string nota = Nota(++nNF);
      const std::string dado = estrada.preparar(nota);
      arquivos.Armar(Passo::Escrita, 0);
      const std::string resposta = estrada.chamar(nota, dado);
      for (Passo p : {Passo::Escrita, Passo::Renomeacao, Passo::Pasta}) {
        passos[p] = arquivos.Contagem(p);
      }
      estrada.conferir(nota, dado, resposta, estrada.nome);
    }
    EXPECT_GE(passos[Passo::Escrita], 2) << estrada.nome;
    EXPECT_GE(passos[Passo::Pasta], 2) << estrada.nome;
    for (Passo passo : {Passo::Escrita, Passo::Renomeacao, Passo::Pasta}) {
      for (int k = 1; k <= passos[passo]; ++k) {
        const std::string caso =
            std::string(estrada.nome) + ", " + Nome(passo) + " " + std::to_string(k);
        const std::string nota = Nota(++nNF);
        const std::string chave = Chave(nota);
        const std::string dado = estrada.preparar(nota);
        const int pedidos = rig->simulator->RequestCount();
        arquivos.Armar(passo, k);
        std::string mensagem;
        try {
          estrada.chamar(nota, dado);
          ADD_FAILURE() << caso << ": no failure";
        } catch (const std::exception& falha) {
          mensagem = falha.what();
        }
        arquivos.Armar(passo, 0);
        ++casos;
        EXPECT_NE(mensagem.find(arquivos.Falhou()), std::string::npos) << caso << ": " << mensagem;
        EXPECT_NE(mensagem.find(std::strerror(ENOSPC)), std::string::npos) << caso;
        const bool saiu = rig->simulator->RequestCount() != pedidos;
        if (std::string(estrada.nome) != "ConsultarRecibo") {
          // Before the post the note certainly was not sent: no sentence, no pointer.
          EXPECT_EQ(mensagem.find(kTalvez) != std::string::npos, saiu) << caso << ": " << mensagem;
          EXPECT_EQ(FileExists(Dest(chave)), saiu) << caso;
        }
        ConferirArquivos(caso);

        const std::string resposta = estrada.chamar(nota, dado);
        // A note that reached the state is settled by its key: a second sending is a duplicate.
        if (saiu && std::string(estrada.nome) == "EnviarNFSincrono") nfce.ConsultarNF(chave);
        ConferirArquivos(caso + ", again");
        estrada.conferir(nota, dado, resposta, caso + ", again");
      }
    }
  }
  EXPECT_GE(casos, 20);
  RecordProperty("casos", casos);
}

// The transport's faults on each road: the exception's class and sentence and the note's
// pointer say whether it may have been authorised; a key query with the fault cleared says
// whether it was, and writes its nfeProc when it was. A reply of another batch or note is never
// taken as this note's.
TEST_F(MatrizFalhas, EachTransportFaultTellsWhetherTheNoteMayBeAuthorisedAndAQuerySettlesIt) {
  const sim::TestPki& pki = test::SharedPki();
  using TlsFalha = test::TlsFaultServer::Fault;
  // Requests of the authorisation and receipt services go to a TLS server that misbehaves.
  const auto servidorFalho = [&](TlsFalha falha) {
    test::TlsFaultServer::Options options;
    options.certPem = pki.serverCert;
    options.keyPem = pki.serverKey;
    options.fault = falha;
    return std::make_unique<test::TlsFaultServer>(options);
  };
  const std::string desviado = rig->dir / "servidores-falhos.ini";
  const auto desviar = [&](const test::TlsFaultServer& servidor) {
    std::string texto = ReadFile(rig->hom), saida;
    for (std::size_t de = 0; de < texto.size();) {
      std::size_t fim = texto.find('\n', de);
      if (fim == std::string::npos) fim = texto.size();
      std::string linha = texto.substr(de, fim - de);
      if (linha.rfind("NfeRecepcao4=", 0) == 0 || linha.rfind("NfeRetRecepcao4=", 0) == 0) {
        linha = linha.substr(0, linha.find('=') + 1) + servidor.Url();
      }
      saida += linha + "\n";
      de = fim + 1;
    }
    WriteFile(desviado, saida);
    nfce.SetArquivoServidoresHom(desviado);
  };

  enum class Modo { Atraso, Http500, SemCorpo, OutroLote, Reset, Cortada, Recusada };
  struct Caso {
    const char* nome;
    Modo modo;
    bool resposta;    // EqorGovReplyException (a reply came) rather than EqorGovException
    bool pode;        // the request left the machine
    bool autorizada;  // what the key query finds
  };
  const Caso casos[] = {
      {"Delay", Modo::Atraso, false, true, true},
      {"Http500", Modo::Http500, true, true, false},
      {"NoSoapBody", Modo::SemCorpo, true, true, false},
      {"OtherBatch", Modo::OutroLote, true, true, true},
      {"TLS reset", Modo::Reset, false, true, false},
      {"TLS cut body", Modo::Cortada, false, true, false},
      {"connection refused", Modo::Recusada, false, false, false},
  };
  enum class Estrada { Sincrona, Lote, Recibo };

  // Earlier replies of each service, for the simulator to mix up.
  nfce.EnviarNFSincrono("1", Nota(3000), false);
  nfce.ConsultarRecibo(GetValueTag("nRec", nfce.EnviarNF("3", Nota(3001), false)));
  nfce.SetTimeOut(1500);

  int nNF = 3100;
  for (Estrada estrada : {Estrada::Sincrona, Estrada::Lote, Estrada::Recibo}) {
    for (const Caso& c : casos) {
      const char* nomeEstrada = estrada == Estrada::Sincrona ? "EnviarNFSincrono"
                                : estrada == Estrada::Lote   ? "EnviarNF + ConsultarRecibo"
                                                             : "ConsultarRecibo";
      const std::string caso = std::string(nomeEstrada) + " / " + c.nome;
      const std::string nota = Nota(++nNF);
      const std::string chave = Chave(nota);
      std::string nRec;
      if (estrada == Estrada::Recibo) nRec = GetValueTag("nRec", nfce.EnviarNF("9", nota, false));

      std::unique_ptr<test::TlsFaultServer> servidor;
      switch (c.modo) {
        case Modo::Atraso:
          rig->simulator->SetFault(sim::SimulatorFault::Delay, 2500);
          break;
        case Modo::Http500:
          rig->simulator->SetFault(sim::SimulatorFault::Http500);
          break;
        case Modo::SemCorpo:
          rig->simulator->SetFault(sim::SimulatorFault::NoSoapBody);
          break;
        case Modo::OutroLote:
          rig->simulator->SetFault(sim::SimulatorFault::OtherBatch);
          break;
        case Modo::Reset:
          servidor = servidorFalho(TlsFalha::kCloseWithoutReply);
          break;
        case Modo::Cortada:
          servidor = servidorFalho(TlsFalha::kTruncatedBody);
          break;
        case Modo::Recusada:
          servidor = servidorFalho(TlsFalha::kNone);
          servidor->Stop();  // the port is closed: nothing listens there
          break;
      }
      if (servidor) desviar(*servidor);

      std::string mensagem;
      bool classeResposta = false;
      try {
        if (estrada == Estrada::Sincrona) {
          nfce.EnviarNFSincrono("1", nota, false);
        } else if (estrada == Estrada::Lote) {
          nfce.ConsultarRecibo(GetValueTag("nRec", nfce.EnviarNF("9", nota, false)));
        } else {
          nfce.ConsultarRecibo(nRec);
        }
        ADD_FAILURE() << caso << ": no failure";
      } catch (const EqorGovReplyException& falha) {
        mensagem = falha.what();
        classeResposta = true;
      } catch (const EqorGovException& falha) {
        mensagem = falha.what();
      } catch (const std::exception& falha) {
        ADD_FAILURE() << caso << ": " << falha.what();
      }
      rig->simulator->SetFault(sim::SimulatorFault::Normal);
      nfce.SetArquivoServidoresHom(rig->hom);
      if (servidor) servidor->Stop();

      // The batch of the receipt road was received before the fault: its note may be
      // authorised whatever the query met, and its pointers stay.
      const bool pode = estrada == Estrada::Recibo || c.pode;
      const bool autorizada = estrada == Estrada::Recibo || c.autorizada;
      EXPECT_EQ(classeResposta, c.resposta) << caso << ": " << mensagem;
      if (estrada != Estrada::Recibo) {
        EXPECT_EQ(mensagem.find(kTalvez) != std::string::npos, c.pode) << caso << ": " << mensagem;
      }
      EXPECT_EQ(FileExists(Dest(chave)), pode) << caso << ": the note's pointer";
      EXPECT_FALSE(FileExists(Dest(chave + "-nfce.xml"))) << caso;
      EXPECT_FALSE(FileExists(Dest(chave + "-den.xml"))) << caso;
      ConferirArquivos(caso);

      // A delayed request is processed after the client gave up.
      const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (autorizada && !rig->simulator->Notas().Buscar(chave) &&
             std::chrono::steady_clock::now() < limite) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      const std::string consulta = nfce.ConsultarNF(chave);
      EXPECT_EQ(GetValueTag("cStat", consulta), autorizada ? "100" : "217") << caso;
      EXPECT_EQ(FileExists(Dest(chave + "-nfce.xml")), autorizada) << caso;
      if (autorizada) ConferirNfeProc(chave, caso);
      ConferirArquivos(caso + ", queried");
    }
  }
}

}  // namespace
}  // namespace qor
