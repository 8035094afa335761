# One static library per subsystem folder; sources are picked up by glob so that a new
# file needs no edit here. Users include its headers as "folder/file.h" from src/.
function(vx_add_library name)
  cmake_parse_arguments(A "QT" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.cpp)
  # A program's main.cpp is its executable's, never the library's: linked into the
  # library it would replace the main of every test program.
  list(FILTER srcs EXCLUDE REGEX "/main\\.cpp$")
  # Headers are listed too, so that moc sees the Q_OBJECT classes of the UI folders.
  file(GLOB hdrs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/${name}/*.h)
  add_library(${name} STATIC ${srcs} ${hdrs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_DEPS})
  if(A_QT)
    set_target_properties(${name} PROPERTIES AUTOMOC ON)
  endif()
endfunction()

# tests/<dir>/*.cpp become one GoogleTest program <dir>_tests; files named mt_*.cpp
# (tests that run engine threads) go to <dir>_mt_tests, labelled "threaded" so that
# the ThreadSanitizer build runs them too.
function(vx_add_tests dir)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  set(plain "")
  set(mt "")
  foreach(f ${all})
    get_filename_component(n ${f} NAME)
    if(n MATCHES "^mt_")
      list(APPEND mt ${f})
    else()
      list(APPEND plain ${f})
    endif()
  endforeach()
  if(plain AND NOT VX_THREADED_TESTS_ONLY)
    vx_test_program(${dir}_tests "${plain}" "${A_DEPS}" "")
  endif()
  if(mt)
    vx_test_program(${dir}_mt_tests "${mt}" "${A_DEPS}" "threaded")
  endif()
endfunction()

function(vx_test_program exe srcs deps label)
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${deps} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  target_compile_definitions(${exe} PRIVATE
    VX_SOURCE_DIR="${CMAKE_SOURCE_DIR}" VX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${exe}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300)
  # Labels are set by a script of our own that runs after discovery: a list given
  # through PROPERTIES reaches set_tests_properties split into separate arguments, so
  # "threaded" was lost and the ThreadSanitizer run found no tests.
  set(labels ${dir})
  if(label)
    list(APPEND labels ${label})
  endif()
  set(labels_file "${CMAKE_CURRENT_BINARY_DIR}/${exe}_labels.cmake")
  file(WRITE "${labels_file}"
    "if(${exe}_TESTS)\n"
    "  set_tests_properties(\${${exe}_TESTS} PROPERTIES LABELS \"${labels}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labels_file}")
endfunction()
