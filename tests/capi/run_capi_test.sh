#!/usr/bin/env bash
# The C interface's test program: the handle and argument cases always; with the schema package,
# also the road against a simulator of its own, and the distribution XML it left checked by
# xmllint against the official schema.
set -euo pipefail
bin=$1 programa=$2
. "$(dirname "$0")/simulador.sh"

trabalho=$(mktemp -d)
trap 'parar_simulador; rm -rf "$trabalho"' EXIT

mkdir "$trabalho/host"
export QOR_TRABALHO=$trabalho/host
estado=0
esquemas_presentes "$bin" || estado=$?
if ((estado != 0)); then
  "$programa"
  exit "$estado"
fi
ferramentas_presentes xmllint || exit $?

iniciar_simulador "$bin" "$trabalho/simulador"
QOR_EXEMPLOS=$bin/exemplos "$programa" | tee "$trabalho/saida"
chave=$(sed -n 's/^chave \([0-9]\{44\}\)$/\1/p' "$trabalho/saida")
[[ -n $chave ]] || { echo "o programa não informou a chave autorizada" >&2; exit 1; }
xmllint --noout --nonet --schema "$bin/Esquemas/vm60/procNFe_v4.00.xsd" \
  "$trabalho/host/XmlDestinatario/$chave-nfce.xml"
