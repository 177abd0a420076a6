// Text forms of the component's enumerations, as the configuration file, the print parameters
// and the request bodies write them, and back.
//
// The readers (StrTo...) compare ignoring ASCII case. An unknown text raises the exception of
// the enumeration with its message, logged in `logDir` (the component's DiretorioLogErro; empty
// means HomeDir()). The writers return an empty text for a value outside the
// enumeration.
//
// Thread-safe: pure functions.
#pragma once

#include <string>

#include "base/Types.h"

namespace qor {

// "pl_006n" ... "pl_009g". Unknown: EqorNFCeVersaoEsquemaInvalidaException.
TVersaoEsquema StrToVersaoEsquema(const std::string& text, const std::string& logDir = {});
std::string VersaoEsquemaToStr(TVersaoEsquema versao);

// "5.0", "5.0a", "5.0b", "6.0" for vm50..vm60. Unknown: EqorNFCeVersaoManualException.
TVersaoManual StrToVersaoManual(const std::string& text, const std::string& logDir = {});
std::string VersaoManualToStr(TVersaoManual versao);
// The layout version sent to the state: "3.00", "3.10", "3.10", "4.00".
std::string VersaoManualToVersaoSefaz(TVersaoManual versao);

// "MEMORY", "LOCALMACHINE", "FILE", "ACTIVEDIRECTORY", "SMARTCARD"; any other text (an empty
// one included) is ckFile, the only kind this system has a store for.
TCertificadoKind StrToTipoCertificado(const std::string& text);
std::string TipoCertificadoToString(TCertificadoKind kind);

// "NORMAL", "MENSAGEMELETRONICA". Unknown: EqorNFCeFormatoDanfceInvalidoException.
TFormatoDanfce StrToFormatoDanfce(const std::string& text, const std::string& logDir = {});
std::string FormatoDanfceToStr(TFormatoDanfce formato);

// tpAmb: "1" production, "2" homologation.
std::string GetTipoAmbiente(TAmbienteKind ambiente);
// tpAutor of an event: "1", "2", "3", "5", "6", "9".
std::string GetTipoAutor(TTipoAutor autor);
// True for the IBGE codes of the states (11-17, 21-29, 31-33, 35, 41-43, 50-53) and for 90
// (RFB) and 91 (the national environment).
bool ValidaOrgao(int orgao);

}  // namespace qor
