tralux_fuzz(NAME fuzz_accuraterip SOURCES ${CMAKE_SOURCE_DIR}/fuzz/accuraterip.cpp LIBS tralux_cd)
tralux_fuzz(NAME fuzz_cue_writer SOURCES ${CMAKE_SOURCE_DIR}/fuzz/cue_writer.cpp LIBS tralux_cd)
