# Man pages, shell completion, AppStream metadata and the Debian package (cpack -G DEB).
include(GNUInstallDirs)

set(TRALUX_HOMEPAGE "https://quorvatix.example/tralux" CACHE STRING
  "Project home page; the AppStream screenshot is looked for beneath it")
set(TRALUX_MAINTAINER "Quorvatix Tralux maintainers <tralux@quorvatix.example>" CACHE STRING
  "Maintainer of the Debian package")
set(TRALUX_APPSTREAM_ID com.quorvatix.Tralux)
set(TRALUX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(TRALUX_DOC_OUT ${CMAKE_BINARY_DIR}/doc)

# Debian wants man pages and changelogs compressed with gzip -9n (no name, no time stamp).
find_program(TRALUX_GZIP gzip REQUIRED)
set(tralux_pages tralux-cli)
if(TRALUX_GUI)
  list(APPEND tralux_pages tralux)
endif()
set(tralux_doc_outputs)
foreach(page IN LISTS tralux_pages)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${TRALUX_DOC_OUT}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${TRALUX_DOC_OUT}/${page}.1.gz
    COMMAND ${TRALUX_GZIP} -9nc ${TRALUX_DOC_OUT}/${page}.1 > ${TRALUX_DOC_OUT}/${page}.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 VERBATIM)
  list(APPEND tralux_doc_outputs ${TRALUX_DOC_OUT}/${page}.1.gz)
  install(FILES ${TRALUX_DOC_OUT}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_command(OUTPUT ${TRALUX_DOC_OUT}/changelog.gz
  COMMAND ${TRALUX_GZIP} -9nc ${TRALUX_PACKAGING_DIR}/debian/changelog > ${TRALUX_DOC_OUT}/changelog.gz
  DEPENDS ${TRALUX_PACKAGING_DIR}/debian/changelog VERBATIM)
list(APPEND tralux_doc_outputs ${TRALUX_DOC_OUT}/changelog.gz)
add_custom_target(tralux_docs ALL DEPENDS ${tralux_doc_outputs})

install(FILES ${TRALUX_PACKAGING_DIR}/completion/tralux-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
if(TRALUX_GUI)
  configure_file(${TRALUX_PACKAGING_DIR}/metainfo/${TRALUX_APPSTREAM_ID}.metainfo.xml.in
    ${TRALUX_DOC_OUT}/${TRALUX_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${TRALUX_DOC_OUT}/${TRALUX_APPSTREAM_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()
install(FILES ${TRALUX_PACKAGING_DIR}/debian/copyright ${TRALUX_DOC_OUT}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tralux)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tralux)
set(CPACK_PACKAGE_VENDOR Quorvatix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${TRALUX_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRALUX_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TRALUX_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's labels are Chinese; without a CJK font they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk")
file(READ ${TRALUX_PACKAGING_DIR}/debian/description CPACK_DEBIAN_PACKAGE_DESCRIPTION)
string(STRIP "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}" CPACK_DEBIAN_PACKAGE_DESCRIPTION)
include(CPack)

if(TRALUX_TESTS)
  set(tralux_tests_dir ${CMAKE_SOURCE_DIR}/tests/packaging)
  set(tralux_docs_args $<TARGET_FILE:tralux-cli> ${CMAKE_SOURCE_DIR}/docs/man)
  if(TRALUX_GUI)
    list(APPEND tralux_docs_args ${CMAKE_SOURCE_DIR}/app/desktop/tralux.desktop
      ${TRALUX_DOC_OUT}/${TRALUX_APPSTREAM_ID}.metainfo.xml)
  endif()
  add_test(NAME packaging_docs_test COMMAND bash ${tralux_tests_dir}/docs_test.sh ${tralux_docs_args})
  add_test(NAME packaging_completion_test COMMAND bash ${tralux_tests_dir}/completion_test.sh
    ${TRALUX_PACKAGING_DIR}/completion/tralux-cli $<TARGET_FILE_DIR:tralux-cli>)
  set_tests_properties(packaging_docs_test packaging_completion_test PROPERTIES TIMEOUT 120)
  if(TRALUX_GUI)
    # Packs the build tree as it stands: run after a full build.
    add_test(NAME packaging_deb_test COMMAND bash ${tralux_tests_dir}/deb_test.sh
      ${CMAKE_BINARY_DIR} ${PROJECT_VERSION})
    set_tests_properties(packaging_deb_test PROPERTIES TIMEOUT 600 LABELS slow)
  endif()
endif()
