tralux_fuzz(NAME fuzz_mp3dec SOURCES ${CMAKE_SOURCE_DIR}/fuzz/mp3dec.cpp LIBS mp3dec)
set(mp3dec_cov_ignore ${CMAKE_CURRENT_SOURCE_DIR}/mp3dec_coverage_ignore.txt)
set(mp3dec_san_ignore ${CMAKE_CURRENT_SOURCE_DIR}/mp3dec_sanitize_ignore.txt)
target_compile_options(mp3dec PRIVATE -fsanitize-coverage-ignorelist=${mp3dec_cov_ignore}
                                      -fsanitize-ignorelist=${mp3dec_san_ignore})
get_target_property(mp3dec_srcs mp3dec SOURCES)
set_source_files_properties(${mp3dec_srcs} DIRECTORY ${CMAKE_SOURCE_DIR}/mp3dec
                            PROPERTIES OBJECT_DEPENDS "${mp3dec_cov_ignore};${mp3dec_san_ignore}")
