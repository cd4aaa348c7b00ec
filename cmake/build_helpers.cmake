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

# Makes files of the source tree includable by their path from the project
# root ("events/catalogue.def") through an interface target, without putting
# the whole tree on the include path: the files are copied into a folder of
# the build tree that holds nothing else.
function(vx_forward_headers target)
  set(root ${PROJECT_BINARY_DIR}/forward/${target})
  foreach(file ${ARGN})
    configure_file(${PROJECT_SOURCE_DIR}/${file} ${root}/${file} COPYONLY)
  endforeach()
  add_library(${target} INTERFACE)
  target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${root}>)
endfunction()
