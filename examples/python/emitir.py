#!/usr/bin/python3
"""One NFC-e through the C interface of qornfce, from Python's standard library (ctypes).

    emitir.py CONFIG.ini NOTA.tx2

Loads the component's configuration, asks the state for its service status, converts the TX2
note into XML, signs it and sends it for synchronous authorisation; prints the key and the
note's cStat. The shared library is $QORNFCE_BIBLIOTECA when set, else libqornfce.so.1 as the
dynamic loader finds it.
"""
import ctypes
import os
import re
import sys


class ErroQornfce(Exception):
    pass


class Nfce:
    """A component handle; every call raises ErroQornfce with the library's class and message."""

    def __init__(self, biblioteca):
        self._lib = lib = ctypes.CDLL(biblioteca)
        lib.qor_status_texto.restype = ctypes.c_char_p
        lib.qor_status_texto.argtypes = [ctypes.c_int]
        lib.qor_free.argtypes = [ctypes.c_void_p]
        lib.qor_free.restype = None
        handle = ctypes.c_void_p
        saida = ctypes.POINTER(ctypes.c_void_p)
        texto = ctypes.c_char_p
        assinaturas = {
            "qor_nfce_new": [ctypes.POINTER(handle)],
            "qor_nfce_free": [handle],
            "qor_nfce_ultimo_erro": [handle, saida, saida],
            "qor_ultimo_erro": [saida, saida],
            "qor_nfce_carregar_config": [handle, texto],
            "qor_nfce_definir": [handle, texto, texto],
            "qor_nfce_status_servico": [handle, saida],
            "qor_nfce_converter_tx2": [handle, texto, texto, saida],
            "qor_nfce_assinar_nota": [handle, texto, saida],
            "qor_nfce_enviar_sincrono": [handle, texto, texto, ctypes.c_int, saida],
        }
        for nome, argumentos in assinaturas.items():
            funcao = getattr(lib, nome)
            funcao.argtypes = argumentos
            funcao.restype = ctypes.c_int
        self._h = handle()
        self._verificar(lib.qor_nfce_new(ctypes.byref(self._h)), sem_handle=True)

    def _texto(self, ponteiro):
        try:
            return ctypes.string_at(ponteiro.value).decode("utf-8") if ponteiro.value else ""
        finally:
            self._lib.qor_free(ponteiro)

    def _verificar(self, status, sem_handle=False):
        if status == 0:
            return
        classe, mensagem = ctypes.c_void_p(), ctypes.c_void_p()
        if sem_handle:
            self._lib.qor_ultimo_erro(ctypes.byref(classe), ctypes.byref(mensagem))
        else:
            self._lib.qor_nfce_ultimo_erro(self._h, ctypes.byref(classe), ctypes.byref(mensagem))
        raise ErroQornfce("%s: %s (%s)" % (self._texto(classe), self._texto(mensagem),
                                           self._lib.qor_status_texto(status).decode("utf-8")))

    def _chamar(self, nome, *argumentos):
        resultado = ctypes.c_void_p()
        convertidos = [a.encode("utf-8") if isinstance(a, str) else a for a in argumentos]
        self._verificar(getattr(self._lib, nome)(self._h, *convertidos, ctypes.byref(resultado)))
        return self._texto(resultado)

    def carregar_config(self, arquivo):
        self._verificar(self._lib.qor_nfce_carregar_config(self._h, arquivo.encode("utf-8")))

    def status_servico(self):
        return self._chamar("qor_nfce_status_servico")

    def converter_tx2(self, tx2, esquema=None):
        return self._chamar("qor_nfce_converter_tx2", tx2, esquema)

    def assinar_nota(self, xml):
        return self._chamar("qor_nfce_assinar_nota", xml)

    def enviar_sincrono(self, lote, nota, compactar=False):
        return self._chamar("qor_nfce_enviar_sincrono", lote, nota, int(compactar))

    def close(self):
        if self._h:
            self._lib.qor_nfce_free(self._h)
            self._h = ctypes.c_void_p()


def ultimo(xml, tag):
    achados = re.findall(r"<%s>([^<]*)</%s>" % (tag, tag), xml)
    return achados[-1] if achados else ""


def main(argv):
    if len(argv) != 3:
        print("uso: %s CONFIG.ini NOTA.tx2" % argv[0], file=sys.stderr)
        return 2
    nfce = Nfce(os.environ.get("QORNFCE_BIBLIOTECA", "libqornfce.so.1"))
    try:
        nfce.carregar_config(argv[1])
        print("status do serviço: cStat %s" % ultimo(nfce.status_servico(), "cStat"))
        assinada = nfce.assinar_nota(nfce.converter_tx2(argv[2]))
        resposta = nfce.enviar_sincrono("1", assinada)
        cstat = ultimo(resposta, "cStat")
        print("chave %s\ncStat %s" % (ultimo(resposta, "chNFe"), cstat))
        return 0 if cstat == "100" else 1
    except ErroQornfce as erro:
        print(erro, file=sys.stderr)
        return 1
    finally:
        nfce.close()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
