# Common compile options for every target of the toolkit.
add_compile_options(-Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
if(KL_SANITIZE)
  add_compile_options(-fsanitize=${KL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KL_SANITIZE})
endif()

# kl_add_subdirs(<dir>...): add each sub-folder that has a CMakeLists.txt, so
# that the tree builds while parts of it are still being written.
# KL_SKIP_DIRS: folders (relative to the source root) to leave out, for a
# developer who builds one part while another is half written.
set(KL_SKIP_DIRS "" CACHE STRING "Source folders to leave out of the build")
function(kl_add_subdirs)
  foreach(d IN LISTS ARGN)
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/${d})
    if(rel IN_LIST KL_SKIP_DIRS)
      continue()
    endif()
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/CMakeLists.txt)
      add_subdirectory(${d})
    endif()
  endforeach()
endfunction()

# kl_add_gtest(<name> LABELS <label>... SOURCES <src>... LIBS <lib>...)
function(kl_add_gtest name)
  cmake_parse_arguments(T "" "" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${T_LABELS}" TIMEOUT 300)
endfunction()
