// The C interface over TqorNFCe and TqorContingencia: every entry point checks its handle
// against the set of live handles, turns its arguments into std::string (checking UTF-8), runs
// the operation and turns whatever it raised into a qor_status plus the class and message kept
// for qor_nfce_ultimo_erro and qor_ultimo_erro. Nothing thrown gets past Proteger.
#include "capi/qornfce.h"

#include <cxxabi.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <typeinfo>
#include <unordered_map>
#include <utility>

#include "base/Exceptions.h"
#include "contingency/TqorContingencia.h"
#include "core/ChavesConfiguracao.h"
#include "core/TqorNFCe.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "utils/DataHora.h"

struct qor_nfce {
  qor::TqorNFCe nfce;
  std::string erroClasse, erroMensagem;
  std::set<qor_contingencia*> filas;
};

struct qor_contingencia {
  qor_contingencia(qor_nfce* d, const std::string& pasta) : dono(d), fila(d->nfce, pasta) {}
  qor_nfce* dono;
  qor::TqorContingencia fila;
  qor_novo_numero_fn novoNumero = nullptr;
  void* usuario = nullptr;
};

namespace {

using qor::JsonString;
using qor::TqorNFCe;

enum class Tipo { Nfce, Contingencia };

// The live handles. Never destroyed: a host may call in from its own exit handlers.
struct Registro {
  std::mutex trava;
  std::unordered_map<const void*, Tipo> vivos;
};
Registro& Handles() {
  static Registro* registro = new Registro();
  return *registro;
}

void Registrar(const void* h, Tipo tipo) {
  Registro& r = Handles();
  std::lock_guard lock(r.trava);
  r.vivos.emplace(h, tipo);
}

void Esquecer(const void* h) {
  Registro& r = Handles();
  std::lock_guard lock(r.trava);
  r.vivos.erase(h);
}

bool Vivo(const void* h, Tipo tipo) {
  Registro& r = Handles();
  std::lock_guard lock(r.trava);
  const auto it = r.vivos.find(h);
  return it != r.vivos.end() && it->second == tipo;
}

// A failure detected here, before or around the component.
struct ErroCapi {
  qor_status status;
  std::string mensagem;
};

// Each status with its name (the class a refusal of the interface itself reports) and its text.
struct DescricaoStatus {
  qor_status status;
  const char* nome;
  const char* texto;
};
constexpr DescricaoStatus kStatus[] = {
    {QOR_OK, "QOR_OK", "sucesso"},
    {QOR_ERRO_ARGUMENTO, "QOR_ERRO_ARGUMENTO", "argumento nulo, vazio ou fora da faixa"},
    {QOR_ERRO_HANDLE, "QOR_ERRO_HANDLE", "handle nulo, liberado ou desconhecido"},
    {QOR_ERRO_UTF8, "QOR_ERRO_UTF8", "texto que não é UTF-8"},
    {QOR_ERRO_PROPRIEDADE, "QOR_ERRO_PROPRIEDADE", "propriedade desconhecida ou inacessível"},
    {QOR_ERRO_OPERACAO, "QOR_ERRO_OPERACAO", "a operação falhou (veja qor_nfce_ultimo_erro)"},
    {QOR_ERRO_SERVICO, "QOR_ERRO_SERVICO", "falha de comunicação, certificado, arquivo ou XML"},
    {QOR_ERRO_MEMORIA, "QOR_ERRO_MEMORIA", "memória insuficiente"},
    {QOR_ERRO_INTERNO, "QOR_ERRO_INTERNO", "falha interna"},
};

const DescricaoStatus* Descrever(qor_status status) {
  for (const DescricaoStatus& d : kStatus) {
    if (d.status == status) return &d;
  }
  return nullptr;
}

const char* NomeStatus(qor_status status) {
  const DescricaoStatus* d = Descrever(status);
  return d != nullptr ? d->nome : "QOR_ERRO_INTERNO";
}

thread_local std::string tErroClasse, tErroMensagem;

qor_status Anotar(qor_nfce* h, qor_status status, const char* classe,
                  const char* mensagem) noexcept {
  try {
    tErroClasse = classe;
    tErroMensagem = mensagem;
    if (h != nullptr) {
      h->erroClasse = classe;
      h->erroMensagem = mensagem;
    }
  } catch (...) {
    // Out of memory while keeping the report: the status still says what happened.
  }
  return status;
}

std::string NomeDoTipo(const std::type_info& tipo) {
  int estado = 0;
  std::unique_ptr<char, decltype(&std::free)> nome(
      abi::__cxa_demangle(tipo.name(), nullptr, nullptr, &estado), &std::free);
  return estado == 0 && nome ? std::string(nome.get()) : std::string(tipo.name());
}

// Runs `corpo`; `dono` is the component whose last error a failure is kept in (null until the
// handle has been checked).
template <typename Corpo>
qor_status Proteger(qor_nfce*& dono, Corpo&& corpo) noexcept {
  try {
    corpo();
    return QOR_OK;
  } catch (const ErroCapi& e) {
    return Anotar(dono, e.status, NomeStatus(e.status), e.mensagem.c_str());
  } catch (const qor::EqorException& e) {
    return Anotar(dono, QOR_ERRO_OPERACAO, e.ClassName().c_str(), e.what());
  } catch (const qor::EqorGovException& e) {
    const char* classe = dynamic_cast<const qor::EqorGovReplyException*>(&e) != nullptr
                             ? "EqorGovReplyException"
                             : "EqorGovException";
    return Anotar(dono, QOR_ERRO_SERVICO, classe, e.what());
  } catch (const std::bad_alloc& e) {
    return Anotar(dono, QOR_ERRO_MEMORIA, "std::bad_alloc", e.what());
  } catch (const std::exception& e) {
    try {
      return Anotar(dono, QOR_ERRO_INTERNO, NomeDoTipo(typeid(e)).c_str(), e.what());
    } catch (...) {
      return Anotar(dono, QOR_ERRO_INTERNO, "std::exception", e.what());
    }
  } catch (...) {
    return Anotar(dono, QOR_ERRO_INTERNO, "desconhecida", "exceção desconhecida");
  }
}

[[noreturn]] void Recusar(qor_status status, std::string mensagem) {
  throw ErroCapi{status, std::move(mensagem)};
}

qor_nfce& Nfce(qor_nfce* h) {
  if (h == nullptr) Recusar(QOR_ERRO_HANDLE, "handle nulo do componente");
  if (!Vivo(h, Tipo::Nfce))
    Recusar(QOR_ERRO_HANDLE, "handle do componente desconhecido ou liberado");
  return *h;
}

qor_contingencia& Fila(qor_contingencia* h) {
  if (h == nullptr) Recusar(QOR_ERRO_HANDLE, "handle nulo da contingência");
  if (!Vivo(h, Tipo::Contingencia)) {
    Recusar(QOR_ERRO_HANDLE, "handle da contingência desconhecido ou liberado");
  }
  return *h;
}

// A text argument: NULL is refused when `obrigatorio` (and then an empty text too), else read
// as empty; it must be UTF-8 unless `utf8` is false.
std::string Texto(const char* valor, const char* nome, bool obrigatorio = true, bool utf8 = true) {
  if (valor == nullptr || (obrigatorio && *valor == '\0')) {
    if (obrigatorio) Recusar(QOR_ERRO_ARGUMENTO, std::string("argumento vazio: ") + nome);
    return {};
  }
  std::string texto(valor);
  if (utf8 && !qor::IsValidUtf8(texto)) {
    Recusar(QOR_ERRO_UTF8, std::string("argumento não é UTF-8: ") + nome);
  }
  return texto;
}

std::string Opcional(const char* valor, const char* nome) { return Texto(valor, nome, false); }

void Zerar(char** saida) {
  if (saida != nullptr) *saida = nullptr;
}

char** Saida(char** saida, const char* nome = "resultado") {
  if (saida == nullptr) Recusar(QOR_ERRO_ARGUMENTO, std::string("argumento nulo: ") + nome);
  return saida;
}

char* Copiar(const std::string& texto) {
  auto* copia = static_cast<char*>(std::malloc(texto.size() + 1));
  if (copia == nullptr) throw std::bad_alloc();
  std::memcpy(copia, texto.c_str(), texto.size() + 1);
  return copia;
}

void Entregar(char** saida, const std::string& texto) { *saida = Copiar(texto); }

// An operation of the component handle `h` with one text result.
template <typename Operacao>
qor_status Resultado(qor_nfce* h, char** resultado, Operacao&& operacao) noexcept {
  Zerar(resultado);
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_nfce& n = Nfce(h);
    dono = h;
    char** saida = Saida(resultado);
    Entregar(saida, operacao(n.nfce));
  });
}

