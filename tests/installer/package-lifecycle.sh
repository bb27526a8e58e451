#!/usr/bin/env bash
# package-lifecycle.sh ROOT BIN PACKAGE NEXT_PACKAGE WORK SYMBOLS_ZIP VERSION
#
# The installer package end to end in the test run's Wine prefix, with the
# signed packages of package-signing.sh (their signed files lie in
# <package>.files): regsvr32 accepts the signed DLL, what a silent install
# writes is what DllRegisterServer writes, script clients and the host tool find
# the classes, the installed diagnosis tools report the version and explain an
# item, the installed DLL's export resolves to its source line through dbghelp
# with the symbols archive, a higher version replaces the installed one, so does
# a rebuild of the same version (without the tools feature, which is then added
# and removed on its own), a lower one is refused, and removal leaves the
# registry as it was. The prefix is shared with the other suites: everything
# installed or written is removed again, on failure too.
set -euo pipefail
root=${1:?root}; bin=${2:?bin}; package=${3:?package}; next_package=${4:?next package}; work=${5:?work folder}
symbols_zip=${6:?symbols archive}; version=${7:?version}
files="$package.files"; next_files="$next_package.files"
: "${ITEMPLUGIN_WINEPREFIX:?ITEMPLUGIN_WINEPREFIX must name the test prefix}"
prefix=$ITEMPLUGIN_WINEPREFIX

rm -rf "$work"
mkdir -p "$work"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
wine_run() { "$root/scripts/wine-run" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "== $*"; }

install_dir="$prefix/drive_c/Program Files/ItemPlugin"
installed_dll="$install_dir/ItemPlugin.dll"
installed_dll_windows='C:\Program Files\ItemPlugin\ItemPlugin.dll'
tools=(itemhost.exe itemcache.exe)
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
demo_folder='C:\users\Public\ItemPluginPackageTest'
stale_key='HKCR\CLSID\{53723AC8-432D-4A25-AF06-7B67EC2F1826}\Stale'
app_keys=('HKLM\Software\Kestrelmar' 'HKCU\Software\Kestrelmar')

product_code() {
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'
}
code_a=$(product_code "$package")
code_b=$(product_code "$next_package")
code_c=""
[ -n "$code_a" ] && [ -n "$code_b" ] && [ "$code_a" != "$code_b" ] || fail "the packages need two product codes"

# msiexec's exit code: Wine keeps only its low 8 bits, so only 0 is told apart.
msiexec_rc() { local rc=0; wine_run msiexec "$@" >"$work/msiexec.out" 2>&1 || rc=$?; echo "$rc"; }
product_installed() { wine_run reg query "$uninstall_key\\$1" >/dev/null 2>&1; }

# HKEY_CLASSES_ROOT as sorted lines: one per key and one per value, each value
# line led by its key, so that two snapshots compare key by key.
snapshot() {
  local out=$1
  wine_run reg export HKCR "$(windows_path "$work/export.reg")" /y >/dev/null
  iconv -f UTF-16LE -t UTF-8 "$work/export.reg" | tr -d '\r' | awk '
    NR == 1 { sub(/^\xef\xbb\xbf/, "") }
    /^Windows Registry Editor/ { next }
    { if (pending != "") { $0 = pending $0; pending = "" } }
    /\\$/ { pending = substr($0, 1, length($0) - 1); sub(/^ +/, "", pending); next }
    /^\[.*\]$/ { key = $0; print key; next }
    /^$/ { next }
    { sub(/^ +/, ""); print key "\t" $0 }' | LC_ALL=C sort >"$out"
}
added() { LC_ALL=C comm -13 "$1" "$2"; }
removed() { LC_ALL=C comm -23 "$1" "$2"; }
# Windows Installer's own records of the product, not entries of the package.
package_entries() { grep -v -e '^\[HKEY_CLASSES_ROOT\\Installer[]\\]' || true; }

