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

# vantor_6502_image(<image> <source> <config> [DEPENDS files...]): <source> assembled with ca65
# (its own folder searched for includes) and linked with ld65 by <config> into <image>.
function(vantor_6502_image image src config)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    find_program(CA65 ca65 REQUIRED)
    find_program(LD65 ld65 REQUIRED)
    get_filename_component(stem ${src} NAME_WE)
    get_filename_component(src_dir ${src} DIRECTORY)
    get_filename_component(image_dir ${image} DIRECTORY)
    set(object ${image_dir}/${stem}.o)
    add_custom_command(
        OUTPUT ${image}
        COMMAND ${CA65} --include-dir ${src_dir} -o ${object} ${src}
        COMMAND ${LD65} -C ${config} -o ${image} ${object}
        DEPENDS ${src} ${config} ${ARG_DEPENDS}
        COMMENT "Assembling 6502 program ${stem}"
        VERBATIM)
endfunction()

# vantor_6502_programs(<target> <config> [DEPENDS files...]): every NAME.s in the calling folder's
# programs/ assembled with ca65 and linked with ld65 by programs/NAME.cfg when there is one, else
# by programs/<config>, into NAME.bin under the binary folder's programs/; <target> builds them
# all. Sets VANTOR_6502_IMAGE_DIR to that folder.
function(vantor_6502_programs target config)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    set(program_dir ${CMAKE_CURRENT_SOURCE_DIR}/programs)
    set(image_dir ${CMAKE_CURRENT_BINARY_DIR}/programs)
    file(GLOB program_sources CONFIGURE_DEPENDS ${program_dir}/*.s)
    file(MAKE_DIRECTORY ${image_dir})
    set(images)
    foreach(src ${program_sources})
        get_filename_component(stem ${src} NAME_WE)
        set(link_config ${program_dir}/${config})
        if(EXISTS ${program_dir}/${stem}.cfg)
            set(link_config ${program_dir}/${stem}.cfg)
        endif()
        vantor_6502_image(${image_dir}/${stem}.bin ${src} ${link_config} DEPENDS ${ARG_DEPENDS})
        list(APPEND images ${image_dir}/${stem}.bin)
    endforeach()
    add_custom_target(${target} DEPENDS ${images})
    set(VANTOR_6502_IMAGE_DIR ${image_dir} PARENT_SCOPE)
endfunction()

# The folder of a target relative to the project, or "" for one outside the folder tree.
function(_vantor_target_folder target out)
    get_target_property(dir ${target} SOURCE_DIR)
    file(RELATIVE_PATH folder ${PROJECT_SOURCE_DIR} ${dir})
    if(folder MATCHES "^\\.\\.")
        set(folder "")
    endif()
    set(${out} "${folder}" PARENT_SCOPE)
endfunction()

# vantor_layering_rules(<file>): one line "folder: folders..." for every folder that builds a
# target (tests/, bench/ and fuzz/ aside): the folders its code may include, that is itself and
# every folder its targets reach through their declared link libraries. The layering test holds
# every #include to this file, so the CMake files stay the one place that says who uses whom.
# Call it once every folder has been added.
function(vantor_layering_rules out)
    set(dirs ${PROJECT_SOURCE_DIR})
    set(targets "")
    while(dirs)
        list(POP_FRONT dirs dir)
        get_property(sub DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
        get_property(own DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
        list(APPEND dirs ${sub})
        list(APPEND targets ${own})
    endwhile()

    set(folders "")
    foreach(target ${targets})
        _vantor_target_folder(${target} folder)
        if(folder STREQUAL "" OR folder MATCHES "^(tests|bench|fuzz)(/|$)")
            continue()
        endif()
        list(APPEND folders ${folder})
        list(APPEND "allowed_${folder}" ${folder})
        # Breadth-first through LINK_LIBRARIES (private too: what a folder uses, its users may).
        set(queue ${target})
        set(seen ${target})
        while(queue)
            list(POP_FRONT queue current)
            get_target_property(links ${current} LINK_LIBRARIES)
            get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
            foreach(item IN LISTS links interface)
                if(item MATCHES "^\\$<LINK_ONLY:(.+)>$")
                    set(item ${CMAKE_MATCH_1})
                endif()
                if(NOT TARGET "${item}")
                    continue()
                endif()
                get_target_property(aliased ${item} ALIASED_TARGET)
                if(aliased)
                    set(item ${aliased})
                endif()
                get_target_property(imported ${item} IMPORTED)
                if(imported OR item IN_LIST seen)
                    continue()
                endif()
                list(APPEND seen ${item})
                list(APPEND queue ${item})
                _vantor_target_folder(${item} used)
                if(NOT used STREQUAL "")
                    list(APPEND "allowed_${folder}" ${used})
                endif()
            endforeach()
        endwhile()
    endforeach()

    list(REMOVE_DUPLICATES folders)
    list(SORT folders)
    set(text "")
    foreach(folder ${folders})
        set(allowed ${allowed_${folder}})
        list(REMOVE_DUPLICATES allowed)
        list(SORT allowed)
        list(JOIN allowed " " allowed)
        string(APPEND text "${folder}: ${allowed}\n")
    endforeach()
    file(WRITE ${out} "${text}")
endfunction()
