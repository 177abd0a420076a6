// qornfce cancelar, cancelar-substituicao, inutilizar and epec: the events and the voiding.
#include <iostream>
#include <set>

#include "Commands.h"
#include "ComponentOptions.h"
#include "core/TqorNFCe.h"
#include "utils/DataHora.h"

namespace qor::cli {

namespace {

std::set<std::string> Valoradas(std::initializer_list<const char*> proprias) {
  std::set<std::string> todas = ComponentValuedOptions();
  todas.insert(proprias.begin(), proprias.end());
  return todas;
}

TTipoAutor TipoAutor(const std::string& valor) {
  static const std::pair<const char*, TTipoAutor> kTipos[] = {
      {"1", TTipoAutor::taEmpresaEmitente},
      {"2", TTipoAutor::taEmpresaDestinataria},
      {"3", TTipoAutor::taEmpresa},
      {"5", TTipoAutor::taFisco},
      {"6", TTipoAutor::taRFB},
      {"9", TTipoAutor::taOutrosOrgaos}};
  for (const auto& [codigo, tipo] : kTipos) {
    if (valor == codigo) return tipo;
  }
  throw UsageError("valor inválido para --tipo-autor: " + valor + " (use 1, 2, 3, 5, 6 ou 9)");
}

int Cancelar(int argc, char** argv, bool substituicao) {
  const Options options(
      argc, argv, 2,
      Valoradas({"data", "seq", "fuso", "lote", "orgao-autor", "tipo-autor", "ver-aplic"}),
      ComponentFlags());
  const auto& args = options.Positional();
  if (args.size() != (substituicao ? 4u : 3u)) {
    throw UsageError(substituicao ? "informe CHAVE PROTOCOLO JUSTIFICATIVA CHAVE-REF"
                                  : "informe CHAVE PROTOCOLO JUSTIFICATIVA");
  }
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  const int seq = options.GetInt("seq", 1);
  std::cout << (substituicao
                    ? nfce.CancelarNFSubstituicao(
                          args[0], args[1], args[2], options.Get("data"), seq, options.Get("fuso"),
                          options.Get("orgao-autor", nfce.GetLocalCode()),
                          options.Get("ver-aplic", "qornfce"), args[3],
                          TipoAutor(options.Get("tipo-autor", "1")), options.Get("lote"))
                    : nfce.CancelarNF(args[0], args[1], args[2], options.Get("data"), seq,
                                      options.Get("fuso"), options.Get("lote")))
            << "\n";
  return 0;
}

}  // namespace

int RunCancelar(int argc, char** argv) { return Cancelar(argc, argv, false); }
int RunCancelarSubstituicao(int argc, char** argv) { return Cancelar(argc, argv, true); }

int RunInutilizar(int argc, char** argv) {
  const Options options(argc, argv, 2, ComponentValuedOptions(), ComponentFlags());
  const auto& a = options.Positional();
  if (a.size() != 7) {
    throw UsageError("informe ANO CNPJ MODELO SERIE INICIAL FINAL JUSTIFICATIVA");
  }
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::cout << nfce.InutilizarNF("", a[0], a[1], a[2], a[3], a[4], a[5], a[6]) << "\n";
  return 0;
}

int RunEpec(int argc, char** argv) {
  const Options options(argc, argv, 2, Valoradas({"lote", "data"}), ComponentFlags());
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo das notas (ou - )");
  const std::string notas = ReadInput(options.Positional()[0]);
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  std::string data = options.Get("data");
  if (data.empty()) data = DataHoraAtualComFuso();
  const std::string lote = nfce.AssinarEPEC(nfce.MontarEPEC(options.Get("lote", "1"), notas, data));
  std::cout << nfce.EnviarEPEC(lote) << "\n";
  return 0;
}

}  // namespace qor::cli
