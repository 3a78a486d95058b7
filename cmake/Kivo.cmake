# Shared build rules. Each src/ folder is one static library built from every
# source file in it, so adding a file never means editing a build list.

set(KIVO_WARNINGS -Wall -Wextra -Wno-unused-parameter)

if(KIVO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KIVO_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
  endif()
  # Everything is instrumented for coverage; only the targets themselves link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
elseif(KIVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# Assertions stay on in every build type: a violated invariant must not pass silently.
string(REPLACE "-DNDEBUG" "" CMAKE_CXX_FLAGS_RELWITHDEBINFO "${CMAKE_CXX_FLAGS_RELWITHDEBINFO}")
string(REPLACE "-DNDEBUG" "" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
string(REPLACE "-DNDEBUG" "" CMAKE_C_FLAGS_RELWITHDEBINFO "${CMAKE_C_FLAGS_RELWITHDEBINFO}")
string(REPLACE "-DNDEBUG" "" CMAKE_C_FLAGS_RELEASE "${CMAKE_C_FLAGS_RELEASE}")

# kivo_library(<name> [PUBLIC deps...] [PRIVATE deps...])
# Builds kivo_<name> from the .cpp files of the calling folder.
function(kivo_library name)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(NOT sources)
    # A folder that holds only headers (or nothing yet) is an interface library.
    add_library(kivo_${name} INTERFACE ${headers})
    target_include_directories(kivo_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kivo_${name} INTERFACE ${ARG_PUBLIC} ${ARG_PRIVATE})
    return()
  endif()
  add_library(kivo_${name} STATIC ${sources} ${headers})
  target_include_directories(kivo_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(kivo_${name} PRIVATE ${KIVO_WARNINGS})
  target_link_libraries(kivo_${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
  set_target_properties(kivo_${name} PROPERTIES AUTOMOC ON)
endfunction()

# kivo_test(<name> deps...)
# One GoogleTest executable per tests/<name> folder, from every .cpp file in it.
function(kivo_test name)
  cmake_parse_arguments(ARG "GUI" "" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_SOURCE_DIR}/${name})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.h)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_compile_options(test_${name} PRIVATE ${KIVO_WARNINGS})
  if(ARG_GUI)
    set(testmain kivo_testmain_gui)
  else()
    set(testmain kivo_testmain_core)
  endif()
  target_link_libraries(test_${name} PRIVATE ${ARG_UNPARSED_ARGUMENTS} ${testmain} GTest::gtest GTest::gmock)
  set_target_properties(test_${name} PROPERTIES AUTOMOC ON)
  target_compile_definitions(test_${name} PRIVATE
    KIVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}" KIVO_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_dependencies(kivo_tests test_${name})
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
