// The options of the exchange with the Integrador middleware (states that route NFC-e through
// an MFe device): whether it is used, the two folders it watches and writes, the session number
// and the time-out in seconds.
//
// The folders are checked only while Ativar is true: a folder that does not exist, or the same
// folder for input and output, is refused with EqorNFCeCheckParamsException and the previous
// value kept. So a configuration that reads Ativar before the folders checks them only when it
// activates the exchange.
//
// Not thread-safe: owned by one component.
#pragma once

#include <functional>
#include <string>

namespace qor {

class TqorIntegrador {
 public:
  // `logErro` gives the folder of the exception log when a check fails (the owner's
  // DiretorioLogErro, which may change after construction).
  explicit TqorIntegrador(std::function<std::string()> logErro = {});

  bool GetAtivar() const { return ativar_; }
  void SetAtivar(bool v) { ativar_ = v; }
  const std::string& GetDiretorioEntrada() const { return diretorioEntrada_; }
  void SetDiretorioEntrada(const std::string& v);
  const std::string& GetDiretorioSaida() const { return diretorioSaida_; }
  void SetDiretorioSaida(const std::string& v);
  int GetNumeroSessao() const { return numeroSessao_; }
  void SetNumeroSessao(int v) { numeroSessao_ = v; }
  int GetTimeOut() const { return timeOut_; }
  void SetTimeOut(int v) { timeOut_ = v; }

 private:
  void Check(const std::string& propriedade, const std::string& value,
             const std::string& other) const;

  std::function<std::string()> logErro_;
  bool ativar_ = false;
  std::string diretorioEntrada_, diretorioSaida_;
  int numeroSessao_ = 0;
  int timeOut_ = 0;
};

}  // namespace qor
