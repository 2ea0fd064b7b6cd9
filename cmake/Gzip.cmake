# cmake -DINPUT=<file> -DOUTPUT=<file.gz> -P Gzip.cmake
# Compressed as Debian wants its documentation: best compression, no name or time inside.
execute_process(COMMAND gzip -9 -n -c ${INPUT} OUTPUT_FILE ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
