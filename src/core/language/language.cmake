# Language tables: the key table (keys.txt) becomes core/stringids.h and the key array,
# the three UTF-16 text tables become byte arrays keyed by their resource number.
# Everything is generated at build time by gen_language.cmake; no hand-kept copies.

set(VISTREL_LANG_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VISTREL_LANG_OUT ${CMAKE_BINARY_DIR}/src/core)
set(VISTREL_LANG_GEN ${VISTREL_LANG_DIR}/gen_language.cmake)

# Resource number, file: 132 English, 130 Simplified Chinese, 129 Traditional Chinese.
set(VISTREL_LANG_TABLES
    132 ${VISTREL_LANG_DIR}/English.txt
    130 ${VISTREL_LANG_DIR}/ChineseSimplified.txt
    129 ${VISTREL_LANG_DIR}/ChineseTraditional.txt)
set(VISTREL_LANG_TABLE_FILES)
foreach(item IN LISTS VISTREL_LANG_TABLES)
  if(NOT item MATCHES "^[0-9]+$")
    list(APPEND VISTREL_LANG_TABLE_FILES ${item})
  endif()
endforeach()
string(REPLACE ";" "|" VISTREL_LANG_TABLES_ARG "${VISTREL_LANG_TABLES}")

add_custom_command(
  OUTPUT ${VISTREL_LANG_OUT}/stringids.h ${VISTREL_LANG_OUT}/stringkeys.cpp
  COMMAND ${CMAKE_COMMAND} -DMODE=keys -DKEYS=${VISTREL_LANG_DIR}/keys.txt
          -DOUT_DIR=${VISTREL_LANG_OUT} -P ${VISTREL_LANG_GEN}
  DEPENDS ${VISTREL_LANG_DIR}/keys.txt ${VISTREL_LANG_GEN}
  COMMENT "Generating the string key table"
  VERBATIM)

add_custom_command(
  OUTPUT ${VISTREL_LANG_OUT}/languagedata.cpp
  COMMAND ${CMAKE_COMMAND} -DMODE=texts "-DTABLES=${VISTREL_LANG_TABLES_ARG}"
          -DOUT_DIR=${VISTREL_LANG_OUT} -P ${VISTREL_LANG_GEN}
  DEPENDS ${VISTREL_LANG_TABLE_FILES} ${VISTREL_LANG_GEN}
  COMMENT "Embedding the language text tables"
  VERBATIM)

target_sources(vistrel_core PRIVATE
  ${VISTREL_LANG_OUT}/stringids.h
  ${VISTREL_LANG_OUT}/stringkeys.cpp
  ${VISTREL_LANG_OUT}/languagedata.cpp)
