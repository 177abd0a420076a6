// qornfce configurar: writes values into nfceConfig.ini through the component, and shows the
// configuration in force with its secrets masked.
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"
#include "ConfigFile.h"
#include "config/ConfigIni.h"
#include "core/ChavesConfiguracao.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/SecretBox.h"
#include "platform/Text.h"

namespace qor::cli {

namespace {

constexpr const char* kMascara = "********";

struct Atribuicao {
  const ChaveConfig* chave;
  std::string secao;  // as the file names it
  std::string valor;
};

bool ValorBooleano(const std::string& valor, bool& out) {
  if (valor == "1" || SameText(valor, "true")) return out = true, true;
  if (valor == "0" || SameText(valor, "false")) return out = false, true;
  return false;
}

bool ValorInteiro(const std::string& valor, int& out) {
  try {
    std::size_t usados = 0;
    out = std::stoi(valor, &usados);
    return usados == valor.size();
  } catch (const std::logic_error&) {
    return false;
  }
}

// Every argument checked before anything is read or written, so a typing error writes nothing.
std::vector<Atribuicao> LerAtribuicoes(const std::vector<std::string>& argumentos,
                                       const std::string& secaoPrincipal) {
  std::vector<Atribuicao> atribuicoes;
  for (const std::string& argumento : argumentos) {
    const std::size_t igual = argumento.find('=');
    const std::size_t ponto = argumento.find('.');
    if (igual == std::string::npos || ponto == std::string::npos || ponto > igual) {
      throw UsageError("esperado SECAO.CHAVE=VALOR: " + argumento);
    }
    const std::string secao = argumento.substr(0, ponto);
    const std::string nome = argumento.substr(ponto + 1, igual - ponto - 1);
    const std::string valor = argumento.substr(igual + 1);
    const ChaveConfig* chave = ProcurarChaveConfig(secao, nome, secaoPrincipal);
    if (chave == nullptr) throw UsageError("chave desconhecida: " + secao + "." + nome);
    if (chave->uso == UsoChaveConfig::SomenteGravada) {
      throw UsageError("a chave " + secao + "." + nome + " é só registrada ao gravar; use " +
                       secao + ".TipoCertificado");
    }
    bool b = false;
    int i = 0;
    if (chave->tipo == TipoChaveConfig::Booleano && !ValorBooleano(valor, b)) {
      throw UsageError("valor inválido para " + secao + "." + nome + ": " + valor +
                       " (use 1 ou 0)");
    }
    if (chave->tipo == TipoChaveConfig::Inteiro && !ValorInteiro(valor, i)) {
      throw UsageError("valor inválido para " + secao + "." + nome + ": " + valor +
                       " (esperado um número inteiro)");
    }
    atribuicoes.push_back({chave, chave->secao.empty() ? secaoPrincipal : chave->secao, valor});
  }
  return atribuicoes;
}

void Escrever(TIniFile& ini, const Atribuicao& a) {
  const std::string& chave = a.chave->chave;
  switch (a.chave->tipo) {
    case TipoChaveConfig::Booleano: {
      bool b = false;
      ValorBooleano(a.valor, b);
      ini.WriteBool(a.secao, chave, b);
      break;
    }
    case TipoChaveConfig::Inteiro: {
      int i = 0;
      ValorInteiro(a.valor, i);
      ini.WriteInteger(a.secao, chave, i);
      break;
    }
    case TipoChaveConfig::Protegido:
      ini.WriteString(a.secao, chave, a.valor.empty() ? std::string() : Encrypt(a.valor));
      break;
    case TipoChaveConfig::Texto:
    case TipoChaveConfig::Segredo:
      GravarTextoIni(ini, a.secao, chave, a.valor);
      break;
  }
}

void Mostrar(TqorNFCe& nfce) {
  TIniFile efetiva;
  nfce.SaveConfig(&efetiva);
  TStrings secoes;
  efetiva.ReadSections(secoes);
  for (std::size_t s = 0; s < secoes.Count(); ++s) {
    if (s > 0) std::cout << "\n";
    std::cout << "[" << secoes[s] << "]\n";
    TStrings linhas;
    efetiva.ReadSectionValues(secoes[s], linhas);
    for (std::size_t l = 0; l < linhas.Count(); ++l) {
      const std::string nome = linhas.Names(l);
      std::string valor = linhas.ValueFromIndex(l);
      const ChaveConfig* chave = ProcurarChaveConfig(secoes[s], nome, nfce.GetSectionINI());
      if (chave != nullptr && ChaveSecreta(*chave) && !valor.empty()) valor = kMascara;
      std::cout << nome << "=" << valor << "\n";
    }
  }
}

}  // namespace

int RunConfigurar(int argc, char** argv) {
  const Options options(argc, argv, 2, {"config"}, {"mostrar"});
  if (options.Positional().empty() && !options.Has("mostrar")) {
    throw UsageError("informe SECAO.CHAVE=VALOR ou --mostrar");
  }
  bool named = false;
  const std::string path = ConfigFilePath(options, named);

  TqorNFCe atual;
  const std::vector<Atribuicao> atribuicoes =
      LerAtribuicoes(options.Positional(), atual.GetSectionINI());
  if (atribuicoes.empty()) {
    LoadConfigFile(options, atual);
    Mostrar(atual);
    return 0;
  }
  if (FileExists(path)) atual.LoadConfig(path);

  // The values go into a copy of the configuration and are loaded back by a fresh component,
  // so each one passes through the property it loads into (with its conversion and checks) and
  // an empty value means the property's default. Only then is the file written, by the same
  // save as the component's, which stores the protected keys protected.
  TIniFile copia;
  atual.SaveConfig(&copia);
  for (const Atribuicao& a : atribuicoes) Escrever(copia, a);
  TqorNFCe nova;
  nova.LoadConfig(&copia);
  nova.SaveConfig(path);
  if (options.Has("mostrar")) {
    Mostrar(nova);
  } else {
    std::cout << path << "\n";
  }
  return 0;
}

}  // namespace qor::cli
