# Lets a program (test, benchmark, gallery, test host) use the shared static
# library "Quorvane": it sees the module headers and the same configuration
# macros as the library, the way JUCE's own plug-in wrappers do.
function(qvn_link_core target)
    target_include_directories(${target} PRIVATE
        $<TARGET_PROPERTY:Quorvane,INCLUDE_DIRECTORIES>)
    target_compile_definitions(${target} PRIVATE
        $<TARGET_PROPERTY:Quorvane,COMPILE_DEFINITIONS>)
    target_link_libraries(${target} PRIVATE Quorvane)
endfunction()
