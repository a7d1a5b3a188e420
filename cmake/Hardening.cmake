# Hardened release binaries: what a vendor's security review reads back from
# the packaged files (scripts/check-hardening.sh does the same in CI).
#
# Applied to every target defined after this file is included, in Release
# builds only: _FORTIFY_SOURCE needs optimisation, and the sanitizer presets
# bring their own run-time checks.
option(KESP_HARDENING "Harden Release builds (stack protector, fortified calls, full RELRO, \
non-executable stack, CET landing pads on Linux; ASLR, high-entropy ASLR, DEP on Windows)" ON)

if(KESP_HARDENING)
  set(release "$<CONFIG:Release>")
  add_compile_options(
    "$<${release}:-fstack-protector-strong>"
    "$<${release}:-D_FORTIFY_SOURCE=2>")
  if(WIN32)
    # The stack protector's run-time (libssp) is linked statically like the
    # rest of the runtime. The three PE flags are the linker's defaults today;
    # they are spelled out so that an older or differently built linker
    # cannot drop them silently.
    add_link_options(
      "$<${release}:-fstack-protector-strong>"
      "$<${release}:LINKER:--dynamicbase,--high-entropy-va,--nxcompat>")
  else()
    # The landing pads only: the linker marks a binary for CET (IBT/SHSTK)
    # only when every object in it is marked, and the system's start files
    # are not, so CET stays off at run time.
    add_compile_options("$<${release}:-fcf-protection=full>")
    add_link_options(
      "$<${release}:LINKER:-z,relro,-z,now>"
      "$<${release}:LINKER:-z,noexecstack>")
  endif()
  unset(release)
endif()
