# Helpers that keep each folder's CMakeLists.txt to a line or two.

# korvo_library(<target> [DEPENDS <targets>...] [SOURCE_DIRS <dirs>...])
# A static library of every .cpp in the calling folder (or the folders given).
# A folder without sources yet gives an interface target, so dependents link already.
function(korvo_library target)
    cmake_parse_arguments(ARG "" "" "DEPENDS;SOURCE_DIRS" ${ARGN})
    if(NOT ARG_SOURCE_DIRS)
        set(ARG_SOURCE_DIRS ${CMAKE_CURRENT_SOURCE_DIR})
    endif()
    set(sources "")
    foreach(dir IN LISTS ARG_SOURCE_DIRS)
        file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
        list(APPEND sources ${found})
    endforeach()
    if(sources)
        add_library(${target} STATIC ${sources})
        target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
        target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
    else()
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
        target_link_libraries(${target} INTERFACE ${ARG_DEPENDS})
    endif()
endfunction()

# korvo_tests(<label> LIBS <targets>...)
# One GoogleTest program of every .cpp in the calling tests folder, each test a CTest test with the label.
function(korvo_tests label)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(NOT sources)
        return()
    endif()
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${CMAKE_CURRENT_SOURCE_DIR})
    string(REPLACE "/" "_" name "test_${rel}")
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} korvo_testsupport GTest::gmock)
    # GoogleTest's EXPECT macros expand to if/else; an unbraced if around one is fine.
    target_compile_options(${name} PRIVATE -Wno-dangling-else)
    # Where tests find the project's tools and the build's generated test media.
    target_compile_definitions(${name} PRIVATE KORVO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
                                               KORVO_TEST_DATA_DIR="${CMAKE_BINARY_DIR}/testdata")
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES LABELS ${label} FIXTURES_REQUIRED testmedia
        ENVIRONMENT "KORVO_TEST_DATA=${CMAKE_BINARY_DIR}/testdata"
        DISCOVERY_TIMEOUT 60)
endfunction()
