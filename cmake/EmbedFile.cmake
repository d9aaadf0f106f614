# Embeds a file into the program as a byte array.
#
#   vantry_embed_file(<target> <input> <function> <header>)
# adds the static library <target> built from a generated .cc that defines
#   std::string_view <function>()  (declared in <header>, inside namespace vantry)
# returning the exact bytes of <input>; the .cc is regenerated whenever <input> changes.
#
# Script mode (used by the build step): cmake -DINPUT=.. -DOUTPUT=.. -DFUNCTION=.. -DHEADER=..
#   -P EmbedFile.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${INPUT}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  file(WRITE "${OUTPUT}"
       "// Generated from ${INPUT}; do not edit.\n"
       "#include \"${HEADER}\"\n\n"
       "namespace vantry {\n"
       "namespace {\n"
       "const unsigned char kBytes[${size} + 1] = {\n    ${bytes}0x00};\n"
       "}  // namespace\n\n"
       "std::string_view ${FUNCTION}() { return std::string_view(reinterpret_cast<const char*>(kBytes), ${size}); }\n\n"
       "}  // namespace vantry\n")
  return()
endif()

set(VANTRY_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(vantry_embed_file target input function header)
  get_filename_component(name ${input} NAME_WE)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name}_embedded.cc)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DFUNCTION=${function}
            -DHEADER=${header} -P ${VANTRY_EMBED_SCRIPT}
    DEPENDS ${input} ${VANTRY_EMBED_SCRIPT}
    COMMENT "Embedding ${input}")
  add_library(${target} STATIC ${output})
endfunction()
