tralux_fuzz(NAME fuzz_riff SOURCES ${CMAKE_SOURCE_DIR}/fuzz/riff.cpp
            LIBS engine_job engine_formats engine_outputs platform_notify)
