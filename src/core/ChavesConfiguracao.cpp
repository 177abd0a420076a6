#include "core/ChavesConfiguracao.h"

#include <algorithm>
#include <string>
#include <type_traits>

#include "base/Exceptions.h"
#include "config/ConfigIni.h"
#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/Text.h"
#include "utils/Conversoes.h"

namespace qor {

namespace {

using Ler = std::string (*)(TqorNFCe&);
using Aplicar = void (*)(TqorNFCe&, const std::string&);

constexpr const char* kIntegrador = "INTEGRADOR";
constexpr const char* kMail = "MAIL";
constexpr const char* kDanfce = "DANFCE";
constexpr const char* kEscPos = "ESCPOS";
constexpr std::nullopt_t kAtual = std::nullopt;

// Files written before these keys had their present names say the older ones. Where a file has
// the older name, loading reads it instead, and saving keeps it up to date.
constexpr char kValidarEsquema[] = "ValidarEsquema";
constexpr char kServidor[] = "Servidor";

// The accents the configuration file removes when it does not say otherwise (shorter than the
// component's own default, which a file written elsewhere does not expect).
constexpr const char* kAcentosPadraoIni = "áéíóúàèìòùâêîôûäëïöü";

std::string ParaTexto(const std::string& v) { return v; }
std::string ParaTexto(bool v) { return v ? "1" : "0"; }
std::string ParaTexto(int v) { return std::to_string(v); }

template <typename T>
T DeTexto(const std::string& v);
template <>
std::string DeTexto(const std::string& v) {
  return v;
}
template <>
bool DeTexto(const std::string& v) {
  return v == "1";
}
template <>
int DeTexto(const std::string& v) {
  return std::stoi(v);
}

// The objects of the component that hold the properties.
TqorNFCe& Nfce(TqorNFCe& n) { return n; }
TqorIntegrador& Integrador(TqorNFCe& n) { return n.GetIntegrador(); }
TqorEmailSettings& Mail(TqorNFCe& n) { return n.GetEmailSettings(); }
TDanfceSettings& Danfce(TqorNFCe& n) { return n.GetDanfceSettings(); }
TEscPosSettings& EscPos(TqorNFCe& n) { return n.GetEscPosSettings(); }

struct Propriedade {
  const char* nome;
  Ler ler;
  Aplicar aplicar;
};

// The key named as the property Nome of the object `dono` gives, read and set through its getter
// and setter.
// clang-format off
#define QOR_PROPRIEDADE(dono, Nome)                                                       \
  Propriedade{#Nome,                                                                      \
              [](TqorNFCe& n) { return ParaTexto(dono(n).Get##Nome()); },                 \
              [](TqorNFCe& n, const std::string& v) {                                     \
                dono(n).Set##Nome(DeTexto<std::decay_t<decltype(dono(n).Get##Nome())>>(v)); \
              }}
// clang-format on

using Carregar = void (*)(TqorNFCe&, const TIniFile&, const std::string&, const ChaveConfig&);
using Gravar = void (*)(TqorNFCe&, TIniFile&, const std::string&, const ChaveConfig&);

ChaveConfig Chave(const char* secao, const Propriedade& p, TipoChaveConfig tipo,
                  std::optional<std::string> padrao, int gravacao, Carregar carregar = nullptr,
                  Gravar gravar = nullptr) {
  return {.secao = secao,
          .chave = p.nome,
          .tipo = tipo,
          .uso = UsoChaveConfig::LidaEGravada,
          .padrao = std::move(padrao),
          .gravacao = gravacao,
          .ler = p.ler,
          .aplicar = p.aplicar,
          .carregar = carregar,
          .gravar = gravar};
}

// The value of the key `nome` of the row `c` in the form its `aplicar` takes.
std::string LerValor(TqorNFCe& n, const TIniFile& ini, const std::string& secao,
                     const std::string& nome, const ChaveConfig& c) {
  const std::string padrao = c.padrao ? *c.padrao : c.ler(n);
  switch (c.tipo) {
    case TipoChaveConfig::Booleano:
      return ParaTexto(ini.ReadBool(secao, nome, padrao == "1"));
    case TipoChaveConfig::Inteiro:
      return ParaTexto(ini.ReadInteger(secao, nome, std::stoi(padrao)));
    case TipoChaveConfig::Protegido:
      return LerProtegidoIni(ini, secao, nome, padrao);
    case TipoChaveConfig::Segredo:
      return LerSegredoIni(ini, secao, nome, padrao);
    case TipoChaveConfig::Texto:
      break;
  }
  return LerTextoIni(ini, secao, nome, padrao);
}

// Booleans and integers are written as `ler` gives them, which is their file form.
void GravarValor(TIniFile& ini, const std::string& secao, const std::string& nome,
                 const ChaveConfig& c, const std::string& valor) {
  switch (c.tipo) {
    case TipoChaveConfig::Booleano:
    case TipoChaveConfig::Inteiro:
      ini.WriteString(secao, nome, valor);
      return;
    case TipoChaveConfig::Protegido:
      GravarProtegidoIni(ini, secao, nome, valor);
      return;
    case TipoChaveConfig::Segredo:
      GravarSegredoIni(ini, secao, nome, valor);
      return;
    case TipoChaveConfig::Texto:
      break;
  }
  GravarTextoIni(ini, secao, nome, valor);
}

template <const char* antigo>
void CarregarComNomeAntigo(TqorNFCe& n, const TIniFile& ini, const std::string& secao,
                           const ChaveConfig& c) {
  c.aplicar(n, LerValor(n, ini, secao, ini.ValueExists(secao, antigo) ? antigo : c.chave, c));
}

void GravarValidarEsquema(TqorNFCe& n, TIniFile& ini, const std::string& secao,
                          const ChaveConfig& c) {
  const std::string valor = c.ler(n);
  if (ini.ValueExists(secao, kValidarEsquema)) GravarValor(ini, secao, kValidarEsquema, c, valor);
  GravarValor(ini, secao, c.chave, c, valor);
}

// The older name replaces the present one where the file has it.
void GravarServidor(TqorNFCe& n, TIniFile& ini, const std::string& secao, const ChaveConfig& c) {
  GravarValor(ini, secao, ini.ValueExists(secao, kServidor) ? kServidor : c.chave, c, c.ler(n));
}

// The folder an absent key leaves is the system's temporary folder, found when loading.
void CarregarDiretorioTemporario(TqorNFCe& n, const TIniFile& ini, const std::string& secao,
                                 const ChaveConfig& c) {
  c.aplicar(n, LerTextoIni(ini, secao, c.chave, ExpandPath(GetSpecialDirectories(1))));
}

// The certificate store a kind is saved as ("Repositorio"; never read back).
std::string Repositorio(TCertificadoKind kind) {
  switch (kind) {
    case TCertificadoKind::ckMemory:
      return "MEMORY_STORE";
    case TCertificadoKind::ckLocalMachine:
      return "LOCAL_MACHINE_STORE";
    case TCertificadoKind::ckFile:
      return "CURRENT_USER_STORE";
    case TCertificadoKind::ckActiveDiretory:
      return "ACTIVE_DIRECTORY_USER_STORE";
    case TCertificadoKind::ckSmartCard:
      return "SMART_CARD_USER_STORE";
  }
  return {};
}

std::string SecaoDe(const ChaveConfig& c, const std::string& secaoPrincipal) {
  return c.secao.empty() ? secaoPrincipal : c.secao;
}

}  // namespace

const std::vector<ChaveConfig>& ChavesConfiguracao() {
  using T = TipoChaveConfig;
  using U = UsoChaveConfig;
#define P QOR_PROPRIEDADE
  static const std::vector<ChaveConfig> chaves{
      Chave("", P(Nfce, DiretorioLogErro), T::Texto, "", 1),
      Chave("", P(Nfce, DiretorioLog), T::Texto, "\\Log", 10),
      Chave("", P(Nfce, DiagnosticMode), T::Booleano, kAtual, 3),
      Chave("", P(Nfce, CNPJ), T::Texto, "", 4),
      {.secao = "",
       .chave = "TipoCertificado",
       .tipo = T::Texto,
       .uso = U::SomenteLida,
       .padrao = "",
       .gravacao = 0,
       .aplicar = [](TqorNFCe& n,
                     const std::string& v) { n.SetTipoCertificado(StrToTipoCertificado(v)); }},
      {.secao = "",
       .chave = "Repositorio",
       .tipo = T::Texto,
       .uso = U::SomenteGravada,
       .gravacao = 2,
       .ler = [](TqorNFCe& n) { return Repositorio(n.GetTipoCertificado()); }},
      Chave("", P(Nfce, DiretorioTemplates), T::Texto, "\\Templates", 5),
      Chave("", P(Nfce, DiretorioEsquemas), T::Texto, "\\Esquemas", 6),
      Chave("", P(Nfce, ArquivoServidoresHom), T::Texto, "nfceServidoresHom.ini", 7),
      Chave("", P(Nfce, ArquivoServidoresProd), T::Texto, "nfceServidoresProd.ini", 8),
      Chave("", P(Nfce, AtualizarArquivoServidores), T::Booleano, "1", 28),
      // The file holds tpAmb (1 production, 2 homologation), not the enumeration's ordinal.
      Chave("",
            {"Ambiente", [](TqorNFCe& n) { return GetTipoAmbiente(n.GetAmbiente()); },
             [](TqorNFCe& n, const std::string& v) {
               const int ambiente = std::stoi(v);
               if (ambiente != 1 && ambiente != 2) {
                 throw EqorNFCeCheckParamsException(
                     "Ambiente %d inválido. Utilize: 1 (produção) ou 2 (homologação)", {ambiente},
                     n.GetDiretorioLogErro());
               }
               n.SetAmbiente(ambiente == 1 ? TAmbienteKind::akProducao
                                           : TAmbienteKind::akHomologacao);
             }},
            T::Inteiro, "2", 9),
      {.secao = "", .chave = kValidarEsquema, .tipo = T::Booleano, .uso = U::SomenteLida},
      Chave("", P(Nfce, ValidarEsquemaAntesEnvio), T::Booleano, "0", 12,
            CarregarComNomeAntigo<kValidarEsquema>, GravarValidarEsquema),
      Chave("", P(Nfce, IgnoreInvalidCertificates), T::Booleano, "0", 13),
      // Not in files written elsewhere: an absent key keeps what the host set.
      Chave("", P(Nfce, ArquivoCadeiaCertificados), T::Texto, kAtual, 14),
      Chave("", P(Nfce, CaminhoCertificado), T::Texto, "", 17),
      Chave("", P(Nfce, SenhaCertificado), T::Segredo, "", 18),
      // Saved as one line: the names' line breaks are dropped.
      Chave("",
            {"NomeCertificado",
             [](TqorNFCe& n) {
               std::string nomes = n.GetNomeCertificado().Text();
               std::erase_if(nomes, [](char c) { return c == '\r' || c == '\n'; });
               return nomes;
             },
             [](TqorNFCe& n, const std::string& v) { n.GetNomeCertificado().SetTextStr(v); }},
            T::Texto, "", 15),
      Chave("", P(Nfce, HashCertificado), T::Texto, "", 16),
      Chave("", P(Nfce, PinCode), T::Protegido, "", 19),
      Chave("", P(Nfce, ConexaoSegura), T::Booleano, "1", 20),
      Chave("", P(Nfce, Proxy), T::Texto, "", 21),
      Chave("", P(Nfce, Senha), T::Segredo, "", 22),
      Chave("", P(Nfce, Usuario), T::Texto, "", 23),
      Chave("", P(Nfce, TimeOut), T::Inteiro, "0", 24),
      Chave("", P(Nfce, CaracteresRemoverAcentos), T::Texto, kAcentosPadraoIni, 25),
      Chave("",
            {"VersaoManual", [](TqorNFCe& n) { return VersaoManualToStr(n.GetVersaoManual()); },
             [](TqorNFCe& n, const std::string& v) {
               n.SetVersaoManual(StrToVersaoManual(v, n.GetDiretorioLogErro()));
             }},
            T::Texto, kAtual, 26),
      // A file saved before any UF was set says "UF=": it loads as no UF (which CheckConfig
      // reports) rather than failing the whole load.
      Chave("",
            {"UF", [](TqorNFCe& n) { return n.GetUF(); },
             [](TqorNFCe& n, const std::string& v) {
               if (v.empty()) {
                 n.uf_.clear();
               } else {
                 n.SetUF(v);
               }
             }},
            T::Texto, "SP", 27),
      Chave("", P(Nfce, MaxSizeLoteEnvio), T::Inteiro, "500", 29),
      Chave("", P(Nfce, DiretorioXmlDestinatario), T::Texto, "XmlDestinatario\\", 30),
      // Saved as the folder the property reads as, without creating it: saving changes nothing
      // on disk but the file.
      Chave("",
            {"DiretorioTemporario",
             [](TqorNFCe& n) {
               const std::string& dir = n.GetDiretorioTemporarioValue();
               return dir.empty() ? ExpandPath("Temp\\") : dir;
             },
             [](TqorNFCe& n, const std::string& v) { n.SetDiretorioTemporario(v); }},
            T::Texto, kAtual, 31, CarregarDiretorioTemporario),
      Chave("", P(Nfce, SalvarLogsEmDisco), T::Booleano, "1", 32),
      Chave("", P(Nfce, IdCSRT), T::Texto, "", 33),
      Chave("", P(Nfce, CSRT), T::Segredo, "", 34),
      Chave("", P(Nfce, HttpLibs), T::Texto, "", 35),
      Chave("", P(Nfce, UtilizarEscPOS), T::Booleano, "0", 36),

      // Ativar first: the folders are checked only when the file activates the exchange.
      Chave(kIntegrador, P(Integrador, Ativar), T::Booleano, "0", 37),
      Chave(kIntegrador, P(Integrador, DiretorioEntrada), T::Texto, "C:\\Integrador\\Input", 38),
      Chave(kIntegrador, P(Integrador, DiretorioSaida), T::Texto, "C:\\Integrador\\Output", 39),
      Chave(kIntegrador, P(Integrador, TimeOut), T::Inteiro, "30", 40),
      Chave(kIntegrador, P(Integrador, NumeroSessao), T::Inteiro, "111111", 41),

      {.secao = kMail, .chave = kServidor, .tipo = T::Texto, .uso = U::SomenteLida},
      Chave(kMail, P(Mail, ServidorSmtp), T::Texto, "", 42, CarregarComNomeAntigo<kServidor>,
            GravarServidor),
      Chave(kMail, P(Mail, EmailRemetente), T::Texto, "", 43),
      Chave(kMail, P(Mail, EmailDestinatario), T::Texto, "", 49),
      Chave(kMail, P(Mail, Assunto), T::Texto, "", 44),
      Chave(kMail, P(Mail, Mensagem), T::Texto, "", 45),
      Chave(kMail, P(Mail, Usuario), T::Texto, "", 46),
      Chave(kMail, P(Mail, Senha), T::Segredo, "", 47),
      Chave(kMail, P(Mail, Porta), T::Inteiro, "0", 53),
      Chave(kMail, P(Mail, Autenticacao), T::Booleano, "0", 52),
      Chave(kMail, P(Mail, TimeOut), T::Inteiro, "30000", 48),
      Chave(kMail, P(Mail, CCo), T::Texto, "", 50),
      Chave(kMail, P(Mail, CC), T::Texto, "", 51),
      Chave(kMail, P(Mail, ConteudoHtml), T::Booleano, "0", 54),
      Chave(kMail, P(Mail, UseSecureBlackBox), T::Booleano, "0", 55),
      Chave("", P(Mail, AnexarDanfcePDF), T::Booleano, "1", 56),

      Chave(kDanfce, P(Danfce, FraseHomologacao), T::Texto, kAtual, 59),
      Chave(kDanfce, P(Danfce, LogotipoEmitente), T::Texto, "", 57),
      Chave(kDanfce, P(Danfce, FraseContingencia), T::Texto, kAtual, 58),
      Chave(kDanfce, P(Danfce, LineDelimiter), T::Texto, kAtual, 67),
      Chave(kDanfce, P(Danfce, QtdeCopias), T::Inteiro, "1", 68),
      Chave(kDanfce, P(Danfce, InfCplMaxCol), T::Inteiro, "68", 69),
      Chave(kDanfce, P(Danfce, InfCplMaxRow), T::Inteiro, "7", 70),
      Chave(kDanfce, P(Danfce, InfCplQuebrarLinhaAut), T::Booleano, "0", 72),
      Chave(kDanfce, P(Danfce, ModeloDanfce), T::Texto, kAtual, 60),
      Chave(kDanfce, P(Danfce, ModeloDanfceMensagemEletronica), T::Texto, kAtual, 61),
      Chave(
          kDanfce,
          {"FormatoDanfce",
           [](TqorNFCe& n) { return FormatoDanfceToStr(n.GetDanfceSettings().GetFormatoDanfce()); },
           [](TqorNFCe& n, const std::string& v) {
             n.GetDanfceSettings().SetFormatoDanfce(StrToFormatoDanfce(v, n.GetDiretorioLogErro()));
           }},
          T::Texto, kAtual, 62),
      Chave(kDanfce, P(Danfce, ExibirDetalhamento), T::Booleano, kAtual, 63),
      Chave(kDanfce, P(Danfce, ExibirAcrescimoEDesconto), T::Booleano, kAtual, 64),
      Chave(kDanfce, P(Danfce, TokenNFCe), T::Protegido, kAtual, 65),
      Chave(kDanfce, P(Danfce, IdTokenNFCe), T::Protegido, kAtual, 66),
      Chave(kDanfce, P(Danfce, ParamsAvancados), T::Texto, kAtual, 71),
      Chave(kDanfce, P(Danfce, ImprimirFrete), T::Booleano, kAtual, 73),
      Chave(kDanfce, P(Danfce, ImprimirFreteProduto), T::Booleano, kAtual, 74),

      Chave(kEscPos, P(EscPos, ModeloEscPos), T::Inteiro, kAtual, 75),
      Chave(kEscPos, P(EscPos, PortaEscPos), T::Texto, kAtual, 76),
      Chave(kEscPos, P(EscPos, ColunasFonteNormalEscPos), T::Inteiro, kAtual, 77),
      Chave(kEscPos, P(EscPos, EspacoEntreLinhasEscPos), T::Inteiro, kAtual, 78),
      Chave(kEscPos, P(EscPos, LinhasEntreCuponsEscPos), T::Inteiro, kAtual, 79),
      Chave(kEscPos, P(EscPos, CortaPapelEscPos), T::Booleano, kAtual, 80),
      Chave(kEscPos, P(EscPos, PaginaDeCodigoEscPos), T::Inteiro, kAtual, 81),
      Chave(kEscPos, P(EscPos, QtdeCopiasEscPos), T::Inteiro, kAtual, 82),
      Chave(kEscPos, P(EscPos, ImprimeNomeFantasiaEscPos), T::Booleano, kAtual, 83),
      Chave(kEscPos, P(EscPos, ImprimeDescAcrescItemEscPos), T::Booleano, kAtual, 84),
      Chave(kEscPos, P(EscPos, ResumidoEscPos), T::Booleano, kAtual, 85),
  };
#undef P
  return chaves;
}

const ChaveConfig* ProcurarChaveConfig(const std::string& secao, const std::string& chave,
                                       const std::string& secaoPrincipal) {
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    if (SameText(SecaoDe(c, secaoPrincipal), secao) && SameText(c.chave, chave)) return &c;
  }
  return nullptr;
}

bool ChaveSecreta(const ChaveConfig& chave) {
  return chave.tipo == TipoChaveConfig::Protegido || chave.tipo == TipoChaveConfig::Segredo;
}

void CarregarChaves(TqorNFCe& nfce, const TIniFile& ini, const std::string& secaoPrincipal) {
  for (const ChaveConfig& c : ChavesConfiguracao()) {
    const std::string secao = SecaoDe(c, secaoPrincipal);
    if (c.carregar != nullptr) {
      c.carregar(nfce, ini, secao, c);
    } else if (c.aplicar != nullptr) {
      c.aplicar(nfce, LerValor(nfce, ini, secao, c.chave, c));
    }
  }
}

void GravarChaves(TqorNFCe& nfce, TIniFile& ini, const std::string& secaoPrincipal) {
  static const std::vector<const ChaveConfig*> ordem = [] {
    std::vector<const ChaveConfig*> gravadas;
    for (const ChaveConfig& c : ChavesConfiguracao()) {
      if (c.gravacao > 0) gravadas.push_back(&c);
    }
    std::ranges::sort(gravadas, {}, &ChaveConfig::gravacao);
    return gravadas;
  }();
  for (const ChaveConfig* c : ordem) {
    const std::string secao = SecaoDe(*c, secaoPrincipal);
    if (c->gravar != nullptr) {
      c->gravar(nfce, ini, secao, *c);
    } else {
      GravarValor(ini, secao, c->chave, *c, c->ler(nfce));
    }
  }
}

}  // namespace qor
