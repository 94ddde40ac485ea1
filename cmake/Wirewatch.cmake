# Shared settings for Wirewatch's own targets.

if(WW_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(WW_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(NOT WW_SANITIZE STREQUAL "")
    message(FATAL_ERROR "WW_SANITIZE must be '', 'thread' or 'address'")
endif()

# The hardening Debian builds its packages with: fortified libc calls where the
# optimiser can check them, a stack protector, and relocations bound at start
# and then made read-only. Sanitizer and fuzzing builds go without.
if(WW_SANITIZE STREQUAL "" AND NOT WW_BUILD_FUZZ)
    add_compile_options(-fstack-protector-strong
                        "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>")
    add_link_options(-Wl,-z,relro -Wl,-z,now)
endif()

# Warnings are errors in our code, never in third-party headers.
function(ww_target_defaults target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
    target_compile_definitions(${target} PRIVATE WW_SOURCE_ROOT="${PROJECT_SOURCE_DIR}")
endfunction()

# A library of ours whose headers are included as "folder/Header.h" from the root.
function(ww_library name)
    add_library(${name} STATIC ${ARGN})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    ww_target_defaults(${name})
endfunction()

# A GoogleTest program registered with CTest. LABELS marks the concurrency suites
# that the ThreadSanitizer build runs.
function(ww_gtest name)
    cmake_parse_arguments(WT "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${WT_SOURCES})
    target_link_libraries(${name} PRIVATE ${WT_LIBS} ww_test_support GTest::gtest GTest::gmock
                          GTest::gtest_main)
    ww_target_defaults(${name})
    set(props "")
    if(WT_LABELS)
        set(props LABELS "${WT_LABELS}")
        if("concurrency" IN_LIST WT_LABELS)
            set_property(GLOBAL APPEND PROPERTY WW_CONCURRENCY_TESTS ${name})
        endif()
    endif()
    # A GTEST_SKIP counts as skipped, not passed, so that CI can tell a test that
    # did not run from one that passed.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "WW_BUILD_DIR=${PROJECT_BINARY_DIR}"
                                    SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" ${props})
endfunction()
