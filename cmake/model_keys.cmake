# The model keys: confidential per-model byte tables that the units scramble course data
# with. They come from a key file outside the sources at build time and become the header
# "devices/model_keys.h", one constant orvel::model_keys::<model>::<key> per entry.
#
# Key file: one entry a line, "<model>.<key> = <bytes>", each byte two hex digits, blanks
# between bytes allowed; "#" starts a comment. Every key is 33 bytes.

set(ORVEL_MODEL_KEY_LENGTH 33)

function(orvel_generate_model_keys keys_file required output)
    if(NOT EXISTS "${keys_file}")
        message(FATAL_ERROR "Model key file ${keys_file} does not exist")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${keys_file}")
    file(STRINGS "${keys_file}" lines)
    set(names "")
    set(body "")
    set(line_number 0)
    foreach(line IN LISTS lines)
        math(EXPR line_number "${line_number} + 1")
        string(REGEX REPLACE "#.*" "" line "${line}")
        string(STRIP "${line}" line)
        if(line STREQUAL "")
            continue()
        endif()
        if(NOT line MATCHES "^([A-Za-z][A-Za-z0-9]*)\\.([A-Za-z_][A-Za-z0-9_]*)[ \t]*=[ \t]*([0-9A-Fa-f \t]+)$")
            message(FATAL_ERROR "${keys_file}:${line_number}: not \"<model>.<key> = <hex bytes>\"")
        endif()
        set(model "${CMAKE_MATCH_1}")
        set(key "${CMAKE_MATCH_2}")
        string(REGEX REPLACE "[ \t]" "" hex "${CMAKE_MATCH_3}")
        string(LENGTH "${hex}" digits)
        math(EXPR expected "${ORVEL_MODEL_KEY_LENGTH} * 2")
        if(NOT digits EQUAL expected)
            message(FATAL_ERROR
                "${keys_file}:${line_number}: ${model}.${key} has ${digits} hex digits, "
                "not ${expected} (${ORVEL_MODEL_KEY_LENGTH} bytes)")
        endif()
        if("${model}.${key}" IN_LIST names)
            message(FATAL_ERROR "${keys_file}:${line_number}: ${model}.${key} is given twice")
        endif()
        list(APPEND names "${model}.${key}")
        string(REGEX REPLACE "([0-9A-Fa-f][0-9A-Fa-f])" "0x\\1, " bytes "${hex}")
        string(REGEX REPLACE ", $" "" bytes "${bytes}")
        string(APPEND body "namespace ${model} {\ninline constexpr model_key ${key}{${bytes}};\n}\n")
    endforeach()
    foreach(name IN LISTS required)
        if(NOT name IN_LIST names)
            message(FATAL_ERROR "Model key file ${keys_file} has no entry ${name}")
        endif()
    endforeach()
    set(text "// Made by the build from the model key file; not to be edited or published.\n")
    string(APPEND text "#pragma once\n\n#include \"devices/model_key.h\"\n\n")
    string(APPEND text "namespace orvel::model_keys {\n\n${body}\n}  // namespace orvel::model_keys\n")
    # Written only when it changed, so that a new configure run rebuilds nothing.
    file(WRITE "${output}.new" "${text}")
    configure_file("${output}.new" "${output}" COPYONLY)
    file(REMOVE "${output}.new")
endfunction()
