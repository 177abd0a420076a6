#include "FakeIntegrador.h"

#include <signal.h>

#include <csignal>

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "NoteStore.h"
#include "ServiceDispatch.h"
#include "Simulator.h"
#include "Soap.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/Xml.h"

namespace qor::sim {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSucesso = "Enviado com sucesso + Retorno SEFAZ-CE";

struct Modo {
  std::string_view nome;
  FakeMode modo;
};
constexpr std::array kModos{Modo{"retorno", FakeMode::Retorno},
                            Modo{"identificador", FakeMode::Identificador},
                            Modo{"outro-primeiro", FakeMode::OutroPrimeiro},
                            Modo{"atraso", FakeMode::Atraso},
                            Modo{"mudo", FakeMode::Mudo},
                            Modo{"nao-xml", FakeMode::NaoXml},
                            Modo{"metade", FakeMode::Metade},
                            Modo{"item7-vazio", FakeMode::Item7Vazio},
                            Modo{"erro-interno", FakeMode::ErroInterno},
                            Modo{"sem-sucesso", FakeMode::SemSucesso}};

// The service each Integrador method stands for; a method may carry the homologation "H".
std::optional<ServiceKind> KindOf(std::string metodo) {
  if (!metodo.empty() && metodo[0] == 'H') metodo.erase(0, 1);
  if (metodo == "NfeStatusServico2Soap12") return ServiceKind::Status;
  if (metodo == "NfeAutorizacaoLote12") return ServiceKind::Authorization;
  if (metodo == "NfeConsulta2Soap12") return ServiceKind::Query;
  if (metodo == "NfeInutilizacao2Soap12") return ServiceKind::Voiding;
  if (metodo.ends_with("RecepcaoEvento")) return ServiceKind::Event;
  return std::nullopt;
}

// Base64 in lines of 76 characters ended by CR LF, as a mail body carries it.
std::string EmLinhas(const std::string& base64) {
  std::string out;
  for (std::size_t at = 0; at < base64.size(); at += 76) {
    out += base64.substr(at, 76) + "\r\n";
  }
  return out;
}

std::string Arquivo(const std::string& identificador, const std::string& corpo, bool retorno) {
  const std::string valor = Escape(corpo);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Integrador><Identificador><Valor>" +
         Escape(identificador) + "</Valor></Identificador><Resposta>" +
         (retorno ? "<retorno>" + valor + "</retorno>" : "<mensagem>" + valor + "</mensagem>") +
         "</Resposta></Integrador>";
}

}  // namespace

struct FakeIntegrador::Impl {
  explicit Impl(FakeIntegradorOptions o)
      : options(std::move(o)),
        notes(options.pasta.empty() ? std::string() : (fs::path(options.pasta) / "notas").string(),
              "", "") {
    notes.Carregar();
  }

  FakeIntegradorOptions options;
  NoteStore notes;
  std::mutex batchMutex;
  int journalled = 0;

  void Diario(const std::vector<std::pair<std::string, std::string>>& campos) {
    if (options.pasta.empty()) return;
    char nome[16];
    std::snprintf(nome, sizeof nome, "%04d", ++journalled);
    const std::string dir = (fs::path(options.pasta) / "diario" / nome).string() + "/";
    ForceDirectories(dir);
    for (const auto& [campo, valor] : campos) {
      if (IsPlainFileName(campo)) SaveToFile(dir + campo, valor);
    }
  }

