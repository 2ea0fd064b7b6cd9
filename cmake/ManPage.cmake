# cmake -DSCDOC=<scdoc> -DSOURCE=<page.1.scd> -DOUTPUT=<page.1> -DVERSION=<version>
#       -DAPP_DIR=<application folder> -DEPOCH=<release time> -P ManPage.cmake
# Writes the roff page and its compressed copy, as installed. The page is dated by the release,
# not by the build, so that two builds of one release give the same bytes.
file(READ ${SOURCE} text)
string(CONFIGURE "${text}" text @ONLY)
file(WRITE ${OUTPUT}.scd "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${EPOCH} ${SCDOC}
    INPUT_FILE ${OUTPUT}.scd OUTPUT_FILE ${OUTPUT} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND gzip -9 -n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUTPUT}.scd)
