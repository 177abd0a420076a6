#!/usr/bin/env bash
# The Debian package cpack makes of the installed tree: the files a host needs under /usr
# (library, headers, pkg-config and CMake files, data, the command line), none of the official
# schemas but the EPEC one the build derives, stripped binaries; and a Depends line that names
# what dpkg-shlibdeps found (the C library, libxml2, OpenSSL, zlib, libqrencode) and the
# libraries opened at run time (libcurl, cairo, pango, GLib).
set -euo pipefail
build=$1
. "$(dirname "$0")/simulador.sh"
ferramentas_presentes cpack dpkg-deb dpkg-shlibdeps file readelf || exit $?
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
(cd "$build" && cpack -G DEB -B "$t" >"$t/cpack.log" 2>&1) || { cat "$t/cpack.log"; exit 1; }
pacotes=("$t"/*.deb)
[[ ${#pacotes[@]} == 1 && -f ${pacotes[0]} ]] || { echo "cpack não fez um .deb"; ls "$t"; exit 1; }
deb=${pacotes[0]}
falhas=0
falhou() {
  echo "FALHOU: $*" >&2
  falhas=$((falhas + 1))
}

arquivos=$(dpkg-deb -c "$deb" | awk '{print $6}')
for esperado in ./usr/lib/libqornfce.so.1 ./usr/lib/libqornfce.a ./usr/include/qornfce/qornfce.h \
  ./usr/include/qornfce/core/TqorNFCe.h ./usr/lib/pkgconfig/qornfce.pc \
  ./usr/lib/cmake/qornfce/qornfceConfig.cmake ./usr/bin/qornfce ./usr/bin/qornfce-simulador \
  ./usr/share/qornfce/qrcode.ini ./usr/share/qornfce/Esquemas/vm60/Mapping.txt \
  ./usr/share/qornfce/Templates/vm60/Danfce/ ./usr/share/qornfce/Templates/vm50/SP/; do
  grep -qxF -- "$esperado" <<<"$arquivos" || falhou "fora do pacote: $esperado"
done
fora=$(grep -v '^\./usr/' <<<"$arquivos" | grep -vx '\./' || true)
[[ -z $fora ]] || falhou "fora de /usr: $fora"
esquemas=$(grep '\.xsd$' <<<"$arquivos" | grep -v '/Esquemas/epec/' || true)
[[ -z $esquemas ]] || falhou "esquemas oficiais no pacote: $esquemas"

dpkg-deb -x "$deb" "$t/raiz"
file -L "$t/raiz/usr/lib/libqornfce.so.1" | grep -q ', stripped' || falhou "biblioteca não despida"
[[ $(readelf -d "$t/raiz/usr/lib/libqornfce.so.1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p') == \
  libqornfce.so.1 ]] || falhou "SONAME"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for dependencia in libc6 libxml2 'libssl3|libssl1' zlib1g libqrencode4 libcurl4 libcairo2 \
  libpangocairo-1.0-0 libglib2.0-0; do
  grep -qE "(^|, )($dependencia)( |,|$)" <<<"$depends" || falhou "Depends sem $dependencia"
done
[[ $(dpkg-deb -f "$deb" Package) == qornfce ]] || falhou "nome do pacote"

((falhas == 0)) || exit 1
echo "pacote: $(basename "$deb"), $(wc -l <<<"$arquivos") entradas"
