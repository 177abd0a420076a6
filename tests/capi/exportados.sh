#!/usr/bin/env bash
# The shared library's dynamic symbols: the C interface and qor's C++ classes, and nothing of the
# C++ library's templates or of the outside libraries the library uses; its SONAME carries the
# major version.
set -euo pipefail
biblioteca=$1 soname=$2
simbolos=$(nm -DC --defined-only "$biblioteca" | cut -d' ' -f3-)
falhas=0
proibidos=$(grep -E '^(std::|xml|xmlSec|EVP_|curl_)' <<<"$simbolos" || true)
if [[ -n $proibidos ]]; then
  echo "símbolos que não deviam ser exportados:"
  head -20 <<<"$proibidos"
  falhas=$((falhas + 1))
fi
for esperado in qor_nfce_new qor_contingencia_emitir 'qor::TqorNFCe::AssinarNota(' \
  'typeinfo for qor::EqorException'; do
  grep -qF -- "$esperado" <<<"$simbolos" || { echo "não exportado: $esperado"; falhas=$((falhas + 1)); }
done
obtido=$(readelf -d "$biblioteca" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ $obtido == "$soname" ]] || { echo "SONAME $obtido, esperado $soname"; falhas=$((falhas + 1)); }
((falhas == 0)) && echo "símbolos exportados: $(wc -l <<<"$simbolos"), SONAME $obtido"
exit "$falhas"
