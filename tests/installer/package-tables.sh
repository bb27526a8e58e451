#!/usr/bin/env bash
# package-tables.sh PACKAGE REGISTRY64_WXI REMOVE_REGISTRY_IDT
#
# The built package's tables, for the rules Wine's msiexec does not enforce but
# Windows Installer does, and for the choices the package depends on: no
# self-registration, every sequenced custom action defined and run inside the
# installation transaction, the old product removed before anything is
# installed, a 64-bit per-machine package whose Registry table holds every
# generated row.
set -euo pipefail
package=${1:?package}; rows=${2:?generated registry rows}; remove_rows=${3:?generated RemoveRegistry table}
fail() { echo "FAIL: $*" >&2; exit 1; }
errors=0
problem() { echo "FAIL: $*" >&2; errors=$((errors + 1)); }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tables=$(msiinfo tables "$package" | tr -d '\r')
table() {  # the rows of a table, without the three header lines; empty when absent
  if grep -qx "$1" <<<"$tables"; then msiinfo export "$package" "$1" | tr -d '\r' | tail -n +4; fi
}
property() { table Property | awk -F'\t' -v p="$1" '$1 == p { print $2 }'; }

version=$(property ProductVersion)
[ "$(basename "$package")" = "ItemPlugin-$version-x64.msi" ] || problem "the file name does not carry the version $version"
[ "$(property ALLUSERS)" = 1 ] || problem "ALLUSERS is not 1: not a per-machine package"
msiinfo suminfo "$package" | grep -qx 'Template: x64;1033' || problem "the summary's platform is not x64"

# No self-registration: no SelfReg rows, no custom action that runs code (a DLL,
# an executable or a script, from the package, an installed file or a property).
[ -z "$(table SelfReg)" ] || problem "the package has SelfReg rows"
table CustomAction >"$work/actions"
while read -r action; do
  problem "custom action $action runs code"
done < <(awk -F'\t' '{ kind = $2 % 8; if (kind == 1 || kind == 2 || kind == 5 || kind == 6) print $1 }' "$work/actions")

# Every action a sequence names is a standard action, a dialog or a custom
# action of the CustomAction table; custom actions of the execute sequence run
# between InstallInitialize and InstallFinalize.
standard=" ADMIN ADVERTISE AllocateRegistrySpace AppSearch BindImage CCPSearch CostFinalize CostInitialize
 CreateFolders CreateShortcuts DeleteServices DisableRollback DuplicateFiles ExecuteAction FileCost
 FindRelatedProducts ForceReboot INSTALL InstallAdminPackage InstallExecute InstallExecuteAgain InstallFiles
 InstallFinalize InstallInitialize InstallODBC InstallServices InstallSFPCatalogFile InstallValidate
 IsolateComponents LaunchConditions MigrateFeatureStates MoveFiles MsiConfigureServices MsiPublishAssemblies
 MsiUnpublishAssemblies PatchFiles ProcessComponents PublishComponents PublishFeatures PublishProduct
 RegisterClassInfo RegisterComPlus RegisterExtensionInfo RegisterFonts RegisterMIMEInfo RegisterProduct
 RegisterProgIdInfo RegisterTypeLibraries RegisterUser RemoveDuplicateFiles RemoveEnvironmentStrings
 RemoveExistingProducts RemoveFiles RemoveFolders RemoveIniValues RemoveODBC RemoveRegistryValues RemoveShortcuts
 ResolveSource RMCCPSearch ScheduleReboot SelfRegModules SelfUnregModules SetODBCFolders StartServices
 StopServices UnpublishComponents UnpublishFeatures UnregisterClassInfo UnregisterComPlus UnregisterExtensionInfo
 UnregisterFonts UnregisterMIMEInfo UnregisterProgIdInfo UnregisterTypeLibraries ValidateProductID
 WriteEnvironmentStrings WriteIniValues WriteRegistryValues"
standard=" $(echo $standard) "
dialogs=" $(table Dialog | cut -f1 | tr '\n' ' ') "
custom=" $(cut -f1 "$work/actions" | tr '\n' ' ') "
for sequence in InstallExecuteSequence InstallUISequence AdminExecuteSequence AdminUISequence AdvtExecuteSequence; do
  table "$sequence" >"$work/sequence"
  seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' "$work/sequence"; }
  initialize=$(seq_of InstallInitialize); finalize=$(seq_of InstallFinalize)
  while IFS='|' read -r action number; do
    [ -n "$action" ] || continue
    if [[ "$custom" == *" $action "* ]]; then
      case "$sequence" in *ExecuteSequence)
        if [ -z "$initialize" ] || [ -z "$finalize" ] || [ "$number" -le "$initialize" ] || [ "$number" -ge "$finalize" ]; then
          problem "$sequence: custom action $action ($number) is not between InstallInitialize ($initialize) and InstallFinalize ($finalize)"
        fi ;;
      esac
    elif [[ "$standard" != *" $action "* && "$dialogs" != *" $action "* ]]; then
      problem "$sequence: $action is neither a standard action, a dialog nor a custom action of the package"
    fi
  done < <(awk -F'\t' '{ print $1 "|" $3 }' "$work/sequence")
done