template <typename Operacao>
qor_status Acao(qor_nfce* h, Operacao&& operacao) noexcept {
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_nfce& n = Nfce(h);
    dono = h;
    operacao(n.nfce);
  });
}

template <typename Operacao>
qor_status NaFila(qor_contingencia* h, char** resultado, Operacao&& operacao) noexcept {
  Zerar(resultado);
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_contingencia& c = Fila(h);
    dono = c.dono;
    char** saida = Saida(resultado);
    Entregar(saida, operacao(c));
  });
}

// ---- configuration keys by name -----------------------------------------------------------

const qor::ChaveConfig& ChavePorNome(TqorNFCe& nfce, const std::string& nome) {
  const std::string principal = nfce.GetSectionINI();
  const std::size_t ponto = nome.find('.');
  const std::string secao = ponto == std::string::npos ? principal : nome.substr(0, ponto);
  const std::string chave = ponto == std::string::npos ? nome : nome.substr(ponto + 1);
  const qor::ChaveConfig* c = qor::ProcurarChaveConfig(secao, chave, principal);
  if (c == nullptr) Recusar(QOR_ERRO_PROPRIEDADE, "propriedade desconhecida: " + nome);
  return *c;
}

// `valor` in the form the key's setter takes; empty means the key's default.
std::string ValorDaChave(const qor::ChaveConfig& c, const std::string& nome,
                         const std::string& valor) {
  if (valor.empty()) {
    if (c.padrao) return *c.padrao;
    if (c.ler == nullptr) return {};
    TqorNFCe novo;
    return c.ler(novo);
  }
  switch (c.tipo) {
    case qor::TipoChaveConfig::Booleano:
      if (valor == "1" || qor::SameText(valor, "true")) return "1";
      if (valor == "0" || qor::SameText(valor, "false")) return "0";
      Recusar(QOR_ERRO_ARGUMENTO, "valor inválido para " + nome + ": " + valor + " (use 1 ou 0)");
    case qor::TipoChaveConfig::Inteiro: {
      int numero = 0;
      const auto [fim, erro] = std::from_chars(valor.data(), valor.data() + valor.size(), numero);
      if (erro != std::errc() || fim != valor.data() + valor.size()) {
        Recusar(QOR_ERRO_ARGUMENTO,
                "valor inválido para " + nome + ": " + valor + " (esperado um número inteiro)");
      }
      return std::to_string(numero);
    }
    default:
      return valor;
  }
}

