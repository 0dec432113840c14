# The bitmaps and icons of quillmark.exe: rendered from the SVG sources in
# src/resources/art by make_art.py into <build>/art, which also gets
# artwork.rc, the resource lines quillmark.rc includes. The start buttons carry
# the home_start_scan texts of language.ini. The script renders only what
# changed; the whole set takes a few seconds. Needs no network: Debian's
# rsvg-convert, ImageMagick and fonts (scripts/setup-host.sh installs them).
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_program(QM_RSVG_CONVERT rsvg-convert REQUIRED)
# Debian's own name first: another "convert" may come earlier in PATH.
find_program(QM_IMAGEMAGICK_CONVERT NAMES convert-im6.q16 convert-im6 convert REQUIRED)
cmake_host_system_information(RESULT QM_ART_JOBS QUERY NUMBER_OF_LOGICAL_CORES)

set(QM_ART_SOURCE_DIR ${CMAKE_SOURCE_DIR}/src/resources/art)
set(QM_ART_DIR ${CMAKE_BINARY_DIR}/art)
file(GLOB_RECURSE QM_ART_INPUTS CONFIGURE_DEPENDS ${QM_ART_SOURCE_DIR}/*.svg ${QM_ART_SOURCE_DIR}/*.py)
set(QM_ART_COMMAND ${Python3_EXECUTABLE} ${QM_ART_SOURCE_DIR}/make_art.py ${QM_ART_DIR}
    --rsvg ${QM_RSVG_CONVERT} --convert ${QM_IMAGEMAGICK_CONVERT} --jobs ${QM_ART_JOBS})

add_custom_command(
    OUTPUT ${QM_ART_DIR}/artwork.stamp
    BYPRODUCTS ${QM_ART_DIR}/artwork.rc
    COMMAND ${QM_ART_COMMAND}
    COMMAND ${CMAKE_COMMAND} -E touch ${QM_ART_DIR}/artwork.stamp
    DEPENDS ${QM_ART_INPUTS} ${CMAKE_SOURCE_DIR}/src/resources/resource.h
            ${CMAKE_SOURCE_DIR}/src/resources/program/language.ini
    COMMENT "Rendering the artwork"
    VERBATIM)
add_custom_target(quillmark_artwork DEPENDS ${QM_ART_DIR}/artwork.stamp)
add_dependencies(quillmark quillmark_artwork)
set_property(SOURCE src/resources/quillmark.rc APPEND PROPERTY INCLUDE_DIRECTORIES ${QM_ART_DIR})
set_property(SOURCE src/resources/quillmark.rc APPEND PROPERTY OBJECT_DEPENDS
    ${QM_ART_DIR}/artwork.stamp ${CMAKE_SOURCE_DIR}/src/resources/resource.h)

# A picture of all of it for people to look at (not part of the build):
# cmake --build <build> --target artwork_sheet → <build>/art/contact-sheet.png
add_custom_target(artwork_sheet
    COMMAND ${QM_ART_COMMAND} --sheet ${QM_ART_DIR}/contact-sheet.png
    DEPENDS ${QM_ART_DIR}/artwork.stamp
    COMMENT "Drawing the artwork contact sheet"
    VERBATIM)
