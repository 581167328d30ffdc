# Targets are found by folder: a new source file joins its folder's target by itself.

function(quillon_glob out)
    file(GLOB result CONFIGURE_DEPENDS ${ARGN})
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# The simulated camera library.
quillon_glob(SDK_SOURCES ${CMAKE_SOURCE_DIR}/sdk/*.cpp)
if(SDK_SOURCES)
    if(EXISTS ${CMAKE_SOURCE_DIR}/sdk/CMakeLists.txt)
        add_subdirectory(sdk)
    else()
        add_library(quillon_sdk SHARED ${SDK_SOURCES} ${CMAKE_SOURCE_DIR}/sdk/QuillonSDK.def)
        set_target_properties(quillon_sdk PROPERTIES OUTPUT_NAME QuillonSDK PREFIX "")
        target_compile_definitions(quillon_sdk PRIVATE QUILLON_SDK_BUILD)
        target_link_libraries(quillon_sdk PRIVATE user32 winmm)
    endif()
endif()

function(quillon_static_library name folder)
    quillon_glob(sources ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    if(sources)
        add_library(${name} STATIC ${sources})
        target_link_libraries(${name} PUBLIC ${ARGN} ${QUILLON_SYSTEM_LIBS})
    else()
        add_library(${name} INTERFACE)
        target_link_libraries(${name} INTERFACE ${ARGN} ${QUILLON_SYSTEM_LIBS})
    endif()
endfunction()

quillon_static_library(quillon_framework framework)
set(QUILLON_SDK_LINK)
if(TARGET quillon_sdk)
    set(QUILLON_SDK_LINK quillon_sdk)
endif()
quillon_static_library(quillon_camera camera quillon_framework ${QUILLON_SDK_LINK})
quillon_static_library(quillon_pages pages quillon_camera quillon_framework ${QUILLON_SDK_LINK})
# The Media Foundation source: its stream, its formats and its frame conversion.
# Media Foundation's functions are looked up at run time (MediaFoundationApi), so that the
# module loads where Media Foundation is missing; only its GUIDs are linked in.
quillon_static_library(quillon_mediasource mediasource quillon_camera quillon_framework mfuuid)
# IMFMediaSourceEx is declared for Windows 8 and later only. The version is raised for the
# source's own files and their tests (tests/mediasource), after the global definitions on
# the command line; everything else keeps the Windows 7 declarations.
set(QUILLON_MEDIASOURCE_WINVER -U_WIN32_WINNT -D_WIN32_WINNT=0x0602 -UWINVER -DWINVER=0x0602)
target_compile_options(quillon_mediasource PRIVATE ${QUILLON_MEDIASOURCE_WINVER})

# Dialogs, strings and version information; linked as objects, since a resource in a
# static library would never be pulled in.
quillon_glob(RC_SOURCES ${CMAKE_SOURCE_DIR}/pages/*.rc)
set(QUILLON_RESOURCES)
if(RC_SOURCES)
    add_library(quillon_resources OBJECT ${RC_SOURCES})
    set(QUILLON_RESOURCES $<TARGET_OBJECTS:quillon_resources>)
endif()

# The module itself.
quillon_glob(MODULE_SOURCES ${CMAKE_SOURCE_DIR}/module/*.cpp)
set(QUILLON_MODULE_PARTS module/QuillonFilter.def camera/CameraFilter.cpp pages/PropertyPage.cpp pages/FormatPage.cpp)
set(QUILLON_MODULE_COMPLETE ON)
foreach(part ${QUILLON_MODULE_PARTS})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${part})
        set(QUILLON_MODULE_COMPLETE OFF)
    endif()
endforeach()
if(MODULE_SOURCES AND QUILLON_MODULE_COMPLETE)
    add_library(QuillonFilter SHARED ${MODULE_SOURCES} ${QUILLON_RESOURCES}
                ${CMAKE_SOURCE_DIR}/module/QuillonFilter.def)
    set_target_properties(QuillonFilter PROPERTIES PREFIX "" OUTPUT_NAME QuillonFilter)
    target_link_libraries(QuillonFilter PRIVATE quillon_mediasource quillon_pages quillon_camera quillon_framework)
    # The export list names the entry points without the 32-bit stdcall decoration.
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(QuillonFilter PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
endif()

# Console tools, one per folder under tools/.
quillon_glob(TOOL_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/tools/*)
foreach(dir ${TOOL_DIRS})
    if(IS_DIRECTORY ${dir})
        if(EXISTS ${dir}/CMakeLists.txt)
            add_subdirectory(${dir})
        else()
            quillon_glob(tool_sources ${dir}/*.cpp)
            if(tool_sources)
                get_filename_component(tool ${dir} NAME)
                add_executable(${tool} ${tool_sources})
                target_link_libraries(${tool} PRIVATE ${QUILLON_SYSTEM_LIBS})
            endif()
        endif()
    endif()
endforeach()

# The Windows installer (made in the 64-bit tree).
if(EXISTS ${CMAKE_SOURCE_DIR}/installer/CMakeLists.txt)
    add_subdirectory(installer)
endif()

# Tests.
add_subdirectory(${CMAKE_SOURCE_DIR}/tests ${CMAKE_BINARY_DIR}/tests)
