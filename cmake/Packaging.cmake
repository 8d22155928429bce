# The Debian package: `cpack -G DEB` in a build folder (the release build)
# packs exactly what `cmake --install` installs, below /usr, so the package
# follows the install rules wherever they put a file.
set(CPACK_PACKAGE_NAME kevrale)
set(CPACK_PACKAGE_VENDOR "Kevrale Project")
set(CPACK_PACKAGE_CONTACT "Kevrale Project <kevrale@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "thins line work of one colour to one-pixel centre lines")
set(CPACK_PACKAGE_DESCRIPTION
    "Kevrale thins the lines drawn in one colour inside a full-colour raster image
to centre lines one pixel wide (Hilditch's method). Removed pixels are
painted in a surround colour; pixels of every other colour are kept. It
opens BMP and, through the bundled Susie import plug-ins, PNG, JPEG, GIF,
TIFF and WebP, and saves BMP. The package holds the desktop program
kevrale (Japanese user interface) and the command-line tool kevrale-thin,
the Python package kevrale (thin, skeletonize and trace NumPy arrays) and
the Inkscape extension Extensions > Kevrale > Centre lines.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kevrale.example.org/")
# The libraries that the programs and the plug-ins link, as dpkg-shlibdeps
# finds them (Qt 6, the codecs, the C and C++ run-time); the package's own
# local-memory library is found through the programs' and plug-ins' RPATH.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its display back end at run time; no library names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The Python module's interpreter and NumPy.
if(KEVRALE_DEB_PYTHON_DEPENDS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${KEVRALE_DEB_PYTHON_DEPENDS}")
endif()
# Japanese glyphs and Qt's own texts in Japanese.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk, qt6-translations-l10n")
# Windows plug-ins run under Wine, when it is there; 32-bit ones need its
# i386 part as well (wine32 is installed from the i386 architecture).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wine, wine32")
# The centre-line extension is for Inkscape.
set(CPACK_DEBIAN_PACKAGE_ENHANCES "inkscape")

include(CPack)
