// qornfce converter-txt ARQ.txt [--versao V]: a note in the positional TXT layout converted into
// XML by the dictionaries of the template folder; "-" reads standard input.
// qornfce gerar-notas QTD CUF CNPJ [--versao V]: QTD test notes from the template "template.txt",
// one per line.
#include <iostream>
#include <string>

#include "Commands.h"
#include "ComponentOptions.h"
#include "conversion/TqorNFCeConvDic.h"
#include "core/TqorNFCe.h"

namespace qor::cli {

namespace {
// The converter with the template and error-log folders of the configuration and options.
Options Preparar(int argc, char** argv, TqorNFCeConvDic& conversor) {
  auto valued = ComponentValuedOptions();
  valued.insert("versao");
  Options options(argc, argv, 2, valued, ComponentFlags());
  TqorNFCe nfce;
  ApplyComponentOptions(options, nfce);
  conversor.SetDiretorioTemplates(nfce.GetDiretorioTemplates());
  conversor.SetDiretorioLogErro(nfce.GetDiretorioLogErro());
  return options;
}
}  // namespace

int RunConverterTxt(int argc, char** argv) {
  TqorNFCeConvDic conversor;
  const Options options = Preparar(argc, argv, conversor);
  if (options.Positional().size() != 1) throw UsageError("informe o arquivo TXT");
  const std::string versao = options.Get("versao", "2.00");
  std::cout << conversor.ConverterTexto(ReadInput(options.Positional()[0]), versao) << "\n";
  return 0;
}

int RunGerarNotas(int argc, char** argv) {
  TqorNFCeConvDic conversor;
  const Options options = Preparar(argc, argv, conversor);
  const auto& args = options.Positional();
  if (args.size() != 3) throw UsageError("informe QTD CUF CNPJ");
  int quantidade = 0;
  try {
    std::size_t usados = 0;
    quantidade = std::stoi(args[0], &usados);
    if (usados != args[0].size()) throw std::invalid_argument(args[0]);
  } catch (const std::logic_error&) {
    throw UsageError("QTD deve ser um número: " + args[0]);
  }
  std::cout << conversor.GeraNFs_Random(quantidade, args[1], args[2],
                                        options.Get("versao", "2.00"));
  return 0;
}

}  // namespace qor::cli