saved_app_keys=()
cleanup() {
  local rc=$?
  set +e
  [ -f "$work/stale" ] && wine_run reg delete "$stale_key" /f >/dev/null 2>&1
  for code in $code_c "$code_b" "$code_a"; do
    product_installed "$code" && wine_run msiexec /x "$code" /qn >/dev/null 2>&1
  done
  if [ -f "$work/registered" ]; then
    wine_run regsvr32 /s /u "$installed_dll_windows" >/dev/null 2>&1
    rm -f "$installed_dll"
    rmdir "$install_dir" 2>/dev/null
  fi
  if [ -f "$work/seeded" ]; then
    for key in "${app_keys[@]}"; do wine_run reg delete "$key" /f >/dev/null 2>&1; done
    for saved in "${saved_app_keys[@]}"; do wine_run reg import "$(windows_path "$saved")" >/dev/null 2>&1; done
    find "$prefix/drive_c/users" -iname '5eed0001-2222-4333-8444-555555555555_vrsn_1.Items' -print0 2>/dev/null |
      while IFS= read -r -d '' cache; do rm -f "$cache"; rmdir -p --ignore-fail-on-non-empty "$(dirname "$cache")" 2>/dev/null; done
    rm -rf "$prefix/drive_c/users/Public/ItemPluginPackageTest"
  fi
  exit "$rc"
}
trap cleanup EXIT

product_installed "$code_a" || product_installed "$code_b" && fail "the product is installed before the test"
[ -e "$install_dir" ] && fail "$install_dir exists before the test"
# Wine's script host registers its own type library when it first runs: let it
# do so before the first snapshot.
: >"$work/empty.vbs"
wine_run cscript //nologo "$(windows_path "$work/empty.vbs")" >/dev/null 2>&1 || true
snapshot "$work/start"

step "regsvr32 of the DLL at the installed path: the entries DllRegisterServer writes"
mkdir -p "$install_dir"
cp "$files/ItemPlugin.dll" "$installed_dll"
touch "$work/registered"
wine_run regsvr32 /s "$installed_dll_windows" || fail "regsvr32 failed"
snapshot "$work/registered.snap"
added "$work/start" "$work/registered.snap" >"$work/expected"
[ -s "$work/expected" ] || fail "regsvr32 wrote nothing"
wine_run regsvr32 /s /u "$installed_dll_windows" || fail "regsvr32 /u failed"
rm -f "$installed_dll"
rmdir "$install_dir"
rm -f "$work/registered"
snapshot "$work/baseline"
if ! cmp -s "$work/start" "$work/baseline"; then
  diff "$work/start" "$work/baseline" | head -40 >&2
  fail "regsvr32 /u left the registry changed"
fi
echo "   $(wc -l <"$work/expected") keys and values"

check_entries() {  # $1: snapshot name
  snapshot "$work/$1"
  added "$work/baseline" "$work/$1" | package_entries >"$work/$1.entries"
  if ! cmp -s "$work/expected" "$work/$1.entries"; then
    echo "--- regsvr32   +++ $1" >&2
    diff "$work/expected" "$work/$1.entries" >&2 || true
    fail "$1: the registry entries differ from those of DllRegisterServer"
  fi
  if removed "$work/baseline" "$work/$1" | grep -q .; then
    removed "$work/baseline" "$work/$1" | head -20 >&2
    fail "$1: entries that were there before are gone"
  fi
}

step "msiexec /i $(basename "$package") /qn"
rc=$(msiexec_rc /i "$(windows_path "$package")" /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "install: msiexec exit code $rc"; }
cmp -s "$files/ItemPlugin.dll" "$installed_dll" || fail "the DLL is not installed at $installed_dll"
for tool in "${tools[@]}"; do
  cmp -s "$files/$tool" "$install_dir/$tool" || fail "$tool is not installed in $install_dir"
  reported=$(wine_run "$(windows_path "$install_dir/$tool")" --version | tr -d '\r')
  [ "$reported" = "${tool%.exe} $version (ItemPlugin, Kestrelmar)" ] || fail "$tool --version says '$reported'"
done
product_installed "$code_a" || fail "the product $code_a is not registered"
check_entries installed

step "the installed DLL's DllGetClassObject through dbghelp, with only the symbols on the search path"
mkdir -p "$work/symbols"
(cd "$work/symbols" && cmake -E tar xf "$symbols_zip")
symbol_folder=$(find "$work/symbols/ItemPlugin.pdb" -mindepth 1 -maxdepth 1 -type d)
[ -n "$symbol_folder" ] || fail "no ItemPlugin.pdb/<GUID><age> folder in $symbols_zip"
# Wine's dbghelp does not walk a symbol store (Windows does through srv*), so the
# search path is the store's folder for this GUID and age. The current folder
# holds no PDB either.
(cd "$work" && wine_run "$(windows_path "$bin/symbollookup.exe")" "$(windows_path "$symbol_folder")" \
  "$installed_dll_windows" DllGetClassObject) | tr -d '\r' >"$work/symbol.out" || { cat "$work/symbol.out" >&2; fail "dbghelp did not resolve the export"; }
