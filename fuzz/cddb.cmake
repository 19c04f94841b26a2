tralux_fuzz(NAME fuzz_cddb_reply SOURCES ${CMAKE_SOURCE_DIR}/fuzz/cddb_reply.cpp LIBS tralux_cddb engine_job)
tralux_fuzz(NAME fuzz_cddb_cache SOURCES ${CMAKE_SOURCE_DIR}/fuzz/cddb_cache.cpp LIBS tralux_cddb platform_compound)
