# Build helpers shared by every folder.

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(QUILL_WINDOWS ON)
  set(QUILL_PLATFORM win32)
else()
  set(QUILL_WINDOWS OFF)
  set(QUILL_PLATFORM posix)
endif()

# Warnings for our own targets only.
function(quill_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(QUILL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# zlib: the system library natively, the static MinGW one for Windows so that
# the DLL needs nothing beside it.
add_library(quill_zlib INTERFACE)
if(QUILL_WINDOWS)
  find_library(QUILL_ZLIB_STATIC NAMES libz.a REQUIRED)
  find_path(QUILL_ZLIB_INCLUDE zlib.h REQUIRED)
  target_link_libraries(quill_zlib INTERFACE ${QUILL_ZLIB_STATIC})
  target_include_directories(quill_zlib INTERFACE ${QUILL_ZLIB_INCLUDE})
else()
  find_package(ZLIB REQUIRED)
  target_link_libraries(quill_zlib INTERFACE ZLIB::ZLIB)
endif()

# quill_library(name SOURCES ... [LIBS ...])
# A static library of ours; its users include headers as "folder/Header.h" from src/.
function(quill_library name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${Q_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${Q_LIBS})
  quill_warnings(${name})
endfunction()

# quill_executable(name SOURCES ... [LIBS ...])
function(quill_executable name)
  cmake_parse_arguments(Q "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${Q_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${Q_LIBS})
  quill_warnings(${name})
endfunction()

# quill_test(name SOURCES ... [LIBS ...] [TIMEOUT seconds] [LABELS ...])
# One GoogleTest executable, registered as one ctest test. Under the cross
# build ctest runs it through CMAKE_CROSSCOMPILING_EMULATOR (wine).
function(quill_test name)
  cmake_parse_arguments(Q "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT Q_TIMEOUT)
    set(Q_TIMEOUT 300)
  endif()
  add_executable(${name} ${Q_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}
                                             ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${Q_LIBS} GTest::gmock GTest::gtest_main)
  quill_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${Q_TIMEOUT} LABELS "unit;${Q_LABELS}")
  quill_test_environment(${name})
endfunction()

# quill_test_environment(test ...)
# What every test that signs in runs with: the saved-session verifier at a
# lower cost (the tests of its strength set their own count).
function(quill_test_environment)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QUILLMERE_VERIFIER_ROUNDS=1000")
  endforeach()
endfunction()

if(QUILL_WINDOWS)
  # Everything the C and C++ runtimes need is linked in.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501)
endif()

# quill_emulator_environment(test ...)
# Passes the tests' scripts the command that runs a program of this build:
# QUILL_EMULATOR, the cross build's emulator (tools/wine-run.sh and the wine
# architecture), empty natively. Scripts never name wine themselves.
function(quill_emulator_environment)
  string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "QUILL_EMULATOR=${emulator}")
  endforeach()
  quill_test_environment(${ARGN})
endfunction()
