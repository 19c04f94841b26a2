tralux_fuzz(NAME fuzz_cue SOURCES ${CMAKE_SOURCE_DIR}/fuzz/cue.cpp LIBS tralux_cd)
