/* emitir: one NFC-e through the C interface of qornfce, as a point-of-sale host would do it.
 *
 *   emitir CONFIG.ini NOTA.tx2
 *
 * Loads the component's configuration, asks the state for its service status, converts the TX2
 * note into XML, signs it and sends it for synchronous authorisation; prints the key and the
 * note's cStat. Build it against an installed qornfce with
 *
 *   cc emitir.c $(pkg-config --cflags --libs qornfce) -o emitir
 */
#include <qornfce/qornfce.h>
#include <stdio.h>
#include <string.h>

static int falha(qor_nfce* nfce, const char* etapa, qor_status status) {
  char* classe = NULL;
  char* mensagem = NULL;
  if (nfce != NULL) {
    qor_nfce_ultimo_erro(nfce, &classe, &mensagem);
  } else {
    qor_ultimo_erro(&classe, &mensagem);
  }
  fprintf(stderr, "%s: %s (%s: %s)\n", etapa, qor_status_texto(status), classe ? classe : "",
          mensagem ? mensagem : "");
  qor_free(classe);
  qor_free(mensagem);
  return 1;
}

/* The text of the last <tag> of `xml` into `saida` (the note's own cStat comes after the
 * batch's). */
static void ultimo(const char* xml, const char* tag, char* saida, size_t tamanho) {
  char abre[64], fecha[64];
  snprintf(abre, sizeof abre, "<%s>", tag);
  snprintf(fecha, sizeof fecha, "</%s>", tag);
  const char* achado = NULL;
  for (const char* p = strstr(xml, abre); p != NULL; p = strstr(p + 1, abre)) achado = p;
  saida[0] = '\0';
  if (achado == NULL) return;
  achado += strlen(abre);
  const char* fim = strstr(achado, fecha);
  if (fim == NULL) return;
  snprintf(saida, tamanho, "%.*s", (int)(fim - achado), achado);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "uso: %s CONFIG.ini NOTA.tx2\n", argv[0]);
    return 2;
  }
  qor_nfce* nfce = NULL;
  qor_status st = qor_nfce_new(&nfce);
  if (st != QOR_OK) return falha(NULL, "qor_nfce_new", st);

  char *status = NULL, *xml = NULL, *assinada = NULL, *resposta = NULL;
  char cstat[16], chave[64];
  int codigo = 1;
  if ((st = qor_nfce_carregar_config(nfce, argv[1])) != QOR_OK) {
    falha(nfce, "configuração", st);
  } else if ((st = qor_nfce_status_servico(nfce, &status)) != QOR_OK) {
    falha(nfce, "status do serviço", st);
  } else if ((st = qor_nfce_converter_tx2(nfce, argv[2], NULL, &xml)) != QOR_OK) {
    falha(nfce, "conversão", st);
  } else if ((st = qor_nfce_assinar_nota(nfce, xml, &assinada)) != QOR_OK) {
    falha(nfce, "assinatura", st);
  } else if ((st = qor_nfce_enviar_sincrono(nfce, "1", assinada, 0, &resposta)) != QOR_OK) {
    falha(nfce, "envio", st);
  } else {
    ultimo(status, "cStat", cstat, sizeof cstat);
    printf("status do serviço: cStat %s\n", cstat);
    ultimo(resposta, "chNFe", chave, sizeof chave);
    ultimo(resposta, "cStat", cstat, sizeof cstat);
    printf("chave %s\ncStat %s\n", chave, cstat);
    codigo = strcmp(cstat, "100") == 0 ? 0 : 1;
  }
  qor_free(status);
  qor_free(xml);
  qor_free(assinada);
  qor_free(resposta);
  qor_nfce_free(nfce);
  return codigo;
}
