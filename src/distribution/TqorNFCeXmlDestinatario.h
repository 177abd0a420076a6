// The recipient's distribution XML of a note (nfeProc: the signed NFe joined with the state's
// protocol), assembled from the request and reply logs the sending operations keep, and written
// into the recipient-XML folder.
//
// Files: <chave>-nfce.xml for an authorised note (cStat 100, 150), <chave>-den.xml for a denied
// one (110, 301, 302, or any other status on the key path), and "Erro-<chave>" (no extension)
// holding an explanation when the note's DigestValue differs from the protocol's digVal: a note
// whose signature the state did not register is never distributed as authorised.
//
// A batch sent leaves pointer files in the recipient folder, one per key and one per receipt,
// named by the number and holding "env-lot=<send log file name>"; generation is driven by them
// and removes them once done. Numbers that would leave the folder are refused.
//
// Files are written whole (temporary name, then rename), UTF-8 without byte-order mark.
//
// Not thread-safe.
#pragma once

#include <functional>
#include <string>

namespace qor {

class TFileSystem;

class TqorNFCeXmlDestinatario {
 public:
  // Receipt-query log (file name in DiretorioLog, full path or the text itself).
  std::string LogConsRec;
  // Batch send log; by key, when it is empty, the one the key's pointer file names.
  std::string LogEnvio;
  // Full name of the file to write.
  std::string SalvarComo;
  // Key-query or synchronous-response log.
  std::string LogConsChave;
  std::string DiretorioXmlDestinatario;
  std::string DiretorioLog;
  std::string DiretorioLogErro;
  std::string ChaveNFCe;
  // The "envioxml_dest.xml" template: nfeProc with the NFe in the first placeholder and the
  // infProt in the second.
  std::string Template;
  std::function<void(const std::string& arquivo)> OnXmlDestinatario;
  bool SalvarLogsEmDisco = true;
  // The file operations the distribution is written and its pointer files removed with; not
  // owned (nullptr: TFileSystem::Default()).
  TFileSystem* Arquivos = nullptr;

  // Writes the distribution of every note a receipt (15 characters) or a key (44) stands for.
  // Another length raises EqorNFCeXmlDestinatarioException "O Número informado: %s não se refere
  // nem a um Recibo e nem a uma Chave de NFce". Without the number's pointer file nothing
  // happens.
  void GerarXmlDestinatario(const std::string& numero);
  // Writes the distribution of ChaveNFCe into SalvarComo (when it assembles to something and
  // SalvarLogsEmDisco), then removes the key's pointer file.
  void GerarXmlDestinatario();

  // The distribution text of `chave`: the nfeProc; the digest explanation (and SalvarComo moved
  // to "Erro-<chave>") when the digests differ; empty when the protocol is not one that
  // distributes. A note or protocol missing from its log raises
  // EqorNFCeXmlDestinatarioException "NFCe Id: %s não encontrada no Log : %s ".
  std::string MontarXmlDestinatario(const std::string& chave);
  // The signed NFe of `chave` in the send log.
  std::string GetXmlLogEnvio(const std::string& chave);
  // The infProt of `chave`: from the receipt-query log when one is set, else rebuilt from the
  // key-query log (which also chooses SalvarComo when it is still empty).
  std::string GetXmlInfProtocolo(const std::string& chave);
  void SalvarEmArquivo(const std::string& texto);

  // The send-log path a pointer file names; empty when there is no pointer file.
  std::string GetTempNameLogEnv(const std::string& numero) const;
  void DeleteTempFile(const std::string& numero) const;

 private:
  void GerarPorChave(const std::string& chave);
  void GerarPorRecibo(const std::string& recibo);
  std::string Pasta() const;
  std::string Ponteiro(const std::string& numero) const;
  TFileSystem& Fs() const;
};

}  // namespace qor
