# What `make install` puts under the prefix; the install rules and the
# uninstall script both read it, so uninstall removes exactly these.
set(TUMBLE_INSTALL_PROGRAMS tumble tumble-xm2wav tumble-texdump tumble-capture tumble-mkcontent)
set(TUMBLE_INSTALL_MAN_PAGES tumble-xm2wav.1 tumble-texdump.1 tumble-capture.1 tumble-mkcontent.1)
set(TUMBLE_INSTALL_BIN_DIR bin)
set(TUMBLE_INSTALL_MAN_DIR share/man/man1)
set(TUMBLE_INSTALL_DESKTOP share/applications/tumble.desktop)
set(TUMBLE_INSTALL_ICON share/icons/hicolor/scalable/apps/tumble.svg)
