# Writes the translations of a Qt .ts file as C++ table rows, for a program without Qt:
#   cmake -DTS=file.ts -DOUT=table.inc -P ts_to_table.cmake
# Each row is {u"source", "translation"} (UTF-16 source, UTF-8 translation) as raw literals;
# messages without a finished translation are left out.
file(READ "${TS}" ts)
# Lists in CMake split at semicolons: carry them through as a control character.
string(ASCII 1 semicolon)
string(REPLACE ";" "${semicolon}" ts "${ts}")
string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation>[^<]*</translation>" pairs "${ts}")
set(rows "")
foreach(pair IN LISTS pairs)
  string(REGEX REPLACE "^<source>([^<]*)</source>.*$" "\\1" source "${pair}")
  string(REGEX REPLACE "^.*<translation>([^<]*)</translation>$" "\\1" translation "${pair}")
  foreach(part source translation)
    string(REPLACE "${semicolon}" ";" ${part} "${${part}}")
    string(REPLACE "&lt;" "<" ${part} "${${part}}")
    string(REPLACE "&gt;" ">" ${part} "${${part}}")
    string(REPLACE "&quot;" "\"" ${part} "${${part}}")
    string(REPLACE "&apos;" "'" ${part} "${${part}}")
    string(REPLACE "&amp;" "&" ${part} "${${part}}")
  endforeach()
  if(NOT translation STREQUAL "")
    string(APPEND rows "{uR\"tovik(${source})tovik\", R\"tovik(${translation})tovik\"},\n")
  endif()
endforeach()
file(WRITE "${OUT}.new" "${rows}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
