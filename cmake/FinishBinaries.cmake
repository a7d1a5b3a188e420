# Install-time step for the packaged binaries, run by cmake --install and by
# CPack after the binaries are copied and before SHA256SUMS is written:
#   1. keep the debug information beside each binary as <file>.debug,
#   2. strip the binary and link it to that file (.gnu_debuglink: gdb and
#      the Windows debuggers that read DWARF find it beside the binary),
#   3. on Windows, sign it with Authenticode when a key and a certificate are
#      given: KESP_SIGN_KEY (private key, PEM or DER), KESP_SIGN_CERT
#      (certificate chain, PEM or SPC), KESP_SIGN_PASS (the key's password,
#      if any) and KESP_SIGN_TIMESTAMP_URL (a time-stamping server, if any)
#      in the environment. Without the first two the binaries stay unsigned.
#
# Set by the install rules beforehand: KESP_FINISH_FILES (paths relative to
# the prefix), KESP_OBJCOPY, KESP_STRIP, KESP_SIGN_BINARIES,
# KESP_SIGN_DESCRIPTION.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

function(kesp_run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "Failed (${result}): ${command}\n${out}")
  endif()
endfunction()

set(key "$ENV{KESP_SIGN_KEY}")
set(cert "$ENV{KESP_SIGN_CERT}")
set(sign OFF)
if(KESP_SIGN_BINARIES)
  if(key STREQUAL "" AND cert STREQUAL "")
    message(STATUS "NOT SIGNING the Windows binaries: KESP_SIGN_KEY and KESP_SIGN_CERT are "
                   "not set (an unsigned development package)")
  elseif(key STREQUAL "" OR cert STREQUAL "")
    message(FATAL_ERROR "Signing needs both KESP_SIGN_KEY and KESP_SIGN_CERT; only one is set")
  elseif(NOT EXISTS "${key}" OR NOT EXISTS "${cert}")
    message(FATAL_ERROR "KESP_SIGN_KEY '${key}' or KESP_SIGN_CERT '${cert}' does not exist")
  else()
    find_program(KESP_OSSLSIGNCODE osslsigncode)
    if(NOT KESP_OSSLSIGNCODE)
      message(FATAL_ERROR "Signing needs osslsigncode (apt-get install osslsigncode)")
    endif()
    set(sign ON)
  endif()
endif()

foreach(name IN LISTS KESP_FINISH_FILES)
  set(file "${root}/${name}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Not installed: ${file}")
  endif()
  kesp_run(${KESP_OBJCOPY} --only-keep-debug "${file}" "${file}.debug")
  file(CHMOD "${file}.debug" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  kesp_run(${KESP_STRIP} --strip-all "${file}")
  # The link names the file without its directory: gdb looks beside the binary.
  cmake_path(GET file PARENT_PATH directory)
  cmake_path(GET file FILENAME base)
  execute_process(COMMAND ${KESP_OBJCOPY} --add-gnu-debuglink=${base}.debug ${base}
                  WORKING_DIRECTORY "${directory}" RESULT_VARIABLE result ERROR_VARIABLE out)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Failed to add the debug link to ${file}: ${out}")
  endif()
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}.debug")
  message(STATUS "Stripped: ${file} (debug information in ${base}.debug)")

  if(sign)
    set(signing "${file}.signing")
    file(REMOVE "${signing}")
    set(command ${KESP_OSSLSIGNCODE} sign -certs "${cert}" -key "${key}" -h sha256
                -n "${KESP_SIGN_DESCRIPTION}")
    if(NOT "$ENV{KESP_SIGN_PASS}" STREQUAL "")
      list(APPEND command -pass "$ENV{KESP_SIGN_PASS}")
    endif()
    if(NOT "$ENV{KESP_SIGN_TIMESTAMP_URL}" STREQUAL "")
      list(APPEND command -ts "$ENV{KESP_SIGN_TIMESTAMP_URL}")
    endif()
    execute_process(COMMAND ${command} -in "${file}" -out "${signing}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
      file(REMOVE "${signing}")
      message(FATAL_ERROR "Signing ${file} failed (${result}):\n${out}")
    endif()
    file(RENAME "${signing}" "${file}")
    message(STATUS "Signed: ${file}")
  endif()
endforeach()