  // The SOAP reply of the simulator for `dados` (Base64 of a SOAP request) sent as `metodo`.
  std::string Responder(const std::string& metodo, const std::string& dados) {
    const auto kind = KindOf(metodo);
    if (!kind) return BuildSoapFault(FaultCode::Sender, "Método desconhecido: " + metodo);
    std::string soap;
    try {
      soap = DecodeBase64(dados);
    } catch (const std::exception&) {
      return BuildSoapFault(FaultCode::Sender, "dados não está em Base64");
    }
    AuthorizationSettings settings;
    settings.schemasFolder = options.esquemas;
    std::string ultimaFalha = "Nenhum serviço atende " + metodo;
    for (const ServiceRoute& route : ServiceRoutes()) {
      if (route.kind != *kind) continue;
      try {
        return AnswerSoap(route, soap, {settings, notes, batchMutex, false});
      } catch (const SoapFault& fault) {
        ultimaFalha = fault.what();  // another layout's namespace: try the next route
      }
    }
    return BuildSoapFault(FaultCode::Sender, ultimaFalha);
  }

  void Escrever(const std::string& nome, const std::string& texto) {
    SaveToFile(IncludeTrailingSlash(options.saida) + nome, texto);
  }

  void Atender(const std::string& nome, const std::string& pedido,
               const volatile std::sig_atomic_t* stop) {
    std::vector<std::pair<std::string, std::string>> campos;
    std::string identificador, metodo, dados;
    try {
      const XmlElement raiz = ParseElementTree(pedido);
      for (const XmlElement& e : raiz.children) {
        if (e.name == "Identificador" && !e.children.empty()) identificador = e.children[0].text;
        if (e.name != "Componente" || e.children.empty()) continue;
        for (const auto& [atributo, valor] : e.children[0].attributes) {
          if (atributo == "Nome") metodo = valor;
        }
        for (const XmlElement& lista : e.children[0].children) {
          for (const XmlElement& p : lista.children) {
            std::string n, v;
            for (const XmlElement& c : p.children) (c.name == "Nome" ? n : v) = c.text;
            campos.emplace_back(n, v);
            if (n == "dados") dados = v;
          }
        }
      }
    } catch (const std::exception& e) {
      campos.emplace_back("erro", e.what());
    }
    campos.insert(campos.begin(),
                  {{"arquivo", nome}, {"metodo", metodo}, {"Identificador", identificador}});
    Diario(campos);
    const FakeMode modo = options.modo;
    if (modo == FakeMode::Mudo) return;

    const std::string soap = Responder(metodo, dados);
    std::string item7 = EmLinhas(EncodeBase64(soap));
    if (modo == FakeMode::Item7Vazio) item7.clear();
    if (modo == FakeMode::ErroInterno) item7 = "HTTP/1.1 500 Internal Server Error\r\n";
    // The retorno names the session in its characters 3 to 8: six digits.
    std::string sessao = identificador;
    if (!sessao.empty() && sessao.size() < 6 &&
        sessao.find_first_not_of("0123456789") == std::string::npos) {
      sessao.insert(0, 6 - sessao.size(), '0');
    }
    std::string cStat = GetValueTag("cStat", soap);
    const std::string texto =
        "00" + sessao + "|" + (cStat.empty() ? "000" : cStat) + "|" +
        (modo == FakeMode::SemSucesso ? "Erro ao enviar para a SEFAZ-CE" : std::string(kSucesso)) +
        "|" + metodo + "|" + nome + "||" + item7 + "|";
    const std::string resposta = Arquivo(identificador, texto, modo != FakeMode::Identificador);
    switch (modo) {
      case FakeMode::OutroPrimeiro:
        Escrever("0000-outro.xml",
                 Arquivo("999999", "00999999" + texto.substr(texto.find('|')), true));
        break;
      case FakeMode::Atraso:
        for (int espera = 0; espera < options.atrasoMs && !(stop && *stop); espera += 10) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        break;
      case FakeMode::NaoXml:
        Escrever(nome, "Falha: " + texto);
        return;
      case FakeMode::Metade: {
        // Written in place, not through a temporary name: the reader meets half a file.
        const std::string caminho = IncludeTrailingSlash(options.saida) + nome;
        AppendToFile(caminho, resposta.substr(0, resposta.size() / 2));
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        AppendToFile(caminho, resposta.substr(resposta.size() / 2));
        return;
      }
      default:
        break;
    }
    Escrever(nome, resposta);
  }
};

