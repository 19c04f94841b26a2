tralux_fuzz(NAME fuzz_media SOURCES ${CMAKE_SOURCE_DIR}/fuzz/media.cpp
            LIBS platform_media platform_tags engine_job engine_formats engine_inputs engine_outputs platform_notify)
