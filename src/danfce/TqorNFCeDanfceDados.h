// The data of the DANFCE: one or more NFC-e documents turned into the eleven report data sets
// the layouts read, every value already display text in Brazilian Portuguese ("1.234,56").
//
// SetXml takes the input: one note or a batch, NFe or infNFe elements with or without the NF-e
// namespace, nfeProc documents, any of them wrapped in a root element. PopulaDataSet empties
// the data sets and fills them: one Dados record per note and, linked to it by nNF (the note's
// number zero-filled to nine digits), its items, volumes, referenced documents, payments,
// duplicates and observations. The input is parsed once; each note is read from its own
// elements, so every value of a record (the item count, the contingency data, urlChave)
// belongs to that record's note. Values are stored as plain text ("A & B"), never cut, but for
// TextoLivre (10000 characters).
//
// The version classes differ in what they check and read: TqorNFCeDanfceDados202 (signature
// required, every note printed as normal emission), 30 (protocol required for normal emission,
// contingency data), 40 (contingency phrase with its justification, CSOSN, freight mode text),
// 50, and 60 (urlChave, payments read from detPag). Use them; the base class is abstract.
//
// Refusals raise EqorNFCeReportException, logged in DiretorioLogErro; nothing is filled for the
// batch then.
//
// Not thread-safe: one object, and its data sets, per thread.
#pragma once

#include <string>

#include "platform/DataSet.h"
#include "platform/Xml.h"

namespace qor {

// One note of the input: its elements in the parsed document.
struct TNotaDanfce {
  const XmlElement* infNFe = nullptr;
  const XmlElement* nfe = nullptr;     // the NFe around infNFe, when there is one
  const XmlElement* proc = nullptr;    // the nfeProc around the note, when there is one
  const XmlElement* escopo = nullptr;  // what the note's values are read from (see PopulaDataSet)
};

class TqorNFCeDanfceDados {
 public:
  // Creates the eleven data sets with their fields, open and linked to Dados.
  TqorNFCeDanfceDados();
  virtual ~TqorNFCeDanfceDados();
  TqorNFCeDanfceDados(const TqorNFCeDanfceDados&) = delete;
  TqorNFCeDanfceDados& operator=(const TqorNFCeDanfceDados&) = delete;

  void SetXml(const std::string& xml) { xml_ = xml; }
  const std::string& GetXml() const { return xml_; }

  // Printed when tpAmb is 2.
  const std::string& GetFraseHomologacao() const { return fraseHomologacao_; }
  void SetFraseHomologacao(const std::string& v) { fraseHomologacao_ = v; }
  // Printed when tpEmis is not 1.
  const std::string& GetFraseContingencia() const { return fraseContingencia_; }
  void SetFraseContingencia(const std::string& v) { fraseContingencia_ = v; }
  // The EPEC authorisation (tpEmis 4) and its receipt time.
  const std::string& GetProtocoloEPEC() const { return protocoloEPEC_; }
  void SetProtocoloEPEC(const std::string& v) { protocoloEPEC_ = v; }
  const std::string& GetDataHoraEPEC() const { return dataHoraEPEC_; }
  void SetDataHoraEPEC(const std::string& v) { dataHoraEPEC_ = v; }
  // Marker of a line break inside free texts (infCpl, xProd, infAdProd); empty: none.
  const std::string& GetLineDelimiter() const { return lineDelimiter_; }
  void SetLineDelimiter(const std::string& v) { lineDelimiter_ = v; }
  // Check the input and print authorised notes from their nfeProc (default true); off, the
  // output is a preview.
  bool GetValidarRegrasNegocio() const { return validarRegrasNegocio_; }
  void SetValidarRegrasNegocio(bool v) { validarRegrasNegocio_ = v; }
  // Lines (default 7) and characters per line (default 68) of additional information on the
  // main page.
  int GetInfCplMaxRow() const { return infCplMaxRow_; }
  void SetInfCplMaxRow(int v) { infCplMaxRow_ = v; }
  int GetInfCplMaxCol() const { return infCplMaxCol_; }
  void SetInfCplMaxCol(int v) { infCplMaxCol_ = v; }
  bool GetImprimirVolume() const { return imprimirVolume_; }
  void SetImprimirVolume(bool v) { imprimirVolume_ = v; }
  bool GetExibirDetalhamento() const { return exibirDetalhamento_; }
  void SetExibirDetalhamento(bool v) { exibirDetalhamento_ = v; }
  bool GetExibirAcrescimoEDesconto() const { return exibirAcrescimoEDesconto_; }
  void SetExibirAcrescimoEDesconto(bool v) { exibirAcrescimoEDesconto_ = v; }
  const std::string& GetDiretorioLogErro() const { return diretorioLogErro_; }
  void SetDiretorioLogErro(const std::string& v) { diretorioLogErro_ = v; }
  bool GetImprimirTarjaCancelada() const { return imprimirTarjaCancelada_; }
  void SetImprimirTarjaCancelada(bool v) { imprimirTarjaCancelada_ = v; }
  bool GetInfCplQuebrarLinhaAut() const { return infCplQuebrarLinhaAut_; }
  void SetInfCplQuebrarLinhaAut(bool v) { infCplQuebrarLinhaAut_ = v; }
  bool GetImprimirFrete() const { return imprimirFrete_; }
  void SetImprimirFrete(bool v) { imprimirFrete_ = v; }
  bool GetImprimirFreteProduto() const { return imprimirFreteProduto_; }
  void SetImprimirFreteProduto(bool v) { imprimirFreteProduto_ = v; }

