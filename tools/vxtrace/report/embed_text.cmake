# Writes a C++ source that holds a text file as a NUL-terminated char array,
# for pages that must carry a script inline:
#   cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=name -P embed_text.cmake
# The text must not close a script element, since it is placed inside one.
file(READ "${INPUT}" text)
string(TOLOWER "${text}" lower)
foreach(closing "</script" "<!--")
  string(FIND "${lower}" "${closing}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${INPUT} contains \"${closing}\" and cannot stand inside a script element")
  endif()
endforeach()
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT} by embed_text.cmake.\n"
  "#include <cstddef>\n"
  "namespace vxtrace {\n"
  "extern const char ${SYMBOL}[] = {${bytes}0x00};\n"
  "extern const size_t ${SYMBOL}Size = ${size};\n"
  "}  // namespace vxtrace\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
