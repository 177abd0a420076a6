#include "Amostras.h"

#include <stdexcept>

#include "platform/Files.h"

namespace qor::bench {

std::string AmostraUmItem() {
  const std::string path = ExecutableDir() + "exemplos/nfce-um-item-dinheiro.tx2";
  if (!FileExists(path)) throw std::runtime_error("sample note not installed: " + path);
  return LoadFromFile(path);
}

std::string NotaComItens(int itens) {
  const std::string amostra = AmostraUmItem();
  const std::size_t inicio = amostra.find("INCLUIRITEM");
  const std::size_t fim = amostra.find("SALVARITEM\n") + 11;
  const std::string item = amostra.substr(inicio, fim - inicio);
  std::string nota = amostra.substr(0, inicio);
  for (int n = 1; n <= itens; ++n) {
    std::string copia = item;
    copia.replace(copia.find("nItem_H02=1"), 11, "nItem_H02=" + std::to_string(n));
    nota += copia;
  }
  return nota + amostra.substr(fim);
}

}  // namespace qor::bench
