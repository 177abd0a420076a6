#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "ComponentOptions.h"
#include "SimulatorCommand.h"
#include "platform/Files.h"

namespace qor::cli {

namespace {

// The help of a subcommand that takes the component's options: its own text, then those.
std::string ComOpcoes(const std::string& texto) { return texto + "\n" + ComponentOptionsHelp(); }

constexpr const char* kEnvioArgumentos =
    "LOTE é o número do lote (idLote); ARQ.xml as notas assinadas (\"-\": entrada\n"
    "padrão), como \"qornfce assinar\" as escreve. --compactar envia o lote em\n"
    "nfeDadosMsgZip (gzip + Base64).\n";

// The simulator and the demo run a TLS server in their process, and that server's library starts
// OpenSSL's TLS layer (its error texts, every cipher) as soon as it is loaded. They are programs
// of their own beside this one, which these two subcommands replace the process with, so that
// the other subcommands, which a till may run once per sale, do not pay for it. Returns only
// when the program could not be run.
int Substituir(const std::string& programa, std::vector<char*> args) {
  const std::string caminho = ExecutableDir() + programa;
  args.push_back(nullptr);
  ::execv(caminho.c_str(), args.data());
  const int erro = errno;
  std::cerr << "qornfce: não foi possível executar " << caminho << ": " << std::strerror(erro)
            << "\n";
  return 1;
}

// The simulator names itself in its messages after argv[0]; here it is a subcommand.
int RunSimulador(int argc, char** argv) {
  std::string nome = "qornfce simulador";
  std::vector<char*> args(argv + 1, argv + argc);
  args[0] = nome.data();
  return Substituir("qornfce-simulador", args);
}

// qornfce-demo reads the same line (argv[1] "demo").
int RunDemoAParte(int argc, char** argv) {
  return Substituir("qornfce-demo", std::vector<char*>(argv, argv + argc));
}

std::vector<Command> Tabela() {
  return {
      {"status", "consulta o status do serviço da SEFAZ da UF configurada",
       ComOpcoes("uso: qornfce status [opções]\n"
                 "Consulta o status do serviço (consStatServ) e escreve a resposta da SEFAZ.\n"),
       RunStatus},
      {"enviar", "envia um lote de NFC-e assinadas (assíncrono): LOTE ARQ.xml [--compactar]",
       ComOpcoes(std::string("uso: qornfce enviar LOTE ARQ.xml [--compactar] [opções]\n"
                             "Envia um lote de NFC-e assinadas (enviNFe, indSinc 0) e escreve a\n"
                             "resposta da SEFAZ com o número do recibo.\n") +
                 kEnvioArgumentos),
       RunEnviar},
      {"enviar-sincrono", "envia uma NFC-e assinada (síncrono): LOTE ARQ.xml [--compactar]",
       ComOpcoes(std::string("uso: qornfce enviar-sincrono LOTE ARQ.xml [--compactar] [opções]\n"
                             "Envia uma NFC-e assinada para autorização síncrona (indSinc 1) e\n"
                             "escreve a resposta da SEFAZ com o protocolo.\n") +
                 kEnvioArgumentos),
       RunEnviarSincrono},
      {"consultar-recibo", "consulta o processamento de um lote: RECIBO",
       ComOpcoes("uso: qornfce consultar-recibo RECIBO [opções]\n"
                 "Consulta o processamento do lote de recibo RECIBO (15 dígitos) e escreve a\n"
                 "resposta da SEFAZ; grava o XML de distribuição das notas autorizadas.\n"),
       RunConsultarRecibo},
      {"cancelar", "cancela uma NFC-e autorizada: CHAVE PROTOCOLO JUSTIFICATIVA",
       ComOpcoes("uso: qornfce cancelar CHAVE PROTOCOLO JUSTIFICATIVA [--data DH] [--seq N]\n"
                 "       [--fuso ±HH:MM] [--lote ID] [opções]\n"
                 "Registra o evento de cancelamento (110111) da NFC-e de chave CHAVE e\n"
                 "protocolo de autorização PROTOCOLO e escreve a resposta da SEFAZ; um\n"
                 "cancelamento registrado grava CHAVE-caneve.xml na pasta do destinatário.\n"
                 "JUSTIFICATIVA: 15 a 255 caracteres. --data: a data e hora do evento\n"
                 "(padrão: agora); --fuso: padrão -03:00; --seq: padrão 1; --lote: padrão 1.\n"),
       RunCancelar},
      {"cancelar-substituicao", "cancela por substituição: CHAVE PROTOCOLO JUSTIFICATIVA CHAVE-REF",
       ComOpcoes("uso: qornfce cancelar-substituicao CHAVE PROTOCOLO JUSTIFICATIVA CHAVE-REF\n"
                 "       [--data DH] [--seq N] [--fuso ±HH:MM] [--lote ID] [--orgao-autor N]\n"
                 "       [--tipo-autor 1|2|3|5|6|9] [--ver-aplic TEXTO] [opções]\n"
                 "Registra o evento de cancelamento por substituição (110112) da NFC-e CHAVE,\n"
                 "substituída pela NFC-e CHAVE-REF. --orgao-autor: padrão o cUF da UF;\n"
                 "--tipo-autor: padrão 1 (empresa emitente); --ver-aplic: padrão qornfce.\n"),
       RunCancelarSubstituicao},
      {"inutilizar",
       "inutiliza uma faixa de números: ANO CNPJ MODELO SERIE INICIAL FINAL JUSTIFICATIVA",
       ComOpcoes("uso: qornfce inutilizar ANO CNPJ MODELO SERIE INICIAL FINAL JUSTIFICATIVA\n"
                 "       [opções]\n"
                 "Inutiliza os números INICIAL a FINAL da SERIE (inutNFe) e escreve a\n"
                 "resposta da SEFAZ; uma inutilização homologada grava ID-inut.xml na pasta do\n"
                 "destinatário. ANO: dois dígitos (26).\n"),
       RunInutilizar},
      {"epec", "registra o EPEC das notas de um arquivo: NOTAS.xml [--lote ID] [--data DH]",
       ComOpcoes("uso: qornfce epec NOTAS.xml [--lote ID] [--data DH] [opções]\n"
                 "Monta, assina e envia um evento EPEC (110140) por NFC-e de NOTAS.xml (\"-\":\n"
                 "entrada padrão) e escreve a resposta da SEFAZ como recebida; cada evento\n"
                 "registrado grava CHAVE-epec.xml na pasta do destinatário. --data: padrão\n"
                 "agora, com o fuso da máquina; --lote: padrão 1.\n"),
       RunEpec},
      {"danfce", "gera o DANFCE de uma NFC-e: ARQ.xml --formato pdf|html|txt|png|escpos",
       ComOpcoes("uso: qornfce danfce ARQ.xml [--formato pdf|html|txt|png|escpos] [--saida ARQ]\n"
                 "       [--largura 58|80] [opções]\n"
                 "Gera o DANFCE da NFC-e autorizada de ARQ.xml (o nfeProc; \"-\": entrada padrão)\n"
                 "e escreve o caminho do arquivo gerado. --formato: padrão pdf; png é a imagem da\n"
                 "pré-visualização; escpos grava o cupom para impressora térmica (comandos\n"
                 "ESC/POS) em --saida ou, sem ela, na porta ESCPOS.PortaEscPos configurada.\n"
                 "--saida: padrão CHAVE.<extensão> na pasta atual. --largura: a bobina em mm\n"
                 "(padrão 80).\n"),
       RunDanfce},
      {"enviar-email", "envia por email o XML e o DANFCE de uma NFC-e: ARQ.xml|CHAVE DESTINATARIO",
       ComOpcoes("uso: qornfce enviar-email ARQ.xml|CHAVE DESTINATARIO [opções]\n"
                 "Envia ao DESTINATARIO (vários separados por \";\") o XML de distribuição\n"
                 "ARQ.xml (o nfeProc) ou, dada a CHAVE, o CHAVE.xml ou CHAVE-nfce.xml da pasta do\n"
                 "destinatário, com o DANFCE em PDF quando MAIL.AnexarDanfcePDF (padrão). O\n"
                 "servidor, o remetente, o assunto e a mensagem vêm da seção MAIL da\n"
                 "configuração (ServidorSmtp, Porta, EmailRemetente, Usuario, Senha, ...).\n"),
       RunEnviarEmail},
      {"consultar", "consulta a situação de uma NFC-e na SEFAZ: CHAVE",
       ComOpcoes("uso: qornfce consultar CHAVE [opções]\n"
                 "Consulta a situação da NFC-e de chave de acesso CHAVE (consSitNFe) e escreve\n"
                 "a resposta da SEFAZ.\n"),
       RunConsultar},
      {"validar", "valida um XML pelo esquema de um comando: ARQ.xml COMANDO (ex.: STATUS)",
       ComOpcoes("uso: qornfce validar ARQ.xml COMANDO [opções]\n"
                 "Valida o XML pelo esquema do COMANDO no Mapping.txt da pasta de esquemas\n"
                 "(ENVIO, CONSULTARECIBO, CONSULTANF, INUTILIZACAO, STATUS, XMLDESTINATARIO,\n"
                 "ENVIOCANCEVENTO, ENVIOCANCEVENTOSUBSTITUICAO), ou pelo que o próprio XML\n"
                 "indica em schemaLocation. Um XML inválido sai com 1 e o relatório em stderr.\n"),
       RunValidar},
      {"configurar", "grava valores no arquivo de configuração ou o mostra (--mostrar)",
       "uso: qornfce configurar SECAO.CHAVE=VALOR ... [--config ARQ.ini]\n"
       "     qornfce configurar --mostrar [--config ARQ.ini]\n"
       "\n"
       "Grava cada valor no arquivo de configuração (padrão: nfceConfig.ini ao lado do\n"
       "executável; criado quando não existe) passando pela propriedade do componente que o lê,\n"
       "de modo que PinCode, TokenNFCe e IdTokenNFCe ficam protegidos no arquivo. SECAO é a seção\n"
       "principal (NFCE) ou INTEGRADOR, MAIL, DANFCE, ESCPOS. Exemplo:\n"
       "  qornfce configurar NFCE.UF=SP DANFCE.IdTokenNFCe=000001 DANFCE.TokenNFCe=...\n"
       "\n"
       "  --mostrar      escreve a configuração em vigor, com senhas, PIN, CSC e CSRT mascarados\n"
       "  --config ARQ   arquivo de configuração\n",
       RunConfigurar},
      {"converter",
       "converte um lote TX2 em XML de NFC-e: ARQ.tx2 (- lê stdin) [--esquema pl_009g]",
       ComOpcoes("uso: qornfce converter ARQ.tx2 [--esquema pl_009g] [opções]\n"
                 "Converte o lote TX2 (\"-\" lê a entrada padrão) em XML de NFC-e e escreve as\n"
                 "notas, uma por linha, sem assinatura (o dicionário vem de\n"
                 "Templates/<versão>/Conversor/NFCeDataSets.xml).\n"
                 "Esquemas: pl_006n ... pl_008i1, pl_009, pl_009g (padrão).\n"),
       RunConverter},
      {"converter-txt", "converte uma NFC-e do leiaute TXT posicional em XML: ARQ.txt",
       ComOpcoes(
           "uso: qornfce converter-txt ARQ.txt [--versao V] [opções]\n"
           "Converte a nota do leiaute TXT (blocos C|, D|, R|; \"-\" lê a entrada padrão)\n"
           "em XML pelos dicionários de Templates/<versão>/Conversor. --versao: padrão 2.00.\n"),
       RunConverterTxt},
      {"gerar-notas", "gera notas de teste pelo template.txt: QTD CUF CNPJ [--versao V]",
       ComOpcoes("uso: qornfce gerar-notas QTD CUF CNPJ [--versao V] [opções]\n"
                 "Gera QTD notas do template.txt do conversor com o cUF e o CNPJ dados e nNF\n"
                 "aleatório, e escreve uma nota por linha. --versao: padrão 2.00.\n"),
       RunGerarNotas},
      {"converter-xml", "lê a primeira NFC-e de um XML e a escreve em TX2: ARQ.xml (- lê stdin)",
       ComOpcoes("uso: qornfce converter-xml ARQ.xml [--esquema pl_009g] "
                 "[--formato tx2|xml|autorizacao] [opções]\n"
                 "Lê a primeira nota do XML (nota, NFe assinada ou nfeProc; \"-\" lê a entrada\n"
                 "padrão) nos datasets e escreve o TX2 que o comando converter lê (padrão), o XML\n"
                 "da nota gerado de novo pelos datasets (xml) ou as oito linhas nome=valor do\n"
                 "protocolo de autorização (autorizacao).\n"),
       RunConverterXml},
      {"assinar", "assina as NFC-e de um XML e escreve uma NFe por linha: ARQ.xml (- lê stdin)",
       ComOpcoes(
           "uso: qornfce assinar ARQ.xml [opções]\n"
           "Assina as NFC-e do arquivo (um lote enviNFe, uma NFe, ou as notas que o comando\n"
           "converter escreve, uma por linha; \"-\" lê a entrada padrão) e escreve cada NFe\n"
           "assinada, com seu infNFeSupl (QR Code e, no manual 6.0, urlChave), em uma linha.\n"
           "Certificado, UF, arquivos de servidores, CSC (DANFCE.IdTokenNFCe/TokenNFCe) e\n"
           "CSRT (NFCE.IdCSRT/CSRT) vêm da configuração e das opções.\n"),
       RunAssinar},
      {"assinar-evento", "assina os eventos (infEvento) de um XML, um por linha: ARQ.xml",
       ComOpcoes(
           "uso: qornfce assinar-evento ARQ.xml [opções]\n"
           "Assina cada infEvento do arquivo (\"-\" lê a entrada padrão) dentro de um evento\n"
           "versão 1.00 e escreve cada evento assinado em uma linha.\n"),
       RunAssinarEvento},
      {"chave", "calcula a chave de acesso: DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS",
       ComOpcoes(
           "uso: qornfce chave DATA CUF CNPJ MOD SERIE NNF CNF TPEMIS [opções]\n"
           "Calcula a chave de acesso de 44 dígitos (com o dígito verificador).\n"
           "DATA é AAAA-MM-DD ou AAAA-MM-DDThh:mm:ss-03:00 (dhEmi); CNF vem antes de TPEMIS.\n"
           "Exemplo: qornfce chave 2015-03-20T10:15:00-03:00 41 11222333000181 65 1 123 4567 1\n"),
       RunChave},
      {"qrcode", "escreve o link do QR Code de uma NFC-e assinada: ARQ.xml",
       ComOpcoes(
           "uso: qornfce qrcode ARQ.xml [opções]\n"
           "Escreve o link do QR Code (qrCode de infNFeSupl) de uma NFC-e assinada.\n"
           "Endereços: chave URLQRCODE dos arquivos de servidores (seção UF_versão ou UF);\n"
           "CSC: DANFCE.IdTokenNFCe e DANFCE.TokenNFCe da configuração (em homologação, sem CSC,\n"
           "é usado o CSC padrão de teste).\n"),
       RunQRCode},
      {"logs", "lista os arquivos de log: [FILTRO] [TEXTO] (ex.: logs EnvLot 4115)",
       ComOpcoes(
           "uso: qornfce logs [FILTRO] [TEXTO] [opções]\n"
           "Lista os arquivos da pasta de logs, um por linha, com o caminho completo.\n"
           "FILTRO (padrão Xml): Xml, NFCe, EnvLot, Rec, PedRec, ProRec, Den, CaneveEnv,\n"
           "CaneveRet, CaneveSubEnv, CaneveSubRet, PedInu, Inu, PedSit, Sit, PedSta, Sta,\n"
           "EnvSincLot, EnvSincRet, ou Custom com TEXTO como máscara (ex.: Custom '*4115*').\n"
           "TEXTO: só os nomes que o contêm antes do sufixo do filtro (ex.: EnvLot 4115).\n"),
       RunLogs},
      {"atualizar-servidores", "baixa os arquivos de servidores quando têm 4 horas ou mais",
       ComOpcoes("uso: qornfce atualizar-servidores [--forcar] [opções]\n"
                 "Atualiza os dois arquivos de servidores pelos endereços de nfceImplantacao.ini\n"
                 "quando algum tem 4 horas ou mais (--forcar: agora). Sem sucesso, os arquivos\n"
                 "anteriores ficam e o motivo vai para o evento UpdateIniServidores.\n"),
       RunAtualizarServidores},
      {"listar-certificados", "lista os certificados do repositório, um por linha",
       ComOpcoes("uso: qornfce listar-certificados [opções]\n"
                 "Escreve uma linha por arquivo PKCS#12 do repositório (a pasta de\n"
                 "CaminhoCertificado): assunto, serial, validade, SHA-1 e arquivo.\n"),
       RunListarCertificados},
      {"remover-certificado", "remove do repositório o certificado de um serial: SERIAL",
       ComOpcoes("uso: qornfce remover-certificado SERIAL [opções]\n"
                 "Remove o arquivo do repositório cujo certificado tem o SERIAL (hexadecimal,\n"
                 "como listar-certificados o escreve); sai com 1 quando nenhum o tem.\n"),
       RunRemoverCertificado},
      {"vencimento-certificado", "escreve a data de vencimento do certificado configurado",
       ComOpcoes("uso: qornfce vencimento-certificado [opções]\n"
                 "Escreve o fim da validade do certificado configurado (UTC).\n"),
       RunVencimentoCertificado},
      {"atualizar-versao", "pede ao atualizador local a versão VERSAO",
       ComOpcoes("uso: qornfce atualizar-versao VERSAO [--reiniciar-aplicacao]\n"
                 "       [--nao-atualizar-rtms] [--nao-mostrar-progresso] [opções]\n"
                 "Pede ao atualizador local (http://127.0.0.1:3210, porta em\n"
                 "nfceImplantacao.ini) esquemas, templates e arquivos de servidores da VERSAO.\n"),
       RunAtualizarVersao},
      {"contingencia", "fila da contingência offline: emitir NOTA.xml | transmitir | listar",
       ComOpcoes(
           "uso: qornfce contingencia emitir NOTA.xml --justificativa TEXTO [--fila PASTA] "
           "[opções]\n"
           "     qornfce contingencia transmitir [--max N] [--vigiar SEGUNDOS] [--fila PASTA]\n"
           "       [opções]\n"
           "     qornfce contingencia listar [--json] [--fila PASTA] [opções]\n"
           "emitir: emite a NFC-e convertida (sem assinatura; \"-\": entrada padrão) em\n"
           "contingência offline (tpEmis 9, dhCont, xJust de 15 a 256 caracteres), assina, grava\n"
           "na fila e escreve a NFe assinada, com o QR Code da forma offline.\n"
           "transmitir: envia as notas pendentes, as mais antigas primeiro, no máximo N\n"
           "(--max; padrão todas), e resolve as tentativas em verificação; escreve um resumo.\n"
           "Com outro processo transmitindo, escreve \"fila em uso por outro processo\" e sai\n"
           "com 0; --vigiar espera por ele e continua transmitindo, a cada SEGUNDOS, enquanto\n"
           "houver notas pendentes. SIGINT/SIGTERM param entre duas notas. O progresso vai\n"
           "para stderr quando é um terminal.\n"
           "listar: cada nota da fila com estado, idade e tempo até o prazo (ATRASADA quando\n"
           "passou); --json em JSON.\n"
           "--fila: a pasta da fila (padrão: Contingencia ao lado do executável).\n"),
       RunContingencia},
      {"simulador", "executa o simulador de homologação em primeiro plano",
       sim::SimulatorUsage("qornfce simulador"), RunSimulador},
      {"demo", "cria uma pasta de trabalho, inicia o simulador e percorre o caminho da NFC-e",
       "uso: qornfce demo [--pasta PASTA]\n"
       "Cria a pasta de trabalho (padrão ./demo-nfce), inicia o simulador de\n"
       "homologação em 127.0.0.1, cria certificados de teste, configura o componente\n"
       "e executa as operações disponíveis, deixando logs e arquivos na pasta.\n",
       RunDemoAParte},
  };
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> tabela = Tabela();
  return tabela;
}

const Command* FindCommand(std::string_view name) {
  const auto& tabela = Commands();
  const auto it = std::find_if(tabela.begin(), tabela.end(),
                               [&](const Command& command) { return command.name == name; });
  return it == tabela.end() ? nullptr : &*it;
}

std::string GeneralUsage() {
  std::size_t largura = 0;
  for (const Command& command : Commands()) largura = std::max(largura, command.name.size());
  std::string texto = "uso: qornfce <operação> [opções]\n\noperações:\n";
  for (const Command& command : Commands()) {
    texto += "  " + command.name + std::string(largura + 2 - command.name.size(), ' ') +
             command.summary + "\n";
  }
  return texto +
         "\n"
         "Use \"qornfce <operação> --help\" para as opções de cada operação.\n"
         "--config ARQ.ini (antes ou depois da operação) escolhe o arquivo de configuração.\n"
         "Códigos de saída: 0 sucesso, 1 a operação falhou (mensagem em stderr), 2 uso "
         "incorreto.\n";
}

}  // namespace qor::cli
