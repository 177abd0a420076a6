#include "conversion/TqorNFCeConvDic.h"

#include <array>

#include "base/Exceptions.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"
#include "platform/GovException.h"
#include "platform/Text.h"
#include "platform/Xml.h"
#include "utils/Chave.h"

namespace qor {

namespace {

constexpr std::array<std::string_view, 9> kICMS = {"ICMS00", "ICMS10", "ICMS20", "ICMS30", "ICMS40",
                                                   "ICMS51", "ICMS60", "ICMS70", "ICMS90"};

// The values of a line, each one terminated by "|"; text after the last "|" is not a value.
template <typename Texto = std::string_view>
std::vector<Texto> Valores(std::string_view linha) {
  std::vector<Texto> valores;
  std::size_t inicio = 0;
  for (std::size_t fim; (fim = linha.find('|', inicio)) != std::string_view::npos;
       inicio = fim + 1) {
    valores.emplace_back(linha.substr(inicio, fim - inicio));
  }
  return valores;
}

std::size_t ContaSeparadores(std::string_view linha) {
  std::size_t n = 0;
  for (char c : linha) n += c == '|';
  return n;
}

// The lines of `texto` (CR LF, LF or CR), without a last empty one after the final break.
std::vector<std::string_view> Linhas(std::string_view texto) {
  std::vector<std::string_view> linhas;
  std::size_t inicio = 0;
  while (inicio < texto.size()) {
    const std::size_t fim = texto.find_first_of("\r\n", inicio);
    if (fim == std::string_view::npos) {
      linhas.push_back(texto.substr(inicio));
      break;
    }
    linhas.push_back(texto.substr(inicio, fim - inicio));
    inicio = fim + (texto[fim] == '\r' && fim + 1 < texto.size() && texto[fim + 1] == '\n' ? 2 : 1);
  }
  return linhas;
}

// An XML name without a prefix. Bytes above 0x7F are taken as name characters: the parse of the
// finished note judges those.
bool NomeXml(std::string_view nome) {
  if (nome.empty()) return false;
  for (std::size_t i = 0; i < nome.size(); ++i) {
    const auto c = static_cast<unsigned char>(nome[i]);
    const bool letra = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80;
    const bool outro = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letra && (i == 0 || !outro)) return false;
  }
  return true;
}

bool Bloco(std::string_view linha) {
  return linha.size() >= 2 && linha[1] == '|' &&
         (linha[0] == 'C' || linha[0] == 'D' || linha[0] == 'R');
}

}  // namespace

TqorNFCeConvDic::TqorNFCeConvDic() : aleatorio_(std::random_device{}()) {}
TqorNFCeConvDic::~TqorNFCeConvDic() = default;

void TqorNFCeConvDic::SetDiretorioTemplates(const std::string& diretorio) {
  caminhos_.SetDiretorioTemplates(diretorio);
}

void TqorNFCeConvDic::SetDiretorioLogErro(const std::string& diretorio) {
  diretorioLogErro_ = diretorio;
  caminhos_.SetDiretorioLogErro(diretorio);
}

std::string TqorNFCeConvDic::GetTemplateCompletePath(const std::string& nome) const {
  return caminhos_.GetTemplateCompletePath(nome);
}

std::string TqorNFCeConvDic::Converter(const std::string& versao) {
  if (!FileExists(arquivo_)) {
    throw EqorFileNotFoundException("Arquivo não Encontrado: %s ", {arquivo_}, diretorioLogErro_);
  }
  return Converte(LoadFromFile(arquivo_), versao, {});
}

std::string TqorNFCeConvDic::ConverterTexto(const std::string& texto, const std::string& versao) {
  return Converte(texto, versao, {});
}

std::string TqorNFCeConvDic::GeraNFs_Random(int quantidade, const std::string& cUF,
                                            const std::string& CNPJ, const std::string& versao) {
  if (quantidade < 1) throw EqorNFCeCheckTXT("Quantidade de Nfs Inválido ", diretorioLogErro_);
  if (!IsNumber(cUF)) throw EqorNFCeCheckTXT("Valor para UF inválido. ", diretorioLogErro_);
  if (Utf8Length(CNPJ) != 14) {
    throw EqorNFCeCheckTXT("CNPJ deve conter 14 dígitos. ", diretorioLogErro_);
  }
  const std::string modelo = LoadFromFile(GetTemplateCompletePath("template.txt"));
  std::uniform_int_distribution<int> numero(1, 9999998);
  std::string notas;
  for (int i = 0; i < quantidade; ++i) {
    Chave inicial;
    inicial.cUF = cUF;
    inicial.CNPJ = CNPJ;
    inicial.nNF = std::to_string(numero(aleatorio_));
    notas += Converte(modelo, versao, std::move(inicial));
    notas += '\n';
  }
  return notas;
}

