# cmake -DCORPUS=<dir> -DSEEDS=<generator> -P fresh_corpus.cmake
# Replaces the directory with a freshly generated seed corpus.
file(REMOVE_RECURSE "${CORPUS}")
file(MAKE_DIRECTORY "${CORPUS}")
execute_process(COMMAND "${SEEDS}" "${CORPUS}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "seed generator failed: ${result}")
endif()
