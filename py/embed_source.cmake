# Writes the bytes of INPUT to OUTPUT as a comma-separated list of
# character constants, for a C++ array initialiser:
#   cmake -DINPUT=file -DOUTPUT=file.inc -P embed_source.cmake
file(READ "${INPUT}" content HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," content "${content}")
file(WRITE "${OUTPUT}" "${content}\n")
