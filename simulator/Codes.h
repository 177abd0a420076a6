// cStat and xMotivo of the NF-e standard's code table that the simulator answers with. Texts are
// the standard's, accents included: a client that compares them must see what a state service
// sends.
#pragma once

#include <string_view>

namespace qor::sim {

struct Outcome {
  std::string_view cStat;
  std::string_view xMotivo;
};

namespace codes {
inline constexpr Outcome k100{"100", "Autorizado o uso da NF-e"};
inline constexpr Outcome k101{"101", "Cancelamento de NF-e homologado"};
inline constexpr Outcome k102{"102", "Inutilização de número homologado"};
inline constexpr Outcome k103{"103", "Lote recebido com sucesso"};
inline constexpr Outcome k104{"104", "Lote processado"};
inline constexpr Outcome k105{"105", "Lote em processamento"};
inline constexpr Outcome k106{"106", "Lote não localizado"};
inline constexpr Outcome k107{"107", "Serviço em Operação"};
inline constexpr Outcome k128{"128", "Lote de Evento Processado"};
inline constexpr Outcome k135{"135", "Evento registrado e vinculado a NF-e"};
inline constexpr Outcome k136{"136", "Evento registrado, mas não vinculado a NF-e"};
// A cancellation registered after the deadline the state allows (SetPrazoCancelamento): still a
// registration, with its protocol, and the note is cancelled.
inline constexpr Outcome k155{"155", "Cancelamento homologado fora de prazo"};
// 204, 205 and 539 name the receipt of the batch that brought the note already in the base
// (and 539 its key): the standard appends " [nRec:...]" and " [chNFe: ...][nRec:...]" to these
// texts when the receipt is known.
inline constexpr Outcome k204{"204", "Rejeição: Duplicidade de NF-e"};
inline constexpr Outcome k205{"205", "Rejeição: NF-e está denegada na base de dados da SEFAZ"};
inline constexpr Outcome k206{"206",
                              "Rejeição: NF-e já está inutilizada na Base de dados da SEFAZ"};
inline constexpr Outcome k213{"213",
                              "Rejeição: CNPJ-Base do Emitente difere do CNPJ-Base do Certificado "
                              "Digital"};
inline constexpr Outcome k215{"215", "Rejeição: Falha no schema XML"};
inline constexpr Outcome k217{"217", "Rejeição: NF-e não consta na base de dados da SEFAZ"};
inline constexpr Outcome k218{"218", "Rejeição: NF-e já está cancelada na base de dados da SEFAZ"};
inline constexpr Outcome k222{"222",
                              "Rejeição: Protocolo de Autorização de Uso difere do cadastrado"};
inline constexpr Outcome k225{"225", "Rejeição: Falha no Schema XML do lote de NFe"};
inline constexpr Outcome k226{"226",
                              "Rejeição: Código da UF do Emitente diverge da UF autorizadora"};
inline constexpr Outcome k236{"236", "Rejeição: Chave de Acesso com dígito verificador inválido"};
inline constexpr Outcome k238{"238",
                              "Rejeição: Cabeçalho - Versão do arquivo XML superior a Versão "
                              "vigente"};
inline constexpr Outcome k239{"239", "Rejeição: Cabeçalho - Versão do arquivo XML não suportada"};
inline constexpr Outcome k241{"241", "Rejeição: Um número da faixa já foi utilizado"};
inline constexpr Outcome k242{"242", "Rejeição: Elemento nfeCabecMsg inexistente no SOAP Header"};
inline constexpr Outcome k244{"244", "Rejeição: Falha na descompactação da área de dados"};
inline constexpr Outcome k252{"252",
                              "Rejeição: Ambiente informado diverge do Ambiente de recebimento"};
inline constexpr Outcome k253{"253",
                              "Rejeição: Digito Verificador da chave de acesso composta "
                              "inválida"};
inline constexpr Outcome k256{"256",
                              "Rejeição: Uma NF-e da faixa já está inutilizada na Base de dados "
                              "da SEFAZ"};
inline constexpr Outcome k293{"293",
                              "Rejeição: Certificado Assinatura - erro Cadeia de Certificação"};
inline constexpr Outcome k297{"297", "Rejeição: Assinatura difere do calculado"};
// A denial is not a rejection: the note is kept, with this protocol, and its number is spent.
inline constexpr Outcome k302{"302", "Uso Denegado: Irregularidade fiscal do destinatário"};
inline constexpr Outcome k404{"404", "Rejeição: Uso de prefixo de namespace não permitido"};
inline constexpr Outcome k409{"409",
                              "Rejeição: Campo cUF inexistente no elemento nfeCabecMsg do SOAP "
                              "Header"};
inline constexpr Outcome k410{"410",
                              "Rejeição: UF informada no campo cUF não é atendida pelo Web "
                              "Service"};
inline constexpr Outcome k411{"411",
                              "Rejeição: Campo versaoDados inexistente no elemento nfeCabecMsg do "
                              "SOAP Header"};
inline constexpr Outcome k452{"452",
                              "Rejeição: Solicitada resposta síncrona para Lote com mais de uma "
                              "NF-e (indSinc=1)"};
inline constexpr Outcome k453{"453",
                              "Rejeição: Ano de inutilização não pode ser superior ao Ano atual"};
inline constexpr Outcome k454{"454", "Rejeição: Ano de inutilização não pode ser inferior a 2006"};
// Also the answer to a cancellation by substitution (110112) whose chNFeRef is not an NFC-e
// authorised to the same emitter in the same environment: the simulator knows no more specific
// code for that rule.
inline constexpr Outcome k494{"494", "Rejeição: Chave de Acesso inexistente"};
inline constexpr Outcome k502{"502",
                              "Rejeição: Erro na Chave de Acesso - Campo Id não corresponde à "
                              "concatenação dos campos correspondentes"};
inline constexpr Outcome k539{"539",
                              "Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso"};
inline constexpr Outcome k572{"572",
                              "Rejeição: Erro Atributo ID do evento não corresponde a concatenação "
                              "dos campos (\"ID\" + tpEvento + chNFe + nSeqEvento)"};
inline constexpr Outcome k573{"573", "Rejeição: Duplicidade de Evento"};
}  // namespace codes

// verAplic of every reply.
inline constexpr std::string_view kVerAplic = "SIM-QORNFCE-1.0";

}  // namespace qor::sim
