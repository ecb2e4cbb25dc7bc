# Build switches and deployment configuration.

option(JX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(JX_TESTS "Build the tests" ON)
option(JX_FUZZ "Build the libFuzzer targets in fuzz/ (clang only; not part of CI)" OFF)

if(JX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_options(-Wall -Wextra -Wno-unused-parameter)

# Server addresses are deployment configuration: the settings file and, for
# tests and demonstrations, environment variables override them at run time.
set(JX_RELEASE_UPDATE_URL "http://update.vexmor.example/versions/index" CACHE STRING "release update-query address")
set(JX_BETA_UPDATE_URL "http://beta.vexmor.example/versions/index" CACHE STRING "beta update-query address")
set(JX_RELEASE_HOMELINK "http://www.vexmor.example" CACHE STRING "release web site address")
set(JX_BETA_HOMELINK "http://beta.vexmor.example" CACHE STRING "beta web site address")
set(JX_ASSIST_HOST "http://assist.reriduru.example" CACHE STRING "assistance-data server")