const char* JsonBool(bool valor) { return valor ? "true" : "false"; }

}  // namespace

extern "C" {

const char* qor_versao(void) { return QORNFCE_VERSION; }

const char* qor_status_texto(qor_status status) {
  const DescricaoStatus* d = Descrever(status);
  return d != nullptr ? d->texto : "status desconhecido";
}

void qor_free(void* texto) { std::free(texto); }

qor_status qor_ultimo_erro(char** classe, char** mensagem) {
  Zerar(classe);
  Zerar(mensagem);
  qor_nfce* nenhum = nullptr;
  // Read before Proteger, whose own failure would overwrite them.
  std::string c, m;
  try {
    c = tErroClasse;
    m = tErroMensagem;
  } catch (...) {
    return QOR_ERRO_MEMORIA;
  }
  return Proteger(nenhum, [&] {
    if (classe == nullptr && mensagem == nullptr) {
      Recusar(QOR_ERRO_ARGUMENTO, "argumentos nulos: classe e mensagem");
    }
    if (classe != nullptr) *classe = Copiar(c);
    if (mensagem != nullptr) *mensagem = Copiar(m);
  });
}

qor_status qor_nfce_new(qor_nfce** nfce) {
  if (nfce != nullptr) *nfce = nullptr;
  qor_nfce* nenhum = nullptr;
  return Proteger(nenhum, [&] {
    if (nfce == nullptr) Recusar(QOR_ERRO_ARGUMENTO, "argumento nulo: nfce");
    auto h = std::make_unique<qor_nfce>();
    Registrar(h.get(), Tipo::Nfce);
    *nfce = h.release();
  });
}

qor_status qor_nfce_free(qor_nfce* nfce) {
  qor_nfce* nenhum = nullptr;
  return Proteger(nenhum, [&] {
    qor_nfce& n = Nfce(nfce);
    for (qor_contingencia* fila : n.filas) {
      Esquecer(fila);
      delete fila;
    }
    Esquecer(nfce);
    delete nfce;
  });
}

qor_status qor_nfce_ultimo_erro(qor_nfce* nfce, char** classe, char** mensagem) {
  Zerar(classe);
  Zerar(mensagem);
  qor_nfce* nenhum = nullptr;
  return Proteger(nenhum, [&] {
    const qor_nfce& n = Nfce(nfce);
    if (classe == nullptr && mensagem == nullptr) {
      Recusar(QOR_ERRO_ARGUMENTO, "argumentos nulos: classe e mensagem");
    }
    if (classe != nullptr) *classe = Copiar(n.erroClasse);
    if (mensagem != nullptr) {
      try {
        *mensagem = Copiar(n.erroMensagem);
      } catch (...) {
        if (classe != nullptr) {
          std::free(*classe);
          *classe = nullptr;
        }
        throw;
      }
    }
  });
}

qor_status qor_nfce_carregar_config(qor_nfce* nfce, const char* arquivo) {
  return Acao(nfce, [&](TqorNFCe& n) { n.LoadConfig(Opcional(arquivo, "arquivo")); });
}

qor_status qor_nfce_definir(qor_nfce* nfce, const char* nome, const char* valor) {
  return Acao(nfce, [&](TqorNFCe& n) {
    const std::string chave = Texto(nome, "nome");
    if (valor == nullptr) Recusar(QOR_ERRO_ARGUMENTO, "argumento nulo: valor");
    const std::string texto = Texto(valor, "valor", false);
    const qor::ChaveConfig& c = ChavePorNome(n, chave);
    if (c.aplicar == nullptr) {
      Recusar(QOR_ERRO_PROPRIEDADE, "a propriedade " + chave + " não pode ser definida");
    }
    c.aplicar(n, ValorDaChave(c, chave, texto));
  });
}

qor_status qor_nfce_obter(qor_nfce* nfce, const char* nome, char** valor) {
  return Resultado(nfce, valor, [&](TqorNFCe& n) {
    const std::string chave = Texto(nome, "nome");
    const qor::ChaveConfig& c = ChavePorNome(n, chave);
    if (c.ler == nullptr || qor::ChaveSecreta(c)) {
      Recusar(QOR_ERRO_PROPRIEDADE, "a propriedade " + chave + " não pode ser lida");
    }
    return c.ler(n);
  });
}

qor_status qor_nfce_status_servico(qor_nfce* nfce, char** resultado) {
  return Resultado(nfce, resultado, [](TqorNFCe& n) { return n.StatusDoServico(); });
}

qor_status qor_nfce_consultar(qor_nfce* nfce, const char* chave, char** resultado) {
  return Resultado(nfce, resultado,
                   [&](TqorNFCe& n) { return n.ConsultarNF(Texto(chave, "chave")); });
}

qor_status qor_nfce_converter_tx2(qor_nfce* nfce, const char* tx2, const char* esquema,
                                  char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    const std::string texto = Texto(tx2, "tx2", true, false);
    const std::string nome = Opcional(esquema, "esquema");
    qor::TVersaoEsquema versao = qor::TVersaoEsquema::pl_009g;
    if (!nome.empty()) {
      bool achou = false;
      for (int v = 0; v <= static_cast<int>(qor::TVersaoEsquema::pl_009g) && !achou; ++v) {
        if (qor::SameText(qor::ToString(static_cast<qor::TVersaoEsquema>(v)), nome)) {
          versao = static_cast<qor::TVersaoEsquema>(v);
          achou = true;
        }
      }
      if (!achou) Recusar(QOR_ERRO_ARGUMENTO, "esquema desconhecido: " + nome);
    }
    return n.ConverterLoteParaXml(texto, qor::TLayoutConvKind::lkTXTDataSet, versao);
  });
}