FakeIntegrador::FakeIntegrador(FakeIntegradorOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}
FakeIntegrador::~FakeIntegrador() = default;

int FakeIntegrador::AtenderPendentes(const volatile std::sig_atomic_t* stop) {
  const std::string entrada = IncludeTrailingSlash(impl_->options.entrada);
  int atendidos = 0;
  for (const std::string& nome : ListFiles(entrada, "*.xml")) {
    std::string pedido;
    try {
      pedido = LoadFromFile(entrada + nome);
    } catch (const std::exception&) {
      continue;  // taken away meanwhile
    }
    DeleteFile(entrada + nome);
    impl_->Atender(nome, pedido, stop);
    ++atendidos;
  }
  return atendidos;
}

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

std::string Usage(const std::string& name) {
  return "Uso: " + name +
         " --entrada DIR --saida DIR [--modo M] [--pasta DIR] [--esquemas DIR]\n"
         "\n"
         "Integrador falso: lê os pedidos de DIR de entrada, registra cada um em\n"
         "PASTA/diario/NNNN/ (metodo, Identificador e um arquivo por Parametro) e responde na\n"
         "pasta de saída com a resposta do simulador, até receber SIGINT ou SIGTERM.\n"
         "\n"
         "  --modo M   retorno (padrão), identificador, outro-primeiro, atraso:MS, mudo,\n"
         "             nao-xml, metade, item7-vazio, erro-interno, sem-sucesso\n"
         "  --pasta    pasta de trabalho (padrão: ./integrador-falso)\n"
         "  --esquemas pacote de esquemas XSD (padrão: Esquemas/vm60 dos dados, ou "
         "$QORNFCE_ESQUEMAS)\n";
}

}  // namespace

int RunFakeIntegradorCommand(int argc, char** argv) {
  const std::string name = argc > 0 ? argv[0] : "qornfce-integrador-falso";
  FakeIntegradorOptions options;
  options.pasta = "integrador-falso";
  options.esquemas = DefaultSchemasFolder();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      std::cout << Usage(name);
      return 0;
    }
    if (i + 1 >= argc) {
      std::cerr << Usage(name);
      return 2;
    }
    const std::string value = argv[++i];
    if (arg == "--entrada") {
      options.entrada = value;
    } else if (arg == "--saida") {
      options.saida = value;
    } else if (arg == "--pasta") {
      options.pasta = value;
    } else if (arg == "--esquemas") {
      options.esquemas = value;
    } else if (arg == "--modo") {
      const std::string modo = value.substr(0, value.find(':'));
      bool known = false;
      for (const Modo& m : kModos) {
        if (m.nome == modo) options.modo = m.modo, known = true;
      }
      if (options.modo == FakeMode::Atraso && value.find(':') != std::string::npos) {
        const std::string ms = value.substr(value.find(':') + 1);
        auto [end, error] = std::from_chars(ms.data(), ms.data() + ms.size(), options.atrasoMs);
        known = known && error == std::errc() && end == ms.data() + ms.size();
      }
      if (!known) {
        std::cerr << name << ": modo desconhecido: " << value << "\n" << Usage(name);
        return 2;
      }
    } else {
      std::cerr << Usage(name);
      return 2;
    }
  }
  if (options.entrada.empty() || options.saida.empty()) {
    std::cerr << Usage(name);
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  try {
    FakeIntegrador fake(options);
    std::cout << "Integrador falso: entrada " << options.entrada << ", saída " << options.saida
              << std::endl;
    while (gStop == 0) {
      if (fake.AtenderPendentes(&gStop) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    std::cout << "Integrador falso encerrado." << std::endl;
    return 0;
  } catch (const std::exception& e) {
    std::cerr << name << ": " << e.what() << "\n";
    return 1;
  }
}

}  // namespace qor::sim
