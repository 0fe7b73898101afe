# Writes INPUT's bytes as a C++ array into OUTPUT (see default_registry_data.h).
file(READ ${INPUT} HEX HEX)
string(LENGTH "${HEX}" HEX_LEN)
math(EXPR SIZE "${HEX_LEN} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," BODY "${HEX}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" BODY "${BODY}")
file(WRITE ${OUTPUT} "#include \"resources/default_registry_data.h\"\n"
  "namespace tovik {\nconst unsigned char kDefaultRegistryData[] = {\n${BODY}0};\n"
  "const std::size_t kDefaultRegistrySize = ${SIZE};\n}\n")
