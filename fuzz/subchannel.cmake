tralux_fuzz(NAME fuzz_subchannel SOURCES ${CMAKE_SOURCE_DIR}/fuzz/subchannel.cpp LIBS tralux_cd)
