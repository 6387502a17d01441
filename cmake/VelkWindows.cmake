# Windows build settings for both toolchains: mingw-w64 (cross, the one CI
# uses) and MSVC (native, not tried here).

# The runtime goes inside each binary: a customer's PC has no mingw DLLs and
# may lack the Visual C++ redistributable.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Release binaries keep only what they use: static libcrypto brings much.
  add_compile_options($<$<CONFIG:Release,MinSizeRel>:-ffunction-sections>
                      $<$<CONFIG:Release,MinSizeRel>:-fdata-sections>)
  add_link_options($<$<CONFIG:Release,MinSizeRel>:-Wl,--gc-sections>
                   $<$<CONFIG:Release,MinSizeRel>:-s>)
  # Built for size: the programs' run time is their process start, not
  # their code (libcrypto is built with -Os as well, cmake/openssl-mingw.sh).
  foreach(lang C CXX)
    string(REGEX REPLACE "-O[0-9]" "-Os" CMAKE_${lang}_FLAGS_RELEASE "${CMAKE_${lang}_FLAGS_RELEASE}")
  endforeach()
  # Reproducible: the same commit gives the same bytes in any build folder.
  # No link time in the PE header, no build paths in the objects (the
  # binary folder is the more specific map, so it comes last and wins), and
  # no __DATE__/__TIME__ (SOURCE_DATE_EPOCH pins what a tool may still stamp).
  add_link_options(-Wl,--no-insert-timestamp)
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${CMAKE_BINARY_DIR}=build
                      $<$<COMPILE_LANGUAGE:C,CXX>:-Werror=date-time>)
elseif(MSVC)
  add_link_options(/Brepro)
  set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# velk_windows_program(TARGET [GUI]): a program entered through wmain or
# wWinMain; GUI programs open no console window.
function(velk_windows_program target)
  cmake_parse_arguments(ARG "GUI" "" "" ${ARGN})
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
  if(ARG_GUI)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
  endif()
endfunction()

# OpenSSL for the Windows targets. A builder with their own copy (vcpkg with
# MSVC, a prebuilt mingw libcrypto) names it the usual FindOpenSSL way:
# OPENSSL_ROOT_DIR, or OPENSSL_INCLUDE_DIR with OPENSSL_CRYPTO_LIBRARY.
# Otherwise a mingw build makes a static libcrypto from Debian's openssl
# source package with cmake/openssl-mingw.sh, once per version and target,
# in a cache outside the source tree.
option(VELK_OPENSSL_FROM_SOURCE "mingw-w64: build libcrypto from Debian's openssl source when none is given" ON)
# A library the script built for an earlier configure (recorded, or in a
# cache folder of its making) is not one the builder gave: the script runs
# again and may name a new one (other options, another version).
set(velk_openssl_given FALSE)
if(OPENSSL_ROOT_DIR OR DEFINED ENV{OPENSSL_ROOT_DIR})
  set(velk_openssl_given TRUE)
elseif(OPENSSL_CRYPTO_LIBRARY AND NOT OPENSSL_CRYPTO_LIBRARY STREQUAL VELK_OPENSSL_BUILT
       AND NOT OPENSSL_CRYPTO_LIBRARY MATCHES "/velk-access/openssl/[^/]+/[^/]+-mingw32[^/]*/lib/libcrypto\\.a$")
  set(velk_openssl_given TRUE)
endif()
if(MINGW AND VELK_OPENSSL_FROM_SOURCE AND NOT velk_openssl_given)
  execute_process(
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/openssl-mingw.sh ${VELK_MINGW_PREFIX}
    OUTPUT_VARIABLE velk_openssl_out
    RESULT_VARIABLE velk_openssl_rc
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ".*\n" "" velk_openssl_prefix "${velk_openssl_out}")
  if(velk_openssl_rc EQUAL 0 AND EXISTS ${velk_openssl_prefix}/lib/libcrypto.a)
    message(STATUS "libcrypto for ${VELK_MINGW_PREFIX}: ${velk_openssl_prefix}")
    # Named directly: the toolchain confines searches to the mingw sysroot.
    set(OPENSSL_INCLUDE_DIR ${velk_openssl_prefix}/include CACHE PATH "OpenSSL headers" FORCE)
    set(OPENSSL_CRYPTO_LIBRARY ${velk_openssl_prefix}/lib/libcrypto.a CACHE FILEPATH "libcrypto" FORCE)
    set(VELK_OPENSSL_BUILT ${OPENSSL_CRYPTO_LIBRARY} CACHE INTERNAL "libcrypto built by openssl-mingw.sh")
  else()
    message(WARNING "no libcrypto for ${VELK_MINGW_PREFIX} (cmake/openssl-mingw.sh failed): "
                    "the support library and the programs are not built")
  endif()
elseif(MINGW AND (OPENSSL_ROOT_DIR OR DEFINED ENV{OPENSSL_ROOT_DIR}) AND NOT OPENSSL_CRYPTO_LIBRARY)
  # A root outside the mingw sysroot: the toolchain's confined searches
  # would never look there, so it is searched as it is.
  set(velk_openssl_root ${OPENSSL_ROOT_DIR} $ENV{OPENSSL_ROOT_DIR})
  find_path(OPENSSL_INCLUDE_DIR openssl/evp.h HINTS ${velk_openssl_root} PATH_SUFFIXES include
            NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  find_library(OPENSSL_CRYPTO_LIBRARY NAMES libcrypto.a crypto libeay32
               HINTS ${velk_openssl_root} PATH_SUFFIXES lib lib64 lib/MinGW
               NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
endif()
# FindOpenSSL's Windows branches overwrite OPENSSL_CRYPTO_LIBRARY with what
# they find under their own names (LIB_EAY for mingw, LIB_EAY_RELEASE for
# MSVC), so a library named by path is handed to them under those names.
# (A Debug MSVC build may still name its own LIB_EAY_DEBUG.)
if(MINGW AND OPENSSL_CRYPTO_LIBRARY)
  set(LIB_EAY ${OPENSSL_CRYPTO_LIBRARY} CACHE FILEPATH "libcrypto" FORCE)
elseif(MSVC AND OPENSSL_CRYPTO_LIBRARY)
  set(LIB_EAY_RELEASE ${OPENSSL_CRYPTO_LIBRARY} CACHE FILEPATH "libcrypto" FORCE)
endif()
set(OPENSSL_USE_STATIC_LIBS TRUE)
# What a static libcrypto calls in Windows (sockets, certificate store,
# random numbers, the console and registry for its configuration).
set(VELK_OPENSSL_SYSTEM_LIBS ws2_32 crypt32 bcrypt user32 advapi32)
