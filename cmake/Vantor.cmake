# Helpers shared by the folder libraries, the tests and the benchmarks.

# vantor_library(<folder> [DEPS libs...]): static library of every .cpp under the folder.
function(vantor_library name)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        add_library(${name} STATIC ${sources})
        set(scope PUBLIC)
    else()
        add_library(${name} INTERFACE)  # headers only, so far
        set(scope INTERFACE)
    endif()
    target_include_directories(${name} ${scope} ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} ${scope} ${ARG_DEPS})
endfunction()

# vantor_test_folder(<folder> [DEPS libs...]): one test executable of the folder's *.cpp, and
# one executable per file under standalone/ (tests of process-wide state).
function(vantor_test_folder folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    set(libs ${folder} ${ARG_DEPS} vantor_fixtures GTest::gmock GTest::gtest_main Threads::Threads)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        add_executable(test_${folder} ${sources})
        target_link_libraries(test_${folder} PRIVATE ${libs})
        gtest_discover_tests(test_${folder} DISCOVERY_MODE PRE_TEST
                             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    file(GLOB standalone CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/standalone/*.cpp)
    foreach(src ${standalone})
        get_filename_component(stem ${src} NAME_WE)
        add_executable(test_${folder}_${stem} ${src})
        target_link_libraries(test_${folder}_${stem} PRIVATE ${libs})
        gtest_discover_tests(test_${folder}_${stem} DISCOVERY_MODE PRE_TEST
                             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endforeach()
endfunction()

# vantor_bench_folder(<folder> [DEPS libs...]): one Google Benchmark executable of the folder's *.cpp.
function(vantor_bench_folder folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
    if(sources)
        add_executable(bench_${folder} ${sources})
        target_link_libraries(bench_${folder} PRIVATE ${folder} ${ARG_DEPS}
                              benchmark::benchmark benchmark::benchmark_main)
    endif()
endfunction()
