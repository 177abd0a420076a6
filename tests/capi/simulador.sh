# Sourced by the C interface's test scripts: a simulator of their own, as a separate process
# (qornfce-simulador), for programs that are not C++ and cannot start it in-process.
#
# iniciar_simulador BIN PASTA: starts BIN/qornfce-simulador on a free port of 127.0.0.1 with
# its work folder PASTA, waits until it serves and exports what a host configures itself with:
# QOR_SIM_PASTA, QOR_SIM_HOM, QOR_SIM_PROD (the server files), QOR_SIM_CA (the test CA) and
# QOR_SIM_PFX (the company's PKCS#12, password 1234, CNPJ 11222333000181).
# parar_simulador: stops it (SIGTERM) and waits for it.

iniciar_simulador() {
  local bin=$1 pasta=$2 saida=$2.saida
  "$bin/qornfce-simulador" --pasta "$pasta" >"$saida" 2>&1 &
  SIMULADOR_PID=$!
  local i
  for i in $(seq 1 600); do
    grep -q "Encerre com Ctrl+C" "$saida" && break
    if ! kill -0 "$SIMULADOR_PID" 2>/dev/null; then
      cat "$saida" >&2
      SIMULADOR_PID=
      return 1
    fi
    sleep 0.1
  done
  export QOR_SIM_PASTA=$pasta
  export QOR_SIM_HOM=$pasta/nfceServidoresHom.ini QOR_SIM_PROD=$pasta/nfceServidoresProd.ini
  QOR_SIM_CA=$(sed -n 's/^  AC de teste: *//p' "$saida")
  QOR_SIM_PFX=$(sed -n 's/^  certificado da empresa: *\(.*\) (CNPJ.*/\1/p' "$saida")
  export QOR_SIM_CA QOR_SIM_PFX
  [[ -f $QOR_SIM_CA && -f $QOR_SIM_PFX && -f $QOR_SIM_HOM ]] || {
    echo "o simulador não informou a PKI e os servidores:" >&2
    cat "$saida" >&2
    return 1
  }
}

parar_simulador() {
  if [[ -n ${SIMULADOR_PID:-} ]]; then
    kill -TERM "$SIMULADOR_PID" 2>/dev/null || true
    wait "$SIMULADOR_PID" 2>/dev/null || true
    SIMULADOR_PID=
  fi
}

# The official schema package beside the executables, or why there is none: returns 0 when it is
# there, 77 (CTest's skip) when it is missing, and 1 when QORNFCE_REQUIRE_TOOLS=1 says it must be.
esquemas_presentes() {
  local bin=$1
  [[ -f $bin/Esquemas/vm60/consStatServ_v4.00.xsd ]] && return 0
  echo "pacote de esquemas ausente em $bin/Esquemas/vm60 (QORNFCE_ESQUEMAS)" >&2
  [[ ${QORNFCE_REQUIRE_TOOLS:-} == 1 ]] && return 1
  return 77
}

# The programs a test needs, or why it cannot run: returns 0 when every one is on the PATH, 77
# (CTest's skip) naming the first missing one, and 1 when QORNFCE_REQUIRE_TOOLS=1 says they must
# be there.
ferramentas_presentes() {
  local ferramenta
  for ferramenta in "$@"; do
    command -v "$ferramenta" >/dev/null && continue
    echo "$ferramenta ausente" >&2
    [[ ${QORNFCE_REQUIRE_TOOLS:-} == 1 ]] && return 1
    return 77
  done
}
