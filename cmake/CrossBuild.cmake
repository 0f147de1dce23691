# What a cross build takes from the build machine: only what builds the same
# for any target.

# Header-only libraries (CLI11, nlohmann-json) from the build machine's
# /usr/include, through a folder of their own: putting /usr/include itself on
# the include path would mix the machine's C library into the target's.
set(LUMO_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${LUMO_HOST_HEADERS})
foreach(dir CLI nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} not found: install libcli11-dev and nlohmann-json3-dev")
  endif()
  file(CREATE_LINK /usr/include/${dir} ${LUMO_HOST_HEADERS}/${dir} SYMBOLIC)
endforeach()
add_library(lumo_host_cli11 INTERFACE)
target_include_directories(lumo_host_cli11 SYSTEM INTERFACE ${LUMO_HOST_HEADERS})
add_library(CLI11::CLI11 ALIAS lumo_host_cli11)
add_library(lumo_host_json INTERFACE)
target_include_directories(lumo_host_json SYSTEM INTERFACE ${LUMO_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json ALIAS lumo_host_json)
set(CLI11_FOUND TRUE)
set(nlohmann_json_FOUND TRUE)

# GoogleTest from the sources Debian's googletest package installs, built for
# the target.
set(LUMO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for the target")
