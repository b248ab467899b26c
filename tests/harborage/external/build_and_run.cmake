# Compiles consumer.cpp as an outside program would and runs it on a scratch store.
execute_process(
  COMMAND ${CXX} ${FLAGS} -I${INCLUDE} ${SOURCE} -L${LIBDIR} -lharborage -Wl,-rpath,${LIBDIR} -o ${OUT}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the outside program did not compile or link against libharborage")
endif()
string(RANDOM LENGTH 8 suffix)
set(store /tmp/harborage-consumer-${suffix}/)
file(MAKE_DIRECTORY ${store})
execute_process(COMMAND ${OUT} ${store} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(REMOVE_RECURSE ${store})
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the outside program failed: ${out}")
endif()
message(STATUS "${out}")
