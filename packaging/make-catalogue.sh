#!/bin/sh
# Writes the standard lexeme catalogue as a .reg file: installed into a scratch store by
# peltra-lexicon, exported by peltra-reg. Usage: make-catalogue.sh PELTRA-LEXICON PELTRA-REG OUT.reg
set -eu
lexicon=$1 reg=$2 out=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$lexicon" --home "$scratch" install-catalogue >/dev/null
"$reg" --home "$scratch" export 'Software\PELTRA\Лексемы и функции' "$scratch/catalogue.reg" --encoding utf8
mv "$scratch/catalogue.reg" "$out"
