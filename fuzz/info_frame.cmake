tralux_fuzz(NAME fuzz_info_frame SOURCES ${CMAKE_SOURCE_DIR}/fuzz/info_frame.cpp LIBS engine_outputs)