std::string TqorNFCeConvDic::Converte(const std::string& texto, const std::string& versao,
                                      Chave inicial) {
  chave_ = std::move(inicial);
  capturar_ = true;
  xml_.clear();
  marcas_.clear();
  dicionario_ = nullptr;
  bloco_.clear();
  contador_ = 0;
  aposICMS_ = false;

  std::string_view corpo = texto;
  if (corpo.substr(0, 3) == "\xEF\xBB\xBF") corpo.remove_prefix(3);
  const std::vector<std::string_view> linhas = Linhas(corpo);
  for (std::size_t i = 0; i < linhas.size(); ++i) {
    const std::string_view linha = linhas[i];
    const std::size_t numero = i + 1;
    // Blank lines (an editor's last line, a spacer between blocks) carry nothing.
    if (TrimView(linha).empty()) continue;
    if (!IsValidUtf8(linha)) {
      throw EqorNFCeCheckTXT("Linha %d do arquivo TXT não está em UTF-8.", {numero},
                             diretorioLogErro_);
    }
    if (Bloco(linha)) {
      const std::string atual(linha.substr(0, 2));
      ValidaPonteiro(bloco_, atual, numero);
      CarregaDicionario(atual);
      bloco_ = atual;
      contador_ = 1;
      aposICMS_ = false;
      continue;
    }
    const std::size_t indice = dicionario_ ? IndiceDicionario(linha, bloco_ == "D|") : 0;
    ValidaQtdeCamposLinha(linha, indice, numero);
    const std::vector<std::string>& tokens = dicionario_->linhas[indice].tokens;
    const std::vector<std::string_view> valores = Valores(linha);
    for (std::size_t p = 0; p < valores.size(); ++p) {
      const std::string_view valor = valores[p] == "%CNPJ"  ? chave_.CNPJ
                                     : valores[p] == "%UF"  ? chave_.cUF
                                     : valores[p] == "%nNF" ? chave_.nNF
                                                            : valores[p];
      EscreveValor(tokens[p], valor, numero);
      CapturaValoresChave(tokens[p], valor);
    }
    contador_ = indice + 1;
  }
  ValidaPonteiro(bloco_, {}, linhas.size());
  return Finaliza(versao);
}

void TqorNFCeConvDic::ValidaPonteiro(const std::string& anterior, const std::string& atual,
                                     std::size_t linha) const {
  if (anterior.empty() && atual.empty()) {
    throw EqorNFCeCheckTXT("Não é permitido iniciar Linha sem Caracter válido.", diretorioLogErro_);
  }
  if (anterior.empty() && atual != "C|") {
    throw EqorNFCeCheckTXT("O Arquivo deve ser iniciado com cabecalho - C.", diretorioLogErro_);
  }
  if (anterior == "C|" && atual != "D|") {
    throw EqorNFCeCheckTXT("O Cabecalho deve possuir pelo menos um registro de detalhe - D.",
                           diretorioLogErro_);
  }
  // The end of the file counts as a block that is not "R|": a note never ends unclosed.
  if (anterior == "D|" && atual != "R|" && atual != "D|") {
    throw EqorNFCeCheckTXT("A NF: %s não foi finalizada com o registro de Rodape - R", {chave_.nNF},
                           diretorioLogErro_);
  }
  if (anterior == "R|" && !atual.empty()) {
    throw EqorNFCeCheckTXT(
        "Linha %d do arquivo TXT: o bloco %s vem depois do registro de Rodape - R, que "
        "finaliza a NF: %s",
        {linha, atual, chave_.nNF}, diretorioLogErro_);
  }
}

void TqorNFCeConvDic::CarregaDicionario(const std::string& bloco) {
  dicionario_ = nullptr;
  const char* nome = bloco == "C|"   ? "dicCabecalho.txt"
                     : bloco == "D|" ? "dicDetalhe.txt"
                                     : "dicRodape.txt";
  try {
    const std::string caminho = GetTemplateCompletePath(nome);
    const auto idade = FileAge(caminho);
    Dicionario& dicionario = dicionarios_[caminho];
    if (dicionario.linhas.empty() || dicionario.idade != idade) {
      dicionario.linhas.clear();
      const std::string texto = LoadFromFile(caminho);
      for (std::string_view linha : Linhas(texto)) {
        dicionario.linhas.push_back({std::string(linha), Valores<std::string>(linha)});
      }
      dicionario.idade = idade;
    }
    dicionario_ = &dicionario;
  } catch (const std::exception&) {
    throw EqorNFCeCheckTXT("Não foi possível carregar o dicionário para o layout %s", {bloco},
                           diretorioLogErro_);
  }
}

std::size_t TqorNFCeConvDic::IndiceDicionario(std::string_view linha, bool detalhe) {
  if (aposICMS_) {
    aposICMS_ = false;
    for (std::size_t i = 0; i < dicionario_->linhas.size(); ++i) {
      if (dicionario_->linhas[i].texto.starts_with("PIS")) return i;
    }
    return dicionario_->linhas.size();
  }
  if (detalhe) {
    for (std::size_t i = 0; i < kICMS.size(); ++i) {
      if (linha.starts_with(kICMS[i])) {
        aposICMS_ = true;
        return contador_ + i;
      }
    }
  }
  return contador_;
}

