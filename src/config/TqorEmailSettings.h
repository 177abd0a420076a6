// The e-mail options of the component: the SMTP server and the message the recipient XML and
// the DANFCE are sent with. The accessors are virtual, so a host may derive a class that takes
// the values from elsewhere (a password vault, for example); the component only calls them.
//
// Not thread-safe: owned by one component.
#pragma once

#include <string>

namespace qor {

class TqorEmailSettings {
 public:
  virtual ~TqorEmailSettings() = default;

  virtual std::string GetAssunto() const { return assunto_; }
  virtual bool GetAutenticacao() const { return autenticacao_; }
  virtual std::string GetCC() const { return cc_; }
  virtual std::string GetCCo() const { return cco_; }
  virtual std::string GetEmailDestinatario() const { return emailDestinatario_; }
  virtual std::string GetEmailRemetente() const { return emailRemetente_; }
  virtual std::string GetMensagem() const { return mensagem_; }
  virtual int GetPorta() const { return porta_; }
  virtual std::string GetSenha() const { return senha_; }
  virtual std::string GetServidorSmtp() const { return servidorSmtp_; }
  virtual std::string GetUsuario() const { return usuario_; }
  virtual int GetTimeOut() const { return timeOut_; }
  virtual void SetAssunto(const std::string& v) { assunto_ = v; }
  virtual void SetAutenticacao(bool v) { autenticacao_ = v; }
  virtual void SetCC(const std::string& v) { cc_ = v; }
  virtual void SetCCo(const std::string& v) { cco_ = v; }
  virtual void SetEmailDestinatario(const std::string& v) { emailDestinatario_ = v; }
  virtual void SetEmailRemetente(const std::string& v) { emailRemetente_ = v; }
  virtual void SetMensagem(const std::string& v) { mensagem_ = v; }
  virtual void SetPorta(int v) { porta_ = v; }
  virtual void SetSenha(const std::string& v) { senha_ = v; }
  virtual void SetServidorSmtp(const std::string& v) { servidorSmtp_ = v; }
  virtual void SetUsuario(const std::string& v) { usuario_ = v; }
  virtual void SetTimeOut(int v) { timeOut_ = v; }

  bool GetAnexarDanfcePDF() const { return anexarDanfcePDF_; }
  void SetAnexarDanfcePDF(bool v) { anexarDanfcePDF_ = v; }
  bool GetConteudoHtml() const { return conteudoHtml_; }
  void SetConteudoHtml(bool v) { conteudoHtml_ = v; }
  // Kept for configuration files written elsewhere; the mail transport here is libcurl's.
  bool GetUseSecureBlackBox() const { return useSecureBlackBox_; }
  void SetUseSecureBlackBox(bool v) { useSecureBlackBox_ = v; }

 private:
  std::string emailRemetente_, emailDestinatario_, servidorSmtp_, usuario_, senha_, assunto_,
      mensagem_;
  int porta_ = 0;
  bool autenticacao_ = false;
  std::string cco_, cc_;
  int timeOut_ = 0;
  bool anexarDanfcePDF_ = true;
  bool conteudoHtml_ = false;
  bool useSecureBlackBox_ = false;
};

}  // namespace qor
