#include "danfce/FormatosDanfce.h"

#include <string_view>
#include <vector>

#include "platform/Text.h"

namespace qor {

namespace {

constexpr std::string_view kQuebra = "\r\n";
constexpr std::string_view kFisco = "Observações destinadas ao Fisco:";

std::string FormataValorCasas(const std::string& valor, std::size_t casas) {
  const std::size_t virgula = valor.find(',');
  if (virgula == std::string::npos || virgula == 0) return valor;
  std::string decimais = valor.substr(virgula + 1);
  decimais.resize(casas, '0');
  return valor.substr(0, virgula + 1) + decimais;
}

// The lines of a text broken by CR LF, LF or CR.
std::vector<std::string> Linhas(const std::string& texto) {
  std::vector<std::string> linhas;
  std::size_t inicio = 0;
  for (std::size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] != '\r' && texto[i] != '\n') continue;
    linhas.push_back(texto.substr(inicio, i - inicio));
    if (texto[i] == '\r' && i + 1 < texto.size() && texto[i + 1] == '\n') ++i;
    inicio = i + 1;
  }
  if (inicio < texto.size()) linhas.push_back(texto.substr(inicio));
  return linhas;
}

std::string Junta(const std::vector<std::string>& linhas, std::size_t de, std::size_t ate) {
  std::string texto;
  for (std::size_t i = de; i < ate; ++i) {
    if (i != de) texto += kQuebra;
    texto += linhas[i];
  }
  return texto;
}

std::string TiraBrancosFinais(std::string linha) {
  while (!linha.empty() && linha.back() == ' ') linha.pop_back();
  return linha;
}

}  // namespace

bool TextoVerdadeiro(std::string_view texto) {
  const std::string_view t = TrimView(texto);
  return t == "1" || t == "-1" || SameText(t, "true");
}

std::string VirgulaDecimal(const std::string& valor) {
  if (valor.empty()) return "0,00";
  std::string texto = valor;
  ReplaceAll(texto, ".", ",");
  const std::size_t virgula = texto.find(',');
  if (virgula == std::string::npos) return texto;
  std::size_t inicioDigitos = 0;
  if (texto[0] == '-' || texto[0] == '+') inicioDigitos = 1;
  const std::string_view inteiro(texto.data() + inicioDigitos, virgula - inicioDigitos);
  std::string resultado = texto.substr(0, inicioDigitos);
  for (std::size_t i = 0; i < inteiro.size(); ++i) {
    if (i != 0 && (inteiro.size() - i) % 3 == 0) resultado += '.';
    resultado += inteiro[i];
  }
  resultado.append(texto, virgula, std::string::npos);
  return resultado;
}

std::string FormataValorDuasCasas(const std::string& valor) { return FormataValorCasas(valor, 2); }

std::string FormataValorQuatroCasas(const std::string& valor) {
  return FormataValorCasas(valor, 4);
}

std::string CopiaValorDecimal(const std::string& valor) {
  const std::size_t virgula = valor.find(',');
  return virgula == std::string::npos ? std::string() : valor.substr(virgula + 1);
}

bool ValorDecimalDiferenteDeZero(const std::string& valor, std::size_t casas) {
  const std::string decimais = CopiaValorDecimal(valor);
  for (std::size_t i = casas; i < decimais.size(); ++i) {
    if (decimais[i] >= '1' && decimais[i] <= '9') return true;
  }
  return false;
}

std::string RemoveZeroAposUltimoNumeroDecimal(const std::string& valor) {
  const std::size_t virgula = valor.find(',');
  if (virgula == std::string::npos) return valor;
  const std::size_t ultimo = valor.find_last_of("123456789");
  if (ultimo == std::string::npos || ultimo < virgula) return valor.substr(0, virgula);
  return valor.substr(0, ultimo + 1);
}

