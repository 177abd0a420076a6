// The floor under the signing and schema targets: what libxml2 and OpenSSL alone take for the
// steps any tree-based signer and any libxml2 schema check must make on the same 10-item note,
// called directly, without the component, xmlsec or the platform layer. The component's own
// figures (bench_assinatura, bench_caminho) are read against these: where the floor alone is
// above a target, no work on our side can meet it.
//
//   Piso/ler-nota            parse the unsigned note into a tree
//   Piso/c14n-sha1-infNFe    canonical form (C14N 1.0) of infNFe into memory, and its SHA-1
//   Piso/gravar-nota         serialise the signed note's tree back to text
//   Piso/assinador-minimo    the four steps of the leanest signer: parse, canonicalise and
//                            digest infNFe, one RSA-SHA1 signature, serialise
//   Piso/validar-lote        libxml2's streaming schema check of the signed enviNFe, the schema
//                            compiled once
#include <benchmark/benchmark.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>
#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Amostras.h"
#include "Baseline.h"
#include "core/TqorNFCe.h"
#include "platform/Format.h"

namespace {

struct Notas {
  std::string semAssinatura;  // <NFe> holding the infNFe that was signed
  std::string assinada;       // the same note as AssinarNota returns it
  std::string enviNFe;        // the batch of the signed note
};

const Notas& NotasDeDezItens() {
  static const Notas notas = [] {
    qor::TqorNFCe nfce;
    qor::bench::Configurar(nfce);
    const std::string convertida =
        nfce.ConverterLoteParaXml(qor::bench::NotaComItens(10), qor::TLayoutConvKind::lkTXTDataSet,
                                  qor::TVersaoEsquema::pl_009g);
    Notas n;
    n.assinada = nfce.AssinarNota(convertida);
    // The note as signed (signing first takes accents out of the values), without Signature.
    n.semAssinatura = n.assinada.substr(0, n.assinada.find("</infNFe>") + 9) + "</NFe>";
    n.enviNFe = qor::Format(nfce.LoadTemplate("pedido_enviarnota.xml"), {"1", n.assinada, ""});
    return n;
  }();
  return notas;
}

using Documento = std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)>;

Documento Ler(const std::string& texto) {
  Documento doc(xmlReadMemory(texto.data(), static_cast<int>(texto.size()), nullptr, nullptr,
                              XML_PARSE_NONET),
                &xmlFreeDoc);
  if (!doc) throw std::runtime_error("nota ilegível");
  return doc;
}

xmlNodePtr InfNFe(xmlDocPtr doc) { return xmlFirstElementChild(xmlDocGetRootElement(doc)); }

// Visible: the node lies in the subtree of `raiz` (a namespace node counts by its element).
int NaSubarvore(void* raiz, xmlNodePtr node, xmlNodePtr parent) {
  for (xmlNodePtr n = node->type == XML_NAMESPACE_DECL ? parent : node; n != nullptr;
       n = n->parent) {
    if (n == raiz) return 1;
  }
  return 0;
}

// SHA-1 of the canonical form of infNFe; false when libxml2 fails.
bool DigerirInfNFe(xmlDocPtr doc, unsigned char (&digest)[EVP_MAX_MD_SIZE]) {
  xmlOutputBufferPtr saida = xmlAllocOutputBuffer(nullptr);
  const int escrito =
      xmlC14NExecute(doc, NaSubarvore, InfNFe(doc), XML_C14N_1_0, nullptr, 0, saida);
  unsigned int tamanho = 0;
  const bool ok =
      escrito >= 0 && EVP_Digest(xmlOutputBufferGetContent(saida), xmlOutputBufferGetSize(saida),
                                 digest, &tamanho, EVP_sha1(), nullptr) == 1;
  xmlOutputBufferClose(saida);
  return ok;
}

void BM_LerNota(benchmark::State& state) {
  const std::string& nota = NotasDeDezItens().semAssinatura;
  for (auto _ : state) benchmark::DoNotOptimize(Ler(nota).get());
}

// The DigestValue the component wrote into the signed note.
std::string DigestValueDaNota(const std::string& assinada) {
  const std::size_t inicio = assinada.find("<DigestValue>");
  const std::size_t fim = assinada.find("</DigestValue>");
  if (inicio == std::string::npos || fim == std::string::npos) return {};
  return assinada.substr(inicio + 13, fim - inicio - 13);
}