cat "$work/symbol.out"
expected_line=$(grep -n '^STDAPI DllGetClassObject(' "$root/module/DllExports.cpp" | cut -d: -f1)
IFS=$'\t' read -r symbol_name symbol_file symbol_line <"$work/symbol.out"
[ "$symbol_name" = DllGetClassObject ] || fail "dbghelp named the export '$symbol_name'"
[[ "$symbol_file" == *'\ItemPlugin\src\module\DllExports.cpp' ]] || fail "dbghelp gave the file '$symbol_file'"
[ "$symbol_line" = "$expected_line" ] || fail "dbghelp gave line $symbol_line, the definition is on line $expected_line"

step "script client: CreateObject"
cp "$root/tests/installer/probe.vbs" "$work/probe.vbs"
wine_run cscript //nologo "$(windows_path "$work/probe.vbs")" 2>&1 | tr -d '\r' >"$work/probe.out" || true
cat "$work/probe.out"
grep -qx 'ItemPlugin.ItemPreview.1: IItemPreview' "$work/probe.out" || fail "the preview object is no IItemPreview for scripts"
for progid in ItemPlugin.ItemFormat.1 ItemPlugin.ItemFile.1; do
  grep -qx "$progid: 430 Class doesn't support Automation" "$work/probe.out" || fail "$progid: expected error 430"
done

step "itemhost --com for the demo vault"
for key in "${app_keys[@]}"; do
  if wine_run reg query "$key" >/dev/null 2>&1; then
    saved="$work/saved-${#saved_app_keys[@]}.reg"
    wine_run reg export "$key" "$(windows_path "$saved")" /y >/dev/null
    saved_app_keys+=("$saved")
  fi
done
touch "$work/seeded"
mapfile -t items < <(wine_run "$(windows_path "$bin/samplevault.exe")" "$demo_folder" | tr -d '\r')
[ "${#items[@]}" -ge 1 ] || fail "samplevault gave no items"
wine_run "$(windows_path "$bin/itemhost.exe")" --com "${items[0]}" 2>&1 | tr -d '\r' >"$work/itemhost.out" || true
cat "$work/itemhost.out"
grep -q '^Plug-in: *COM activation' "$work/itemhost.out" || fail "itemhost did not reach the plug-in through COM"
grep -q 'Bracket.drw' "$work/itemhost.out" || fail "itemhost got no references for ${items[0]}"

step "the installed itemhost --explain"
rc=0
wine_run "$(windows_path "$install_dir/itemhost.exe")" --explain "${items[0]}" 2>&1 | tr -d '\r' >"$work/explain.out" || rc=$?
grep -E '^ *(cache file|CreateNavigator|GetReferences):' "$work/explain.out"
[ "$rc" = 0 ] || { cat "$work/explain.out" >&2; fail "itemhost --explain: exit status $rc"; }
grep -q '^ *CreateNavigator: 0x00000000' "$work/explain.out" || fail "itemhost --explain: no navigator for ${items[0]}"

step "upgrade: msiexec /i $(basename "$next_package") /qn, over a stale class subkey"
# Like DllRegisterServer's ForceRemove, the install deletes the class keys with
# whatever an earlier registration left below them.
touch "$work/stale"
wine_run reg add "$stale_key" /ve /d stale /f >/dev/null
rc=$(msiexec_rc /i "$(windows_path "$next_package")" /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "upgrade: msiexec exit code $rc"; }
product_installed "$code_b" || fail "upgrade: the new product $code_b is not registered"
product_installed "$code_a" && fail "upgrade: the old product $code_a is still registered"
cmp -s "$next_files/ItemPlugin.dll" "$installed_dll" || fail "upgrade: the DLL is missing at $installed_dll"
cmp -s "$next_files/itemhost.exe" "$install_dir/itemhost.exe" || fail "upgrade: itemhost.exe was not replaced"
check_entries upgraded

step "a rebuild of the same version (another ProductCode), ADDLOCAL=ItemPlugin: replaces the installed one, without the tools"
rebuilt="$work/ItemPlugin-rebuilt-x64.msi"
cp "$next_package" "$rebuilt"
new_guid() { printf '{%s}' "$(tr a-z A-Z </proc/sys/kernel/random/uuid)"; }
code_c=$(new_guid)
msibuild "$rebuilt" -q "UPDATE \`Property\` SET \`Value\` = '$code_c' WHERE \`Property\` = 'ProductCode'" \
  -s ItemPlugin Kestrelmar 'x64;1033' "$(new_guid)" || fail "cannot make the rebuilt package"