qor_status qor_nfce_assinar_nota(qor_nfce* nfce, const char* xml, char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) { return n.AssinarNota(Texto(xml, "xml")); });
}

qor_status qor_nfce_enviar_sincrono(qor_nfce* nfce, const char* lote, const char* nota,
                                    int compactar, char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    return n.EnviarNFSincrono(Texto(lote, "lote"), Texto(nota, "nota"), compactar != 0);
  });
}

qor_status qor_nfce_enviar(qor_nfce* nfce, const char* lote, const char* notas, int compactar,
                           char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    return n.EnviarNF(Texto(lote, "lote"), Texto(notas, "notas"), compactar != 0);
  });
}

qor_status qor_nfce_consultar_recibo(qor_nfce* nfce, const char* recibo, char** resultado) {
  return Resultado(nfce, resultado,
                   [&](TqorNFCe& n) { return n.ConsultarRecibo(Texto(recibo, "recibo")); });
}

qor_status qor_nfce_cancelar(qor_nfce* nfce, const char* chave, const char* protocolo,
                             const char* justificativa, const char* data_hora, int sequencia,
                             const char* fuso, const char* id_lote, char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    if (sequencia < 1) Recusar(QOR_ERRO_ARGUMENTO, "sequencia deve ser 1 ou mais");
    return n.CancelarNF(Texto(chave, "chave"), Texto(protocolo, "protocolo"),
                        Texto(justificativa, "justificativa"), Opcional(data_hora, "data_hora"),
                        sequencia, Opcional(fuso, "fuso"), Opcional(id_lote, "id_lote"));
  });
}

