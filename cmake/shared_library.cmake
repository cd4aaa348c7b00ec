# Shared libraries are linked with --no-undefined so that a missing symbol
# fails the build, not the consumer's dlopen. Under clang's sanitizers the
# runtime is linked into the executable only, so a sanitized shared library
# necessarily leaves the runtime's symbols undefined: the check is skipped
# there.
function(vx_forbid_undefined_symbols target)
  if(VX_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--no-undefined)
endfunction()
