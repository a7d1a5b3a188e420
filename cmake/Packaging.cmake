# What a host vendor receives: the contract's headers, the plug-in library,
# the reference checker SDK with its example rules, fpcheck, fpcloud (Linux),
# the guides, the host example and a CMake package configuration, laid out by
# cmake --install and archived by CPack (.tar.gz for Linux, .zip for Windows)
# under one top folder, vfpcchecker-<version>-<platform>/.
#
# Layout under the prefix (the same on both platforms, so that fpcheck finds
# the plug-in beside itself, as in the build tree):
#   README.md                       the package's README (packaging/README.md)
#   include/kesp/                   the host interface
#   include/fpcsdk/                 the checker SDK interface
#   bin/                            the plug-in library and its checked build,
#                                   fpcheck, fpcsdk-conform, fpcloud (Linux)
#   bin/reference-sdk/              the reference SDK and vfpcsdk.rules
#   lib/cmake/VfpcChecker/          find_package(VfpcChecker 2.1 CONFIG)
#   lib/libcpp-httplib.so.*         fpcloud's server library (Linux)
#   share/doc/vfpcchecker/          CHANGELOG.md, THIRD-PARTY-NOTICES, the guides
#   share/vfpcchecker/examples/     the host example, the SDK example, the
#                                   example files and requests
#   SHA256SUMS                      every file above, after stripping and signing
#
# Binaries are stripped on install; their debug information stays beside them
# (<file>.debug, linked by .gnu_debuglink), and each Windows binary has its
# PDB beside it (<file>.pdb, named by the binary's CodeView record). Windows
# binaries are signed when KESP_SIGN_KEY and KESP_SIGN_CERT name a key and a
# certificate at install time (see cmake/FinishBinaries.cmake).
include(CMakePackageConfigHelpers)

set(KESP_CONFIG_DESTINATION lib/cmake/VfpcChecker)
set(KESP_DOC_DESTINATION share/doc/vfpcchecker)
set(KESP_EXAMPLES_DESTINATION share/vfpcchecker/examples)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/kesp DESTINATION include)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/fpcsdk DESTINATION include)

# The binaries are copied as built (they link nothing of the build tree, so
# there is no run path to rewrite) and finished below.
set(KESP_FINISH_FILES bin/$<TARGET_FILE_NAME:vfpcchecker>)
install(PROGRAMS $<TARGET_FILE:vfpcchecker> DESTINATION bin)
# The checked build, beside the release library, for a vendor's test runs.
list(APPEND KESP_FINISH_FILES bin/$<TARGET_FILE_NAME:vfpcchecker_checked>)
install(PROGRAMS $<TARGET_FILE:vfpcchecker_checked> DESTINATION bin)
if(TARGET reference_sdk)
  install(PROGRAMS $<TARGET_FILE:reference_sdk> DESTINATION bin/reference-sdk)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/vfpcsdk.rules DESTINATION bin/reference-sdk)
  list(APPEND KESP_FINISH_FILES bin/reference-sdk/$<TARGET_FILE_NAME:reference_sdk>)
endif()
# The programs beside the plug-in: fpcheck, the SDK builder's kit
# fpcsdk-conform, and fpcloud, the reference cloud service, which is built on
# Linux only (its server library and TLS come from Linux packages; the
# server library itself is installed with it, reference/cloud/).
foreach(program fpcheck fpcsdk-conform fpcloud)
  if(TARGET ${program})
    install(PROGRAMS $<TARGET_FILE:${program}> DESTINATION bin)
    list(APPEND KESP_FINISH_FILES bin/$<TARGET_FILE_NAME:${program}>)
    if(NOT WIN32)
      # They must run wherever the plug-in runs, on a C++ runtime as old as
      # GCC 11's: their one call that GCC 12 gives a newer symbol version is
      # sent to its old version (tools/glibcxx_compat_posix.cpp). In every
      # build, so that the tests run the programs as they ship.
      target_sources(${program} PRIVATE ${PROJECT_SOURCE_DIR}/tools/glibcxx_compat_posix.cpp)
      target_link_options(${program} PRIVATE
        "LINKER:--wrap=_ZNSt18condition_variable4waitERSt11unique_lockISt5mutexE")
    endif()
  endif()
endforeach()

# A PDB for each Windows binary, beside it. GNU ld writes it at link time
# and puts a CodeView record naming it into the binary's debug directory, so
# that WinDbg, Visual Studio and Windows Error Reporting find it on their
# symbol path: the binary's public functions by name. (GCC emits no CodeView
# line tables; the DWARF file beside each binary keeps the lines.) The PDB is
# named without a directory, so no build path goes into the binary; the
# linker writes it into the target's build folder.
if(WIN32)
  foreach(target vfpcchecker vfpcchecker_checked reference_sdk fpcheck fpcsdk-conform)
    if(TARGET ${target})
      set(destination bin)
      if(target STREQUAL reference_sdk)
        set(destination bin/reference-sdk)
      endif()
      target_link_options(${target} PRIVATE "LINKER:--pdb=$<TARGET_FILE_BASE_NAME:${target}>.pdb")
      get_target_property(folder ${target} BINARY_DIR)
      install(FILES ${folder}/$<TARGET_FILE_BASE_NAME:${target}>.pdb DESTINATION ${destination})
    endif()
  endforeach()
