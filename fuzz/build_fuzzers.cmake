# cmake -DSOURCE=<fuzz folder> -DBUILD=<folder> -DCOMPILER=<clang++> -DGENERATOR=<generator> -P build_fuzzers.cmake
# Configures the fuzz project once, builds it, and makes the folders the test runs write to
# (new inputs and crash reports stay in the build folder; the seed corpus in the repository
# is only read).
if(NOT EXISTS "${BUILD}/CMakeCache.txt")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BUILD}" -G "${GENERATOR}"
                          -DCMAKE_CXX_COMPILER=${COMPILER} -DCMAKE_BUILD_TYPE=
                  RESULT_VARIABLE result)
  if(result)
    message(FATAL_ERROR "configuring the fuzz targets failed")
  endif()
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" -j 2 RESULT_VARIABLE result)
if(result)
  message(FATAL_ERROR "building the fuzz targets failed")
endif()
# Each test run starts from the seeds alone, so that its length stays the same.
foreach(target firmware_file ini flash board_answers argv service_requests service_replies mqtt_commands
               web_requests)
  file(REMOVE_RECURSE "${BUILD}/new/${target}")
  file(MAKE_DIRECTORY "${BUILD}/new/${target}")
endforeach()
file(MAKE_DIRECTORY "${BUILD}/artifacts")
