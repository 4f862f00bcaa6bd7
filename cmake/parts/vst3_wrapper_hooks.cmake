# The framework's VST3 wrapper hands the processor only the last point of each
# parameter queue and has no hook at the start of a process call. The plug-in
# client module is therefore copied into the build tree, two calls into
# processor/Vst3Hooks are inserted into the copy of the VST3 wrapper, and the
# VST3 wrapper target is compiled from the copy. Only this script and the hook
# code live in the repository; the framework's sources stay untouched.

get_target_property(_qvn_juce_modules juce_audio_plugin_client INTERFACE_JUCE_MODULE_PATH)
if(NOT _qvn_juce_modules OR NOT EXISTS "${_qvn_juce_modules}/juce_audio_plugin_client")
    message(FATAL_ERROR "VST3 wrapper hooks: juce_audio_plugin_client not found in the JUCE module path")
endif()

set(_qvn_client_src "${_qvn_juce_modules}/juce_audio_plugin_client")
set(_qvn_client_dst "${CMAKE_BINARY_DIR}/qvn_patched_modules/juce_audio_plugin_client")
set(_qvn_wrapper_rel "VST3/juce_VST3_Wrapper.cpp")

# The wrapper itself is written below only when its patched text changes, so a
# re-configure does not force the large wrapper file to be compiled again.
file(COPY "${_qvn_client_src}/" DESTINATION "${_qvn_client_dst}"
     PATTERN "juce_VST3_Wrapper.cpp" EXCLUDE)

file(READ "${_qvn_client_src}/${_qvn_wrapper_rel}" _qvn_wrapper)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_qvn_client_src}/${_qvn_wrapper_rel}")

# Replaces the one occurrence of an anchor text; configuring stops when the
# anchor is missing or not unique (a different framework version).
function(_qvn_patch_wrapper what anchor replacement)
    string(FIND "${_qvn_wrapper}" "${anchor}" _first)
    string(FIND "${_qvn_wrapper}" "${anchor}" _last REVERSE)
    if(_first EQUAL -1)
        message(FATAL_ERROR "VST3 wrapper hooks: anchor for ${what} not found in ${_qvn_client_src}/${_qvn_wrapper_rel}")
    endif()
    if(NOT _first EQUAL _last)
        message(FATAL_ERROR "VST3 wrapper hooks: anchor for ${what} is not unique in ${_qvn_client_src}/${_qvn_wrapper_rel}")
    endif()
    string(REPLACE "${anchor}" "${replacement}" _patched "${_qvn_wrapper}")
    set(_qvn_wrapper "${_patched}" PARENT_SCOPE)
endfunction()

set(_qvn_hooks_header "${PROJECT_SOURCE_DIR}/processor/Vst3Hooks.h")

_qvn_patch_wrapper("the hook declarations"
"#include <juce_audio_processors/format_types/juce_VST3Common.h>\n"
"#include <juce_audio_processors/format_types/juce_VST3Common.h>\n#include \"${_qvn_hooks_header}\"\n")

# Each process call is announced after the process context is taken and the
# MIDI buffer cleared, before the input parameter changes are read.
_qvn_patch_wrapper("the block announcement"
"        midiBuffer.clear();\n\n        if (data.inputParameterChanges != nullptr)\n            processParameterChanges (*data.inputParameterChanges);\n"
"        midiBuffer.clear();\n\n        ::qvn::vst3BeginAutomationBlock (pluginInstance);\n\n        if (data.inputParameterChanges != nullptr)\n            processParameterChanges (*data.inputParameterChanges);\n")

# Every point of a queue reaches the sink before the wrapper applies the
# queue's last point as the parameter's value.
_qvn_patch_wrapper("the automation points"
"                const auto numPoints  = paramQueue->getPointCount();\n"
"                const auto numPoints  = paramQueue->getPointCount();\n\n                ::qvn::vst3ForwardAutomationPoints (pluginInstance, comPluginInstance->getParamForVSTParamID (vstParamID), *paramQueue);\n")

# A host may destroy an instance (terminating its component and controller)
# while the instance's view is still open, and close the view afterwards. The
# wrapper's controller drops the processor at terminate, which would leave the
# open editor with a destroyed processor; the view therefore holds the
# processor too, so the editor always goes before it.
_qvn_patch_wrapper("the view keeping its processor"
"              owner (&ec),\n              pluginInstance (*p.get())\n"
"              processorKeepAlive (&p),\n              owner (&ec),\n              pluginInstance (*p.get())\n")
_qvn_patch_wrapper("the view's processor reference"
"        VSTComSmartPtr<JuceVST3EditController> owner;\n        AudioProcessor& pluginInstance;\n"
"        VSTComSmartPtr<JuceAudioProcessor> processorKeepAlive;\n        VSTComSmartPtr<JuceVST3EditController> owner;\n        AudioProcessor& pluginInstance;\n")

file(WRITE "${_qvn_client_dst}/${_qvn_wrapper_rel}.new" "${_qvn_wrapper}")
file(COPY_FILE "${_qvn_client_dst}/${_qvn_wrapper_rel}.new" "${_qvn_client_dst}/${_qvn_wrapper_rel}" ONLY_IF_DIFFERENT)
file(REMOVE "${_qvn_client_dst}/${_qvn_wrapper_rel}.new")

# Every consumer of the VST3 wrapper target now compiles the patched copy.
get_target_property(_qvn_vst3_sources juce_audio_plugin_client_VST3 INTERFACE_SOURCES)
set(_qvn_vst3_patched_sources "")
foreach(_src IN LISTS _qvn_vst3_sources)
    string(FIND "${_src}" "${_qvn_client_src}/" _pos)
    if(NOT _pos EQUAL 0)
        message(FATAL_ERROR "VST3 wrapper hooks: unexpected wrapper source ${_src}")
    endif()
    string(REPLACE "${_qvn_client_src}/" "${_qvn_client_dst}/" _src "${_src}")
    list(APPEND _qvn_vst3_patched_sources "${_src}")
endforeach()
if(NOT "${_qvn_client_dst}/juce_audio_plugin_client_VST3.cpp" IN_LIST _qvn_vst3_patched_sources)
    message(FATAL_ERROR "VST3 wrapper hooks: the VST3 wrapper target does not compile juce_audio_plugin_client_VST3.cpp")
endif()
set_target_properties(juce_audio_plugin_client_VST3 PROPERTIES INTERFACE_SOURCES "${_qvn_vst3_patched_sources}")
