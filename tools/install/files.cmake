# What `make install` puts under the prefix; the install rules read it, and
# the record they leave for `make uninstall` lists exactly these files.
set(TUMBLE_INSTALL_PROGRAMS tumble tumble-xm2wav tumble-texdump tumble-capture tumble-mkcontent)
set(TUMBLE_INSTALL_MAN_PAGES tumble.1 tumble-xm2wav.1 tumble-texdump.1 tumble-capture.1 tumble-mkcontent.1)
set(TUMBLE_INSTALL_BIN_DIR bin)
set(TUMBLE_INSTALL_MAN_DIR share/man/man1)
set(TUMBLE_INSTALL_DESKTOP_DIR share/applications)
set(TUMBLE_INSTALL_ICON_DIR share/icons/hicolor/scalable/apps)
set(TUMBLE_INSTALL_FILES ${TUMBLE_INSTALL_DESKTOP_DIR}/tumble.desktop ${TUMBLE_INSTALL_ICON_DIR}/tumble.svg)
foreach(p ${TUMBLE_INSTALL_PROGRAMS})
  list(APPEND TUMBLE_INSTALL_FILES ${TUMBLE_INSTALL_BIN_DIR}/${p})
endforeach()
foreach(m ${TUMBLE_INSTALL_MAN_PAGES})
  list(APPEND TUMBLE_INSTALL_FILES ${TUMBLE_INSTALL_MAN_DIR}/${m})
endforeach()
# Where the record of an install lies, under the prefix, for `make uninstall`.
set(TUMBLE_INSTALL_RECORD_DIR share/tumble)
set(TUMBLE_INSTALL_RECORD ${TUMBLE_INSTALL_RECORD_DIR}/install-record)
