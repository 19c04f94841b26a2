tralux_fuzz(NAME fuzz_tags SOURCES ${CMAKE_SOURCE_DIR}/fuzz/tags.cpp
            LIBS platform_tags engine_job engine_formats engine_outputs platform_notify)
