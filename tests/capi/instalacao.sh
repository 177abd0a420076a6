#!/usr/bin/env bash
# The library as a host gets it: installed into a temporary prefix, each installed header
# compiles alone; examples/c is built with pkg-config, examples/cmake (the same program) with
# find_package, and the three hosts (those two and examples/python under /usr/bin/python3) each
# authorise a note of their own against a simulator, from a configuration file of their own.
# The hosts find the library's folders three ways: every folder configured; none configured and
# $QORNFCE_HOME with the flat schema package as DiretorioEsquemas; none configured at all, the
# data found beside the installed library, the writable root under $XDG_DATA_HOME and the
# package in $QORNFCE_ESQUEMAS. Their distribution XML passes the official schema (xmllint), and
# nothing was written under the prefix or beside python3.
set -euo pipefail
fonte=$1 build=$2
bin=$build/bin
. "$(dirname "$0")/simulador.sh"

estado=0
esquemas_presentes "$bin" || estado=$?
((estado == 0)) || exit "$estado"
ferramentas_presentes cc c++ pkg-config xmllint /usr/bin/python3 || exit $?

t=$(mktemp -d)
trap 'parar_simulador; rm -rf "$t"' EXIT
p=$t/prefixo
cmake --install "$build" --prefix "$p" >"$t/instalacao.log"
falhas=0
falhou() {
  echo "FALHOU: $*" >&2
  falhas=$((falhas + 1))
}

# The layout a host finds.
for esperado in include/qornfce/qornfce.h include/qornfce/core/TqorNFCe.h \
  include/qornfce/contingency/TqorContingencia.h lib/libqornfce.so.1 lib/libqornfce.a \
  lib/pkgconfig/qornfce.pc lib/cmake/qornfce/qornfceConfig.cmake bin/qornfce \
  share/qornfce/Templates/vm60 share/qornfce/Esquemas/vm60/Mapping.txt share/qornfce/qrcode.ini; do
  [[ -e $p/$esperado ]] || falhou "não instalado: $esperado"
done
# Of the schemas only the EPEC one the build derives (with its two includes) is installed.
[[ -z $(find "$p/share" -name '*.xsd' -not -path '*/Esquemas/epec/*') ]] ||
  falhou "esquemas oficiais instalados em share/"

# Every installed header alone, included as a host includes it, against the prefix only; the C
# interface also as C99.
while IFS= read -r cabecalho; do
  printf '#include <%s>\n' "$cabecalho" |
    c++ -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I"$p/include" -I"$p/include/qornfce" \
      -x c++ - || falhou "não compila sozinho: $cabecalho"
done < <(cd "$p/include" && find qornfce -name '*.h' | sort)
printf '#include <qornfce/qornfce.h>\n' |
  cc -std=c99 -pedantic -Wall -Wextra -Werror -fsyntax-only -I"$p/include" -x c - ||
  falhou "qornfce.h não compila como C99"

# The hosts' builds.
export PKG_CONFIG_PATH=$p/lib/pkgconfig
libdir=$(pkg-config --variable=libdir qornfce)
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror "$fonte/examples/c/emitir.c" $(pkg-config --cflags --libs qornfce) \
  -Wl,-rpath,"$libdir" -o "$t/emitir-pkgconfig"
cmake -S "$fonte/examples/cmake" -B "$t/consumidor" -G Ninja -DCMAKE_PREFIX_PATH="$p" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$t/consumidor.log"
cmake --build "$t/consumidor" >>"$t/consumidor.log" || { cat "$t/consumidor.log"; exit 1; }