void RetornarInfCplQuebraLinhaAutomatica(int maxCol, int maxRow, const std::string& texto,
                                         std::string& principal, std::string& continuacao) {
  principal.clear();
  continuacao.clear();
  std::string corrido = texto;
  ReplaceAll(corrido, "\r\n", " ");
  ReplaceAll(corrido, "\r", " ");
  ReplaceAll(corrido, "\n", " ");
  const std::size_t limiteCol = maxCol > 0 ? static_cast<std::size_t>(maxCol) : 1;
  const std::size_t limiteTotal = limiteCol * static_cast<std::size_t>(maxRow > 0 ? maxRow : 0);
  const std::size_t limiteLinhas = maxRow > 0 ? static_cast<std::size_t>(maxRow) : 0;

  std::string linha;
  std::size_t linhas = 0;
  bool transbordou = limiteLinhas == 0;
  std::size_t inicio = 0;
  while (inicio <= corrido.size()) {
    std::size_t fim = corrido.find(' ', inicio);
    if (fim == std::string::npos) fim = corrido.size();
    const std::string_view palavra(corrido.data() + inicio, fim - inicio);
    inicio = fim + 1;
    if (palavra.empty()) continue;  // a run of blanks counts as one
    if (transbordou) {
      continuacao.append(palavra).append(" ");
      continue;
    }
    if (Utf8Length(linha) + Utf8Length(palavra) < limiteCol) {
      linha.append(palavra).append(" ");
      continue;
    }
    if (!TrimView(linha).empty()) {
      if (!principal.empty()) principal += kQuebra;
      principal += TiraBrancosFinais(linha);
      ++linhas;
    }
    linha.clear();
    if (Utf8Length(principal) + Utf8Length(palavra) >= limiteTotal || linhas >= limiteLinhas) {
      transbordou = true;
      continuacao.append(palavra).append(" ");
    } else {
      linha.append(palavra).append(" ");
    }
  }
  if (!TrimView(linha).empty()) {
    if (!principal.empty()) principal += kQuebra;
    principal += TiraBrancosFinais(linha);
  }
  continuacao = TiraBrancosFinais(continuacao);
  // The fiscal heading keeps a line of its own.
  const std::string solto = std::string(kFisco) + " ";
  const std::string emLinha = std::string(kQuebra) + std::string(kFisco) + std::string(kQuebra);
  ReplaceAll(principal, solto, emLinha);
  ReplaceAll(continuacao, solto, emLinha);
}

void SeparaObservacoes(const std::string& texto, int maxCol, int maxRow, bool quebrarLinhaAut,
                       std::string& principal, std::string& continuacao) {
  principal.clear();
  continuacao.clear();
  if (quebrarLinhaAut) {
    RetornarInfCplQuebraLinhaAutomatica(maxCol, maxRow, texto, principal, continuacao);
  } else {
    const std::vector<std::string> linhas = Linhas(texto);
    const std::size_t limiteCol = maxCol > 0 ? static_cast<std::size_t>(maxCol) : 1;
    const std::size_t limiteLinhas = maxRow > 0 ? static_cast<std::size_t>(maxRow) : 0;
    std::vector<std::string> saida;
    std::string sobra;  // the rest of a line cut at maxCol, read again on the next pass
    bool comSobra = false;
    std::size_t i = 0;
    while (comSobra || i < linhas.size()) {
      if (saida.size() >= limiteLinhas) {
        std::vector<std::string> resto;
        if (comSobra) resto.push_back(sobra);
        resto.insert(resto.end(), linhas.begin() + static_cast<std::ptrdiff_t>(i), linhas.end());
        continuacao = Junta(resto, 0, resto.size());
        break;
      }
      const std::string primeira = comSobra ? sobra : linhas[i];
      if (Utf8Length(primeira) > limiteCol) {
        saida.push_back(Utf8Substr(primeira, 0, limiteCol));
        sobra = Utf8Substr(primeira, limiteCol);
        if (!comSobra) ++i;
        comSobra = true;
      } else {
        saida.push_back(primeira);
        if (comSobra) {
          comSobra = false;
        } else {
          ++i;
        }
      }
    }
    principal = Junta(saida, 0, saida.size());
  }
  if (!continuacao.empty()) {
    continuacao = std::string(kCabecalhoContinuacao) + std::string(kQuebra) + continuacao;
  }
}

}  // namespace qor
