#include "distribution/TqorNFCeXmlDestinatario.h"

#include <filesystem>

#include "base/Exceptions.h"
#include "platform/Files.h"
#include "platform/Format.h"
#include "platform/TStrings.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Paths.h"
#include "utils/XmlLogs.h"

namespace qor {

namespace {

constexpr const char* kNFeNs = " xmlns=\"http://www.portalfiscal.inf.br/nfe\"";

bool Autorizado(const std::string& cStat) { return cStat == "100" || cStat == "150"; }
bool Distribuivel(const std::string& cStat) {
  return Autorizado(cStat) || cStat == "110" || cStat == "301" || cStat == "302";
}

}  // namespace

std::string TqorNFCeXmlDestinatario::Pasta() const {
  return FixSlash(ExpandPath(DiretorioXmlDestinatario));
}

std::string TqorNFCeXmlDestinatario::Ponteiro(const std::string& numero) const {
  if (!IsPlainFileName(numero)) {
    throw EqorNFCeXmlDestinatarioException("Número inválido para nome de arquivo: %s",
                                           {QuoteForMessage(numero)}, DiretorioLogErro);
  }
  return Pasta() + numero;
}

std::string TqorNFCeXmlDestinatario::GetTempNameLogEnv(const std::string& numero) const {
  const std::string ponteiro = Ponteiro(numero);
  if (!FileExists(ponteiro)) return {};
  TStrings valores;
  valores.SetText(LoadFromFile(ponteiro));
  return FixSlash(ExpandPath(DiretorioLog)) + valores.Values("env-lot");
}

TFileSystem& TqorNFCeXmlDestinatario::Fs() const {
  return Arquivos != nullptr ? *Arquivos : TFileSystem::Default();
}

void TqorNFCeXmlDestinatario::DeleteTempFile(const std::string& numero) const {
  Fs().DeleteFile(Ponteiro(numero));
}

std::string TqorNFCeXmlDestinatario::GetXmlLogEnvio(const std::string& chave) {
  const std::string nota =
      TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(chave, LogEnvio, DiretorioLog, DiretorioLogErro);
  if (nota.empty()) {
    throw EqorNFCeXmlDestinatarioException("NFCe Id: %s não encontrada no Log : %s ",
                                           {chave, LogEnvio}, DiretorioLogErro);
  }
  return nota;
}

std::string TqorNFCeXmlDestinatario::GetXmlInfProtocolo(const std::string& chave) {
  if (!LogConsRec.empty()) {
    const std::string prot =
        TqorNFCeXMLLogs::AchaInfProtLogConsRec(chave, LogConsRec, DiretorioLog, DiretorioLogErro);
    if (prot.empty()) {
      throw EqorNFCeXmlDestinatarioException("NFCe Id: %s não encontrada no Log : %s ",
                                             {chave, LogConsRec}, DiretorioLogErro);
    }
    return prot;
  }
  const std::string prot =
      TqorNFCeXMLLogs::AchaInfProtLogConsNF(chave, LogConsChave, DiretorioLog, DiretorioLogErro);
  if (prot.empty()) {
    throw EqorNFCeXmlDestinatarioException("NFCe Id: %s não encontrada no Log : %s ",
                                           {chave, LogConsChave}, DiretorioLogErro);
  }
  const XmlDocument doc = XmlDocument::Parse(prot);
  const std::string cStat = doc.ValueTag("cStat");
  if (!Distribuivel(cStat)) return {};
  // The protocol is rebuilt from its fields: a query reply may carry it with other content.
  std::string infProt = "<infProt>";
  for (const char* tag :
       {"tpAmb", "verAplic", "chNFe", "dhRecbto", "nProt", "digVal", "cStat", "xMotivo"}) {
    infProt += Format("<%s>%s</%s>", {tag, doc.ValueTag(tag), tag});
  }
  if (const std::string cMsg = doc.ValueTag("cMsg"); !cMsg.empty()) {
    infProt += "<cMsg>" + cMsg + "</cMsg><xMsg>" + doc.ValueTag("xMsg") + "</xMsg>";
  }
  infProt += "</infProt>";
  if (SalvarComo.empty()) {
    SalvarComo = Pasta() + chave + (Autorizado(cStat) ? "-nfce.xml" : "-den.xml");
  }
  return infProt;
}

std::string TqorNFCeXmlDestinatario::MontarXmlDestinatario(const std::string& chave) {
  const std::string nota = GetXmlLogEnvio(chave);
  std::string protocolo = Trim(GetXmlInfProtocolo(chave));
  if (const std::size_t ns = protocolo.find(kNFeNs); ns != std::string::npos) {
    protocolo.erase(ns, std::string_view(kNFeNs).size());
  }
  if (protocolo.empty()) return {};
  const std::string digest = GetValueTag("DigestValue", nota);
  const std::string digVal = GetValueTag("digVal", protocolo);
  if (digest == digVal) return Format(Template, {nota, protocolo});
  SalvarComo = Pasta() + "Erro-" + chave;
  return Format("O digVal encontrado no Xml de Envio %s difere do digVal de processamento %s ",
                {digest, digVal});
}

void TqorNFCeXmlDestinatario::SalvarEmArquivo(const std::string& texto) {
  const std::string pasta = std::filesystem::path(NativePath(SalvarComo)).parent_path().string();
  if (!pasta.empty()) Fs().CreateDirectories(pasta);
  // UTF-8 without byte-order mark, written whole or not at all.
  const bool bom = texto.compare(0, 3, "\xEF\xBB\xBF") == 0;
  Fs().SaveToFile(SalvarComo, bom ? texto.substr(3) : texto);
  if (OnXmlDestinatario) OnXmlDestinatario(SalvarComo);
}

void TqorNFCeXmlDestinatario::GerarXmlDestinatario() {
  const std::string texto = Trim(MontarXmlDestinatario(ChaveNFCe));
  if (texto.empty() || !SalvarLogsEmDisco) return;
  if (!SalvarComo.empty()) SalvarEmArquivo(texto);
  DeleteTempFile(ChaveNFCe);
}

void TqorNFCeXmlDestinatario::GerarXmlDestinatario(const std::string& numero) {
  if (numero.size() == 15) {
    GerarPorRecibo(numero);
  } else if (numero.size() == 44) {
    GerarPorChave(numero);
  } else {
    throw EqorNFCeXmlDestinatarioException(
        "O Número informado: %s não se refere nem a um Recibo e nem a uma Chave de NFce",
        {QuoteForMessage(numero)}, DiretorioLogErro);
  }
}

void TqorNFCeXmlDestinatario::GerarPorChave(const std::string& chave) {
  const std::string envio = GetTempNameLogEnv(chave);
  if (envio.empty()) return;
  if (LogEnvio.empty()) LogEnvio = envio;
  const std::string prot =
      TqorNFCeXMLLogs::AchaInfProtLogConsNF(chave, LogConsChave, DiretorioLog, DiretorioLogErro);
  if (prot.empty()) return;  // no protocol of this key: nothing to distribute, the pointer stays
  SalvarComo =
      Pasta() + chave + (Autorizado(GetValueTag("cStat", prot)) ? "-nfce.xml" : "-den.xml");
  ChaveNFCe = chave;
  GerarXmlDestinatario();
}

void TqorNFCeXmlDestinatario::GerarPorRecibo(const std::string& recibo) {
  const std::string envio = GetTempNameLogEnv(recibo);
  if (envio.empty()) return;
  LogEnvio = envio;
  const auto gerar = [&](std::initializer_list<int> situacoes, const char* sufixo) {
    TStrings chaves;
    for (int cStat : situacoes) {
      TqorNFCeXMLLogs::ListaChavesLogRecibo(LogConsRec, cStat, &chaves, DiretorioLog,
                                            DiretorioLogErro);
    }
    for (const std::string& chave : chaves.Lines()) {
      ChaveNFCe = chave;
      SalvarComo = Pasta() + chave + sufixo;
      GerarXmlDestinatario();
    }
    if (!chaves.Empty()) DeleteTempFile(recibo);
  };
  gerar({100, 150}, "-nfce.xml");
  gerar({110, 301, 302}, "-den.xml");
}

}  // namespace qor