# The official schema package stays outside the prefix, flat as published: a folder of the
# package's files only, with no mapping (the installed one serves).
mkdir -p "$t/pacote"
ln -s "$bin"/Esquemas/vm60/*.xsd "$t/pacote/"

# A host that configures no writable folder and has no $QORNFCE_HOME writes under
# $XDG_DATA_HOME: here, never the user's own.
export XDG_DATA_HOME=$t/xdg
iniciar_simulador "$bin" "$t/simulador"
touch "$t/marca"
sleep 1 # file times are compared against the mark

# anfitriao NOME EXEMPLO PASTAS COMANDO...: runs one host in its own folder with its own
# configuration. PASTAS: "configuradas" writes every folder into it; "esquemas" only
# DiretorioEsquemas, the package; "ambiente" none. What is not configured, the environment the
# command gets decides. The folder the host writes to is $escrita.
anfitriao() {
  local nome=$1 exemplo=$2 pastas=$3
  shift 3
  local pasta=$t/$nome
  mkdir -p "$pasta"
  cat >"$pasta/nfceConfig.ini" <<FIM
[NFCE]
UF=SP
CNPJ=11222333000181
Ambiente=2
CaminhoCertificado=$QOR_SIM_PFX
SenhaCertificado=1234
ArquivoCadeiaCertificados=$QOR_SIM_CA
ArquivoServidoresHom=$QOR_SIM_HOM
ArquivoServidoresProd=$QOR_SIM_PROD
AtualizarArquivoServidores=0
FIM
  [[ $pastas == ambiente ]] || echo "DiretorioEsquemas=$t/pacote/" >>"$pasta/nfceConfig.ini"
  if [[ $pastas == configuradas ]]; then
    cat >>"$pasta/nfceConfig.ini" <<FIM
DiretorioTemplates=$p/share/qornfce/Templates/
DiretorioLog=$escrita/Log/
DiretorioLogErro=$escrita/LogErro/
DiretorioXmlDestinatario=$escrita/XmlDestinatario/
DiretorioTemporario=$escrita/Temp/
FIM
  fi
  local saida
  if ! saida=$(cd "$pasta" && "$@" "$pasta/nfceConfig.ini" "$p/share/qornfce/exemplos/$exemplo" 2>&1); then
    falhou "$nome: $saida"
    return
  fi
  echo "$nome: ${saida//$'\n'/; }"
  local chave
  chave=$(sed -n 's/^chave \([0-9]\{44\}\)$/\1/p' <<<"$saida")
  grep -qx "cStat 100" <<<"$saida" || falhou "$nome: nota não autorizada"
  [[ -n $chave ]] || { falhou "$nome: sem chave"; return; }
  xmllint --noout --nonet --schema "$bin/Esquemas/vm60/procNFe_v4.00.xsd" \
    "$escrita/XmlDestinatario/$chave-nfce.xml" 2>"$pasta/xmllint.log" ||
    falhou "$nome: nfeProc fora do esquema: $(cat "$pasta/xmllint.log")"
  [[ -n $(find "$escrita/Log" -name '*.xml' 2>/dev/null) ]] ||
    falhou "$nome: nenhum log em $escrita/Log"
}

escrita=$t/c-pkgconfig/dados
anfitriao c-pkgconfig nfce-varios-itens.tx2 configuradas "$t/emitir-pkgconfig"
escrita=$t/c-cmake/casa
anfitriao c-cmake nfce-um-item-dinheiro.tx2 esquemas env -u QORNFCE_ESQUEMAS \
  QORNFCE_HOME="$escrita" "$t/consumidor/emitir"
escrita=$t/python/xdg/qornfce
anfitriao python nfce-cartao-troco.tx2 ambiente env -u QORNFCE_HOME -u QORNFCE_DATA \
  XDG_DATA_HOME="$t/python/xdg" QORNFCE_ESQUEMAS="$t/pacote" \
  QORNFCE_BIBLIOTECA="$libdir/libqornfce.so.1" /usr/bin/python3 "$fonte/examples/python/emitir.py"

escritos=$(find "$p" -newer "$t/marca")
[[ -z $escritos ]] || falhou "escrito sob o prefixo: $escritos"
escritos=$(find "$(dirname "$(readlink -f /usr/bin/python3)")" /usr/bin -maxdepth 1 -newer "$t/marca")
[[ -z $escritos ]] || falhou "escrito ao lado do python3: $escritos"

((falhas == 0)) || exit 1
echo "instalação: cabeçalhos, pkg-config, find_package e os três anfitriões autorizaram"
