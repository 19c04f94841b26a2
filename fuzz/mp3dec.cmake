tralux_fuzz(NAME fuzz_mp3dec SOURCES ${CMAKE_SOURCE_DIR}/fuzz/mp3dec.cpp LIBS mp3dec)
