# Helpers shared by every component's CMakeLists.txt.

# Python for the integration tests: Debian's own interpreter, where the python3-* packages
# (aiosmtpd) are installed, rather than another python3 that may come first on the PATH.
if(EXISTS /usr/bin/python3)
  set(ORVANTA_PYTHON /usr/bin/python3)
else()
  find_program(ORVANTA_PYTHON python3 REQUIRED)
endif()

set(ORVANTA_CORPUS_SCRIPT ${PROJECT_SOURCE_DIR}/scripts/fetch-corpus.sh)

# orvanta_gtest(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [LABELS l])
# One GoogleTest binary; every test case becomes a CTest test.
function(orvanta_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    ORVANTA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORVANTA_BINARY_DIR="${CMAKE_BINARY_DIR}"
    ORVANTA_CORPUS_SCRIPT="${ORVANTA_CORPUS_SCRIPT}")
  gtest_discover_tests(${name} DISCOVERY_MODE POST_BUILD DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
endfunction()

# orvanta_pytest(NAME SCRIPT file.py [TIMEOUT s] [LABELS l])
# An integration test written in Python; it receives the build directory and the source
# directory through ORVANTA_BINARY_DIR / ORVANTA_SOURCE_DIR.
function(orvanta_pytest name)
  cmake_parse_arguments(T "" "SCRIPT;TIMEOUT" "LABELS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${ORVANTA_PYTHON} ${T_SCRIPT})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "integration;${T_LABELS}"
    ENVIRONMENT "ORVANTA_BINARY_DIR=${CMAKE_BINARY_DIR};ORVANTA_SOURCE_DIR=${PROJECT_SOURCE_DIR};ORVANTA_CORPUS_SCRIPT=${ORVANTA_CORPUS_SCRIPT};PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/integration/lib")
endfunction()
