# Build switches and deployment configuration.

option(JX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(JX_TESTS "Build the tests" ON)
option(JX_FUZZ "Build the libFuzzer targets in fuzz/ (clang only; not part of CI)" OFF)
option(JX_TSAN "Build with ThreadSanitizer (scripts/tsan.sh; not part of CI)" OFF)

if(JX_SANITIZE AND JX_TSAN)
  message(FATAL_ERROR "JX_SANITIZE and JX_TSAN cannot be combined: ThreadSanitizer does not run beside AddressSanitizer")
endif()

if(JX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Everything the fuzz targets link is instrumented for libFuzzer's coverage and checked by the sanitizers; only the
# targets in fuzz/ link libFuzzer's main.
if(JX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "JX_FUZZ needs clang (libFuzzer); configure with CC=clang CXX=clang++")
  endif()
  if(JX_TSAN)
    message(FATAL_ERROR "JX_FUZZ and JX_TSAN cannot be combined: the fuzz targets run under AddressSanitizer")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(JX_TSAN)
  # -O1 keeps the reports' stacks readable without making the threaded tests crawl.
  add_compile_options(-fsanitize=thread -O1 -g -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # Tells the sanitizer what Qt's own locks and queued calls order, since the distribution's Qt is not built with
  # it; linked into every program ahead of Qt so that its functions take the place of Qt's.
  find_package(Qt5 5.15 REQUIRED COMPONENTS Core)
  add_library(jx_tsan_qtsync SHARED ${CMAKE_CURRENT_LIST_DIR}/tsan/jxtsanqtsync.cpp)
  target_link_libraries(jx_tsan_qtsync PRIVATE Qt5::Core ${CMAKE_DL_LIBS})
  link_libraries(jx_tsan_qtsync)
  add_executable(jx_tsan_canary ${CMAKE_CURRENT_LIST_DIR}/tsan/jxtsancanary.cpp)
  target_link_libraries(jx_tsan_canary PRIVATE Qt5::Core)
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

# Server addresses are deployment configuration: the settings file and, for
# tests and demonstrations, environment variables override them at run time.
set(JX_RELEASE_UPDATE_URL "http://update.vexmor.example/versions/index" CACHE STRING "release update-query address")
set(JX_BETA_UPDATE_URL "http://beta.vexmor.example/versions/index" CACHE STRING "beta update-query address")
set(JX_RELEASE_HOMELINK "http://www.vexmor.example" CACHE STRING "release web site address")
set(JX_BETA_HOMELINK "http://beta.vexmor.example" CACHE STRING "beta web site address")
set(JX_ASSIST_HOST "http://assist.reriduru.example" CACHE STRING "assistance-data server")
