tralux_fuzz(NAME fuzz_media SOURCES ${CMAKE_SOURCE_DIR}/fuzz/media.cpp
            LIBS engine_job engine_formats engine_outputs platform_media platform_notify)
