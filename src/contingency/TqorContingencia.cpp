#include "contingency/TqorContingencia.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

#include "core/TqorNFCe.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Chave.h"

namespace qor {

namespace {

using std::chrono::seconds;

constexpr const char* kJustificativaSubstituicao =
    "Venda emitida em duplicidade: substituida pela NFC-e emitida em contingencia offline";
constexpr const char* kJustificativaInutilizacao =
    "Numero de tentativa de emissao nao recebida pela SEFAZ durante contingencia";

bool Em(std::initializer_list<const char*> lista, const std::string& valor) {
  return std::any_of(lista.begin(), lista.end(), [&](const char* item) { return valor == item; });
}

bool Autorizado(const std::string& cStat) { return Em({"100", "150"}, cStat); }
bool Denegado(const std::string& cStat) { return Em({"110", "301", "302"}, cStat); }
bool Paralisado(const std::string& cStat) { return Em({"108", "109"}, cStat); }

// The situation a reply gives: for a sending, the protocol's cStat when it has one, else the
// document's (108, 225...); for a query (`consulta`), the document's (101 for a cancelled note
// whose protocol still says 100), with the protocol's nProt.
void Situacao(const std::string& resposta, std::string& cStat, std::string& xMotivo,
              std::string& nProt, bool consulta = false) {
  cStat.clear();
  xMotivo.clear();
  nProt.clear();
  std::unique_ptr<XmlDocument> documento;
  try {
    documento = std::make_unique<XmlDocument>(XmlDocument::Parse(resposta));
  } catch (const EqorGovException&) {
    return;  // no situation: settled as a rejection without cStat
  }
  // The protocol's fields, in one walk of the tree.
  std::vector<std::string> protocolo = documento->ValuesInside(
      {{{"infProt", "nProt"}, true}, {{"infProt", "cStat"}, true}, {{"infProt", "xMotivo"}, true}});
  nProt = std::move(protocolo[0]);
  if (!consulta) {
    cStat = std::move(protocolo[1]);
    if (!cStat.empty()) {
      xMotivo = std::move(protocolo[2]);
      return;
    }
    nProt.clear();
  }
  const auto campo = [&](const std::string& caminho) {
    std::string valor;
    documento->SelectSingleNode(caminho, valor, {}, false);
    return valor;
  };
  // The state's document may still sit in the SOAP result element: it is the first "ret..."
  // element, and its own cStat a child of it.
  const std::string documentoRet = "(//*[starts-with(local-name(),'ret')])[1]/*[local-name()='";
  cStat = campo(documentoRet + "cStat']");
  xMotivo = campo(documentoRet + "xMotivo']");
}

// ---- the note's text ------------------------------------------------------------------------

struct TTrecho {
  std::size_t inicio = std::string::npos, fim = std::string::npos;  // of the content
  bool Achado() const { return inicio != std::string::npos; }
};

TTrecho Elemento(const std::string& xml, const std::string& tag, std::size_t de = 0,
                 std::size_t ate = std::string::npos) {
  TTrecho t;
  const std::string abre = "<" + tag;
  for (std::size_t at = xml.find(abre, de); at != std::string::npos && at < ate;
       at = xml.find(abre, at + 1)) {
    const char depois = at + abre.size() < xml.size() ? xml[at + abre.size()] : '\0';
    if (depois != '>' && depois != ' ') continue;
    const std::size_t gt = xml.find('>', at);
    const std::size_t fecha = xml.find("</" + tag + ">", gt);
    if (gt == std::string::npos || fecha == std::string::npos || fecha > ate) return t;
    t.inicio = gt + 1;
    t.fim = fecha;
    return t;
  }
  return t;
}

std::string Valor(const std::string& xml, const TTrecho& ide, const std::string& tag) {
  const TTrecho t = Elemento(xml, tag, ide.inicio, ide.fim);
  return t.Achado() ? xml.substr(t.inicio, t.fim - t.inicio) : std::string();
}

void Trocar(std::string& xml, TTrecho& ide, const std::string& tag, const std::string& valor) {
  const TTrecho t = Elemento(xml, tag, ide.inicio, ide.fim);
  if (!t.Achado()) return;
  xml.replace(t.inicio, t.fim - t.inicio, valor);
  ide.fim = ide.fim + valor.size() - (t.fim - t.inicio);
}

// "YYYY-MM-DDThh:mm:ss±hh:mm" as an instant; false when the text is not one.
bool LerDataHora(const std::string& texto, TInstante& instante, int& fusoMinutos) {
  int a, m, d, h, mi, s, fh, fm;
  char sinal;
  if (texto.size() != 25 ||
      std::sscanf(texto.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%2d:%2d", &a, &m, &d, &h, &mi, &s,
                  &sinal, &fh, &fm) != 9 ||
      (sinal != '+' && sinal != '-')) {
    return false;
  }
  std::tm tm{};
  tm.tm_year = a - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  fusoMinutos = (sinal == '-' ? -1 : 1) * (fh * 60 + fm);
  instante =
      std::chrono::system_clock::from_time_t(timegm(&tm)) - std::chrono::minutes(fusoMinutos);
  return true;
}

std::string EscreverDataHora(TInstante instante, int fusoMinutos) {
  const std::time_t t =
      std::chrono::system_clock::to_time_t(instante + std::chrono::minutes(fusoMinutos));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[96];
  const int fuso = fusoMinutos < 0 ? -fusoMinutos : fusoMinutos;
  std::snprintf(texto, sizeof texto, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                fusoMinutos < 0 ? '-' : '+', fuso / 60, fuso % 60);
  return texto;
}

std::string ChaveDaNota(const std::string& nota) {
  const std::string id = GetXMLAttributeByIndex(nota, "infNFe", "Id");
  return id.size() == 47 ? id.substr(3) : std::string();
}

TInstante EmissaoDe(const std::string& nota, TInstante falta) {
  TInstante instante;
  int fuso = 0;
  return LerDataHora(GetValueTag("dhEmi", nota), instante, fuso) ? instante : falta;
}

// The key of the note `539` refers to ("... [chNFe: <key>]..."), when the text names it.
std::string ChaveCitada(const std::string& xMotivo) {
  const std::size_t at = xMotivo.find("chNFe:");
  if (at == std::string::npos) return {};
  std::string chave;
  for (std::size_t i = at + 6; i < xMotivo.size() && chave.size() < 44; ++i) {
    if (xMotivo[i] >= '0' && xMotivo[i] <= '9') {
      chave += xMotivo[i];
    } else if (!chave.empty()) {
      break;
    }
  }
  return chave.size() == 44 ? chave : std::string();
}

seconds Espera(int tentativas) {
  seconds espera(30);
  for (int i = 1; i < tentativas && espera < std::chrono::minutes(15); ++i) espera *= 2;
  return std::min<seconds>(espera, std::chrono::minutes(15));
}

}  // namespace

TqorContingencia::TqorContingencia(TqorNFCe& nfce, const std::string& pasta)
    : nfce_(nfce), fila_(pasta, nullptr), pasta_(pasta) {}

void TqorContingencia::SetFileSystem(TFileSystem* arquivos) {
  fila_ = TFilaContingencia(pasta_, arquivos);
}

TInstante TqorContingencia::Agora() const {
  return relogio_ ? relogio_() : std::chrono::system_clock::now();
}

std::string TqorContingencia::NotaOffline(const std::string& xmlNota,
                                          const std::string& justificativa,
                                          const std::string& nNF) {
  const std::string logErro = nfce_.GetDiretorioLogErro();
  const std::size_t tamanho = Utf8Length(Trim(justificativa));
  if (tamanho < 15 || tamanho > 256) {
    throw EqorNFCeContingenciaException(
        "A justificativa da contingência deve ter de 15 a 256 caracteres (tem %s).",
        {std::to_string(tamanho)}, logErro);
  }
  if (nfce_.GetNumNotas(xmlNota) != 1) {
    throw EqorNFCeContingenciaException("Informe exatamente uma NFC-e para emitir em contingência.",
                                        logErro);
  }
  std::string nota = xmlNota;
  const TTrecho infNFe = Elemento(nota, "infNFe");
  TTrecho ide = infNFe.Achado() ? Elemento(nota, "ide", infNFe.inicio, infNFe.fim) : TTrecho{};
  if (!ide.Achado()) {
    throw EqorNFCeContingenciaException("A NFC-e não possui o grupo ide.", logErro);
  }
  const std::string tpEmis = Valor(nota, ide, "tpEmis");
  if (tpEmis == "9") {
    throw EqorNFCeContingenciaException(
        "A NFC-e já foi emitida em contingência offline (tpEmis 9).", logErro);
  }
  if (tpEmis != "1") {
    throw EqorNFCeContingenciaException(
        "Só uma NFC-e de emissão normal (tpEmis 1) pode ir para a contingência offline; esta tem "
        "tpEmis %s.",
        {QuoteForMessage(tpEmis)}, logErro);
  }
  if (Valor(nota, ide, "mod") != "65") {
    throw EqorNFCeContingenciaException("A contingência offline é só para o modelo 65.", logErro);
  }
  const std::string dhEmi = Valor(nota, ide, "dhEmi");
  TInstante emissao;
  int fuso = 0;
  if (!LerDataHora(dhEmi, emissao, fuso)) {
    throw EqorNFCeContingenciaException("dhEmi inválido na NFC-e: \"%s\"", {QuoteForMessage(dhEmi)},
                                        logErro);
  }
  // The outage began when the first note of it went offline; the queue keeps that moment until
  // the state answers again.
  TInstante inicio;
  if (!fila_.InicioContingencia(inicio)) {
    inicio = Agora();
    fila_.GravarInicioContingencia(inicio);
  }
  const std::string dhCont = EscreverDataHora(std::min(inicio, emissao), fuso);

  if (!nNF.empty()) Trocar(nota, ide, "nNF", nNF);
  Trocar(nota, ide, "tpEmis", "9");
  for (const char* tag : {"dhCont", "xJust"}) {
    const TTrecho t = Elemento(nota, tag, ide.inicio, ide.fim);
    if (!t.Achado()) continue;
    const std::size_t de = nota.rfind('<', t.inicio);
    const std::size_t ate = t.fim + std::string(tag).size() + 3;
    nota.erase(de, ate - de);
    ide.fim -= ate - de;
  }
  // dhCont and xJust close the ide's fields, before any NFref.
  const TTrecho nfRef = Elemento(nota, "NFref", ide.inicio, ide.fim);
  const std::size_t onde = nfRef.Achado() ? nota.rfind('<', nfRef.inicio) : ide.fim;
  const std::string contingencia =
      "<dhCont>" + dhCont + "</dhCont><xJust>" + Escape(Trim(justificativa)) + "</xJust>";
  nota.insert(onde, contingencia);
  ide.fim += contingencia.size();

  const TTrecho emit = Elemento(nota, "emit", infNFe.inicio);
  std::string documento = emit.Achado() ? Valor(nota, emit, "CNPJ") : std::string();
  if (documento.empty() && emit.Achado()) documento = Valor(nota, emit, "CPF");
  const std::string chave =
      CalculaChave(dhEmi, Valor(nota, ide, "cUF"), documento, "65", Valor(nota, ide, "serie"),
                   Valor(nota, ide, "nNF"), "9", Valor(nota, ide, "cNF"), logErro);
  Trocar(nota, ide, "cDV", chave.substr(43));

  // A supplement the host gave after the note keeps its urlChave, but its qrCode was made for
  // the online key: signing makes the offline one in its place.
  constexpr std::string_view kFechaInfNFe = "</infNFe>", kFechaQrCode = "</qrCode>";
  const std::size_t fimInfNFe = FindFirst(nota, kFechaInfNFe, ide.fim);
  if (const TTrecho supl = Elemento(nota, "infNFeSupl", fimInfNFe); supl.Achado()) {
    if (const TTrecho qrCode = Elemento(nota, "qrCode", supl.inicio, supl.fim); qrCode.Achado()) {
      const std::size_t de = nota.rfind('<', qrCode.inicio - 1);
      nota.erase(de, qrCode.fim + kFechaQrCode.size() - de);
    }
  }

  // The Id read from the infNFe element alone: a supplement after it makes the text more than
  // one document.
  const std::size_t abre = nota.rfind('<', infNFe.inicio - 1);
  const std::string idAntigo = GetXMLAttributeByIndex(
      nota.substr(abre, fimInfNFe + kFechaInfNFe.size() - abre), "infNFe", "Id");
  const std::size_t at =
      idAntigo.empty() ? std::string::npos : FindFirst(nota, "Id=\"" + idAntigo + "\"", abre);
  if (at == std::string::npos || at >= infNFe.inicio) {
    throw EqorNFCeContingenciaException("A NFC-e não possui o atributo Id em infNFe.", logErro);
  }
  nota.replace(at + 4, idAntigo.size(), "NFe" + chave);
  return nota;
}

std::string TqorContingencia::Enfileirar(const std::string& assinada, TEstadoContingencia estado,
                                         const std::string& chaveRelacionada) {
  TEntradaContingencia entrada;
  entrada.chave = ChaveDaNota(assinada);
  entrada.estado = estado;
  entrada.nota = assinada;
  entrada.registradaEm = Agora();
  entrada.emitidaEm = EmissaoDe(assinada, entrada.registradaEm);
  entrada.chaveRelacionada = chaveRelacionada;
  fila_.Gravar(entrada);
  return entrada.chave;
}

std::string TqorContingencia::EmitirOffline(const std::string& xmlNota,
                                            const std::string& justificativa) {
  fila_.Preparar();
  const std::string offline = NotaOffline(xmlNota, justificativa, {});
  const std::string assinada = nfce_.AssinarNota(offline);
  TEstadoContingencia onde;
  if (fila_.Localizar(ChaveDaNota(assinada), onde)) {
    throw EqorNFCeContingenciaException("A NFC-e %s já está na fila de contingência (%s).",
                                        {ChaveDaNota(assinada), NomeEstado(onde)},
                                        nfce_.GetDiretorioLogErro());
  }
  Enfileirar(assinada, TEstadoContingencia::ecPendente, {});
  return assinada;
}

TResultadoEmissao TqorContingencia::Emitir(const std::string& xmlNota,
                                           const std::string& justificativa) {
  // Checked first: a sale must never find out at the worst moment that it cannot go offline.
  const std::size_t tamanho = Utf8Length(Trim(justificativa));
  if (tamanho < 15 || tamanho > 256) {
    throw EqorNFCeContingenciaException(
        "A justificativa da contingência deve ter de 15 a 256 caracteres (tem %s).",
        {std::to_string(tamanho)}, nfce_.GetDiretorioLogErro());
  }
  fila_.Preparar();
  TResultadoEmissao resultado;
  const std::string assinada = nfce_.AssinarNota(xmlNota);
  bool talvezRecebida = false;
  try {
    resultado.resposta = nfce_.EnviarNFSincrono("1", assinada, false);
    std::string cStat, xMotivo, nProt;
    Situacao(resultado.resposta, cStat, xMotivo, nProt);
    if (!Paralisado(cStat)) {
      fila_.EncerrarContingencia();
      resultado.nota = assinada;
      resultado.chave = ChaveDaNota(assinada);
      return resultado;
    }
    resultado.motivo = cStat + " - " + xMotivo;
  } catch (const EqorGovException& falha) {
    resultado.motivo = falha.what();
    talvezRecebida = TqorNFCe::PedidoPodeTerChegado(falha);
  }
  resultado.offline = true;
  std::string nNF;
  if (talvezRecebida) {
    // The state may hold the attempt: its number is spent until the query says otherwise.
    const std::string serie = GetValueTag("serie", assinada);
    if (OnNovoNumero) nNF = OnNovoNumero(serie);
    const std::string offline =
        nNF.empty() ? std::string() : NotaOffline(xmlNota, justificativa, nNF);
    const std::string assinadaOffline =
        offline.empty() ? std::string() : nfce_.AssinarNota(offline);
    // The attempt first: a crash before the offline note is stored leaves the attempt alone,
    // which settles as a sale issued once.
    resultado.chaveEmVerificacao =
        Enfileirar(assinada, TEstadoContingencia::ecEmVerificacao, ChaveDaNota(assinadaOffline));
    if (assinadaOffline.empty()) {
      throw EqorNFCeContingenciaException(
          "A NFC-e %s pode ter sido recebida pela SEFAZ (%s) e não há numeração para emiti-la "
          "em contingência: defina OnNovoNumero.",
          {resultado.chaveEmVerificacao, QuoteForMessage(resultado.motivo)},
          nfce_.GetDiretorioLogErro());
    }
    resultado.nota = assinadaOffline;
    resultado.chave = Enfileirar(assinadaOffline, TEstadoContingencia::ecPendente, {});
    return resultado;
  }
  resultado.nota = EmitirOffline(xmlNota, justificativa);
  resultado.chave = ChaveDaNota(resultado.nota);
  return resultado;
}

// ---- transmission ---------------------------------------------------------------------------

bool TqorContingencia::PerguntarAoEstado(TEntradaContingencia& entrada,
                                         TResultadoTransmissao& resultado, std::string& resposta,
                                         const std::function<std::string()>& pedido) {
  try {
    resposta = pedido();
    return true;
  } catch (const EqorGovException& falha) {
    AdiarTentativa(entrada, falha.what(), resultado);
    return false;
  }
}

void TqorContingencia::AdiarTentativa(TEntradaContingencia& entrada, const std::string& falha,
                                      TResultadoTransmissao& resultado) {
  ++entrada.tentativas;
  entrada.proximaTentativa = Agora() + Espera(entrada.tentativas);
  entrada.xMotivo = falha;
  fila_.Gravar(entrada);
  ++resultado.falhasTransporte;
  resultado.ultimaFalha = falha;
}

void TqorContingencia::GarantirNfeProc(const TEntradaContingencia& entrada,
                                       const std::string& resposta) {
  if (destinatario_.empty()) destinatario_ = nfce_.GetDiretorioDestinatario();
  const std::string arquivo = destinatario_ + entrada.chave + "-nfce.xml";
  if (FileExists(arquivo)) return;
  // Made here, from the note and its protocol in the reply, in the component's distribution
  // template: the component writes it only with SalvarLogsEmDisco, and an entry is done only
  // once its nfeProc is on disk. The texts are cut, not parsed again: the reply was read once.
  const std::size_t inicio = resposta.find("<infProt");
  const std::size_t fim = resposta.find("</infProt>", inicio);
  const auto falha = [&](const std::string& motivo) {
    return EqorNFCeContingenciaException("O nfeProc da NFC-e %s não pôde ser montado: %s",
                                         {entrada.chave, motivo}, nfce_.GetDiretorioLogErro());
  };
  if (inicio == std::string::npos || fim == std::string::npos) {
    throw falha("a resposta não tem o protocolo");
  }
  std::string protocolo = resposta.substr(inicio, fim + 10 - inicio);
  ReplaceAll(protocolo, " xmlns=\"http://www.portalfiscal.inf.br/nfe\"", "");
  // The text of the first `tag` of the protocol, or of the last one of the note: its
  // DigestValue is in the Signature, which closes it.
  const auto texto = [](const std::string& xml, const std::string& tag, bool ultimo) {
    const std::string abre = "<" + tag + ">";
    const std::size_t a = ultimo ? FindLast(xml, abre) : xml.find(abre);
    const std::size_t b = a == std::string::npos ? a : xml.find("</" + tag + ">", a);
    return b == std::string::npos ? std::string()
                                  : xml.substr(a + abre.size(), b - a - abre.size());
  };
  if (texto(protocolo, "chNFe", false) != entrada.chave) {
    throw falha("o protocolo é de outra chave");
  }
  const std::string digest = texto(entrada.nota, "DigestValue", true);
  if (digest.empty() || digest != texto(protocolo, "digVal", false)) {
    throw falha("o digVal do protocolo difere do DigestValue da nota");
  }
  if (nfeProc_.empty()) nfeProc_ = nfce_.LoadTemplate("envioxml_dest.xml");
  SaveToFileUtf8(arquivo, Format(nfeProc_, {entrada.nota, protocolo}));
}

bool TqorContingencia::TransmitirNota(TEntradaContingencia& entrada,
                                      TResultadoTransmissao& resultado) {
  std::string resposta;
  ++resultado.enviadas;
  if (!PerguntarAoEstado(entrada, resultado, resposta,
                         [&] { return nfce_.EnviarNFSincrono("1", entrada.nota, false); })) {
    return false;
  }
  std::string cStat, xMotivo, nProt;
  Situacao(resposta, cStat, xMotivo, nProt);
  if (Paralisado(cStat)) {
    AdiarTentativa(entrada, cStat + " - " + xMotivo, resultado);
    return false;
  }
  if (!servicoRespondeu_) {
    servicoRespondeu_ = true;
    fila_.EncerrarContingencia();
  }
  if (cStat == "204") {
    // Already there (a previous run sent it and died before recording the reply): the query
    // says what the state holds under this key.
    std::string consulta;
    if (!PerguntarAoEstado(entrada, resultado, consulta,
                           [&] { return nfce_.ConsultarNF(entrada.chave); })) {
      return false;
    }
    std::string qStat, qMotivo, qProt;
    Situacao(consulta, qStat, qMotivo, qProt, true);
    if (Autorizado(qStat)) {
      resposta = consulta;
      cStat = qStat;
      xMotivo = qMotivo;
      nProt = qProt;
    } else {
      xMotivo = xMotivo + " (consulta: " + qStat + " - " + qMotivo + ")";
    }
  }
  entrada.cStat = cStat;
  entrada.xMotivo = xMotivo;
  entrada.nProt = nProt;
  if (Autorizado(cStat)) {
    GarantirNfeProc(entrada, resposta);
    // A rename alone: the protocol is in the nfeProc, and the note's busiest road stays short.
    fila_.Mover(entrada, TEstadoContingencia::ecAutorizada, false);
    ++resultado.autorizadas;
  } else if (Denegado(cStat)) {
    fila_.Mover(entrada, TEstadoContingencia::ecDenegada);
    ++resultado.denegadas;
  } else if (cStat == "539") {
    entrada.chaveRelacionada = ChaveCitada(xMotivo);
    fila_.Mover(entrada, TEstadoContingencia::ecDuplicada);
    ++resultado.duplicadas;
  } else {
    fila_.Mover(entrada, TEstadoContingencia::ecRejeitada);
    ++resultado.rejeitadas;
  }
  return true;
}

bool TqorContingencia::Verificar(TEntradaContingencia& entrada, TResultadoTransmissao& resultado) {
  const TInstante agora = Agora();
  if (agora < entrada.registradaEm + esperaVerificacao_ || agora < entrada.proximaTentativa) {
    return true;
  }
  std::string consulta;
  if (!PerguntarAoEstado(entrada, resultado, consulta,
                         [&] { return nfce_.ConsultarNF(entrada.chave); })) {
    return false;
  }
  std::string cStat, xMotivo, nProt;
  Situacao(consulta, cStat, xMotivo, nProt, true);
  if (Paralisado(cStat)) {
    AdiarTentativa(entrada, cStat + " - " + xMotivo, resultado);
    return false;
  }
  entrada.cStat = cStat;
  entrada.xMotivo = xMotivo;
  if (cStat == "217") {
    // Never received: the number is voided, and only the state's acceptance settles it.
    const std::string ide = entrada.nota;
    const std::string dhEmi = GetValueTag("dhEmi", ide);
    std::string resposta;
    if (!PerguntarAoEstado(entrada, resultado, resposta, [&] {
          return nfce_.InutilizarNF("", dhEmi.substr(2, 2), GetValueTag("CNPJ", ide),
                                    GetValueTag("mod", ide), GetValueTag("serie", ide),
                                    GetValueTag("nNF", ide), GetValueTag("nNF", ide),
                                    kJustificativaInutilizacao);
        })) {
      return false;
    }
    entrada.cStat = GetValueTag("cStat", resposta);
    entrada.xMotivo = GetValueTag("xMotivo", resposta);
    if (entrada.cStat == "102") {
      entrada.nProt = GetValueTag("nProt", resposta);
      fila_.Mover(entrada, TEstadoContingencia::ecInutilizada);
      ++resultado.inutilizadas;
    } else {
      // 241 (the number was used after all) and the like: the next query tells.
      entrada.proximaTentativa = agora + Espera(++entrada.tentativas);
      fila_.Gravar(entrada);
    }
    return true;
  }
  if (cStat == "101" || cStat == "151" || cStat == "135") {
    fila_.Mover(entrada, TEstadoContingencia::ecCancelada);
    ++resultado.canceladas;
    return true;
  }
  if (Denegado(cStat)) {
    fila_.Mover(entrada, TEstadoContingencia::ecDenegada);
    ++resultado.denegadas;
    return true;
  }
  if (!Autorizado(cStat)) {
    entrada.proximaTentativa = agora + Espera(++entrada.tentativas);
    fila_.Gravar(entrada);
    return true;
  }
  // The sale was issued twice. The offline note stands once authorised; the attempt is then
  // cancelled by substitution pointing at it.
  entrada.nProt = nProt;
  TEstadoContingencia estadoOffline;
  const bool conhecida =
      !entrada.chaveRelacionada.empty() && fila_.Localizar(entrada.chaveRelacionada, estadoOffline);
  if (!conhecida) {
    // Nothing replaced it (the process died before queuing the offline note): the attempt is
    // the sale's one note.
    GarantirNfeProc(entrada, consulta);
    fila_.Mover(entrada, TEstadoContingencia::ecAutorizada);
    ++resultado.autorizadas;
    return true;
  }
  if (estadoOffline != TEstadoContingencia::ecAutorizada) {
    fila_.Gravar(entrada);
    return true;  // waits for the offline note
  }
  std::string evento;
  if (!PerguntarAoEstado(entrada, resultado, evento, [&] {
        return nfce_.CancelarNFSubstituicao(
            entrada.chave, nProt, kJustificativaSubstituicao, "", 1, "", nfce_.GetLocalCode(),
            "qornfce", entrada.chaveRelacionada, TTipoAutor::taEmpresaEmitente, "1");
      })) {
    return false;
  }
  std::string eStat, eMotivo;
  XPathSelectSingleNode(evento, "//*[local-name()='retEvento']//*[local-name()='cStat']", eStat, {},
                        false);
  XPathSelectSingleNode(evento, "//*[local-name()='retEvento']//*[local-name()='xMotivo']", eMotivo,
                        {}, false);
  entrada.cStat = eStat;
  entrada.xMotivo = eMotivo;
  if (Em({"135", "136", "155"}, eStat)) {
    fila_.Mover(entrada, TEstadoContingencia::ecCancelada);
    ++resultado.canceladas;
  } else {
    fila_.Mover(entrada, TEstadoContingencia::ecDuplicada);
    ++resultado.duplicadas;
  }
  return true;
}

TResultadoTransmissao TqorContingencia::Transmitir(int max, std::chrono::milliseconds esperaTrava) {
  TResultadoTransmissao resultado;
  fila_.Preparar();
  destinatario_.clear();
  servicoRespondeu_ = false;
  std::unique_ptr<TFileLock> trava = esperaTrava.count() > 0
                                         ? TFileLock::Acquire(fila_.ArquivoTrava(), esperaTrava)
                                         : TFileLock::TryAcquire(fila_.ArquivoTrava());
  if (!trava) {
    resultado.filaEmUso = true;
    return resultado;
  }
  const auto interrompida = [&] {
    if (parar_ != nullptr && parar_->load()) resultado.interrompida = true;
    return resultado.interrompida;
  };
  std::vector<TEntradaContingencia> pendentes =
      fila_.Ler(TEstadoContingencia::ecPendente, resultado.danificados, true);
  std::vector<TEntradaContingencia> verificacao =
      fila_.Ler(TEstadoContingencia::ecEmVerificacao, resultado.danificados, true);
  const TInstante agora = Agora();
  int total = 0;
  for (const TEntradaContingencia& e : pendentes) total += e.proximaTentativa <= agora ? 1 : 0;
  if (max > 0) total = std::min(total, max);
  int feitas = 0;
  bool servicoFora = false;
  for (TEntradaContingencia& entrada : pendentes) {
    if (feitas >= total || servicoFora || interrompida()) break;
    if (entrada.proximaTentativa > agora) continue;
    servicoFora = !TransmitirNota(entrada, resultado);
    ++feitas;
    if (OnProgresso) OnProgresso(feitas, total);
  }
  for (TEntradaContingencia& entrada : verificacao) {
    if (servicoFora || interrompida()) break;
    servicoFora = !Verificar(entrada, resultado);
  }
  // What is left, and when it may be tried again.
  std::vector<TArquivoDanificado> ignorados;
  TInstante proxima = TInstante::max();
  for (auto estado : {TEstadoContingencia::ecPendente, TEstadoContingencia::ecEmVerificacao}) {
    for (const TEntradaContingencia& e : fila_.Ler(estado, ignorados, false)) {
      (estado == TEstadoContingencia::ecPendente ? resultado.pendentes : resultado.emVerificacao)++;
      TInstante quando = e.proximaTentativa;
      if (estado == TEstadoContingencia::ecEmVerificacao) {
        quando = std::max(quando, e.registradaEm + esperaVerificacao_);
      }
      proxima = std::min(proxima, quando);
    }
  }
  resultado.proximaTentativa = proxima == TInstante::max() ? TInstante{} : proxima;
  return resultado;
}

TListagemContingencia TqorContingencia::Listar() {
  TListagemContingencia listagem;
  const TInstante agora = Agora();
  for (TEstadoContingencia estado : EstadosContingencia()) {
    if (estado == TEstadoContingencia::ecDanificada) continue;
    for (TEntradaContingencia& e : fila_.Ler(estado, listagem.danificados, false)) {
      TItemListagem item;
      item.idade = std::chrono::duration_cast<seconds>(agora - e.emitidaEm);
      item.tempoRestante = std::chrono::duration_cast<seconds>(e.emitidaEm + prazo_ - agora);
      const bool aEnviar = estado == TEstadoContingencia::ecPendente;
      item.atrasada = aEnviar && item.tempoRestante.count() < 0;
      item.entrada = std::move(e);
      listagem.itens.push_back(std::move(item));
    }
  }
  for (const std::string& nome : ListFiles(fila_.Pasta() + "danificadas/", "*")) {
    listagem.danificados.push_back(
        {fila_.Pasta() + "danificadas/" + nome, "movido para danificadas"});
  }
  return listagem;
}

}  // namespace qor