void BM_C14nSha1(benchmark::State& state) {
  const Documento doc = Ler(NotasDeDezItens().semAssinatura);
  unsigned char digest[EVP_MAX_MD_SIZE];
  // The floor digests what the signer digests: the same canonical bytes.
  unsigned char base64[64] = {};
  if (!DigerirInfNFe(doc.get(), digest) ||
      std::string(reinterpret_cast<char*>(base64), EVP_EncodeBlock(base64, digest, 20)) !=
          DigestValueDaNota(NotasDeDezItens().assinada)) {
    state.SkipWithError("o digest difere do da nota assinada");
    return;
  }
  for (auto _ : state) {
    if (!DigerirInfNFe(doc.get(), digest)) state.SkipWithError("C14N falhou");
    benchmark::DoNotOptimize(digest);
  }
}

void BM_GravarNota(benchmark::State& state) {
  const Documento doc = Ler(NotasDeDezItens().assinada);
  for (auto _ : state) {
    xmlChar* texto = nullptr;
    int tamanho = 0;
    xmlDocDumpMemory(doc.get(), &texto, &tamanho);
    benchmark::DoNotOptimize(texto);
    xmlFree(texto);
  }
}

void BM_AssinadorMinimo(benchmark::State& state) {
  const std::string& nota = NotasDeDezItens().semAssinatura;
  const std::string signedInfo(600, 'x');  // a canonical SignedInfo of the note's size
  std::vector<unsigned char> assinatura(512);
  unsigned char digest[EVP_MAX_MD_SIZE];
  for (auto _ : state) {
    const Documento doc = Ler(nota);
    if (!DigerirInfNFe(doc.get(), digest) ||
        !qor::bench::SignWithCompanyKey(signedInfo, assinatura)) {
      state.SkipWithError("assinatura falhou");
    }
    xmlChar* texto = nullptr;
    int tamanho = 0;
    xmlDocDumpMemory(doc.get(), &texto, &tamanho);
    benchmark::DoNotOptimize(texto);
    xmlFree(texto);
  }
}

void Silencio(void*, const char*, ...) {}

void BM_ValidarLote(benchmark::State& state) {
  const std::string& lote = NotasDeDezItens().enviNFe;
  const std::string xsd = qor::bench::EsquemaDoLote();
  xmlSchemaParserCtxtPtr parser = xmlSchemaNewParserCtxt(xsd.c_str());
  xmlSchemaPtr esquema = xmlSchemaParse(parser);
  xmlSchemaFreeParserCtxt(parser);
  if (esquema == nullptr) {
    state.SkipWithError("esquema ilegível");
    return;
  }
  xmlSchemaValidCtxtPtr ctx = xmlSchemaNewValidCtxt(esquema);
  xmlSchemaSetValidErrors(ctx, Silencio, Silencio, nullptr);
  for (auto _ : state) {
    xmlParserInputBufferPtr entrada = xmlParserInputBufferCreateMem(
        lote.data(), static_cast<int>(lote.size()), XML_CHAR_ENCODING_NONE);
    if (xmlSchemaValidateStream(ctx, entrada, XML_CHAR_ENCODING_NONE, nullptr, nullptr) != 0) {
      state.SkipWithError("o lote não passou no esquema");
    }
  }
  xmlSchemaFreeValidCtxt(ctx);
  xmlSchemaFree(esquema);
}

}  // namespace

int main(int argc, char** argv) {
  if (!qor::bench::EsquemasInstalados()) return 1;
  qor::bench::RegisterBaseline();
  benchmark::RegisterBenchmark("Piso/ler-nota", BM_LerNota);
  benchmark::RegisterBenchmark("Piso/c14n-sha1-infNFe", BM_C14nSha1);
  benchmark::RegisterBenchmark("Piso/gravar-nota", BM_GravarNota);
  benchmark::RegisterBenchmark("Piso/assinador-minimo", BM_AssinadorMinimo);
  benchmark::RegisterBenchmark("Piso/validar-lote", BM_ValidarLote);
  return qor::bench::RunWithRatios(argc, argv);
}