qor_status qor_nfce_cancelar_substituicao(qor_nfce* nfce, const char* chave, const char* protocolo,
                                          const char* justificativa, const char* data_hora,
                                          int sequencia, const char* fuso, const char* orgao_autor,
                                          const char* ver_aplic, const char* chave_ref,
                                          const char* id_lote, char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    if (sequencia < 1) Recusar(QOR_ERRO_ARGUMENTO, "sequencia deve ser 1 ou mais");
    std::string orgao = Opcional(orgao_autor, "orgao_autor");
    if (orgao.empty()) orgao = n.GetLocalCode();
    std::string aplicativo = Opcional(ver_aplic, "ver_aplic");
    if (aplicativo.empty()) aplicativo = "qornfce";
    return n.CancelarNFSubstituicao(
        Texto(chave, "chave"), Texto(protocolo, "protocolo"), Texto(justificativa, "justificativa"),
        Opcional(data_hora, "data_hora"), sequencia, Opcional(fuso, "fuso"), orgao, aplicativo,
        Texto(chave_ref, "chave_ref"), qor::TTipoAutor::taEmpresaEmitente,
        Opcional(id_lote, "id_lote"));
  });
}

qor_status qor_nfce_inutilizar(qor_nfce* nfce, const char* ano, const char* cnpj,
                               const char* modelo, const char* serie, const char* numero_inicial,
                               const char* numero_final, const char* justificativa,
                               char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    return n.InutilizarNF("", Texto(ano, "ano"), Texto(cnpj, "cnpj"), Texto(modelo, "modelo"),
                          Texto(serie, "serie"), Texto(numero_inicial, "numero_inicial"),
                          Texto(numero_final, "numero_final"),
                          Texto(justificativa, "justificativa"));
  });
}

qor_status qor_nfce_epec(qor_nfce* nfce, const char* notas, const char* id_lote,
                         const char* data_hora, char** resultado) {
  return Resultado(nfce, resultado, [&](TqorNFCe& n) {
    const std::string xml = Texto(notas, "notas");
    std::string lote = Opcional(id_lote, "id_lote");
    if (lote.empty()) lote = "1";
    std::string data = Opcional(data_hora, "data_hora");
    if (data.empty()) data = qor::DataHoraAtualComFuso();
    return n.EnviarEPEC(n.AssinarEPEC(n.MontarEPEC(lote, xml, data)));
  });
}

