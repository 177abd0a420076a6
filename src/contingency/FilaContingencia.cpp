#include "contingency/FilaContingencia.h"

#include <algorithm>
#include <utility>

#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"

namespace qor {

namespace {

constexpr const char* kRaiz = "entradaContingencia";

struct TDescricaoEstado {
  TEstadoContingencia estado;
  const char* nome;
  const char* pasta;
};

constexpr TDescricaoEstado kEstados[] = {
    {TEstadoContingencia::ecPendente, "pendente", "pendentes"},
    {TEstadoContingencia::ecEmVerificacao, "em verificação", "verificacao"},
    {TEstadoContingencia::ecAutorizada, "autorizada", "autorizadas"},
    {TEstadoContingencia::ecDenegada, "denegada", "denegadas"},
    {TEstadoContingencia::ecDuplicada, "duplicada", "duplicadas"},
    {TEstadoContingencia::ecRejeitada, "rejeitada", "rejeitadas"},
    {TEstadoContingencia::ecInutilizada, "inutilizada", "inutilizadas"},
    {TEstadoContingencia::ecCancelada, "cancelada", "canceladas"},
    {TEstadoContingencia::ecDanificada, "danificada", "danificadas"},
};

const TDescricaoEstado& Descricao(TEstadoContingencia estado) {
  for (const TDescricaoEstado& d : kEstados) {
    if (d.estado == estado) return d;
  }
  return kEstados[0];
}

std::string Atributo(const char* nome, const std::string& valor) {
  return std::string(" ") + nome + "=\"" + Escape(valor) + "\"";
}

std::string Numero(std::int64_t valor) { return std::to_string(valor); }

std::int64_t LerNumero(const std::string& texto, const char* nome) {
  try {
    std::size_t usados = 0;
    const std::int64_t valor = std::stoll(texto, &usados);
    if (usados == texto.size()) return valor;
  } catch (const std::exception&) {
  }
  throw EqorNFCeContingenciaException(
      Format("atributo %s inválido: \"%s\"", {nome, QuoteForMessage(texto)}), "");
}

[[noreturn]] void Falha(const std::string& acao, const std::string& arquivo,
                        const std::string& causa) {
  throw EqorNFCeContingenciaException(
      Format("Fila de contingência: não foi possível %s \"%s\": %s", {acao, arquivo, causa}), "");
}

}  // namespace

const std::vector<TEstadoContingencia>& EstadosContingencia() {
  static const std::vector<TEstadoContingencia> todos = [] {
    std::vector<TEstadoContingencia> lista;
    for (const TDescricaoEstado& d : kEstados) lista.push_back(d.estado);
    return lista;
  }();
  return todos;
}

std::string NomeEstado(TEstadoContingencia estado) { return Descricao(estado).nome; }
std::string PastaEstado(TEstadoContingencia estado) { return Descricao(estado).pasta; }

std::int64_t Segundos(TInstante instante) {
  return std::chrono::duration_cast<std::chrono::seconds>(instante.time_since_epoch()).count();
}
TInstante DeSegundos(std::int64_t segundos) {
  return TInstante(std::chrono::duration_cast<TInstante::duration>(std::chrono::seconds(segundos)));
}

TFilaContingencia::TFilaContingencia(std::string pasta, TFileSystem* arquivos)
    : pasta_(IncludeTrailingSlash(ExpandPathFrom(pasta, {}))), arquivos_(arquivos) {}

TFileSystem& TFilaContingencia::Fs() const {
  return arquivos_ != nullptr ? *arquivos_ : TFileSystem::Default();
}

void TFilaContingencia::Preparar() {
  for (const TDescricaoEstado& d : kEstados) {
    const std::string pasta = pasta_ + d.pasta;
    if (!Fs().ForceDirectories(pasta))
      Falha("criar a pasta", pasta, "caminho inválido ou sem acesso");
  }
}

std::string TFilaContingencia::ArquivoDe(TEstadoContingencia estado,
                                         const std::string& chave) const {
  if (!IsPlainFileName(chave)) Falha("usar a chave", chave, "não é um nome de arquivo simples");
  return pasta_ + Descricao(estado).pasta + "/" + chave + ".xml";
}

bool TFilaContingencia::Localizar(const std::string& chave, TEstadoContingencia& estado) const {
  for (const TDescricaoEstado& d : kEstados) {
    if (FileExists(ArquivoDe(d.estado, chave))) {
      estado = d.estado;
      return true;
    }
  }
  return false;
}

std::string TFilaContingencia::Codificar(const TEntradaContingencia& e) {
  std::string nota = e.nota;
  if (nota.rfind("<?xml", 0) == 0) nota.erase(0, nota.find("?>") + 2);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + std::string(kRaiz) + " versao=\"1\"" +
         Atributo("chave", e.chave) + Atributo("estado", Descricao(e.estado).pasta) +
         Atributo("emitidaEm", Numero(Segundos(e.emitidaEm))) +
         Atributo("registradaEm", Numero(Segundos(e.registradaEm))) +
         Atributo("tentativas", Numero(e.tentativas)) +
         Atributo("proximaTentativa", Numero(Segundos(e.proximaTentativa))) +
         Atributo("cStat", e.cStat) + Atributo("xMotivo", e.xMotivo) +
         Atributo("chaveRelacionada", e.chaveRelacionada) + Atributo("nProt", e.nProt) +
         Atributo("sha1", HashSha1(nota)) + ">" + nota + "</" + kRaiz + ">\n";
}

TEntradaContingencia TFilaContingencia::Decodificar(const std::string& texto) {
  const auto falha = [](const std::string& motivo) -> EqorNFCeContingenciaException {
    return EqorNFCeContingenciaException(motivo, "");
  };
  // The record is the root's start tag, read as a document of its own; the note is checked by
  // its digest, so a file cut short or altered anywhere is caught without parsing the note.
  const std::string abreRaiz = "<" + std::string(kRaiz) + " ";
  const std::string fechaRaiz = "</" + std::string(kRaiz) + ">";
  const std::size_t raiz = texto.find(abreRaiz);
  const std::size_t fimCabecalho = raiz == std::string::npos ? raiz : texto.find('>', raiz);
  if (raiz == std::string::npos || fimCabecalho == std::string::npos) {
    throw falha("XML inválido: o elemento raiz não é " + std::string(kRaiz));
  }
  XmlDocument documento = [&] {
    try {
      return XmlDocument::Parse(texto.substr(raiz, fimCabecalho - raiz) + "/>");
    } catch (const EqorGovException& erro) {
      throw falha(std::string("XML inválido: ") + erro.what());
    }
  }();
  const auto atributo = [&](const char* nome) { return documento.Attribute(kRaiz, nome); };
  const std::string fecha = "</NFe>";
  const std::size_t fim = texto.rfind(fecha);
  if (texto.compare(fimCabecalho + 1, 4, "<NFe") != 0 || fim == std::string::npos ||
      Trim(std::string_view(texto).substr(fim + fecha.size())) != fechaRaiz) {
    throw falha("XML inválido: a entrada não contém a NFe inteira");
  }
  TEntradaContingencia e;
  e.nota = texto.substr(fimCabecalho + 1, fim + fecha.size() - fimCabecalho - 1);
  if (HashSha1(e.nota) != atributo("sha1")) throw falha("o SHA-1 da NFe não confere");
  e.chave = atributo("chave");
  if (e.nota.find(" Id=\"NFe" + e.chave + "\"") == std::string::npos || e.chave.size() != 44) {
    throw falha("o Id da NFe não corresponde à chave " + e.chave);
  }
  const std::string pasta = atributo("estado");
  bool conhecido = false;
  for (const TDescricaoEstado& d : kEstados) {
    if (pasta == d.pasta) {
      e.estado = d.estado;
      conhecido = true;
    }
  }
  if (!conhecido) throw falha("estado desconhecido: " + pasta);
  e.emitidaEm = DeSegundos(LerNumero(atributo("emitidaEm"), "emitidaEm"));
  e.registradaEm = DeSegundos(LerNumero(atributo("registradaEm"), "registradaEm"));
  e.tentativas = static_cast<int>(LerNumero(atributo("tentativas"), "tentativas"));
  e.proximaTentativa = DeSegundos(LerNumero(atributo("proximaTentativa"), "proximaTentativa"));
  e.cStat = atributo("cStat");
  e.xMotivo = atributo("xMotivo");
  e.chaveRelacionada = atributo("chaveRelacionada");
  e.nProt = atributo("nProt");
  return e;
}

void TFilaContingencia::Gravar(const TEntradaContingencia& entrada) {
  const std::string arquivo = ArquivoDe(entrada.estado, entrada.chave);
  try {
    Fs().SaveToFileDurable(arquivo, Codificar(entrada));
  } catch (const EqorGovException& erro) {
    Falha("gravar", arquivo, erro.what());
  }
}

void TFilaContingencia::Mover(TEntradaContingencia& entrada, TEstadoContingencia novo,
                              bool comRegistro) {
  const TEstadoContingencia antigo = entrada.estado;
  const std::string de = ArquivoDe(antigo, entrada.chave);
  const std::string para = ArquivoDe(novo, entrada.chave);
  // The record names its state: written with the new one before the move, so a file caught
  // between the two folders by a crash is still read as whole (and its state is its folder's).
  entrada.estado = novo;
  try {
    if (comRegistro) Fs().SaveToFileDurable(de, Codificar(entrada));
    if (de != para) Fs().RenameFileDurable(de, para);
  } catch (const EqorGovException& erro) {
    entrada.estado = antigo;
    Falha("mover", de, erro.what());
  }
  entrada.arquivo = para;
}

std::vector<TEntradaContingencia> TFilaContingencia::Ler(
    TEstadoContingencia estado, std::vector<TArquivoDanificado>& danificados,
    bool moverDanificados) {
  const std::string pasta = pasta_ + Descricao(estado).pasta + "/";
  std::vector<TEntradaContingencia> entradas;
  for (const std::string& nome : Fs().ListFiles(pasta, "*.xml")) {
    const std::string arquivo = pasta + nome;
    std::string motivo;
    try {
      TEntradaContingencia e = Decodificar(Fs().LoadFromFile(arquivo));
      if (e.chave + ".xml" != nome)
        throw EqorNFCeContingenciaException("o nome do arquivo não é a chave da nota " + e.chave,
                                            "");
      e.estado = estado;  // the folder is the truth
      e.arquivo = arquivo;
      entradas.push_back(std::move(e));
      continue;
    } catch (const EqorNFCeContingenciaException& erro) {
      motivo = erro.what();
    } catch (const EqorGovException& erro) {
      motivo = erro.what();  // removed by another process between the listing and the read
      if (!FileExists(arquivo)) continue;
    }
    TArquivoDanificado d{arquivo, motivo};
    if (moverDanificados && estado != TEstadoContingencia::ecDanificada) {
      // Never deleted: the operator decides. A name already taken gets a numbered suffix.
      std::string destino = pasta_ + "danificadas/" + nome;
      for (int n = 1; FileExists(destino); ++n) {
        destino = pasta_ + "danificadas/" + nome + "." + std::to_string(n);
      }
      try {
        Fs().RenameFileDurable(arquivo, destino);
        d.arquivo = destino;
      } catch (const EqorGovException&) {
        // Reported where it is; the next reading tries again.
      }
    }
    danificados.push_back(std::move(d));
  }
  std::stable_sort(entradas.begin(), entradas.end(),
                   [](const TEntradaContingencia& a, const TEntradaContingencia& b) {
                     return a.registradaEm < b.registradaEm;
                   });
  return entradas;
}

bool TFilaContingencia::InicioContingencia(TInstante& inicio) const {
  const std::string arquivo = pasta_ + "inicio-contingencia";
  if (!FileExists(arquivo)) return false;
  try {
    inicio = DeSegundos(LerNumero(Trim(Fs().LoadFromFile(arquivo)), "inicio"));
    return true;
  } catch (const std::exception&) {
    return false;  // unreadable: a new outage starts now
  }
}

void TFilaContingencia::GravarInicioContingencia(TInstante inicio) {
  const std::string arquivo = pasta_ + "inicio-contingencia";
  try {
    Fs().SaveToFileDurable(arquivo, Numero(Segundos(inicio)) + "\n");
  } catch (const EqorGovException& erro) {
    Falha("gravar", arquivo, erro.what());
  }
}

void TFilaContingencia::EncerrarContingencia() {
  const std::string arquivo = pasta_ + "inicio-contingencia";
  if (FileExists(arquivo)) Fs().DeleteFile(arquivo);
}

}  // namespace qor
