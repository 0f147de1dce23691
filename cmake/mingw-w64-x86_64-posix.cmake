# Cross-building the Windows executables on Debian with mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The posix thread model is needed: the win32
# one has no std::thread. Executables are linked statically so that they need
# no MinGW runtime DLLs on the user's PC or under Wine.
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64-posix.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMO_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LUMO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables (and gtest_discover_tests lists them) under Wine.
find_program(LUMO_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT LUMO_WINE)
  find_program(LUMO_WINE NAMES wine64 wine)
endif()
if(LUMO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUMO_WINE})
endif()
