# Every library the project takes from the system, found once, here, by one
# mechanism each: pkg-config for the C libraries, the packages' own CMake
# files for Qt, GoogleTest and Google Benchmark. The imported targets are
# seen by every folder below.
find_package(PkgConfig REQUIRED)
# The codecs: the picture layer's writers and the bundled plug-ins.
pkg_check_modules(KEVRALE_PNG REQUIRED IMPORTED_TARGET libpng)
pkg_check_modules(KEVRALE_ZLIB REQUIRED IMPORTED_TARGET zlib)
pkg_check_modules(KEVRALE_DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
pkg_check_modules(KEVRALE_ISAL REQUIRED IMPORTED_TARGET libisal)
pkg_check_modules(KEVRALE_JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(KEVRALE_GIF REQUIRED IMPORTED_TARGET libgif)
pkg_check_modules(KEVRALE_TIFF REQUIRED IMPORTED_TARGET libtiff-4)
pkg_check_modules(KEVRALE_WEBP REQUIRED IMPORTED_TARGET libwebp libwebpdemux)
find_package(Threads REQUIRED)

if(KEVRALE_GUI)
  set(qt_components Widgets Gui)
  if(KEVRALE_TESTS)
    list(APPEND qt_components Test)
  endif()
  find_package(Qt6 REQUIRED COMPONENTS ${qt_components})
  # The window manager hints that Qt's window flags cannot express go to
  # the X server directly; the window tests read them back the same way.
  pkg_check_modules(KEVRALE_XCB REQUIRED IMPORTED_TARGET xcb)
endif()
if(KEVRALE_TESTS)
  find_package(GTest REQUIRED)
endif()
if(KEVRALE_BENCH)
  find_package(benchmark REQUIRED)
endif()
