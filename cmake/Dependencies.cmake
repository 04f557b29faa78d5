# System libraries, one imported target each. Only backends under src/platform link them.
pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb xcb-composite xcb-damage xcb-shm xcb-xfixes xcb-randr xcb-res)
pkg_check_modules(JPEG REQUIRED IMPORTED_TARGET libjpeg)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET libavcodec libavutil)
# libavformat is loaded at run time, when a file is written; only its headers are built against.
pkg_check_modules(AVFORMAT REQUIRED IMPORTED_TARGET libavformat)
add_library(AvFormat::Headers INTERFACE IMPORTED)
set_target_properties(AvFormat::Headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${AVFORMAT_INCLUDE_DIRS}")
pkg_check_modules(SWRESAMPLE REQUIRED IMPORTED_TARGET libswresample)
# libyuv ships no pkg-config file.
find_library(YUV_LIBRARY yuv REQUIRED)
find_path(YUV_INCLUDE_DIR libyuv.h REQUIRED)
add_library(Yuv::Yuv UNKNOWN IMPORTED)
set_target_properties(Yuv::Yuv PROPERTIES IMPORTED_LOCATION ${YUV_LIBRARY} INTERFACE_INCLUDE_DIRECTORIES ${YUV_INCLUDE_DIR})
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