  // Fills every data set from the input. `params` holds "name=value" lines (the print
  // parameters); only ParamsAvancados is read: ";"-separated pairs, of which textoLivre ("|" a
  // line break), IDENTIFICACAOVIA, QRCodeLateral, VALORTROCO and VALORRECEBIDO are used.
  void PopulaDataSet(const std::string& params);
  void LimparDataSets();

  TqorDataSet& Dados() { return dados_; }
  TqorDataSet& DadosItens() { return itens_; }
  TqorDataSet& Vol() { return vol_; }
  TqorDataSet& DadosCobranca() { return cobranca_; }
  TqorDataSet& DadosNFeReferenciada() { return nfeRef_; }
  TqorDataSet& DadosNF1AReferenciada() { return nf1aRef_; }
  TqorDataSet& DadosNFProdutorRuralReferenciada() { return nfpRef_; }
  TqorDataSet& DadosCupomFiscalReferenciado() { return cupomRef_; }
  TqorDataSet& DadosCTeReferenciado() { return cteRef_; }
  TqorDataSet& DadosPagamentos() { return pagamentos_; }
  TqorDataSet& InfAdicObsFisco() { return obsFisco_; }

  // The IBGE code of a state ("SP" -> "35", "EX" -> "99"); empty when unknown.
  static std::string GetUFCode(const std::string& uf);

 protected:
  // The operations the version classes change. Each fills the current record of its data set
  // (Dados in insert for the note's values; DadosItens in insert for an item).
  virtual void GetDadosItem(const XmlElement& det, const std::string& nItem);
  virtual void GetDadosChaveNF(const TNotaDanfce& nota);
  virtual void GetDadosTransp(const XmlElement* transp);
  virtual void GetDadosIdNF(const TNotaDanfce& nota);
  // Raises on a note that may not be printed; called for every note before anything is filled.
  virtual void ValidarXmlEntrada(const TNotaDanfce& nota) = 0;
  // The note's type of emission as a number.
  virtual int GetTpEmis(const TNotaDanfce& nota) const = 0;
  // Appends the note's InfAdicObsFisco records.
  virtual void GetDadosInfAdicObsFisco(const XmlElement& infNFe);
  // Whether payments are the detPag groups (true) or the pag groups.
  virtual bool PagamentosPorDetPag() const { return false; }

  // Raises EqorNFCeReportException with `mensagem`, logged in DiretorioLogErro.
  [[noreturn]] void Recusa(const std::string& mensagem) const;
  void Set(const char* campo, std::string valor) { dados_.SetValue(campo, std::move(valor)); }
  const std::string& Get(const char* campo) const { return dados_.Value(campo); }
  void SetItem(const char* campo, std::string valor) { itens_.SetValue(campo, std::move(valor)); }

