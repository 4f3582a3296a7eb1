# `make package`: a .deb for Debian 12 built with CPack from the install rules.
# The library dependencies come from dpkg-shlibdeps over what is installed, so
# a program added to the install rules brings its own.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME telvar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Telvar developers")
set(CPACK_PACKAGE_CONTACT "Telvar developers <dev@telvar-instruments.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monitor for a two-channel absolute angle encoder box")
set(CPACK_PACKAGE_DESCRIPTION
"Telvar watches a two-channel absolute angle encoder interface box on a
serial port: it configures the box, shows both channels on two round dial
gauges with their values, and records every frame to a file. Its texts are
Chinese. The package also holds telvar-boxsim, a simulated box on a
pseudo-terminal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.telvar-instruments.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What the libraries do not name: the window system plug-ins, the CJK fonts
# every text needs, and Qt's own texts in Chinese.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, fonts-wqy-microhei, fonts-arphic-uming, fonts-arphic-ukai, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
include(CPack)
