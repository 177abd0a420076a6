#include "Alvos.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Ambiente.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "danfce/TqorNFCeDanfceDados.h"
#include "platform/Files.h"
#include "platform/IniFile.h"
#include "platform/TStrings.h"
#include "platform/Xml.h"
#include "utils/Chave.h"
#include "utils/Notas.h"
#include "utils/QRCode.h"
#include "utils/Textos.h"
#include "utils/XmlLogs.h"

namespace qor::fuzz {

namespace {

// A key the log search looks for when the text names none of its own.
constexpr const char* kChavePadrao = "35190511222333000181650010000000411000012343";

TqorNFCeConverter& Conversor() {
  static const std::unique_ptr<TqorNFCeConverter> conversor = [] {
    auto c = std::make_unique<TqorNFCeConverter>();
    c->SetDiretorioTemplates(Componente().GetDiretorioTemplates());
    c->SetDiretorioLogErro(PastaLogErro());
    return c;
  }();
  return *conversor;
}

}  // namespace

int FuzzConverterLote(const uint8_t* data, size_t size) {
  Tolerando([&] {
    Componente().ConverterLoteParaXml(Texto(data, size), TLayoutConvKind::lkTXTDataSet,
                                      TVersaoEsquema::pl_009g);
  });
  PodarLogs();
  return 0;
}

int FuzzRespostaSoap(const uint8_t* data, size_t size) {
  const std::string resposta = Texto(data, size);
  Tolerando([&] {
    const std::string retorno = Componente().DesenveloparSoap(resposta);
    if (!IsValidXml(resposta)) {
      Confere(retorno == resposta, "a reply that is not XML must come back unchanged");
    }
    // What the operations read from the unwrapped reply.
    GetValueTag("cStat", retorno);
    ObterNumRecibo(retorno);
    std::string cStat;
    XPathSelectSingleNode(retorno, "//*[local-name()='infProt']/*[local-name()='cStat']", cStat, {},
                          false);
    std::vector<std::string> protocolos;
    XPathSelectNodes(retorno, "//*[local-name()='protNFe']", protocolos);
    for (const std::string& protNFe : protocolos) {
      GetValueTag("chNFe", protNFe);
      GetValueTag("digVal", protNFe);
    }
    for (const TTrechoNota& trecho : LocalizarNotas(retorno, true)) {
      Confere(trecho.inicio < retorno.size() &&
                  (trecho.fim == std::string::npos ||
                   (trecho.fim > trecho.inicio && trecho.fim <= retorno.size())),
              "a note's place must lie inside the text");
    }
  });
  PodarLogs();
  return 0;
}

int FuzzBuscaLogs(const uint8_t* data, size_t size) {
  const std::string texto = Texto(data, size);
  const std::string pasta = Pasta() + "Log/";
  const std::string nome = "1-env-lot.xml";
  std::filesystem::create_directories(pasta);
  SaveToFile(pasta + nome, texto);
  std::string chave = ObterNotaID(texto);
  if (chave.empty()) chave = kChavePadrao;
  const std::string logErro = PastaLogErro();

  Tolerando([&] { TqorNFCeXMLLogs::AchaNFCeAssinadaLogEnvio(chave, nome, pasta, logErro); });
  Tolerando([&] { TqorNFCeXMLLogs::AchaInfProtLogConsRec(chave, nome, pasta, logErro); });
  Tolerando([&] {
    const std::string infProt = TqorNFCeXMLLogs::AchaInfProtLogConsNF(chave, nome, pasta, logErro);
    if (!infProt.empty()) {
      Confere(GetValueTag("chNFe", infProt) == chave, "a protocol found for a key names that key",
              infProt);
    }
  });
  Tolerando([&] {
    TStrings lista;
    TqorNFCeXMLLogs::ListaChavesLogRecibo(nome, 100, &lista, pasta, logErro);
    TqorNFCeXMLLogs::ListaChavesLogEnv(nome, &lista, pasta, logErro);
  });
  Tolerando([&] {
    TStrings lista;
    TqorEventosXMLLogs::ListaChavesLogEnv(nome, &lista, pasta, logErro);
    TqorEventosXMLLogs::AchaInfChaveLogConsRec(chave, nome, pasta, logErro);
    TqorEventosXMLLogs::AchaEventosAssinadaLogEnvio("ID110111" + chave + "01", nome, pasta,
                                                    logErro);
  });
  PodarLogs();
  return 0;
}

int FuzzIniFile(const uint8_t* data, size_t size) {
  Tolerando([&] {
    const auto ini = TIniFile::FromText(Texto(data, size));
    TStrings secoes, chaves;
    ini->ReadSections(secoes);
    for (const std::string& secao : secoes.Lines()) {
      Confere(ini->SectionExists(secao), "a listed section exists", secao);
      ini->ReadSection(secao, chaves);
      for (const std::string& chave : chaves.Lines()) {
        Confere(ini->ValueExists(secao, chave), "a listed key exists", secao + "/" + chave);
        ini->ReadInteger(secao, chave, 0);
        ini->ReadBool(secao, chave, false);
      }
    }
    // What is written reads back to the same text.
    const std::string escrito = ini->Text();
    const std::string relido = TIniFile::FromText(escrito)->Text();
    Confere(relido == escrito, "an INI text written and read again is the same", escrito);
  });
  return 0;
}

int FuzzStringParse(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte gives the delimiter's length (1 to 3), the next bytes the delimiter.
  const size_t tamanho = std::min<size_t>(data[0] % 3 + 1, size - 1);
  const std::string delimitador = Texto(data + 1, tamanho);
  const std::string texto = Texto(data + 1 + tamanho, size - 1 - tamanho);
  Tolerando([&] {
    TqorStringParse lista;
    lista.SetDemiliter(delimitador);
    lista.SetText(texto);
    const std::string fechado = lista.GetText();
    const int quantos = lista.GetCount();
    if (!delimitador.empty()) {
      Confere(fechado.size() >= delimitador.size() &&
                  fechado.compare(fechado.size() - delimitador.size(), delimitador.size(),
                                  delimitador) == 0,
              "the stored text ends with its delimiter");
      Confere(quantos >= 1, "a closed text has at least one item");
    }
    // With one character there is no overlap: the items and their delimiters are the text.
    std::string junto;
    const int ate = std::min(quantos, 64);
    for (int i = 1; i <= ate; ++i) junto += lista.GetItem(i) + delimitador;
    if (delimitador.size() == 1 && quantos <= 64) {
      Confere(junto == fechado, "the items and their delimiters rebuild the text");
    }
    Confere(lista.GetItem(quantos + 1).empty() && lista.GetItem(0).empty(),
            "there is no item outside 1..count");

    const auto pedacos = SplitString(texto, delimitador);
    if (!texto.empty() && !delimitador.empty()) {
      const auto separadores =
          static_cast<size_t>(std::count_if(texto.begin(), texto.end(), [&](char c) {
            return delimitador.find(c) != std::string::npos;
          }));
      Confere(pedacos.size() == separadores + 1, "one more piece than delimiters");
    }
    ParametroAvancado(texto, delimitador);
    SemDeclaracoesXml(texto);
    EscaparNota(texto);
    RemoveCDATA(texto);
    EscapeCaracteres(texto);
    ValidaExisteLink(texto);
    ValidaAssinatura(texto);
    StrToHex(texto);
    HexToString(texto);
  });
  return 0;
}

int FuzzDecodeChave(const uint8_t* data, size_t size) {
  const std::string chave = Texto(data, size);
  for (TVersaoManual versao : {TVersaoManual::vm50, TVersaoManual::vm60}) {
    Tolerando([&] {
      const TqorDecodeChaveNFCe c = DecodeChave(chave, versao, PastaLogErro());
      Confere(c.cUF + c.AAMM + c.CNPJ + c.mod + c.serie + c.nNF + c.tpEmis + c.cNF + c.cDV == chave,
              "the fields of a key are the key", chave);
      ValidaAutenticidadeDV(chave, versao, PastaLogErro());
    });
  }
  PodarLogs();
  return 0;
}

int FuzzLinkQRCode(const uint8_t* data, size_t size) {
  static const TStrings parametros = [] {
    TStrings p;
    p.Add("URLSefazProd=https://www.nfce.fazenda.sp.gov.br/qrcode");
    p.Add("URLSefazHom=https://www.homologacao.nfce.fazenda.sp.gov.br/qrcode?");
    p.Add("IdTokenNFCe=000001");
    p.Add("TokenNFCe=0123456789ABCDEF0123456789ABCDEF0123");
    return p;
  }();
  Tolerando([&] {
    const TCamposQRCode campos = LerCamposQRCode(XmlDocument::Parse(Texto(data, size)));
    for (const char* modelo : {"", "100"}) {
      for (TVersaoManual versao : {TVersaoManual::vm50b, TVersaoManual::vm60}) {
        Tolerando([&] { MontaLinkQRCode(campos, parametros, modelo, versao, PastaLogErro()); });
      }
    }
  });
  PodarLogs();
  return 0;
}

int FuzzRespostaIntegrador(const uint8_t* data, size_t size) {
  Tolerando([&] {
    // As the Integrador road reads it: the state's SOAP reply inside, then unwrapped.
    Componente().DesenveloparSoap(Componente().PegaRespostaSefazIntegrador(Texto(data, size)));
  });
  PodarLogs();
  return 0;
}

int FuzzXmlParaDataSet(const uint8_t* data, size_t size) {
  Tolerando([&] {
    TStrings autorizacao;
    const auto dataSets =
        Conversor().ConvertXmlToDataSet(Texto(data, size), TVersaoEsquema::pl_009g, &autorizacao);
    // A note read back is written as TX2 and converted again, as the round trip does.
    const std::string tx2 = dataSets->GerarTX2();
    Conversor().ConvertToXml(tx2, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
  });
  PodarLogs();
  return 0;
}

int FuzzDadosDanfce(const uint8_t* data, size_t size) {
  for (bool validar : {true, false}) {
    Tolerando([&] {
      TqorNFCeDanfceDados60 dados;
      dados.SetDiretorioLogErro(PastaLogErro());
      dados.SetValidarRegrasNegocio(validar);
      dados.SetLineDelimiter("|");
      dados.SetXml(Texto(data, size));
      dados.PopulaDataSet("ParamsAvancados=textoLivre=Obrigado|volte sempre;VALORTROCO=1,00");
    });
  }
  PodarLogs();
  return 0;
}

unsigned long Respondidas() { return Completas(); }

std::span<const Alvo> Alvos() {
  static const Alvo alvos[] = {
      {"converter-lote", FuzzConverterLote},
      {"resposta-soap", FuzzRespostaSoap},
      {"busca-logs", FuzzBuscaLogs},
      {"ini", FuzzIniFile},
      {"string-parse", FuzzStringParse},
      {"decode-chave", FuzzDecodeChave},
      {"link-qrcode", FuzzLinkQRCode},
      {"resposta-integrador", FuzzRespostaIntegrador},
      {"xml-para-dataset", FuzzXmlParaDataSet},
      {"dados-danfce", FuzzDadosDanfce},
  };
  return alvos;
}

}  // namespace qor::fuzz