 private:
  struct TParametros;
  void PreencheNota(const TNotaDanfce& nota, const TParametros& parametros);
  void PreencheEmitenteDestinatario(const XmlElement& infNFe);
  void PreencheTotais(const XmlElement& infNFe);
  void PreencheVolumes(const XmlElement* transp, std::string& linhasVolume);
  void PreencheAdicionais(const XmlElement& infNFe, const std::string& linhasVolume);
  void PreencheDetalhes(const XmlElement& infNFe, const TParametros& parametros);
  void PreenchePagamentos(const XmlElement& infNFe, const TParametros& parametros);

  std::string xml_;
  std::string fraseHomologacao_, fraseContingencia_, protocoloEPEC_, dataHoraEPEC_;
  std::string lineDelimiter_, diretorioLogErro_;
  bool validarRegrasNegocio_ = true;
  int infCplMaxRow_ = 7;
  int infCplMaxCol_ = 68;
  bool imprimirVolume_ = false, exibirDetalhamento_ = false, exibirAcrescimoEDesconto_ = false;
  bool imprimirTarjaCancelada_ = false, infCplQuebrarLinhaAut_ = false;
  bool imprimirFrete_ = false, imprimirFreteProduto_ = false;

 protected:
  // The EPEC protocol of the note being filled: ProtocoloEPEC / DataHoraEPEC, or the nfeProc's
  // own nProt / dhRecbto when a contingency note (tpEmis 4) comes with its protocol.
  std::string protocoloEPECNota_, dataHoraEPECNota_;

 private:
  TqorDataSet dados_{"Dados"}, itens_{"DadosItens"}, vol_{"vol"}, cobranca_{"DadosCobranca"};
  TqorDataSet nfeRef_{"DadosNFeReferenciada"}, nf1aRef_{"DadosNF1AReferenciada"};
  TqorDataSet nfpRef_{"DadosNFProdutorRuralReferenciada"};
  TqorDataSet cupomRef_{"DadosCupomFiscalReferenciado"}, cteRef_{"DadosCTeReferenciado"};
  TqorDataSet pagamentos_{"DadosPagamentos"}, obsFisco_{"InfAdicObsFisco"};
};

// Manual 2.02: a signed note is required; every note prints as normal emission.
class TqorNFCeDanfceDados202 : public TqorNFCeDanfceDados {
 protected:
  void ValidarXmlEntrada(const TNotaDanfce& nota) override;
  int GetTpEmis(const TNotaDanfce& nota) const override;
  void GetDadosIdNF(const TNotaDanfce& nota) override;
  void GetDadosTransp(const XmlElement* transp) override;
};

// Manual 3.0: normal emission needs the authorisation; contingency data and EPEC protocol.
class TqorNFCeDanfceDados30 : public TqorNFCeDanfceDados202 {
 protected:
  void ValidarXmlEntrada(const TNotaDanfce& nota) override;
  int GetTpEmis(const TNotaDanfce& nota) const override;
  void GetDadosIdNF(const TNotaDanfce& nota) override;
  void GetDadosChaveNF(const TNotaDanfce& nota) override;
};

// Manual 4.0: exit time, contingency justification, CSOSN, freight mode description.
class TqorNFCeDanfceDados40 : public TqorNFCeDanfceDados30 {
 protected:
  void GetDadosIdNF(const TNotaDanfce& nota) override;
  void GetDadosItem(const XmlElement& det, const std::string& nItem) override;
  void GetDadosTransp(const XmlElement* transp) override;
};

class TqorNFCeDanfceDados50 : public TqorNFCeDanfceDados40 {};

// Manual 6.0: urlChave, payments read from detPag.
class TqorNFCeDanfceDados60 : public TqorNFCeDanfceDados50 {
 protected:
  void GetDadosIdNF(const TNotaDanfce& nota) override;
  bool PagamentosPorDetPag() const override { return true; }
};

}  // namespace qor
