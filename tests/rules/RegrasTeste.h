// Notes for the rule tests: the demo samples converted into a container, changed field by field.
#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "platform/Files.h"

namespace qor::test {

inline const std::string kBin = QORNFCE_BIN_DIR;
inline const std::string kDicionario = kBin + "/Templates/vm60/Conversor/NFCeDataSets.xml";
inline const std::string kExemplos = kBin + "/exemplos/";

// "AAAA-MM-DDThh:mm:ss-03:00" of an instant.
inline std::string EmBrasilia(std::chrono::system_clock::time_point instante) {
  const std::time_t t = std::chrono::system_clock::to_time_t(instante - std::chrono::hours(3));
  std::tm tm{};
  gmtime_r(&t, &tm);
  char texto[32];
  std::strftime(texto, sizeof texto, "%Y-%m-%dT%H:%M:%S-03:00", &tm);
  return texto;
}

// A sample converted (rules off), with dhEmi_B09 replaced by `dhEmi` when given.
inline std::unique_ptr<TqorNFCeDataSets> Amostra(const std::string& arquivo,
                                                 const std::string& dhEmi = {}) {
  std::string tx2 = LoadFromFile(kExemplos + arquivo);
  if (!dhEmi.empty()) {
    const std::size_t inicio = tx2.find("dhEmi_B09=");
    tx2.replace(inicio, tx2.find('\n', inicio) - inicio, "dhEmi_B09=" + dhEmi);
  }
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(kDicionario);
  parser.SetTXT(tx2);
  std::unique_ptr<TqorNFCeDataSets> ds;
  parser.Converter(ds);
  return ds;
}

// Places H (and so every item group) on item `n` (1-based).
inline void IrParaItem(TqorNFCeDataSets& ds, int n) {
  TXmlDataSetNFCe& h = ds.FindDataSet("H");
  h.First();
  for (int i = 1; i < n; ++i) h.Next();
}

// Applies changes written "[item:][+|!]campo=valor" or "-GRUPO": the item's records (the note's
// when no item is given); "+" writes into a new record of the field's group; "!" leaves the
// record unposted, as a host that has not saved it yet (how a required field reads empty);
// "-GRUPO" drops every record of the group. Consecutive changes of one group share a post.
inline void Aplicar(TqorNFCeDataSets& ds, const std::vector<std::string>& alteracoes) {
  TXmlDataSetNFCe* pendente = nullptr;
  bool postar = true;
  const auto fechar = [&] {
    if (pendente && postar && pendente->Editing()) pendente->Post();
    pendente = nullptr;
  };
  for (std::string alteracao : alteracoes) {
    if (const std::size_t dois = alteracao.find(':');
        dois != std::string::npos && dois < alteracao.find('=')) {
      fechar();
      IrParaItem(ds, std::stoi(alteracao.substr(0, dois)));
      alteracao.erase(0, dois + 1);
    }
    if (alteracao[0] == '-') {
      fechar();
      ds.FindDataSet(alteracao.substr(1)).Empty();
      continue;
    }
    const bool novo = alteracao[0] == '+';
    const bool semPost = alteracao[0] == '!';
    if (novo || semPost) alteracao.erase(0, 1);
    const std::size_t igual = alteracao.find('=');
    TqorNFCeXMLField& campo = ds.Campo(alteracao.substr(0, igual));
    TXmlDataSetNFCe& grupo = campo.DataSet();
    if (&grupo != pendente || novo) fechar();
    if (!grupo.Editing()) {
      if (novo || grupo.RecordCount() == 0) {
        grupo.Append();
      } else {
        grupo.Edit();
      }
    }
    // Written to the table as it is: the dataset refuses a number its type does not match, and
    // the rules must still cope with a reader that hands them one ("1,5").
    grupo.SetValue(campo.Index(), alteracao.substr(igual + 1));
    pendente = &grupo;
    postar = !semPost;
  }
  fechar();
}

}  // namespace qor::test
