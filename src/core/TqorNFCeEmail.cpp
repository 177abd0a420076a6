// The e-mail operations of the component: the recipient's distribution XML, the DANFCE PDF and
// the cancellation distribution, sent through the outside component's SMTP client.
#include <cstdio>
#include <vector>

#include "base/Exceptions.h"
#include "core/TqorNFCe.h"
#include "distribution/TqorNFCeEventoXmlCancelamentoDestinatario.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/GovX.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/XmlLogs.h"

namespace qor {

namespace {

constexpr int kFormatoPdf = 1;

// The files one sending makes, removed with their folder whatever happens to the sending.
class TArquivosTemporarios {
 public:
  explicit TArquivosTemporarios(std::string pasta = {}) : pasta_(std::move(pasta)) {}
  ~TArquivosTemporarios() {
    for (const std::string& arquivo : arquivos_) DeleteFile(arquivo);
    if (!pasta_.empty()) RemoveDirectory(pasta_);
  }
  TArquivosTemporarios(const TArquivosTemporarios&) = delete;
  TArquivosTemporarios& operator=(const TArquivosTemporarios&) = delete;

  // `nome` inside the folder, removed at the end.
  std::string Novo(const std::string& nome) { return Adotar(pasta_ + nome); }
  const std::string& Adotar(const std::string& arquivo) { return arquivos_.emplace_back(arquivo); }

