# cmake -DWIXL=... -DMSIBUILD=... -DMSIINFO=... -DWXS=... -DINCLUDE_DIR=...
#       -DREMOVE_TABLE=... -DVERSION=... -DPLUGIN_DLL=... -DFILE_VERSION=... -DOUTPUT=... -P BuildPackage.cmake
#
# Builds the package with wixl, then sets what wixl 0.101 cannot express:
# - the RemoveRegistry table that registry-rows wrote (the ForceRemove keys);
# - the DLL's file version in the File table, so that Windows Installer applies
#   the rules for versioned files to it rather than those for unversioned ones;
# - an inclusive upper bound on the upgrade row (WiX's AllowSameVersionUpgrades),
#   so that a rebuild of the same version replaces the installed product instead
#   of installing a second one beside it.
# The package appears under OUTPUT only when every step succeeded.
foreach(var WIXL MSIBUILD MSIINFO WXS INCLUDE_DIR REMOVE_TABLE VERSION PLUGIN_DLL FILE_VERSION OUTPUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "BuildPackage.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+(\\.[0-9]+)?$")
  message(FATAL_ERROR "package version '${VERSION}' is not major.minor[.build]")
endif()

set(partial "${OUTPUT}.partial")
# wixl resolves a file's Source only relative to the working directory.
get_filename_component(dll_dir "${PLUGIN_DLL}" DIRECTORY)
get_filename_component(dll_name "${PLUGIN_DLL}" NAME)
file(REMOVE "${partial}")

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${dll_dir}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    file(REMOVE "${partial}")
    message(FATAL_ERROR "${ARGV0} failed (${rc}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

run(${WIXL} -a x64 -D "Version=${VERSION}" -D "PluginDll=${dll_name}" -I "${INCLUDE_DIR}" -o "${partial}" "${WXS}")

run(${MSIINFO} export "${partial}" Property)
if(NOT run_output MATCHES "\nUpgradeCode\t({[0-9A-Fa-f-]+})")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "the package has no UpgradeCode")
endif()
set(upgrade_code "${CMAKE_MATCH_1}")

# 513: msidbUpgradeAttributesMigrateFeatures | msidbUpgradeAttributesVersionMaxInclusive.
# Attributes is part of the Upgrade table's key: the row is replaced, not updated.
run(${MSIBUILD} "${partial}" -i "${REMOVE_TABLE}"
  -q "UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '0' WHERE `File` = 'ItemPlugin.dll'"
  -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
  -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${upgrade_code}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")

file(RENAME "${partial}" "${OUTPUT}")
