# cmake -DINPUTS=PackageInputs.cmake -DVERSION=... -DOUTPUT=... -P BuildPackage.cmake
#
# INPUTS (written by installer/CMakeLists.txt) names the tools and the files to
# package: WIXL, MSIBUILD, MSIINFO, OSSLSIGNCODE, WXS, INCLUDE_DIR, REMOVE_TABLE,
# FILES (ItemPlugin.dll, itemhost.exe, itemcache.exe) and FILE_VERSION.
#
# The files are copied to OUTPUT.files and, when a certificate is given, signed
# there before wixl packages them; the package is signed last (SignFile.cmake).
# After wixl it sets what wixl 0.101 cannot express:
# - the RemoveRegistry table that registry-rows wrote (the ForceRemove keys);
# - the binaries' file version in the File table, so that Windows Installer
#   applies the rules for versioned files to them rather than those for
#   unversioned ones;
# - an inclusive upper bound on the upgrade row (WiX's AllowSameVersionUpgrades),
#   so that a rebuild of the same version replaces the installed product instead
#   of installing a second one beside it.
# The package appears under OUTPUT only when every step succeeded.
if(NOT INPUTS OR NOT EXISTS "${INPUTS}")
  message(FATAL_ERROR "BuildPackage.cmake: INPUTS is not set")
endif()
include("${INPUTS}")
foreach(var WIXL MSIBUILD MSIINFO WXS INCLUDE_DIR REMOVE_TABLE VERSION FILES FILE_VERSION OUTPUT)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "BuildPackage.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+(\\.[0-9]+)?$")
  message(FATAL_ERROR "package version '${VERSION}' is not major.minor[.build]")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/SignFile.cmake")

set(partial "${OUTPUT}.partial")
# wixl resolves a file's Source only relative to the working directory.
set(files_dir "${OUTPUT}.files")
file(REMOVE "${partial}")
file(REMOVE_RECURSE "${files_dir}")
file(MAKE_DIRECTORY "${files_dir}")
file(COPY ${FILES} DESTINATION "${files_dir}")

function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${files_dir}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    file(REMOVE "${partial}")
    message(FATAL_ERROR "${ARGV0} failed (${rc}):\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

itemplugin_signing_configured(signing)
if(signing)
  foreach(file ItemPlugin.dll itemhost.exe itemcache.exe)
    itemplugin_sign_file("${files_dir}/${file}")
  endforeach()
else()
  message(STATUS "${OUTPUT}: nothing is signed (no ITEMPLUGIN_SIGN_PFX or ITEMPLUGIN_SIGN_PKCS11_MODULE given)")
endif()

run(${WIXL} -a x64 -D "Version=${VERSION}" -D "PluginDll=ItemPlugin.dll" -D "ItemHostExe=itemhost.exe"
    -D "ItemCacheExe=itemcache.exe" -I "${INCLUDE_DIR}" -o "${partial}" "${WXS}")

run(${MSIINFO} export "${partial}" Property)
if(NOT run_output MATCHES "\nUpgradeCode\t({[0-9A-Fa-f-]+})")
  file(REMOVE "${partial}")
  message(FATAL_ERROR "the package has no UpgradeCode")
endif()
set(upgrade_code "${CMAKE_MATCH_1}")

# 513: msidbUpgradeAttributesMigrateFeatures | msidbUpgradeAttributesVersionMaxInclusive.
# Attributes is part of the Upgrade table's key: the row is replaced, not updated.
run(${MSIBUILD} "${partial}" -i "${REMOVE_TABLE}"
  -q "UPDATE `File` SET `Version` = '${FILE_VERSION}', `Language` = '0' WHERE `File` = 'ItemPlugin.dll' OR `File` = 'itemhost.exe' OR `File` = 'itemcache.exe'"
  -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
  -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) VALUES ('${upgrade_code}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")

# The package's signature covers its tables and streams: nothing may change it after this.
if(signing)
  get_filename_component(package_name "${OUTPUT}" NAME)
  itemplugin_sign_file("${partial}" "${package_name}")
endif()
file(RENAME "${partial}" "${OUTPUT}")