 private:
  std::string pasta_;
  std::vector<std::string> arquivos_;
};

// "ddmmyyyyhhnnss" of now.
std::string CarimboDeAgora() {
  const LocalTime agora = NowLocal();
  char texto[64];
  std::snprintf(texto, sizeof texto, "%02d%02d%04d%02d%02d%02d", agora.tm.tm_mday,
                agora.tm.tm_mon + 1, agora.tm.tm_year + 1900, agora.tm.tm_hour, agora.tm.tm_min,
                agora.tm.tm_sec);
  return texto;
}

// The further attachments: one file per line or separated by ";", trimmed, empties dropped.
std::vector<std::string> ListaDeAnexos(const std::string& anexos) {
  std::vector<std::string> lista;
  std::string atual;
  const auto fechar = [&] {
    if (!Trim(atual).empty()) lista.push_back(Trim(atual));
    atual.clear();
  };
  for (char c : anexos) {
    if (c == ';' || c == '\r' || c == '\n') {
      fechar();
    } else {
      atual += c;
    }
  }
  fechar();
  return lista;
}

}  // namespace

void TqorNFCe::EnviarNotaDestinatario(const std::string& chave, const std::string& logEnvio,
                                      const std::string& logResposta) {
  RunOperation("EnviarNotaDestinatario", [&] {
    const std::string destinatario = EnderecoDoDestinatario("");
    // The key names files: one that is not a plain name ("../x") names no note of the folder.
    const auto naoEncontrado = [&] {
      return EqorNFCeXmlDestinatarioException(
          "Xml da NFCe: %s na pasta XMLDestinatário não encontrado.", {chave}, diretorioLogErro_);
    };
    if (!IsPlainFileName(chave)) throw naoEncontrado();
    TArquivosTemporarios temporarios(CreateUniqueDirectory(GetDiretorioTemporario(), "email-"));
    const std::string xml = temporarios.Novo(chave + "-nfce.xml");
    if (!logEnvio.empty() || !logResposta.empty()) {
      GerarXMLEnvioDestinatario(chave, logEnvio, logResposta, xml);
    } else {
      const std::string pasta = GetDiretorioDestinatario();
      std::string origem = pasta + chave + ".xml";
      if (!FileExists(origem)) origem = pasta + chave + "-nfce.xml";
      if (!FileExists(origem)) throw naoEncontrado();
      CopyFile(origem, xml);
    }
    if (!FileExists(xml)) {
      throw EqorFileNotFoundException("Arquivo não Encontrado: %s ", {xml}, diretorioLogErro_);
    }
    std::vector<std::string> anexos{xml};
    if (GetEmailSettings().GetAnexarDanfcePDF()) {
      const std::string pdf = temporarios.Novo(chave + ".pdf");
      ExportarDanfce("0000", LoadFromFile(xml), pdf, kFormatoPdf, "");
      if (!FileExists(pdf)) {
        throw EqorFileNotFoundException("Arquivo não Encontrado: %s ", {pdf}, diretorioLogErro_);
      }
      anexos.push_back(pdf);
    }
    GetGov().SendEmail(destinatario, anexos);
  });
}

void TqorNFCe::EnviarNotaDestinatarioAnexos(const std::string& pdf, const std::string& xml,
                                            const std::string& anexos) {
  RunOperation("EnviarNotaDestinatarioAnexos", [&] {
    const std::string destinatario = EnderecoDoDestinatario("");
    if (pdf.empty() && xml.empty()) {
      throw EqorNFCeCheckParamsException(
          "É necessário informar pelo menos um arquivo para anexar no email", diretorioLogErro_);
    }
    if (!pdf.empty() && !FileExists(pdf)) {
      throw EqorFileNotFoundException("Arquivo: [%s] PDF da danfce não foi encontrado", {pdf},
                                      diretorioLogErro_);
    }
    TArquivosTemporarios temporarios;
    std::vector<std::string> lista;
    if (!xml.empty()) {
      if (FileExists(xml)) {
        lista.push_back(xml);
      } else {
        if (!IsValidXml(xml)) {
          throw EqorFileNotFoundException("Arquivo: [%s] XML da NFCe não foi encontrado", {xml},
                                          diretorioLogErro_);
        }
        // Two sendings in one second (or two processes) each get a name of their own.
        const std::string base = GetDiretorioTemporario() + CarimboDeAgora();
        std::string nome = base + ".xml";
        for (int n = 1; !CreateNewFile(nome, xml); ++n)
          nome = base + "-" + std::to_string(n) + ".xml";
        lista.push_back(temporarios.Adotar(nome));
      }
    }
    if (!pdf.empty()) lista.push_back(pdf);
    for (const std::string& anexo : ListaDeAnexos(anexos)) {
      if (!FileExists(anexo)) {
        throw EqorFileNotFoundException("Arquivo %s não encontrado para anexar ao email.", {anexo},
                                        diretorioLogErro_);
      }
      lista.push_back(anexo);
    }
    GetGov().SendEmail(destinatario, lista);
  });
}

void TqorNFCe::EnviarNotaCanceladaDestinatario(const std::string& chave,
                                               const std::string& logPedido,
                                               const std::string& logRetorno,
                                               const std::string& email) {
  RunOperation("EnviarNotaCanceladaDestinatario", [&] {
    const std::string destinatario = EnderecoDoDestinatario(email);
    if (!IsPlainFileName(chave)) {
      throw EqorNFCeXmlDestinatarioException(
          "Xml de Cancelamento da NFe: %s não foi encontrado na pasta XMLDestinatário.", {chave},
          diretorioLogErro_);
    }
    TArquivosTemporarios temporarios(CreateUniqueDirectory(GetDiretorioTemporario(), "email-"));
    const std::string pasta = GetDiretorioDestinatario();
    std::string anexo;
    if (logPedido.empty() && logRetorno.empty()) {
      for (const char* sufixo : {"-can.xml", "-caneve.xml"}) {
        if (FileExists(pasta + chave + sufixo)) {
          anexo = temporarios.Novo(chave + sufixo);
          CopyFile(pasta + chave + sufixo, anexo);
          break;
        }
      }
      if (anexo.empty()) {
        throw EqorNFCeXmlDestinatarioException(
            "Xml de Cancelamento da NFe: %s não foi encontrado na pasta XMLDestinatário.", {chave},
            diretorioLogErro_);
      }
    } else {
      // A request without an event has nothing to assemble: mailing it would send an empty file.
      const std::string pedido =
          TqorNFCeXMLLogs::LoadLog(logPedido, LogFolder(), diretorioLogErro_);
      std::string evento;
      if (!XPathSelectSingleNode(pedido, "//*[local-name()='evento']", evento) || evento.empty()) {
        throw EqorNFCeXmlDestinatarioException(
            "O conteúdo do Log de pedido de Cancelamento é inválido.", diretorioLogErro_);
      }
      anexo = temporarios.Novo(chave + "-caneve.xml");
      GerarXMLCancelamentoDestinatario(chave, pedido, logRetorno, anexo);
      CopyFile(anexo, pasta + chave + "-caneve.xml");
    }
    GetGov().SendEmail(destinatario, {anexo});
  });
}

std::string TqorNFCe::EnderecoDoDestinatario(const std::string& email) {
  const std::string endereco =
      Trim(email.empty() ? GetEmailSettings().GetEmailDestinatario() : email);
  if (endereco.empty()) {
    throw EqorNFCeCheckParamsException(
        "O endereço de email do destinatário deve ser preenchido antes de executar o envio.",
        diretorioLogErro_);
  }
  return endereco;
}

}  // namespace qor
