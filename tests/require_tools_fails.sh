#!/usr/bin/env bash
# A test whose tool is missing skips, unless QORNFCE_REQUIRE_TOOLS=1, where it must fail and name
# the tool. xmllint is taken away through a PATH of links to every other program, the schema
# package by pointing QORNFCE_ESQUEMAS at an empty folder.
set -euo pipefail
program=$1 filter=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/empty"
IFS=: read -ra dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  for tool in "$dir"/*; do
    name=${tool##*/}
    [[ $name == xmllint || -e $work/bin/$name ]] || ln -s "$tool" "$work/bin/$name"
  done
done

# expect <skip|fail> <text the report must hold> <environment...>
expect() {
  local want=$1 text=$2 status=0 out
  shift 2
  out=$(env -u QORNFCE_REQUIRE_TOOLS "$@" "$program" --gtest_filter="$filter" 2>&1) || status=$?
  local marker='[  SKIPPED ]'
  if [[ $want == fail ]]; then
    marker='[  FAILED  ]'
    ((status != 0)) || { echo "exit 0 where a failure was due ($*)"; echo "$out"; exit 1; }
  else
    ((status == 0)) || { echo "exit $status where a skip was due ($*)"; echo "$out"; exit 1; }
  fi
  if ! grep -qF "$marker" <<<"$out" || ! grep -qF "$text" <<<"$out"; then
    echo "no \"$marker\" naming \"$text\" ($*):"
    echo "$out"
    exit 1
  fi
}

no_xmllint="xmllint (libxml2-utils) is missing"
no_package="the official XSD package (the folder QORNFCE_ESQUEMAS names) is missing"
expect skip "$no_xmllint" PATH="$work/bin"
expect fail "$no_xmllint and QORNFCE_REQUIRE_TOOLS=1 requires it" PATH="$work/bin" \
  QORNFCE_REQUIRE_TOOLS=1
expect skip "$no_package" QORNFCE_ESQUEMAS="$work/empty"
expect fail "$no_package and QORNFCE_REQUIRE_TOOLS=1 requires it" QORNFCE_ESQUEMAS="$work/empty" \
  QORNFCE_REQUIRE_TOOLS=1
echo "missing tools: skipped by default, failed when required"