# The older product goes before anything is installed (after InstallValidate,
# before InstallInitialize), so that the same-version DLL is copied again.
table InstallExecuteSequence >"$work/sequence"
seq_of() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' "$work/sequence"; }
rep=$(seq_of RemoveExistingProducts); validate=$(seq_of InstallValidate); initialize=$(seq_of InstallInitialize)
[ -n "$rep" ] && [ "$rep" -gt "$validate" ] && [ "$rep" -lt "$initialize" ] ||
  problem "RemoveExistingProducts ($rep) is not between InstallValidate ($validate) and InstallInitialize ($initialize)"

# Upgrades: older and same versions are replaced, newer ones refuse the install.
upgrade_code=$(property UpgradeCode)
table Upgrade >"$work/upgrade"
grep -qxF "$upgrade_code		$version		513		WIX_UPGRADE_DETECTED" "$work/upgrade" ||
  problem "no upgrade row replacing versions up to $version inclusive"
grep -qxF "$upgrade_code	$version			2		WIX_DOWNGRADE_DETECTED" "$work/upgrade" ||
  problem "no upgrade row detecting newer versions"
table LaunchCondition | grep -q '^NOT WIX_DOWNGRADE_DETECTED	' || problem "a newer version does not stop the install"

# The DLL and the tools: 64-bit components, under ProgramFiles64Folder\ItemPlugin,
# each with the build's file version (the package's version and .0).
file_version=$(awk -F. '{ printf "%d.%d.%d.0", $1, $2, ($3 == "" ? 0 : $3) }' <<<"$version")
for file in ItemPlugin.dll itemhost.exe itemcache.exe; do
  table File | awk -F'\t' -v f="$file" -v v="$file_version" '$1 == f && $3 == f && $5 == v { ok = 1 } END { exit !ok }' ||
    problem "the File row of $file lacks the version $file_version"
done
# The tools are their own feature, installed by default (level 1), no registry rows.
for component in ItemHostExe:itemhost.exe ItemCacheExe:itemcache.exe; do
  table Component | awk -F'\t' -v c="${component%%:*}" -v k="${component#*:}" \
    '$1 == c && $3 == "ItemPluginFolder" && int($4 / 256) % 2 == 1 && $6 == k { ok = 1 } END { exit !ok }' ||
    problem "${component%%:*} is not a 64-bit component of ItemPluginFolder keyed by ${component#*:}"
  table FeatureComponents | grep -qxF "DiagnosisTools	${component%%:*}" || problem "${component%%:*} is not in the DiagnosisTools feature"
done
table Feature | awk -F'\t' '$1 == "DiagnosisTools" && $6 == 1 { ok = 1 } END { exit !ok }' ||
  problem "the DiagnosisTools feature is not installed by default"
table Registry | awk -F'\t' '$6 == "ItemHostExe" || $6 == "ItemCacheExe"' | grep -q . && problem "the tools have registry rows"

# A silent upgrade never closes the host that has the DLL loaded, and never
# restarts the machine: the Restart Manager shuts nothing down, and a file in
# use is replaced at the next restart (exit code 3010). Wine's msiexec shows
# none of this, so the properties are pinned here.
[ "$(property MSIRESTARTMANAGERCONTROL)" = Disable ] || problem "MSIRESTARTMANAGERCONTROL is not Disable"
[ "$(property REBOOT)" = ReallySuppress ] || problem "REBOOT is not ReallySuppress"
[ -z "$(property MSIRMSHUTDOWN)" ] || problem "MSIRMSHUTDOWN is set: the Restart Manager would close applications"
table Component | awk -F'\t' '$1 == "ItemPluginDll" && $3 == "ItemPluginFolder" && int($4 / 256) % 2 == 1 && $6 == "ItemPlugin.dll" { ok = 1 } END { exit !ok }' ||
  problem "ItemPluginDll is not a 64-bit component keyed by the DLL"
table Directory | grep -qxF "ItemPluginFolder	ProgramFiles64Folder	ItemPlugin" ||
  problem "the DLL's folder is not ProgramFiles64Folder\\ItemPlugin"

# The Registry table holds exactly the generated 64-bit rows on the DLL's component.
sed -n 's/^ *<RegistryValue Root="HKCR" Key="\([^"]*\)"\( Name="\([^"]*\)"\)\? Type="string" Value="\([^"]*\)".*$/\1\t\3\t\4/p' "$rows" |
  sed 's/&quot;/"/g; s/&lt;/</g; s/&gt;/>/g; s/&amp;/\&/g' | LC_ALL=C sort >"$work/generated"
[ -s "$work/generated" ] || fail "no rows in $rows"
table Registry | awk -F'\t' '$2 == 0 && $6 == "ItemPluginDll" { print $3 "\t" $4 "\t" $5 }' | LC_ALL=C sort >"$work/table"
if ! cmp -s "$work/generated" "$work/table"; then
  diff "$work/generated" "$work/table" >&2 || true
  problem "the Registry table is not the generated rows"
fi
grep -q '\[#ItemPlugin.dll\]' "$work/table" || problem "no registry row names the installed DLL"

# The ForceRemove keys, deleted when the package installs.
tr -d '\r' <"$remove_rows" | tail -n +4 | LC_ALL=C sort >"$work/generated-remove"
table RemoveRegistry | LC_ALL=C sort >"$work/table-remove"
[ -s "$work/generated-remove" ] || problem "no ForceRemove keys were generated"
cmp -s "$work/generated-remove" "$work/table-remove" || problem "the RemoveRegistry table is not the generated one"

[ "$errors" -eq 0 ] || exit 1
echo "passed: $(wc -l <"$work/table") registry rows, version $version"
