# SDL2's pkg-config file on Windows (MinGW, MSYS2, vcpkg) names SDL2main's
# entry glue as part of SDL2 itself: "-Dmain=SDL_main" in its flags,
# "-lSDL2main" and "-mwindows" in its libraries. That suits preview, a
# windowed program entered through SDL2main, but would turn player, a console
# program with its own main, into a windowed one. So PkgConfig::SDL2 keeps
# SDL2 alone, and talvek_sdl2main carries the glue for the program that
# wants it.
function(talvek_split_sdl2_main)
    get_target_property(options PkgConfig::SDL2 INTERFACE_COMPILE_OPTIONS)
    get_target_property(libraries PkgConfig::SDL2 INTERFACE_LINK_LIBRARIES)
    get_target_property(link_options PkgConfig::SDL2 INTERFACE_LINK_OPTIONS)
    set(main_library "")
    foreach(list_name options libraries link_options)
        if(NOT ${list_name})
            set(${list_name} "")
        endif()
    endforeach()
    list(FILTER options EXCLUDE REGEX "^-Dmain=SDL_main$")
    list(FILTER link_options EXCLUDE REGEX "^-mwindows$")
    foreach(library IN LISTS libraries)
        if(library MATCHES "(^|[/\\])(lib)?SDL2main(\\.a|\\.lib)?$" OR library STREQUAL "-lSDL2main")
            set(main_library ${library})
        endif()
    endforeach()
    if(NOT main_library)
        find_library(TALVEK_SDL2MAIN_LIBRARY SDL2main HINTS ${SDL2_STATIC_LIBRARY_DIRS}
                     ${SDL2_LIBRARY_DIRS})
        set(main_library ${TALVEK_SDL2MAIN_LIBRARY})
    endif()
    list(REMOVE_ITEM libraries ${main_library})
    set_target_properties(PkgConfig::SDL2 PROPERTIES
        INTERFACE_COMPILE_OPTIONS "${options}"
        INTERFACE_LINK_LIBRARIES "${libraries}"
        INTERFACE_LINK_OPTIONS "${link_options}")

    if(NOT main_library)
        message(FATAL_ERROR "SDL2main not found beside SDL2: preview needs it on Windows")
    endif()
    add_library(talvek_sdl2main INTERFACE)
    # SDL2main comes first on the link line: it calls into SDL2. SDL.h
    # itself renames main to SDL_main on Windows.
    target_link_libraries(talvek_sdl2main INTERFACE ${main_library} PkgConfig::SDL2)
endfunction()
