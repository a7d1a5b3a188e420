# What a host vendor receives: the contract's headers, the plug-in library,
# the reference checker SDK with its example rules, fpcheck, the guides, the
# host example and a CMake package configuration, laid out by cmake --install
# and archived by CPack (.tar.gz for Linux, .zip for Windows).
#
# Layout under the prefix (the same on both platforms, so that fpcheck finds
# the plug-in beside itself, as in the build tree):
#   include/kesp/                   the host interface
#   include/fpcsdk/                 the checker SDK interface
#   bin/                            the plug-in library, fpcheck, fpcsdk-conform
#   bin/reference-sdk/              the reference SDK and vfpcsdk.rules
#   lib/cmake/VfpcChecker/          find_package(VfpcChecker 2.1 CONFIG)
#   share/doc/vfpcchecker/          the package's README, CHANGELOG.md,
#                                   THIRD-PARTY-NOTICES, the guides
#   share/vfpcchecker/examples/     the host example, the SDK example and the
#                                   example files
#   SHA256SUMS                      every file above, after stripping and signing
#
# Binaries are stripped on install; their debug information stays beside them
# (<file>.debug, linked by .gnu_debuglink). Windows binaries are signed when
# KESP_SIGN_KEY and KESP_SIGN_CERT name a key and a certificate at install
# time (see cmake/FinishBinaries.cmake).
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
if(TARGET fpcheck)
  install(PROGRAMS $<TARGET_FILE:fpcheck> DESTINATION bin)
  list(APPEND KESP_FINISH_FILES bin/$<TARGET_FILE_NAME:fpcheck>)
endif()
if(TARGET fpcsdk-conform)
  install(PROGRAMS $<TARGET_FILE:fpcsdk-conform> DESTINATION bin)
  list(APPEND KESP_FINISH_FILES bin/$<TARGET_FILE_NAME:fpcsdk-conform>)
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

# The package's own README (the source tree's speaks of scripts, presets and
# tests that are not shipped), the change log, the notices, the guides.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README.md
              ${PROJECT_SOURCE_DIR}/packaging/THIRD-PARTY-NOTICES
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md
        DESTINATION ${KESP_DOC_DESTINATION})
# docs/README.md describes the source folder and would overwrite the
# package's README above.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${KESP_DOC_DESTINATION}
        FILES_MATCHING PATTERN "*.md" PATTERN "README.md" EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/host ${PROJECT_SOURCE_DIR}/examples/files
        DESTINATION ${KESP_EXAMPLES_DESTINATION})
# The SDK builder's: the minimal SDK and the reference SDK's known answers.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/sdk DESTINATION ${KESP_EXAMPLES_DESTINATION})
install(FILES ${PROJECT_SOURCE_DIR}/examples/reference-cases.jsonl
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

# CPack: one archive per platform, unpacked straight into a prefix.
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
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
