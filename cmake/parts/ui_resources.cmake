# The resources compiled into the plug-in: the SVG drawings of ui/resources and
# the seven typefaces from QVN_FONT_DIR. The generated namespace BinaryData is
# linked into the shared library, so every program on it can draw with them.
#
# The fonts are copied into the build tree under the file names the resource
# table uses (these give the resource names DDIN_otf, JetBrainsMonoBold_ttf,
# ...); their bytes are not changed.

set(QVN_RESOURCE_SVGS
    undo_icon.svg
    redo_icon.svg
    brand_logo.svg
    title_text.svg
    icon_bypass.svg
    icon_reset.svg
    icon_link.svg
    icon_lock.svg
    icon_unlock.svg
    panel-left.svg)

# <file in QVN_FONT_DIR>=<file name in the resource table>, in table order.
set(QVN_RESOURCE_FONTS
    "d-din/D-DIN.ttf=D-DIN.otf"
    "d-din/D-DIN-Bold.ttf=D-DIN-Bold.otf"
    "d-din/D-DINExp.ttf=D-DINExp.otf"
    "jetbrains-mono/JetBrainsMono-Regular.ttf=JetBrainsMono-Regular.ttf"
    "jetbrains-mono/JetBrainsMono-Bold.ttf=JetBrainsMono-Bold.ttf"
    "ibm-plex-sans-jp/IBMPlexSansJP-Bold.ttf=IBMPlexSansJP-Bold.ttf"
    "ibm-plex-sans-jp/IBMPlexSansJP-Regular.ttf=IBMPlexSansJP-Regular.ttf")

get_filename_component(qvn_font_dir "${QVN_FONT_DIR}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
set(qvn_resource_stage "${CMAKE_BINARY_DIR}/qvn_resources")
file(MAKE_DIRECTORY "${qvn_resource_stage}")

set(qvn_resource_files)
set(qvn_resource_inputs)

foreach(svg ${QVN_RESOURCE_SVGS})
    set(src "${CMAKE_SOURCE_DIR}/ui/resources/${svg}")
    if(NOT EXISTS "${src}")
        message(FATAL_ERROR "Embedded resource missing: ${src}")
    endif()
    configure_file("${src}" "${qvn_resource_stage}/${svg}" COPYONLY)
    list(APPEND qvn_resource_files "${qvn_resource_stage}/${svg}")
    list(APPEND qvn_resource_inputs "${src}")
endforeach()

foreach(entry ${QVN_RESOURCE_FONTS})
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    set(src "${qvn_font_dir}/${from}")
    if(NOT EXISTS "${src}")
        message(FATAL_ERROR
            "Font file missing: ${src}\n"
            "Set QVN_FONT_DIR to the folder holding d-din/, jetbrains-mono/ and ibm-plex-sans-jp/ "
            "(currently ${QVN_FONT_DIR}).")
    endif()
    configure_file("${src}" "${qvn_resource_stage}/${to}" COPYONLY)
    list(APPEND qvn_resource_files "${qvn_resource_stage}/${to}")
    list(APPEND qvn_resource_inputs "${src}")
endforeach()

juce_add_binary_data(QuorvaneResources
    NAMESPACE BinaryData
    HEADER_NAME BinaryData.h
    SOURCES ${qvn_resource_files})

# The generator only watches its list of inputs; make it also rerun when one of
# the staged files changes.
add_custom_command(
    OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/juce_binarydata_QuorvaneResources/JuceLibraryCode/BinaryData1.cpp"
    APPEND DEPENDS ${qvn_resource_files})

set_target_properties(QuorvaneResources PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_link_libraries(Quorvane PUBLIC QuorvaneResources)
