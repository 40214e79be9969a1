# Writes a C++ source that holds files as byte arrays, so the module carries
# its pictures and reads nothing at run time. Run as a script:
#   cmake -DOUTPUT=out.cpp -DHEADER=name.h -DNAMESPACE=ns
#         -DENTRIES="symbol=path;symbol=path" -P EmbedFiles.cmake
set(text "// Written by the build from the picture files; not kept in the source tree.\n")
string(APPEND text "#include \"${HEADER}\"\n\nnamespace ${NAMESPACE} {\n")
foreach(entry IN LISTS ENTRIES)
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 symbol)
  list(GET pair 1 path)
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND text "\nconst unsigned char ${symbol}[] = {\n  ${bytes}\n};\n")
  string(APPEND text "const size_t ${symbol}Size = sizeof ${symbol};\n")
endforeach()
string(APPEND text "\n}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