rc=$(msiexec_rc /i "$(windows_path "$rebuilt")" ADDLOCAL=ItemPlugin /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "rebuild: msiexec exit code $rc"; }
product_installed "$code_c" || fail "rebuild: the rebuilt product $code_c is not registered"
product_installed "$code_b" && fail "rebuild: the product $code_b is still registered beside it"
cmp -s "$next_files/ItemPlugin.dll" "$installed_dll" || fail "rebuild: the DLL is missing at $installed_dll"
for tool in "${tools[@]}"; do [ -e "$install_dir/$tool" ] && fail "rebuild: $tool is installed without its feature"; done
check_entries rebuilt

step "the tools feature on its own: ADDLOCAL=DiagnosisTools, then REMOVE=DiagnosisTools"
rc=$(msiexec_rc /i "$(windows_path "$rebuilt")" ADDLOCAL=DiagnosisTools /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "ADDLOCAL=DiagnosisTools: msiexec exit code $rc"; }
for tool in "${tools[@]}"; do [ -e "$install_dir/$tool" ] || fail "ADDLOCAL=DiagnosisTools: $tool is missing"; done
rc=$(msiexec_rc /i "$(windows_path "$rebuilt")" REMOVE=DiagnosisTools /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "REMOVE=DiagnosisTools: msiexec exit code $rc"; }
for tool in "${tools[@]}"; do [ -e "$install_dir/$tool" ] && fail "REMOVE=DiagnosisTools: $tool is still there"; done
cmp -s "$next_files/ItemPlugin.dll" "$installed_dll" || fail "REMOVE=DiagnosisTools: the DLL went with the tools"
check_entries tools-removed

step "downgrade: msiexec /i $(basename "$package") /qn is refused"
rc=$(msiexec_rc /i "$(windows_path "$package")" /qn)
[ "$rc" != 0 ] || fail "downgrade: msiexec reported success"
echo "   msiexec exit code $rc (low 8 bits)"
product_installed "$code_a" && fail "downgrade: the older product $code_a got installed"
product_installed "$code_c" || fail "downgrade: the installed product $code_c is gone"
cmp -s "$next_files/ItemPlugin.dll" "$installed_dll" || fail "downgrade: the DLL is missing at $installed_dll"
check_entries downgrade-refused

step "msiexec /x $code_c /qn"
rc=$(msiexec_rc /x "$code_c" /qn)
[ "$rc" = 0 ] || { cat "$work/msiexec.out" >&2; fail "remove: msiexec exit code $rc"; }
[ -e "$installed_dll" ] && fail "remove: the DLL is still there"
[ -e "$install_dir" ] && fail "remove: $install_dir is still there"
product_installed "$code_c" && fail "remove: the product $code_c is still registered"
snapshot "$work/removed"
# Wine's msiexec also deletes each parent key that the removal leaves empty, even
# one it did not create (a fresh prefix has an empty Wow6432Node\Interface): a
# key that was empty before may go; nothing else may change.
# Windows Installer keeps its (now empty) containers under HKCR\Installer.
added "$work/baseline" "$work/removed" | grep -v -E '^\[HKEY_CLASSES_ROOT\\Installer(\\[^\\]*)?\]$' \
  >"$work/removed.added" || true
removed "$work/baseline" "$work/removed" >"$work/removed.gone"
: >"$work/removed.lost"
[ -s "$work/removed.gone" ] && awk -F'\t' 'NR == FNR { gone[$0] = 1; next }
  { for (k in gone) if (index($0, substr(k, 1, length(k) - 1) "\\") == 1 || index($0, k "\t") == 1) bad[k] = 1 }
  END { for (k in gone) if (k !~ /^\[.*\]$/ || (k in bad)) print k }' \
  "$work/removed.gone" "$work/baseline" >"$work/removed.lost"
if [ -s "$work/removed.added" ] || [ -s "$work/removed.lost" ]; then
  { echo "left behind:"; head -20 "$work/removed.added"; echo "lost:"; head -20 "$work/removed.lost"; } >&2
  fail "remove: the registry is not as it was before the install"
fi
sed 's/^/   emptied and deleted by msiexec: /' "$work/removed.gone"
for key in CLSID AppID TypeLib Interface; do
  wine_run reg query "HKCR\\$key" /ve >/dev/null 2>&1 || fail "remove: HKCR\\$key is gone"
done
echo "passed"
