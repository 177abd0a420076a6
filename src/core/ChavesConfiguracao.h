// The keys of the configuration file ("nfceConfig.ini"), one row each: its section and name, how
// the file holds it, what an absent key loads, where it goes when saved, and the property of the
// component it loads into and saves from. The component's load and save walk these rows and the
// command line looks keys up in them (to accept, type-check and mask values), so a key is named
// here and nowhere else.
//
// Thread-safe: the rows are built once and never changed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qor {

class TIniFile;
class TqorNFCe;

enum class TipoChaveConfig {
  Texto,     // free text (LerTextoIni/GravarTextoIni, config/ConfigIni.h)
  Booleano,  // "1"/"0"
  Inteiro,
  Protegido,  // stored through Encrypt
  Segredo     // a password or the CSRT: stored "enc:" + protected, never shown
};

enum class UsoChaveConfig {
  LidaEGravada,
  // Read when present, never written into a file that lacks it (TipoCertificado; the older
  // names ValidarEsquema and Servidor, which are kept up to date where a file has them).
  SomenteLida,
  SomenteGravada  // written, never read (Repositorio)
};

struct ChaveConfig {
  std::string secao;  // empty: the component's main section (SectionINI)
  std::string chave;
  TipoChaveConfig tipo;
  UsoChaveConfig uso = UsoChaveConfig::LidaEGravada;
  // What an absent key loads, in the form `aplicar` takes; nullopt: the property keeps its value.
  std::optional<std::string> padrao = std::nullopt;
  // Position among the keys saved (0: not saved on its own). The rows themselves are in loading
  // order, which is the order the setters' checks run in; files written elsewhere put some keys
  // in another order, and saving keeps theirs.
  int gravacao = 0;
  // The property as the file holds it: texts as they are, booleans "1"/"0", integers in decimal,
  // enumerations by their names. Null where the key does not stand for a property on its own.
  std::string (*ler)(TqorNFCe&) = nullptr;
  void (*aplicar)(TqorNFCe&, const std::string&) = nullptr;
  // The few keys that are not simply one property under one name (an older name that wins, a
  // default found only when loading) are loaded and saved by code of their own; null otherwise.
  void (*carregar)(TqorNFCe&, const TIniFile&, const std::string& secao,
                   const ChaveConfig&) = nullptr;
  void (*gravar)(TqorNFCe&, TIniFile&, const std::string& secao, const ChaveConfig&) = nullptr;
};

// Every key of the file, in loading order.
const std::vector<ChaveConfig>& ChavesConfiguracao();
// The key `chave` of section `secao` (names compare ignoring case; `secaoPrincipal` is the name
// of the main section), or nullptr.
const ChaveConfig* ProcurarChaveConfig(const std::string& secao, const std::string& chave,
                                       const std::string& secaoPrincipal);
// True for the values that are never shown: passwords, the PIN, the CSC and its id, the CSRT.
bool ChaveSecreta(const ChaveConfig& chave);

// Loads every key of `ini` into `nfce`, row by row through the property setters; the first
// failure propagates, with the keys before it applied.
void CarregarChaves(TqorNFCe& nfce, const TIniFile& ini, const std::string& secaoPrincipal);
// Saves every key of `nfce` into `ini`, in the file's order.
void GravarChaves(TqorNFCe& nfce, TIniFile& ini, const std::string& secaoPrincipal);

}  // namespace qor