endif()

# Split debug information, strip, sign.
find_program(KESP_OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy)
find_program(KESP_STRIP NAMES ${CMAKE_STRIP} strip)
if(WIN32)
  set(KESP_SIGN_BINARIES ON)
else()
  set(KESP_SIGN_BINARIES OFF)
endif()
install(CODE "
  set(KESP_FINISH_FILES \"${KESP_FINISH_FILES}\")
  set(KESP_OBJCOPY \"${KESP_OBJCOPY}\")
  set(KESP_STRIP \"${KESP_STRIP}\")
  set(KESP_SIGN_BINARIES ${KESP_SIGN_BINARIES})
  set(KESP_SIGN_DESCRIPTION \"Velnor FP Checker ${PROJECT_VERSION}\")")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/FinishBinaries.cmake)

# The package's own README at the top (the source tree's speaks of scripts,
# presets and tests that are not shipped), the change log, the notices and
# the guides. docs/README.md describes the source folder, and BENCHMARKS.md
# how the source tree measures itself: neither is for the package.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${KESP_DOC_DESTINATION})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${KESP_DOC_DESTINATION}
        FILES_MATCHING PATTERN "*.md" PATTERN "README.md" EXCLUDE PATTERN "BENCHMARKS.md" EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/host ${PROJECT_SOURCE_DIR}/examples/files
        DESTINATION ${KESP_EXAMPLES_DESTINATION})
# The SDK builder's: the minimal SDK and the reference SDK's known answers.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/sdk DESTINATION ${KESP_EXAMPLES_DESTINATION})
install(FILES ${PROJECT_SOURCE_DIR}/examples/reference-cases.jsonl
              ${PROJECT_SOURCE_DIR}/examples/requests.jsonl
        DESTINATION ${KESP_EXAMPLES_DESTINATION})

# The package configuration: an interface target with the include directory,
# and the installed plug-in library's path. Every path is relative to the
# configuration file, so the tree may be unpacked anywhere.
if(WIN32)
  set(KESP_PLUGIN_FILE_NAME vfpcchecker.dll)
  set(KESP_CHECKED_PLUGIN_FILE_NAME vfpcchecker_checked.dll)
else()
  set(KESP_PLUGIN_FILE_NAME libvfpcchecker.so)
  set(KESP_CHECKED_PLUGIN_FILE_NAME libvfpcchecker_checked.so)
endif()
set(KESP_FPCHECK_FILE_NAME fpcheck${CMAKE_EXECUTABLE_SUFFIX})
set(KESP_INCLUDE_DIR include)
set(KESP_BIN_DIR bin)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VfpcCheckerConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VfpcCheckerConfig.cmake
  INSTALL_DESTINATION ${KESP_CONFIG_DESTINATION}
  PATH_VARS KESP_INCLUDE_DIR KESP_BIN_DIR KESP_EXAMPLES_DESTINATION)
# 2.x hosts keep working with any later 2.y: the interface tables only grow
# by new versioned interfaces.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VfpcCheckerConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VfpcCheckerConfig.cmake
              ${PROJECT_BINARY_DIR}/VfpcCheckerConfigVersion.cmake
        DESTINATION ${KESP_CONFIG_DESTINATION})

# Last of all install rules: the checksums of everything installed above,
# taken after stripping and signing.
set(KESP_SHA256SUMS_DESTINATION "." CACHE STRING
    "Where under the install prefix the SHA256SUMS file of the installed files goes")
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  cmake_path(ABSOLUTE_PATH root NORMALIZE)
  set(sums \"\${root}/${KESP_SHA256SUMS_DESTINATION}/SHA256SUMS\")
  cmake_path(NORMAL_PATH sums)
  set(files \${CMAKE_INSTALL_MANIFEST_FILES})
  list(REMOVE_DUPLICATES files)
  list(SORT files)
  set(text \"\")
  foreach(file IN LISTS files)
    cmake_path(NORMAL_PATH file)
    if(file STREQUAL sums OR IS_DIRECTORY \"\${file}\")
      continue()
    endif()
    file(RELATIVE_PATH name \"\${root}/${KESP_SHA256SUMS_DESTINATION}\" \"\${file}\")
    file(SHA256 \"\${file}\" hash)
    string(APPEND text \"\${hash}  \${name}\\n\")
  endforeach()
  message(STATUS \"Writing: \${sums}\")
  file(WRITE \"\${sums}\" \"\${text}\")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${sums}\")")

# CPack: one archive per platform, which unpacks into one folder named for
# the package, its version and platform: that folder is the prefix.
set(CPACK_PACKAGE_NAME vfpcchecker)
set(CPACK_PACKAGE_VENDOR Velnor)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Velnor FP Checker plug-in for the host scanning framework")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-x64)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-x86_64)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
