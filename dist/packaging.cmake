# The Debian package: `cpack -G DEB` in a build directory after building.
# It holds what dist/CMakeLists.txt installs, under /usr. Version 1.04 with no
# Debian revision makes it a native package, so its changelog is changelog.gz.

set(CPACK_PACKAGE_NAME zolvex)
set(CPACK_PACKAGE_VENDOR "Orvane Incorporated")
set(CPACK_PACKAGE_CONTACT "Orvane Incorporated <software@orvane.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.orvane.example")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "validation and calibration utility for a fuel-conductivity meter")
set(CPACK_PACKAGE_DESCRIPTION
"ZOLVEX validates, and at the operator's choice recalibrates, the RT-5K-MQ
handheld fuel-conductivity meter over its USB serial cable. It leads one
operator through a timed procedure: it reads the sensor's identity, firmware
and calibration constants, judges a high and a low reading on the
verification tip, and can compute, write and verify new constants before
saving them or putting the previous ones back. It ends with a calibration
record that can be printed.

zolvex-training runs the same screens against a simulated sensor, so the
procedure can be practised without one.

zolvex-history shows every run of every sensor from the calibration
history (an SQLite file, or a PostgreSQL database that several stations
share): due dates, drift charts, CSV export, printed reports, and the
import of existing calibration record files.")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Let dpkg-shlibdeps name the Qt runtime packages from what the programs link,
# so the list follows the build instead of going stale by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The history's database drivers are plugins, which dpkg-shlibdeps cannot see:
# SQLite is the default history, PostgreSQL the shared one.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libqt6sql6-sqlite)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libqt6sql6-psql)
set(CPACK_STRIP_FILES ON)
# Directories CPack creates would otherwise follow the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)

include(CPack)