void TqorNFCeConvDic::ValidaQtdeCamposLinha(std::string_view linha, std::size_t indice,
                                            std::size_t numero) const {
  if (!dicionario_) {
    throw EqorNFCeCheckTXT(
        "Arquivo TXT inválido. Não foi possível identificar início de Bloco (C/D/R).",
        diretorioLogErro_);
  }
  if (indice >= dicionario_->linhas.size()) {
    throw EqorNFCeCheckTXT(
        "Linha %d do arquivo TXT não tem linha correspondente no dicionário do layout %s: %s",
        {numero, bloco_, QuoteForMessage(linha)}, diretorioLogErro_);
  }
  const std::size_t possui = ContaSeparadores(linha);
  const std::size_t esperado = ContaSeparadores(dicionario_->linhas[indice].texto);
  if (possui != esperado) {
    throw EqorNFCeCheckTXT("%s\rPossui %d.\rQuando deveria ter: %d", {linha, possui, esperado},
                           diretorioLogErro_);
  }
}

void TqorNFCeConvDic::EscreveValor(const std::string& token, std::string_view valor,
                                   std::size_t numero) {
  // A tag chosen by the data: "<valor>" when the value is a name, or "/" and a name.
  const auto tag = [&] {
    const std::string_view nome = valor.substr(valor.starts_with('/') ? 1 : 0);
    if (!NomeXml(nome)) {
      throw EqorNFCeCheckTXT("Linha %d do arquivo TXT: \"%s\" não é um nome de tag XML válido.",
                             {numero, QuoteForMessage(valor)}, diretorioLogErro_);
    }
    xml_ += '<';
    xml_ += valor;
    xml_ += '>';
  };
  if (token.ends_with('*')) {
    const std::string_view nome = std::string_view(token).substr(0, token.size() - 1);
    if (nome == "infNFe Id") {
      xml_ += "<infNFe Id=";
      marcas_.push_back({xml_.size(), true});
      xml_ += " >";
    } else {
      xml_ += '<';
      xml_ += nome;
      xml_ += "=\"";
      xml_ += TqorNFCeConvTXTDataSet::EscaparValor(valor);
      xml_ += "\">";
    }
  } else if (token == "cDV") {
    xml_ += "<cDV>";
    marcas_.push_back({xml_.size(), false});
    xml_ += "</cDV>";
  } else if (token == "??" || token == "/??") {
    // An empty value chooses no tag, as an empty value writes no element.
    if (!valor.empty()) tag();
  } else if (!valor.empty() && (token == valor || valor.starts_with('/'))) {
    tag();
  } else if (!valor.empty()) {
    xml_ += '<';
    xml_ += token;
    xml_ += '>';
    xml_ += TqorNFCeConvTXTDataSet::EscaparValor(valor);
    xml_ += "</";
    xml_ += token;
    xml_ += '>';
  }
}

void TqorNFCeConvDic::CapturaValoresChave(const std::string& token, std::string_view valor) {
  if (token == "cUF" && capturar_) {
    chave_.cUF = valor;
  } else if (token == "CNPJ" && capturar_) {
    chave_.CNPJ = valor;
  } else if (token == "mod") {
    chave_.mod = valor;
  } else if (token == "serie") {
    chave_.serie = valor;
  } else if (token == "cNF") {
    chave_.cNF = valor;
  } else if (token == "nNF") {
    chave_.nNF = valor;
  } else if (token == "dEmi") {
    chave_.dEmi = valor;
  } else if (token == "dest") {
    // What follows belongs to the recipient: its CNPJ is not the issuer's.
    capturar_ = false;
  }
}

std::string TqorNFCeConvDic::Finaliza(const std::string& versao) const {
  const std::string chave = CalculaChave(chave_.dEmi, chave_.cUF, chave_.CNPJ, chave_.mod,
                                         chave_.serie, chave_.nNF, chave_.cNF);
  // A field longer than its place would shift the others and make a key of another length.
  if (chave.size() != 44 || !IsNumber(chave)) {
    throw EqorNFCeCheckTXT(
        "A chave de acesso %s calculada para a NF: %s não tem 44 dígitos; verifique cUF, CNPJ, "
        "mod, serie, nNF e cNF.",
        {chave, chave_.nNF}, diretorioLogErro_);
  }
  const std::string id =
      "\"NFe" + chave + "\" versao=\"" + TqorNFCeConvTXTDataSet::EscaparValor(versao) + "\"";
  // The places were recorded while writing, so a value holding asterisks is never taken for one.
  std::string xml;
  xml.reserve(xml_.size() + marcas_.size() * id.size());
  std::size_t inicio = 0;
  for (const Marca& marca : marcas_) {
    xml.append(xml_, inicio, marca.posicao - inicio);
    if (marca.id) {
      xml += id;
    } else {
      xml += chave.back();
    }
    inicio = marca.posicao;
  }
  xml.append(xml_, inicio);
  try {
    XmlDocument::Parse(xml);
  } catch (const EqorGovException& e) {
    throw EqorNFCeCheckTXT("O XML gerado do arquivo TXT não é válido: %s", {e.what()},
                           diretorioLogErro_);
  }
  return xml;
}

}  // namespace qor
