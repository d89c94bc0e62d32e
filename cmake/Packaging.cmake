# Debian packages through CPack: `cpack -G DEB` (or `make package`) in any configured build folder.
# korvane-cli: the tool, the udev rule, its manual page and completions.
# korvane: the window, its desktop entry, icon, metadata and MIME type; it needs korvane-cli.
set(CPACK_PACKAGE_NAME korvane)
set(CPACK_PACKAGE_VENDOR "The Korvane developers")
set(CPACK_PACKAGE_CONTACT "The Korvane developers <developers@korvane.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://korvane.org/")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL)
if(KORVANE_CLI)
  list(APPEND CPACK_COMPONENTS_ALL cli)
endif()
if(KORVANE_GUI)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_CLI_PACKAGE_NAME korvane-cli)
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "configuration EEPROM tool for USB 2.0 hubs (command line)
korvane-cli reads, shows, edits and writes the serial EEPROM image that
configures a family of USB 2.0 hub controllers at power-up: vendor and
product IDs, power figures, configuration bits, port masks and string
descriptors in several languages.

It edits image files by field name, exports them as diffable JSON and
imports them again, and reads, writes (with backup and verify) and erases
the EEPROM of bound hubs through libusb, several hubs in parallel. The
package holds the udev rule that gives the user at the seat access to the
hubs a site has bound, the manual page and bash and zsh completion.")

set(CPACK_DEBIAN_GUI_PACKAGE_NAME korvane)
set(CPACK_COMPONENT_GUI_DEPENDS cli)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "configuration EEPROM editor for USB 2.0 hubs (desktop program)
Korvane Configuration Utility reads the serial EEPROM image that configures
a family of USB 2.0 hub controllers from a hub or a file, shows every
header field by name, the string descriptors per language and every byte
in a raw grid, and writes the edited image back to the hub or to a file.

It talks to hubs through libusb and only to those bound by their USB IDs;
the udev rule and the command-line tool come with korvane-cli.")

include(CPack)