qor_status qor_nfce_exportar_danfce(qor_nfce* nfce, const char* xml, const char* arquivo,
                                    int formato, const char* modelo) {
  return Acao(nfce, [&](TqorNFCe& n) {
    const std::string nota = Texto(xml, "xml");
    const std::string destino = Texto(arquivo, "arquivo");
    if (formato < QOR_DANFCE_PDF || formato > QOR_DANFCE_TXT) {
      Recusar(QOR_ERRO_ARGUMENTO,
              "formato inválido: " + std::to_string(formato) + " (1 PDF, 2 HTML, 3 TXT)");
    }
    n.ExportarDanfce("", nota, destino, formato, Opcional(modelo, "modelo"));
  });
}

qor_status qor_nfce_enviar_email(qor_nfce* nfce, const char* chave, const char* log_envio,
                                 const char* log_resposta) {
  return Acao(nfce, [&](TqorNFCe& n) {
    n.EnviarNotaDestinatario(Texto(chave, "chave"), Opcional(log_envio, "log_envio"),
                             Opcional(log_resposta, "log_resposta"));
  });
}

qor_status qor_nfce_enviar_email_anexos(qor_nfce* nfce, const char* pdf, const char* xml,
                                        const char* anexos) {
  return Acao(nfce, [&](TqorNFCe& n) {
    const std::string arquivoPdf = Opcional(pdf, "pdf");
    const std::string arquivoXml = Opcional(xml, "xml");
    if (arquivoPdf.empty() && arquivoXml.empty()) {
      Recusar(QOR_ERRO_ARGUMENTO, "informe pdf ou xml");
    }
    n.EnviarNotaDestinatarioAnexos(arquivoPdf, arquivoXml, Opcional(anexos, "anexos"));
  });
}

qor_status qor_contingencia_new(qor_nfce* nfce, const char* pasta,
                                qor_contingencia** contingencia) {
  if (contingencia != nullptr) *contingencia = nullptr;
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_nfce& n = Nfce(nfce);
    dono = nfce;
    if (contingencia == nullptr) Recusar(QOR_ERRO_ARGUMENTO, "argumento nulo: contingencia");
    auto fila = std::make_unique<qor_contingencia>(nfce, Texto(pasta, "pasta"));
    qor_contingencia* h = fila.get();
    n.filas.insert(h);
    try {
      Registrar(h, Tipo::Contingencia);
    } catch (...) {
      n.filas.erase(h);
      throw;
    }
    fila.release();
    *contingencia = h;
  });
}

qor_status qor_contingencia_free(qor_contingencia* contingencia) {
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_contingencia& c = Fila(contingencia);
    c.dono->filas.erase(contingencia);
    Esquecer(contingencia);
    delete contingencia;
  });
}

qor_status qor_contingencia_definir_novo_numero(qor_contingencia* contingencia,
                                                qor_novo_numero_fn funcao, void* usuario) {
  qor_nfce* dono = nullptr;
  return Proteger(dono, [&] {
    qor_contingencia& c = Fila(contingencia);
    dono = c.dono;
    c.novoNumero = funcao;
    c.usuario = usuario;
    if (funcao == nullptr) {
      c.fila.OnNovoNumero = nullptr;
      return;
    }
    qor_contingencia* h = contingencia;
    c.fila.OnNovoNumero = [h](const std::string& serie) {
      char numero[32] = {};
      const int falha = h->novoNumero(h->usuario, serie.c_str(), numero, sizeof numero);
      numero[sizeof numero - 1] = '\0';
      const std::string texto(numero);
      if (falha != 0 || texto.empty() || texto.size() > 9 ||
          texto.find_first_not_of("0123456789") != std::string::npos) {
        throw qor::EqorNFCeContingenciaException(
            "O host não forneceu um número novo para a série %s", {serie},
            h->dono->nfce.GetDiretorioLogErro());
      }
      return texto;
    };
  });
}

