#!/usr/bin/env bash
# symbols.sh SOURCE_DIR BUILD_DIR SYMBOLS_ZIP BINARY...
#
# The shipped binaries' debug information: each names its PDB by file name
# only, the PDB beside it has the GUID and age of the binary's debug directory,
# the archive holds it at <name>.pdb/<GUID><age>/<name>.pdb, every source file
# the PDB's line tables name lies under the neutral prefix /ItemPlugin/, and no
# binary carries a path of the build machine.
set -euo pipefail
source_dir=${1:?source dir}; build_dir=${2:?build dir}; zip=${3:?symbols archive}; shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"

for binary in "$@"; do
  name=$(basename "$binary"); pdb_name="${name%.*}.pdb"
  llvm-readobj --coff-debug-directory "$binary" >"$work/debugdir"
  grep -q 'Type: CodeView' "$work/debugdir" || fail "$name: no CodeView debug directory entry"
  file_name=$(sed -n 's/^ *PDBFileName: //p' "$work/debugdir")
  [ "$file_name" = "$pdb_name" ] || fail "$name names its PDB '$file_name', not '$pdb_name'"
  # The GUID as 16 bytes in file order, turned into its text form.
  read -r -a b < <(sed -n 's/^ *PDBGUID: (\(.*\))$/\1/p' "$work/debugdir")
  [ "${#b[@]}" = 16 ] || fail "$name: no PDB GUID"
  guid="${b[3]}${b[2]}${b[1]}${b[0]}-${b[5]}${b[4]}-${b[7]}${b[6]}-${b[8]}${b[9]}-${b[10]}${b[11]}${b[12]}${b[13]}${b[14]}${b[15]}"
  age=$(sed -n 's/^ *PDBAge: //p' "$work/debugdir")

  pdb="$(dirname "$binary")/$pdb_name"
  llvm-pdbutil dump --summary "$pdb" >"$work/summary"
  pdb_guid=$(sed -n 's/^ *GUID: {\(.*\)}$/\1/p' "$work/summary")
  pdb_age=$(sed -n 's/^ *Age: //p' "$work/summary")
  [ "${pdb_guid^^}" = "${guid^^}" ] || fail "$name: debug directory GUID $guid, PDB GUID $pdb_guid"
  [ "$pdb_age" = "$age" ] || fail "$name: debug directory age $age, PDB age $pdb_age"

  stored="$work/$pdb_name/${guid//-/}$(printf '%X' "$age")/$pdb_name"
  [ -f "$stored" ] || fail "$name: the archive has no ${stored#"$work"/}"
  cmp -s "$stored" "$pdb" || fail "$name: the archive's PDB is not the one beside the binary"

  llvm-pdbutil dump --files "$pdb" | sed -n 's/^ *- ([^)]*) //p' | sort -u >"$work/files"
  grep -q '^/ItemPlugin/src/module/\|^/ItemPlugin/src/tools/' "$work/files" || fail "$name: no source of the project in the PDB"
  if grep -v '^/ItemPlugin/' "$work/files" | grep -q .; then
    grep -v '^/ItemPlugin/' "$work/files" | head -5 >&2
    fail "$name: source paths outside the neutral prefix"
  fi
  grep -qaF "$source_dir" "$binary" && fail "$name carries the build machine's path $source_dir"
  grep -qaF "$build_dir" "$binary" && fail "$name carries the build machine's path $build_dir"
  echo "$name: $pdb_name {$guid} age $age, $(wc -l <"$work/files") source files"
done
echo "passed"
