#!/usr/bin/env bash
# The boundary check must fail on a tree with one include that points up the layers: a copy of
# the sources gets one such include at a time, and each copy must be rejected by name.
set -euo pipefail
source_root=$1
check=$source_root/scripts/check-boundary
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$check" "$source_root" >/dev/null || { echo "the tree as it stands fails the check"; exit 1; }

expect_rejected() {
  local file=$1 include=$2
  rm -rf "$work/tree"
  mkdir -p "$work/tree"
  cp -r "$source_root/src" "$source_root/apps" "$work/tree/"
  echo "#include \"$include\"" >>"$work/tree/$file"
  if out=$("$check" "$work/tree" 2>&1); then
    echo "not rejected: $file including $include"
    exit 1
  fi
  grep -q "$file" <<<"$out" || { echo "rejected without naming $file:"; echo "$out"; exit 1; }
}

expect_rejected src/utils/Chave.cpp core/TqorNFCe.h
expect_rejected src/base/Types.h core/TqorNFCe.h
expect_rejected src/templates/TqorNFCeTemplates.h utils/Chave.h
expect_rejected src/platform/Xml.h base/Types.h
expect_rejected src/rules/TqorRule.h conversion/TqorNFCeDataSets.h
echo "boundary check rejects upward includes: 5 passed, 0 failed"
