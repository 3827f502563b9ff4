# The three deliverables, from both builds, land in one folder: stripped of their debug sections, each with its
# debug information in NAME.debug beside it, tied to it by .gnu_debuglink so that a crash can still be read.
set(TOLLAN_DELIVERY_DIR ${CMAKE_BINARY_DIR}/../deliverables CACHE PATH "Where the build hands over what ships")

function(tollan_deliver target)
    set(shipped ${TOLLAN_DELIVERY_DIR}/$<TARGET_FILE_NAME:${target}>)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TOLLAN_DELIVERY_DIR}
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${shipped}.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=${shipped}.debug $<TARGET_FILE:${target}> ${shipped}
        VERBATIM)
endfunction()