qor_status qor_contingencia_emitir(qor_contingencia* contingencia, const char* xml,
                                   const char* justificativa, char** resultado) {
  return NaFila(contingencia, resultado, [&](qor_contingencia& c) {
    const qor::TResultadoEmissao r =
        c.fila.Emitir(Texto(xml, "xml"), Texto(justificativa, "justificativa"));
    return std::string("{\"offline\": ") + JsonBool(r.offline) +
           ", \"chave\": " + JsonString(r.chave) + ", \"nota\": " + JsonString(r.nota) +
           ", \"resposta\": " + JsonString(r.resposta) + ", \"motivo\": " + JsonString(r.motivo) +
           ", \"chaveEmVerificacao\": " + JsonString(r.chaveEmVerificacao) + "}";
  });
}

qor_status qor_contingencia_emitir_offline(qor_contingencia* contingencia, const char* xml,
                                           const char* justificativa, char** resultado) {
  return NaFila(contingencia, resultado, [&](qor_contingencia& c) {
    return c.fila.EmitirOffline(Texto(xml, "xml"), Texto(justificativa, "justificativa"));
  });
}

qor_status qor_contingencia_transmitir(qor_contingencia* contingencia, int max, char** resultado) {
  return NaFila(contingencia, resultado, [&](qor_contingencia& c) {
    if (max < 0) Recusar(QOR_ERRO_ARGUMENTO, "max deve ser 0 ou mais");
    const qor::TResultadoTransmissao r = c.fila.Transmitir(max);
    std::string danificados = "[";
    for (const qor::TArquivoDanificado& d : r.danificados) {
      if (danificados.size() > 1) danificados += ", ";
      danificados +=
          "{\"arquivo\": " + JsonString(d.arquivo) + ", \"motivo\": " + JsonString(d.motivo) + "}";
    }
    danificados += "]";
    const auto numero = [](int n) { return std::to_string(n); };
    return std::string("{\"filaEmUso\": ") + JsonBool(r.filaEmUso) +
           ", \"interrompida\": " + JsonBool(r.interrompida) +
           ", \"enviadas\": " + numero(r.enviadas) + ", \"autorizadas\": " + numero(r.autorizadas) +
           ", \"denegadas\": " + numero(r.denegadas) + ", \"duplicadas\": " + numero(r.duplicadas) +
           ", \"rejeitadas\": " + numero(r.rejeitadas) +
           ", \"inutilizadas\": " + numero(r.inutilizadas) +
           ", \"canceladas\": " + numero(r.canceladas) +
           ", \"falhasTransporte\": " + numero(r.falhasTransporte) +
           ", \"pendentes\": " + numero(r.pendentes) +
           ", \"emVerificacao\": " + numero(r.emVerificacao) +
           ", \"ultimaFalha\": " + JsonString(r.ultimaFalha) + ", \"danificados\": " + danificados +
           "}";
  });
}

qor_status qor_contingencia_listar(qor_contingencia* contingencia, char** resultado) {
  return NaFila(contingencia, resultado, [&](qor_contingencia& c) {
    const qor::TListagemContingencia listagem = c.fila.Listar();
    std::string json = "[";
    for (const qor::TItemListagem& item : listagem.itens) {
      const qor::TEntradaContingencia& e = item.entrada;
      if (json.size() > 1) json += ", ";
      json += "{\"chave\": " + JsonString(e.chave) +
              ", \"estado\": " + JsonString(qor::NomeEstado(e.estado)) +
              ", \"idadeSegundos\": " + std::to_string(item.idade.count()) +
              ", \"restanteSegundos\": " + std::to_string(item.tempoRestante.count()) +
              ", \"atrasada\": " + JsonBool(item.atrasada) +
              ", \"tentativas\": " + std::to_string(e.tentativas) +
              ", \"cStat\": " + JsonString(e.cStat) + ", \"xMotivo\": " + JsonString(e.xMotivo) +
              ", \"chaveRelacionada\": " + JsonString(e.chaveRelacionada) + "}";
    }
    for (const qor::TArquivoDanificado& d : listagem.danificados) {
      if (json.size() > 1) json += ", ";
      json += "{\"arquivo\": " + JsonString(d.arquivo) +
              ", \"estado\": \"danificada\", \"motivo\": " + JsonString(d.motivo) + "}";
    }
    return json + "]";
  });
}

}  // extern "C"
