// qornfce demo: the whole road that exists so far, against the simulator, in one folder.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "ArchiveServer.h"
#include "Commands.h"
#include "ComponentOptions.h"
#include "Simulator.h"
#include "TestPki.h"
#include "XmlSignature.h"
#include "contingency/TqorContingencia.h"
#include "conversion/TqorNFCeConvTXTDataSet.h"
#include "conversion/TqorNFCeConverter.h"
#include "conversion/TqorNFCeDataSets.h"
#include "core/TqorNFCe.h"
#include "platform/ChildProcess.h"
#include "platform/Crypto.h"
#include "platform/Files.h"
#include "platform/InstallationFolders.h"
#include "platform/Xml.h"
#include "rules/TqorControllerRulesNFCe.h"
#include "utils/DataHora.h"
#include "utils/Notas.h"

namespace qor::cli {

namespace {

constexpr const char* kCnpj = "11222333000181";
constexpr const char* kSenha = "1234";
// A well-formed access key of the demo's company (check digit included) that was never sent.
constexpr const char* kChaveNaoEmitida = "35240111222333000181650010000000011123456780";

// The sample notes the demo sends (installed beside the executable).
constexpr const char* kExemplo = "nfce-varios-itens.tx2";
constexpr const char* kSegundoExemplo = "nfce-cartao-troco.tx2";

// The sample issued now: its dhEmi becomes the present time at Brasília's offset, as a till
// would stamp it (the rules refuse a note issued minutes away from the present), and its number
// one of this run (`sequencia` apart), so the demo can run again on the same folder without the
// state refusing a duplicate.
std::string EmitidaAgora(std::string tx2, int sequencia) {
  const std::time_t agora = std::time(nullptr) - 3 * 3600;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  const std::size_t nNF = tx2.find("nNF_B08=");
  tx2.replace(nNF, tx2.find('\n', nNF) - nNF,
              "nNF_B08=" + std::to_string(ms % 400000000 * 2 + sequencia));
  std::tm utc{};
  gmtime_r(&agora, &utc);
  char dhEmi[40];
  std::strftime(dhEmi, sizeof dhEmi, "dhEmi_B09=%Y-%m-%dT%H:%M:%S-03:00", &utc);
  const std::size_t at = tx2.find("dhEmi_B09=");
  tx2.replace(at, tx2.find('\n', at) - at, dhEmi);
  return tx2;
}

// Converts the text again with the business rules of its schema package on; returns how many
// rules the note passed (a failing rule raises with its code, cStat and message).
std::size_t AplicarRegras(TqorNFCe& nfce, const std::string& tx2) {
  TqorNFCeConvTXTDataSet parser;
  parser.SetXMLDicionario(nfce.GetConversor().GetTemplateCompletePath("NFCeDataSets.xml"));
  parser.SetTXT(tx2);
  parser.DataSets().SetValidaRegrasNegocio(true);
  parser.Converter();
  return TqorControllerRulesNFCe::CarregarRegras(TVersaoManual::vm60).size();
}

// A field of the first protocol (infProt) of a reply.
std::string Protocolo(const std::string& reply, const std::string& campo) {
  std::string value;
  XPathSelectSingleNode(reply, "//*[local-name()='infProt']/*[local-name()='" + campo + "']", value,
                        {}, false);
  return value;
}

// Shows the distribution XML written for `chave` and whether it passes the component's check
// (the official schema and the digests).
bool MostrarDistribuicao(TqorNFCe& nfce, const std::string& folder, const std::string& chave) {
  const std::string arquivo = nfce.GetDiretorioDestinatario() + chave + "-nfce.xml";
  if (!FileExists(arquivo)) {
    std::cout << "    nfeProc não foi gravado\n";
    return false;
  }
  TStrings erros;
  const bool valido = nfce.ValidarArquivoXmlDestinatario(LoadFromFile(arquivo), &erros);
  std::cout << "    nfeProc " << std::filesystem::relative(arquivo, folder).string()
            << (valido ? " validado (esquema procNFe e digVal)" : " inválido: " + erros.Text())
            << "\n";
  return valido;
}

// A field of the first event reply (retEvento/infEvento) of a reply.
std::string Evento(const std::string& reply, const std::string& campo) {
  std::string value;
  XPathSelectSingleNode(
      reply,
      "//*[local-name()='retEvento']/*[local-name()='infEvento']/*[local-name()='" + campo + "']",
      value, {}, false);
  return value;
}

// Shows a distribution file of an event or a voiding and whether its signature holds (checked
// by the simulator's verifier, which shares no code with the signer).
bool MostrarEvento(const std::string& folder, const std::string& arquivo, const char* elemento,
                   const std::string& caCert) {
  if (!FileExists(arquivo)) {
    std::cout << "    " << std::filesystem::relative(arquivo, folder).string()
              << " não foi gravado\n";
    return false;
  }
  const std::string falha = sim::VerifyEnveloped(LoadFromFile(arquivo), elemento, caCert);
  std::cout << "    " << std::filesystem::relative(arquivo, folder).string()
            << (falha.empty() ? " gravado, assinatura verificada" : " inválido: " + falha) << "\n";
  return falha.empty();
}

// Elements named `tag` in a well-formed text.
int XmlTagCount(const std::string& xml, const std::string& tag) {
  return XmlDocument::Parse(xml).CountTag(tag);
}

void Step(int n, const std::string& text) { std::cout << "[" << n << "] " << text << "\n"; }

// The server files as the download store would hold them (with the portal line the component
// checks), gzipped in PASTA/servidores-gz/ and served on loopback; the files in use are dated 5
// hours back, and the refresh every service call runs first fetches them again.
bool AtualizarServidores(TqorNFCe& nfce, const sim::Simulator& simulator, const std::string& folder,
                         const std::string& prod, const std::string& hom) {
  const std::string loja = folder + "servidores-gz/";
  ForceDirectories(loja);
  simulator.WriteServerFiles(loja + "prod.ini", loja + "hom.ini");
  TqorImplantacao& locais = nfce.GetImplantacao();
  for (const auto& [nome, endereco] : {std::pair{std::string("prod"), locais.EnderecoProd},
                                       std::pair{std::string("hom"), locais.EnderecoHom}}) {
    const std::string texto = "endereco=" + endereco + "\n" + LoadFromFile(loja + nome + ".ini");
    SaveToFile(loja + nome + ".ini.gz", GZipString(texto));
    DeleteFile(loja + nome + ".ini");
  }
  sim::ArchiveServer arquivos(loja);
  locais.UrlServidoresProd = arquivos.Url("prod.ini.gz");
  locais.UrlServidoresHom = arquivos.Url("hom.ini.gz");
  locais.TempoLimiteDownload = 5000;
  const auto agora = std::chrono::system_clock::now();
  for (const std::string& arquivo : {prod, hom}) SetFileAge(arquivo, agora - std::chrono::hours(5));
  std::cout << "    arquivos de " << arquivos.Url("") << " (datados de 5 horas atrás)\n";
  nfce.UpdateIniServidores();  // as each service call does before its request
  bool ok = true;
  for (const std::string& arquivo : {prod, hom}) {
    const auto idade = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now() - FileAge(arquivo));
    const bool novo = idade < std::chrono::minutes(1) &&
                      LoadFromFile(arquivo).find("endereco=") != std::string::npos;
    ok = ok && novo;
    std::cout << "    " << std::filesystem::relative(arquivo, folder).string()
              << (novo ? " atualizado há " + std::to_string(idade.count()) + " s"
                       : " não foi atualizado")
              << "\n";
  }
  return ok;
}

constexpr const char* kPython = "/usr/bin/python3";

// Mails the distribution XML and the DANFCE of `chave` to a local SMTP server (aiosmtpd, when
// installed) that leaves each message in the Maildir `caixa`; false when it was not delivered.
// The server settings are kept in `config`, so `qornfce enviar-email` sends there too.
bool EnviarEmail(TqorNFCe& nfce, const std::string& config, const std::string& caixa,
                 const std::string& chave) {
  if (!RunProcess({kPython, "-c", "import aiosmtpd"}).succeeded) {
    std::cout << "    pulado: o servidor de teste precisa de python3-aiosmtpd em " << kPython
              << "\n";
    return true;
  }
  const int porta = FreeLoopbackPort();
  const TChildProcess servidor(
      {kPython, "-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(porta), "-c",
       "aiosmtpd.handlers.Mailbox", caixa},
      ExtractFileDir(caixa) + "servidor-smtp.log");
  if (!WaitForLoopbackPort(porta, std::chrono::seconds(10))) {
    std::cout << "    o servidor SMTP de teste não iniciou\n";
    return false;
  }
  TqorEmailSettings& email = nfce.GetEmailSettings();
  email.SetServidorSmtp("127.0.0.1");
  email.SetPorta(porta);
  email.SetEmailRemetente("loja@exemplo.com.br");
  email.SetEmailDestinatario("cliente@exemplo.com.br");
  email.SetAssunto("Sua NFC-e");
  email.SetMensagem("Segue o XML e o DANFCE da sua NFC-e.");
  nfce.SaveConfig(config);
  std::cout << "    servidor SMTP de teste em 127.0.0.1:" << porta << ", caixa " << caixa << "\n";
  const std::vector<std::string> antes = ListFiles(caixa + "/new", "*");
  nfce.EnviarNotaDestinatario(chave, "", "");
  std::vector<std::string> novas;
  for (const std::string& mensagem : ListFiles(caixa + "/new", "*")) {
    if (std::find(antes.begin(), antes.end(), mensagem) == antes.end()) novas.push_back(mensagem);
  }
  if (novas.size() != 1) {
    std::cout << "    a mensagem não chegou à caixa\n";
    return false;
  }
  std::cout << "    mensagem com " << chave << "-nfce.xml e " << chave
            << ".pdf entregue em caixa/new/" << novas[0] << "\n";
  return true;
}

// The till's road while the state is down: the simulator refuses connections, two sales are
// issued (each goes offline keeping its number: a refused connection proves nothing was sent),
// their offline QR links printed; the service comes back and one transmission authorises both.
bool DemonstrarContingencia(TqorNFCe& nfce, sim::Simulator& simulator, const std::string& folder) {
  const std::string fila = folder + "Contingencia/";
  TqorContingencia contingencia(nfce, fila);
  simulator.SetOutage(sim::SimulatorOutage::RefuseConnections);
  std::cout << "    simulador fora do ar (conexões recusadas); fila em " << fila << "\n";
  std::vector<std::string> chaves;
  bool offline = true;
  int sequencia = 4;
  for (const char* exemplo : {kExemplo, kSegundoExemplo}) {
    const std::string nota = nfce.ConverterLoteParaXml(
        EmitidaAgora(LoadFromFile(DataDir() + "exemplos/" + exemplo), sequencia++),
        TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
    const TResultadoEmissao r = contingencia.Emitir(nota, "Sem comunicacao com a SEFAZ");
    offline = offline && r.offline && GetValueTag("tpEmis", r.nota) == "9";
    chaves.push_back(r.chave);
    std::cout << "    " << (r.offline ? "emitida offline" : "emitida online") << " (" << r.motivo
              << ")\n    chave " << r.chave << "\n    qrCode "
              << Unescape(GetValueTag("qrCode", r.nota)) << "\n";
  }
  simulator.SetOutage(sim::SimulatorOutage::None);
  std::cout << "    simulador de volta\n";
  const TResultadoTransmissao t = contingencia.Transmitir();
  std::cout << "    Transmitir: enviadas " << t.enviadas << ", autorizadas " << t.autorizadas
            << ", pendentes " << t.pendentes << "\n";
  bool procs = true;
  for (const std::string& chave : chaves) procs = MostrarDistribuicao(nfce, folder, chave) && procs;
  std::cout << "    Listar:\n";
  for (const TItemListagem& item : contingencia.Listar().itens) {
    // An authorised entry's protocol is in its nfeProc.
    const std::string proc = nfce.GetDiretorioDestinatario() + item.entrada.chave + "-nfce.xml";
    std::cout << "      " << item.entrada.chave << "  " << NomeEstado(item.entrada.estado)
              << "  protocolo "
              << (FileExists(proc) ? GetValueTag("nProt", LoadFromFile(proc)) : "") << "\n";
  }
  return offline && t.autorizadas == 2 && t.pendentes == 0 && procs;
}

}  // namespace

int RunDemo(int argc, char** argv) {
  const Options options(argc, argv, 2, {"pasta"}, {});
  const std::string folder = FromCurrentDir(options.Get("pasta", "demo-nfce")) + "/";
  ForceDirectories(folder);
  std::cout << "Pasta de trabalho: " << folder << "\n";

  Step(1, "Criando a cadeia de certificados de teste em " + folder + "pki/");
  const sim::TestPki pki = sim::CreateTestPki(folder + "pki", kCnpj, kSenha);

  Step(2, "Iniciando o simulador de homologação");
  sim::SimulatorOptions simOptions;
  // The folder `qornfce simulador --pasta` reads: restarted on it, the simulator knows the demo's
  // notes.
  simOptions.workFolder = folder;
  simOptions.schemasFolder = sim::DefaultSchemasFolder();
  simOptions.caCert = pki.caCert;
  simOptions.serverCert = pki.serverCert;
  simOptions.serverKey = pki.serverKey;
  sim::Simulator simulator(simOptions);
  simulator.Start();
  std::cout << "    ouvindo em " << simulator.BaseUrl() << "\n";

  Step(3, "Gravando os arquivos de servidores apontando para o simulador");
  const std::string prod = folder + "nfceServidoresProd.ini";
  const std::string hom = folder + "nfceServidoresHom.ini";
  simulator.WriteServerFiles(prod, hom);
  std::cout << "    " << hom << "\n    " << prod << "\n";

  Step(4, "Configurando o componente (UF SP, homologação, certificado A1, servidor verificado)");
  const std::string config = folder + "nfceConfig.ini";
  {
    TqorNFCe configurado;
    configurado.SetDiretorioLogErro(folder + "LogErro/");
    configurado.SetUF("SP");
    configurado.SetCNPJ(kCnpj);
    configurado.SetAmbiente(TAmbienteKind::akHomologacao);
    configurado.SetArquivoServidoresHom(hom);
    configurado.SetArquivoServidoresProd(prod);
    configurado.SetDiretorioLog(folder + "Log/");
    configurado.SetDiretorioXmlDestinatario(folder + "XmlDestinatario/");
    configurado.SetDiretorioTemporario(folder + "Temp/");
    configurado.SetCaminhoCertificado(pki.companyPfx);
    configurado.SetSenhaCertificado(kSenha);
    configurado.SetIgnoreInvalidCertificates(false);
    configurado.SetArquivoCadeiaCertificados(pki.caCert);
    configurado.SaveConfig(config);
  }
  std::cout << "    configuração gravada em " << config << "\n";
  // The road runs from the file alone, as a point-of-sale application would.
  TqorNFCe nfce;
  nfce.LoadConfig(config);
  nfce.OnLog = [](const std::string& kind, const std::string&, const std::string& file) {
    std::cout << "    log " << kind << ": " << file << "\n";
  };

  Step(5, "StatusDoServico");
  const std::string reply = nfce.StatusDoServico();
  std::cout << "    cStat " << GetValueTag("cStat", reply) << " - " << GetValueTag("xMotivo", reply)
            << "\n    resposta: " << reply << "\n";

  Step(6, "ConsultarNF de uma chave que a SEFAZ não conhece (o pedido é validado pelo esquema)");
  const std::string consulta = nfce.ConsultarNF(kChaveNaoEmitida);
  std::cout << "    cStat " << GetValueTag("cStat", consulta) << " - "
            << GetValueTag("xMotivo", consulta) << "\n";

  Step(7, "ConverterLoteParaXml de um exemplo TX2 (exemplos/" + std::string(kExemplo) +
              ", emitida agora)");
  const std::string tx2 = EmitidaAgora(LoadFromFile(DataDir() + "exemplos/" + kExemplo), 1);
  const std::string lote =
      nfce.ConverterLoteParaXml(tx2, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
  SaveToFile(folder + "nfce-convertida.xml", lote);
  const std::string nota = lote.substr(0, lote.find("\r\n"));
  std::cout << "    chave " << GetXMLAttributeByIndex(nota, "infNFe", "Id").substr(3) << ", "
            << XmlTagCount(nota, "det") << " itens, vNF " << GetValueTag("vNF", nota)
            << "\n    nota (ainda sem assinatura), gravada em " << folder
            << "nfce-convertida.xml:\n    " << nota << "\n";
  const std::size_t regras = AplicarRegras(nfce, tx2);
  std::cout << "    regras de negócio do manual 6.0: " << regras << " regras aprovadas\n";

  Step(8, "AssinarNota: assinatura com o certificado A1 e infNFeSupl (QR Code e urlChave)");
  // The QR code uses the homologation default CSC (no DANFCE.TokenNFCe configured) and the
  // URLQRCODE / URLCONSULTACHAVE addresses of the simulator's server files. The signature is
  // checked by the simulator's own verifier, which shares no code with the signer.
  const std::string assinada = nfce.AssinarNota(nota);
  SaveToFile(folder + "nfce-assinada.xml", assinada);
  const std::string falha = sim::VerifyEnveloped(assinada, "infNFe", pki.caCert);
  const std::string chave = GetXMLAttributeByIndex(assinada, "infNFe", "Id").substr(3);
  std::cout << "    chave " << chave << "\n    "
            << (falha.empty() ? "assinatura verificada" : "assinatura inválida: " + falha)
            << "\n    qrCode " << GetValueTag("qrCode", assinada) << "\n    urlChave "
            << GetValueTag("urlChave", assinada) << "\n    nota assinada gravada em " << folder
            << "nfce-assinada.xml\n";

  Step(9, "EnviarNFSincrono: autorização com o protocolo na resposta");
  const std::string sincrona = nfce.EnviarNFSincrono("1", assinada, false);
  const std::string cStatSincrono = Protocolo(sincrona, "cStat");
  std::cout << "    chave " << chave << "\n    cStat " << cStatSincrono << " - "
            << Protocolo(sincrona, "xMotivo") << ", protocolo " << Protocolo(sincrona, "nProt")
            << "\n";
  const bool procValido = MostrarDistribuicao(nfce, folder, chave);

  Step(10, "EnviarNF e ConsultarRecibo: um lote assíncrono com a segunda nota (exemplos/" +
               std::string(kSegundoExemplo) + ")");
  const std::string segunda = nfce.AssinarNota(nfce.ConverterLoteParaXml(
      EmitidaAgora(LoadFromFile(DataDir() + "exemplos/" + kSegundoExemplo), 2),
      TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  const std::string chave2 = GetXMLAttributeByIndex(segunda, "infNFe", "Id").substr(3);
  const std::string recebido = nfce.EnviarNF("2", segunda, false);
  const std::string recibo = GetValueTag("nRec", recebido);
  std::cout << "    cStat " << GetValueTag("cStat", recebido) << " - "
            << GetValueTag("xMotivo", recebido) << ", recibo " << recibo << "\n";
  const std::string processado = nfce.ConsultarRecibo(recibo);
  const std::string cStatRecibo = Protocolo(processado, "cStat");
  std::cout << "    cStat " << GetValueTag("cStat", processado) << " - "
            << GetValueTag("xMotivo", processado) << "\n    chave " << chave2 << ": cStat "
            << cStatRecibo << " - " << Protocolo(processado, "xMotivo") << ", protocolo "
            << Protocolo(processado, "nProt") << "\n";
  const bool procValido2 = MostrarDistribuicao(nfce, folder, chave2);

  Step(11, "CancelarNF da nota síncrona e ConsultarNF da chave cancelada");
  const std::string cancelamento = nfce.CancelarNF(chave, Protocolo(sincrona, "nProt"),
                                                   "Cliente desistiu da compra", "", 1, "", "");
  const std::string cStatCancelamento = Evento(cancelamento, "cStat");
  std::cout << "    cStat " << cStatCancelamento << " - " << Evento(cancelamento, "xMotivo")
            << ", protocolo " << Evento(cancelamento, "nProt") << "\n";
  const bool canValido = MostrarEvento(
      folder, nfce.GetDiretorioDestinatario() + chave + "-caneve.xml", "infEvento", pki.caCert);
  const std::string cancelada = nfce.ConsultarNF(chave);
  std::cout << "    ConsultarNF: cStat " << GetValueTag("cStat", cancelada) << " - "
            << GetValueTag("xMotivo", cancelada) << "\n";

  Step(12, "InutilizarNF de uma faixa de números não usados da série 900");
  // Numbers of this run, so the demo can run again on the same folder (a number is voided once).
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
  const std::string inicial = std::to_string(ms % 300000000 * 3 + 1);
  const std::string final = std::to_string(ms % 300000000 * 3 + 3);
  const std::string ano = DataHoraAtualComFuso().substr(2, 2);
  const std::string inutilizacao = nfce.InutilizarNF("", ano, kCnpj, "65", "900", inicial, final,
                                                     "Numeros pulados por falha no sistema");
  const std::string cStatInutilizacao = GetValueTag("cStat", inutilizacao);
  std::cout << "    cStat " << cStatInutilizacao << " - " << GetValueTag("xMotivo", inutilizacao)
            << ", protocolo " << GetValueTag("nProt", inutilizacao) << "\n";
  const std::string idInutilizacao =
      nfce.CalculaChaveInutilizacao(ano, kCnpj, "65", "900", inicial, final);
  const bool inutValido =
      MostrarEvento(folder, nfce.GetDiretorioDestinatario() + idInutilizacao + "-inut.xml",
                    "infInut", pki.caCert);

  Step(13, "MontarEPEC, AssinarEPEC e EnviarEPEC de uma nota emitida em contingência (tpEmis 4)");
  std::string tx2Epec = EmitidaAgora(LoadFromFile(DataDir() + "exemplos/" + kExemplo), 3);
  tx2Epec.replace(tx2Epec.find("tpEmis_B22=1"), 12,
                  "tpEmis_B22=4\ndhCont_B28=" + GetValueTag("dhEmi", nota) +
                      "\nxJust_B29=Falha de comunicacao com a SEFAZ");
  const std::string notaEpec =
      nfce.ConverterLoteParaXml(tx2Epec, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g);
  const std::string chaveEpec = GetXMLAttributeByIndex(notaEpec, "infNFe", "Id").substr(3);
  const std::string epec =
      nfce.EnviarEPEC(nfce.AssinarEPEC(nfce.MontarEPEC("3", notaEpec, DataHoraAtualComFuso())));
  const std::string cStatEpec = Evento(epec, "cStat");
  std::cout << "    chave " << chaveEpec << ": cStat " << cStatEpec << " - "
            << Evento(epec, "xMotivo") << "\n";
  const bool epecValido = MostrarEvento(
      folder, nfce.GetDiretorioDestinatario() + chaveEpec + "-epec.xml", "infEvento", pki.caCert);

  Step(14,
       "DANFCE da segunda nota (PDF, HTML, TXT, imagem PNG e cupom ESC/POS) e da nota "
       "cancelada");
  const std::string danfce = folder + "Danfce/";
  ForceDirectories(danfce);
  const std::string procSegunda = nfce.GetDiretorioDestinatario() + chave2 + "-nfce.xml";
  const std::string base = danfce + chave2;
  nfce.ExportarDanfce("", procSegunda, base + ".pdf", 1, "");
  nfce.ExportarDanfce("", procSegunda, base + ".html", 2, "");
  nfce.ExportarDanfce("", procSegunda, base + ".txt", 3, "");
  const std::string previa = nfce.VisualizarDanfce("", procSegunda, "");
  CopyFile(previa, base + ".png");
  DeleteFile(previa);
  nfce.GetEscPosSettings().SetPortaEscPos(base + "-escpos.bin");
  nfce.SetUtilizarEscPOS(true);
  nfce.ImprimirDanfce("", procSegunda, "", "");
  nfce.SetUtilizarEscPOS(false);
  // The cancelled note printed from its two files carries the "NOTA CANCELADA" stamp.
  nfce.ExportarDanfce("",
                      nfce.GetDiretorioDestinatario() + chave + "-nfce.xml," +
                          nfce.GetDiretorioDestinatario() + chave + "-caneve.xml",
                      danfce + chave + "-cancelada.pdf", 1, "");
  bool danfceGerado = true;
  for (const std::string& arquivo : {base + ".pdf", base + ".html", base + ".txt", base + ".png",
                                     base + "-escpos.bin", danfce + chave + "-cancelada.pdf"}) {
    const bool gerado = FileExists(arquivo) && !LoadFromFile(arquivo).empty();
    danfceGerado = danfceGerado && gerado;
    std::cout << "    " << std::filesystem::relative(arquivo, folder).string()
              << (gerado ? " gravado" : " não foi gravado") << "\n";
  }

  Step(15, "EnviarNotaDestinatario: o XML e o DANFCE da segunda nota por email");
  const bool emailEnviado = EnviarEmail(nfce, config, folder + "caixa", chave2);

  Step(16, "ConverteXmlparaDataSet: o nfeProc da segunda nota lido de volta e escrito em TX2");
  // The TX2 written from the datasets, converted again, must give the authorised infNFe as it
  // was signed, byte for byte.
  const std::string procLido = LoadFromFile(procSegunda);
  const std::string tx2Lida =
      nfce.ConverteXmlparaDataSet(procLido, TVersaoEsquema::pl_009g)->GerarTX2();
  SaveToFile(folder + "nfce-lida.tx2", tx2Lida);
  const std::string infNFeLido = GetNota(
      0,
      nfce.ConverterLoteParaXml(tx2Lida, TLayoutConvKind::lkTXTDataSet, TVersaoEsquema::pl_009g));
  const bool lidaIdentica = !infNFeLido.empty() && infNFeLido == GetNota(0, procLido);
  std::cout << "    TX2 gravado em " << folder << "nfce-lida.tx2 ("
            << std::count(tx2Lida.begin(), tx2Lida.end(), '\n') << " linhas)\n    convertido de "
            << "novo: infNFe " << (lidaIdentica ? "idêntico ao" : "DIFERENTE do")
            << " nfeProc autorizado\n";

  Step(17,
       "UpdateIniServidores: os arquivos de servidores envelhecidos 5 horas são baixados de "
       "novo (gzip) de um servidor de arquivos local");
  const bool servidoresAtualizados = AtualizarServidores(nfce, simulator, folder, prod, hom);

  Step(18,
       "Contingência offline: o simulador sai do ar, duas notas são emitidas offline, o serviço "
       "volta e a fila as transmite");
  const bool contingenciaOk = DemonstrarContingencia(nfce, simulator, folder);

  simulator.Stop();
  std::cout << "\nArquivos deixados em " << folder << ":\n";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      std::cout << "  " << std::filesystem::relative(entry.path(), folder).string() << "\n";
    }
  }
  const bool ok = GetValueTag("cStat", reply) == "107" && GetValueTag("cStat", consulta) == "217" &&
                  !nota.empty() && falha.empty() && cStatSincrono == "100" && procValido &&
                  cStatRecibo == "100" && procValido2 && cStatCancelamento == "135" && canValido &&
                  GetValueTag("cStat", cancelada) == "101" && cStatInutilizacao == "102" &&
                  inutValido && cStatEpec == "136" && epecValido && danfceGerado && emailEnviado &&
                  lidaIdentica && servidoresAtualizados && contingenciaOk;
  return ok ? 0 : 1;
}

}  // namespace qor::cli
